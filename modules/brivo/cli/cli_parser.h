// The interpreter's command-line handling: splitting off the global options, parsing object,
// command and modifiers against the tables, the argument checks, the confirmation rule, the pair
// selection and the run of the command's handler between the Command/Results rulers. Also the
// error block that every parse error writes.
//
// Used by the "qcli" method (cli_method.cc) and by help (cli_help.cc).
//
// Thread safety: one context per request; see cli_context.h.
#pragma once

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

inline constexpr char kToolName[] = "qcli";
inline constexpr char kToolVersion[] = "1.00";

// Removes the global options (and their values) from ctx.words, word 0 staying, and records them
// in ctx.globals; applies --width (60 to 512) and replaces the value of --sfile with the request's
// "UploadedFile" (empty when the request carries no upload). A value option without a following
// word writes the error block and returns false; ctx.words is then left whole.
bool splitGlobalOptions(CliContext& ctx);

// Parses ctx.words (after the split) and runs the command; help goes to runHelp. Returns the
// handler's result, or 1 after a parse, check or selection error (the reply says which); 0 when
// the command stopped to ask for confirmation.
int parseAndRun(CliContext& ctx);

// The error block: a blank line, the tool line, "Error: <message>", and the command line framed by
// minus signs with a caret under the word at ctx.position. A trailing "\n" of message is dropped.
// Counts the error.
void writeErrorBlock(CliContext& ctx, const char* message);
// The short form for a failure before any output: blank line, tool line, error line, blank line.
void writeShortErrorBlock(CliContext& ctx, const char* message);

// Selects the pair named by --type and --wwn and reads its configuration, drive list and
// controller information into ctx. On failure writes the error line (a selection error adds the
// pairs this server sees) and returns false.
bool selectPair(CliContext& ctx);

}  // namespace brivo::cli
