// The command handlers of the interpreter, one per command of the tables (cli_tables.cc), each
// defined in the file of its object (cli_array.cc, cli_clock.cc, ...). A handler finds the parsed
// command line, the selected pair and its three buffers in the context (cli_context.h), sends
// its operations through pair_access.h (configuration changes inside inConfigChange) and prints
// in the fixed message forms: "Error: Cannot <operation>. Status: ..." for a failed command
// (writeCommandFailure), "Error: Parsing ..." for a bad value, a total line and per-item blocks
// or a -sum table for displays.
//
// A command that answers with a file (config save, events save) writes it under the server's
// temp/ folder and adds "ExportText" or "ExportBinary" with its path relative to the front end
// ("../../temp/NAME") to ctx.reply; the front end sends it to the client's --rfile.
//
// Thread safety: see cli_context.h (one command at a time).
#pragma once

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

int arrayCheck(CliContext& ctx);
int arrayCreate(CliContext& ctx);
int arrayDelete(CliContext& ctx);
int arrayDisplay(CliContext& ctx);
int arrayExpand(CliContext& ctx);
int arrayIdentify(CliContext& ctx);
int arrayInitialize(CliContext& ctx);
int arrayRebuild(CliContext& ctx);
int arraySet(CliContext& ctx);

int clockDisplay(CliContext& ctx);
int clockSet(CliContext& ctx);

int configDelete(CliContext& ctx);
int configDisplay(CliContext& ctx);
int configRestore(CliContext& ctx);
int configSave(CliContext& ctx);
int configSet(CliContext& ctx);

int controllerDisplay(CliContext& ctx);
int controllerReset(CliContext& ctx);
int controllerShutdown(CliContext& ctx);
int controllerUpgrade(CliContext& ctx);

int driveDisplay(CliContext& ctx);
int driveIdentify(CliContext& ctx);
int driveSet(CliContext& ctx);
int driveUpgrade(CliContext& ctx);

int enclosureDisplay(CliContext& ctx);
int enclosureIdentify(CliContext& ctx);

int eventsDelete(CliContext& ctx);
int eventsDisplay(CliContext& ctx);
int eventsSave(CliContext& ctx);

int jobsDelete(CliContext& ctx);
int jobsDisplay(CliContext& ctx);

int logicalCreate(CliContext& ctx);
int logicalDelete(CliContext& ctx);
int logicalDisplay(CliContext& ctx);
int logicalExpand(CliContext& ctx);
int logicalIdentify(CliContext& ctx);
int logicalSet(CliContext& ctx);

int mappingCreate(CliContext& ctx);
int mappingDelete(CliContext& ctx);
int mappingDisplay(CliContext& ctx);
int mappingSet(CliContext& ctx);

int serverDisplay(CliContext& ctx);
int serverRescan(CliContext& ctx);
int serverSet(CliContext& ctx);

int statisticsDelete(CliContext& ctx);
int statisticsDisplay(CliContext& ctx);

}  // namespace brivo::cli
