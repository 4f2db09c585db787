// Help of the interpreter: the "help" object's forms (basic help, client operation, object names,
// the command summary matrix, everything) and the object and command help that parse errors
// append to their error block.
//
// Thread safety: one context per request; the tables are constant.
#pragma once

#include <span>

#include "modules/brivo/cli/cli_context.h"
#include "modules/brivo/cli/cli_tables.h"

namespace brivo::cli {

// The "help" object: the words from ctx.position on choose the form. Returns 0, or 1 after an
// unknown object or command name.
int runHelp(CliContext& ctx);

// "OBJECT NAMES:" and one line per object (name padded to 11, "| ", alias).
void writeObjectNames(CliContext& ctx);
// "COMMANDS:" and one line per command of object (or "    none").
void writeCommandList(CliContext& ctx, const ObjectEntry& object);
// "OBJECT:", the object's names, "DESCRIPTION:" and the wrapped description.
void writeObjectBlock(CliContext& ctx, const ObjectEntry& object);
// "COMMAND:", "DESCRIPTION:" and "MODIFIERS:" of one command.
void writeCommandHelp(CliContext& ctx, const ObjectEntry& object, const CommandEntry& command);
// The matrix of objects against command names. Writes the error line and returns 1 when there
// are more than 13 objects or 16 distinct command names.
int writeSummaryMatrix(CliContext& ctx, std::span<const ObjectEntry> objects);

}  // namespace brivo::cli
