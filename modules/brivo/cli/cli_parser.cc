// Global options, object/command/modifier parsing, argument checks, confirmation and the run of
// the handler; see cli_parser.h.
//
// Thread safety: one context per request.
#include "modules/brivo/cli/cli_parser.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "modules/brivo/cli/cli_help.h"
#include "modules/brivo/cli/cli_tables.h"
#include "modules/brivo/module_state.h"

namespace brivo::cli {

namespace {

struct GlobalOptionEntry {
  const char* name;
  GlobalOption id;
  bool takesValue;
};

constexpr GlobalOptionEntry kGlobalOptions[] = {
    {"--ip", kOptServerIp, true},    {"--port", kOptServerPort, true},    {"--user", kOptUser, true},
    {"--pass", kOptPassword, true},  {"--width", kOptWidth, true},        {"--num", kOptCtlrLineNum, true},
    {"--name", kOptCtlrName, true},  {"--wwn", kOptCtlrWwn, true},        {"--type", kOptCtlrType, true},
    {"--echo", kOptEcho, false},     {"--cfgfile", kOptSourceFile, true}, {"--rfile", kOptReceiveFile, true},
    {"--sfile", kOptSendFile, true},
};

const GlobalOptionEntry* findGlobalOption(const std::string& word) {
  for (const GlobalOptionEntry& entry : kGlobalOptions) {
    if (word == entry.name) return &entry;
  }
  return nullptr;
}

void setGlobal(CliContext& ctx, GlobalOption id, const std::string& value) {
  ctx.globals[id] = value;
  ctx.globalGiven[id] = true;
}

// The options' effects on the server side.
void applyGlobals(CliContext& ctx) {
  long width = 0;
  if (ctx.globalGiven[kOptWidth] && parseNumber(ctx.globals[kOptWidth].c_str(), &width) &&
      width >= kMinWidth && width <= kMaxWidth) {
    ctx.width = static_cast<int>(width);
    ctx.labelColumn = 0;
  }
  // The client's own path means nothing here (and must never name a server file): only the file
  // the front end stored for this request counts.
  if (ctx.globalGiven[kOptSendFile]) {
    const char* uploaded = getVariable(ctx.request, "UploadedFile");
    ctx.globals[kOptSendFile] = uploaded != nullptr ? uploaded : "";
  }
}

void lowerInPlace(std::string& word) {
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool startsWithMinus(const std::string& word) { return !word.empty() && word[0] == '-'; }

std::string echoedLine(const CliContext& ctx) {
  std::string line;
  for (size_t i = 0; i < ctx.words.size(); ++i) {
    if (i > 0) line += ' ';
    line += ctx.words[i];
  }
  return line;
}

size_t caretColumn(const CliContext& ctx) {
  size_t column = 0;
  for (size_t i = 0; i < ctx.position && i < ctx.words.size(); ++i) column += ctx.words[i].size() + 1;
  return column;
}

std::string withoutLineEnd(const char* message) {
  std::string text = message != nullptr ? message : "";
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// An error block followed by the command's help. Returns false (the parse failed).
bool commandError(CliContext& ctx, const char* message) {
  writeErrorBlock(ctx, message);
  writeCommandHelp(ctx, *ctx.object, *ctx.command);
  return false;
}

// Reads the modifiers from word 3 on. False after an error (written).
bool parseModifiers(CliContext& ctx) {
  ctx.position = 3;
  while (ctx.position < ctx.words.size()) {
    const size_t at = ctx.position;
    const ModifierEntry* entry = findModifier(*ctx.command, ctx.words[at]);
    if (entry == nullptr) return commandError(ctx, "Unknown Command Argument.");
    size_t next = at + 1;
    if (entry->kind == kKindFlag) {
      ctx.modifiers.push_back({entry->id, ".", at});
    } else if (entry->kind == kKindValue) {
      if (next >= ctx.words.size() || startsWithMinus(ctx.words[next])) {
        return commandError(ctx, "Missing Command Argument.");
      }
      ctx.modifiers.push_back({entry->id, ctx.words[next], at});
      ++next;
    } else {
      for (; next < ctx.words.size() && !startsWithMinus(ctx.words[next]); ++next) {
        ctx.modifiers.push_back({entry->id, ctx.words[next], at});
      }
      if (next == at + 1) return commandError(ctx, "Missing command argument data component.");
    }
    ctx.position = next;
  }
  return true;
}

// The parsed occurrence of a modifier entry, or null. Global-option entries are looked up among
// the global options instead (their word index stays 0).
bool isPresent(const CliContext& ctx, const ModifierEntry& entry, std::string* value, size_t* word) {
  if (entry.group == kGroupRequiredGlobal) {
    const GlobalOption option = entry.id == kModSendFile ? kOptSendFile : kOptReceiveFile;
    if (!ctx.globalGiven[option]) return false;
    *value = ctx.globals[option];
    *word = 0;
    return true;
  }
  for (const ParsedModifier& m : ctx.modifiers) {
    if (m.id == entry.id) {
      *value = m.value;
      *word = m.word;
      return true;
    }
  }
  return false;
}

// Required arguments in table order, then the optional group, then the required group.
bool checkArguments(CliContext& ctx) {
  char message[160];
  std::string value;
  size_t word = 0;
  ctx.position = ctx.words.size();
  for (const ModifierEntry& entry : ctx.command->modifiers) {
    if (entry.group != kGroupRequired && entry.group != kGroupRequiredGlobal) continue;
    if (!isPresent(ctx, entry, &value, &word)) {
      std::snprintf(message, sizeof(message), "Required argument %s is missing.\n", entry.name);
      return commandError(ctx, message);
    }
    if (entry.kind == kKindValue && value.empty()) {
      if (word != 0) ctx.position = word;
      std::snprintf(message, sizeof(message), "Required argument, %s, is missing or incorrect.\n",
                    entry.name);
      return commandError(ctx, message);
    }
  }
  int optionalSet = 0, requiredSet = 0, requiredMembers = 0;
  for (const ModifierEntry& entry : ctx.command->modifiers) {
    const bool present = isPresent(ctx, entry, &value, &word);
    if (entry.group == kGroupOptionalSet && present && ++optionalSet == 2) {
      ctx.position = word;
      return commandError(ctx, "More than one member of an Optional Group is present.\n");
    }
    if (entry.group != kGroupRequiredSet) continue;
    ++requiredMembers;
    if (present && ++requiredSet == 2) {
      ctx.position = word;
      return commandError(ctx, "More than one member of a Required Group is present.\n");
    }
  }
  if (requiredMembers > 0 && requiredSet == 0) {
    return commandError(ctx, "No member of a Required Group is present.\n");
  }
  return true;
}

void writeCommandHeader(CliContext& ctx) {
  writeRuler(ctx, '=', "Command");
  writeText(ctx, "%s %s%s%s\n", ctx.object->name, ctx.command->name,
            hasModifier(ctx, kModSummary) ? " -sum" : "", hasModifier(ctx, kModExpanded) ? " -exp" : "");
  writeRuler(ctx, '=');
  writeRuler(ctx, '=', "Results");
  consolePrint("--- qcliCmdCommand START --------------------------------\n");
}

}  // namespace

bool splitGlobalOptions(CliContext& ctx) {
  std::vector<std::string> remaining;
  for (size_t i = 0; i < ctx.words.size(); ++i) {
    const GlobalOptionEntry* option = i > 0 ? findGlobalOption(ctx.words[i]) : nullptr;
    if (option == nullptr) {
      remaining.push_back(ctx.words[i]);
      continue;
    }
    if (!option->takesValue) {
      setGlobal(ctx, option->id, ".");
      continue;
    }
    if (i + 1 >= ctx.words.size()) {
      ctx.position = i;
      writeErrorBlock(ctx, "Argument missing data component.");
      return false;
    }
    setGlobal(ctx, option->id, ctx.words[++i]);
  }
  ctx.words = std::move(remaining);
  applyGlobals(ctx);
  return true;
}

void writeErrorBlock(CliContext& ctx, const char* message) {
  const std::string line = echoedLine(ctx);
  const std::string rule(line.size(), '-');
  writeText(ctx, "\n");
  writeText(ctx, "%s %s -- Kestrova Command Line Interface Tool\n", kToolName, kToolVersion);
  writeText(ctx, "Error: %s\n", withoutLineEnd(message).c_str());
  writeText(ctx, "%s\n", rule.c_str());
  writeText(ctx, "%s\n", line.c_str());
  writeText(ctx, "%s^\n", std::string(caretColumn(ctx), ' ').c_str());
  writeText(ctx, "%s\n", rule.c_str());
  writeText(ctx, "\n");
  ++ctx.errors;
}

void writeShortErrorBlock(CliContext& ctx, const char* message) {
  writeText(ctx, "\n");
  writeText(ctx, "%s %s -- Kestrova Command Line Interface Tool\n", kToolName, kToolVersion);
  writeText(ctx, "Error: %s\n", withoutLineEnd(message).c_str());
  writeText(ctx, "\n");
  ++ctx.errors;
}

int parseAndRun(CliContext& ctx) {
  ctx.position = 1;
  if (ctx.words.size() > 1) lowerInPlace(ctx.words[1]);
  ctx.object = ctx.words.size() > 1 ? findObject(ctx.words[1]) : nullptr;
  if (ctx.object == nullptr) {
    writeErrorBlock(ctx, "Unknown/missing object.");
    writeObjectNames(ctx);
    return 1;
  }
  ctx.position = 2;
  if (std::string_view(ctx.object->name) == "help") return runHelp(ctx);
  if (ctx.words.size() > 2) lowerInPlace(ctx.words[2]);
  ctx.command = ctx.words.size() > 2 ? findCommand(*ctx.object, ctx.words[2]) : nullptr;
  if (ctx.command == nullptr) {
    writeErrorBlock(ctx, "Unknown/missing command.");
    writeCommandList(ctx, *ctx.object);
    return 1;
  }
  if (!parseModifiers(ctx) || !checkArguments(ctx)) return 1;
  if (confirmationOf(*ctx.command) != nullptr && !hasModifier(ctx, kModConfirm)) {
    writeText(ctx, "Confirmation is required to complete this operation.\n");
    return 0;
  }
  // The server's own commands need no controller pair (and must work when none is reachable).
  if (std::string_view(ctx.object->name) != "server" && !selectPair(ctx)) return 1;
  writeCommandHeader(ctx);
  const int result = ctx.command->handler != nullptr ? ctx.command->handler(ctx) : 1;
  writeRuler(ctx, '=');
  return result;
}

}  // namespace brivo::cli
