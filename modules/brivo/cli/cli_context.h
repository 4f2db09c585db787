// The command interpreter behind the module's "qcli" method: what a command handler gets (the
// parsed command line, the selected pair with its three buffers) and the writers through which it
// prints. The parser and the tables (cli_tables.h, cli_parser.cc) fill the context; each handler
// (cli_handlers.h, one file per object) reads its modifiers, talks to the pair through
// pair_access.h and prints its result.
//
// Output: every writer appends one entry to the reply's "textloop%dtext" list; the client prints
// the entries one after another, so a line ends where a text ends in "\n".
//
// Thread safety: a context belongs to one request. The method is admitted as data-altering, so
// handlers never run beside the monitor's pass or another command.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/variable_table.h"
#include "modules/brivo/controller_command.h"
#include "modules/brivo/pair_access.h"
#include "modules/brivo/protocol.h"

namespace brivo::cli {

inline constexpr int kDefaultWidth = 79;
inline constexpr int kMinWidth = 60;
inline constexpr int kMaxWidth = 512;

// Global options, by the IDs the client and server share.
enum GlobalOption : int {
  kOptSourceFile = 16,   // --cfgfile
  kOptCtlrName = 34,     // --name
  kOptCtlrLineNum = 35,  // --num
  kOptCtlrType = 36,     // --type
  kOptCtlrWwn = 37,      // --wwn
  kOptEcho = 47,         // --echo
  kOptWidth = 71,        // --width
  kOptServerIp = 74,     // --ip
  kOptPassword = 75,     // --pass
  kOptServerPort = 76,   // --port
  kOptUser = 77,         // --user
  kOptReceiveFile = 78,  // --rfile
  kOptSendFile = 79,     // --sfile (value replaced by the request's "UploadedFile")
  kGlobalOptionSlots = 80,
};

// Command modifiers. The numbers are this module's own; the tables name each with its text.
enum ModifierId : int {
  kModNone = 0,
  kModArrayId,          // -ai
  kModMode,             // -m
  kModConfirm,          // -q
  kModName,             // -n
  kModDiskId,           // -di
  kModRaidLevel,        // -r
  kModSubArrays,        // -sub
  kModStripeSize,       // -ss
  kModTransferRate,     // -tr
  kModBackoff,          // -b
  kModReadCache,        // -rc
  kModWriteCache,       // -wc
  kModWriteCache1,      // -wc1
  kModWriteCache2,      // -wc2
  kModWriteCache3,      // -wc3
  kModExpanded,         // -exp
  kModSummary,          // -sum
  kModTime,             // -t (blink seconds, or clock value yyyymmddHHMMSS)
  kModPause,            // -pause
  kModUnpause,          // -unpause
  kModFailedDiskId,     // -fdi
  kModControllerId,     // -ci
  kModControllerWwn,    // -cwwn
  kModDiffNodeName,     // -diffnn
  kModControllerLun,    // -clun
  kModAutoSpare,        // -as
  kModAutoRebuild,      // -ar
  kModSingleCtlr,       // -sc
  kModBgVerify,         // -bgverify
  kModAutoDriveFw,      // -adfw
  kModEnclosureSup,     // -es
  kModInitPriority,     // -ip
  kModRebuildPriority,  // -rp
  kModHostPortId,       // -hpid
  kModHostPortRate,     // -hprate
  kModHostPortConn,     // -hpconn
  kModHostPortPack,     // -hppack
  kModDiagnostics,      // -diag
  kModSpares,           // -spares
  kModFailed,           // -failed
  kModUnused,           // -unused
  kModState,            // -state
  kModAll,              // -all
  kModInactive,         // -inactive
  kModOldRevision,      // -oldrev
  kModInactiveOld,      // -inactold
  kModEnclosureId,      // -ei
  kModLast,             // -last
  kModStatus,           // -status
  kModJobId,            // -ji
  kModSize,             // -sz
  kModLun,              // -lun
  kModPorts,            // -p
  kModLogicalId,        // -li
  kModHba,              // -hba
  kModMapIndex,         // -mi
  kModPermission,       // -pm
  kModClearLun,         // -cl
  kModPortIndex,        // -pi
  kModNewPassword,      // -npw
  kModOldPassword,      // -opw
  kModSendFile,         // --sfile as a command's required global option
  kModReceiveFile,      // --rfile as a command's required global option
  kModifierCount,
};

struct ParsedModifier {
  ModifierId id;
  std::string value;  // "." for a flag
  size_t word = 0;    // index in CliContext::words of the modifier's own word (0 when unknown)
};

struct CommandEntry;  // cli_tables.h
struct ObjectEntry;   // cli_tables.h

struct CliContext {
  VariableTable request = nullptr;  // borrowed: the method's request
  VariableTable* reply = nullptr;   // borrowed: where the output lines go
  int lineCount = 0;                // next "textloop%dtext" index

  std::vector<std::string> words;  // command line without the global options (word 0 is "qcli")
  size_t position = 0;             // word being parsed (the caret of the error block)
  int width = kDefaultWidth;
  int labelColumn = 0;  // 0 until first computed (labelColumnOf)

  const ObjectEntry* object = nullptr;
  const CommandEntry* command = nullptr;
  std::vector<ParsedModifier> modifiers;  // in order of appearance
  std::string globals[kGlobalOptionSlots];
  bool globalGiven[kGlobalOptionSlots] = {};

  // The selected pair and its buffers, read once before the handler runs (null/absent for the
  // server and help objects and when no pair was selected).
  PairTarget pair;
  std::unique_ptr<ConfigurationBlock> config;
  std::unique_ptr<DriveList> drives;
  std::unique_ptr<ControllerInformation> info;

  int errors = 0;

  bool hasPair() const { return pair.found() && config && drives && info; }
};

// Handlers: 0 done (whatever was printed), 1 failed.
using CliHandler = int (*)(CliContext& ctx);

// ---- Modifiers and options (cli_context.cc) ----

bool hasModifier(const CliContext& ctx, ModifierId id);
// Value of the first occurrence, or null.
const char* modifierValue(const CliContext& ctx, ModifierId id);
// Values of every occurrence (a list modifier gives one per word), in order.
std::vector<std::string> modifierValues(const CliContext& ctx, ModifierId id);
// Value of a global option, or null when it was not given.
const char* globalOption(const CliContext& ctx, GlobalOption option);

// Number parsing of handler values: the first character must be a digit, then strtol base 10 of
// the whole word. False for anything else (including a sign, trailing junk or overflow).
bool parseNumber(const char* text, long* out);
// As parseNumber, or the word "all" (any case) which gives allValue.
bool parseNumberOrAll(const char* text, long allValue, long* out);

// ---- Writers (cli_output.cc) ----

// Appends the formatted text as the next output entry.
void writeText(CliContext& ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));
void writeTextV(CliContext& ctx, const char* format, va_list args);
// Half the width, plus 1 when bit 1 of the width is set (79 gives 40, 80 gives 40, 82 gives 42).
int labelColumnOf(CliContext& ctx);
// "label : value\n" with the label ending at the common label column; separator ':' or ' '.
void writeField(CliContext& ctx, const char* label, const std::string& value, char separator = ':');
// A line of the output width filled with fill; a title is written framed by blanks from column 3.
void writeRuler(CliContext& ctx, char fill, const char* title = nullptr);
// text in lines of (width - 1) columns, each indented, broken at the last blank within 15
// columns of the edge and at every "\n".
void writeWrapped(CliContext& ctx, const char* text, int indent);

// "Error: Cannot <operation>. Status: %d Sense: %d/%02x/%02x\n" with the failed command's sense.
void writeCommandFailure(CliContext& ctx, const std::string& operation, int result,
                         const ControllerCommand& failed);

}  // namespace brivo::cli
