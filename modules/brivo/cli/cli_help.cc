// The help object's forms and the object and command help; see cli_help.h.
//
// Thread safety: one context per request; the tables are constant.
#include "modules/brivo/cli/cli_help.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "modules/brivo/cli/cli_help_text.h"

namespace brivo::cli {

namespace {

constexpr size_t kMatrixObjects = 13;
constexpr size_t kMatrixCommands = 16;
constexpr int kNameColumn = 11;
constexpr int kMatrixLabelColumn = 12;

void writeLines(CliContext& ctx, std::span<const char* const> lines) {
  for (const char* line : lines) writeText(ctx, "%s", line);
}

void writeNamePair(CliContext& ctx, const char* name, const char* alias) {
  writeText(ctx, "    %-*s| %s\n", kNameColumn, name, alias != nullptr ? alias : "");
}

// The tags that say how a modifier takes part, each on a line of its own.
void writeModifierTags(CliContext& ctx, const ModifierEntry& modifier) {
  if (modifier.group == kGroupOptional) writeText(ctx, "        *Optional*\n");
  if (modifier.group == kGroupOptionalSet)
    writeText(ctx, "        *Optional Group 1* Only 1 may be present.\n");
  if (modifier.group == kGroupRequiredSet)
    writeText(ctx, "        *Required Group 1* Only 1 must be present.\n");
  if (modifier.kind == kKindList) writeText(ctx, "        *List*\n");
}

void writeModifier(CliContext& ctx, const ModifierEntry& modifier) {
  std::string line = std::string("    ") + modifier.name;
  if (modifier.alias != nullptr) line += std::string(" | ") + modifier.alias;
  if (modifier.argument != nullptr) line += std::string(" ") + modifier.argument;
  writeText(ctx, "%s\n", line.c_str());
  writeWrapped(ctx, modifier.help, 8);
  writeModifierTags(ctx, modifier);
}

void writeAllCommands(CliContext& ctx, const ObjectEntry& object) {
  if (object.commands.empty()) writeText(ctx, "    No commands for this object.\n");
  for (const CommandEntry& command : object.commands) writeCommandHelp(ctx, object, command);
}

void writeEverything(CliContext& ctx) {
  writeLines(ctx, basicHelpLines());
  writeObjectNames(ctx);
  writeText(ctx, "\n");
  for (const ObjectEntry& object : objectTable()) {
    writeObjectBlock(ctx, object);
    writeText(ctx, "\n");
    writeAllCommands(ctx, object);
    writeText(ctx, "\n");
  }
}

std::string lowered(std::string word) {
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

// help <object> {command | -all}
int objectHelp(CliContext& ctx, const std::string& objectWord) {
  const ObjectEntry* object = findObject(lowered(objectWord));
  if (object == nullptr) {
    writeText(ctx, "Error: Unknown object name <%s>.\n", objectWord.c_str());
    return 1;
  }
  const size_t next = ctx.position + 1;
  if (next >= ctx.words.size()) {
    writeObjectBlock(ctx, *object);
    writeCommandList(ctx, *object);
    return 0;
  }
  if (ctx.words[next] == "-all") {
    writeAllCommands(ctx, *object);
    return 0;
  }
  const CommandEntry* command = findCommand(*object, lowered(ctx.words[next]));
  if (command == nullptr) {
    writeText(ctx, "Error: unknown command name\n");
    return 1;
  }
  writeCommandHelp(ctx, *object, *command);
  return 0;
}

}  // namespace

void writeObjectNames(CliContext& ctx) {
  writeText(ctx, "OBJECT NAMES:\n");
  for (const ObjectEntry& object : objectTable()) writeNamePair(ctx, object.name, object.alias);
}

void writeCommandList(CliContext& ctx, const ObjectEntry& object) {
  writeText(ctx, "COMMANDS:\n");
  if (object.commands.empty()) writeText(ctx, "    none\n");
  for (const CommandEntry& command : object.commands) writeNamePair(ctx, command.name, command.alias);
}

void writeObjectBlock(CliContext& ctx, const ObjectEntry& object) {
  writeText(ctx, "OBJECT:\n");
  writeNamePair(ctx, object.name, object.alias);
  writeText(ctx, "DESCRIPTION:\n");
  writeWrapped(ctx, object.description, 4);
}

void writeCommandHelp(CliContext& ctx, const ObjectEntry& object, const CommandEntry& command) {
  writeText(ctx, "COMMAND:\n");
  writeText(ctx, "    %s %s\n", object.name, command.name);
  writeText(ctx, "DESCRIPTION:\n");
  writeWrapped(ctx, command.description, 4);
  writeText(ctx, "MODIFIERS:\n");
  bool any = false;
  for (const ModifierEntry& modifier : command.modifiers) {
    if (modifier.group == kGroupHidden) continue;
    writeModifier(ctx, modifier);
    any = true;
  }
  if (!any) writeText(ctx, "    none\n");
  writeText(ctx, "\n");
}

int writeSummaryMatrix(CliContext& ctx, std::span<const ObjectEntry> objects) {
  if (objects.size() > kMatrixObjects) {
    writeText(ctx, "Error: Function does not support enough objects.\n");
    return 1;
  }
  std::vector<std::string_view> names;  // distinct command names, in order of first appearance
  size_t longest = 0;
  for (const ObjectEntry& object : objects) {
    for (const CommandEntry& command : object.commands) {
      if (std::find(names.begin(), names.end(), command.name) != names.end()) continue;
      if (names.size() == kMatrixCommands) {
        writeText(ctx, "Error: Function does not support enough commands.\n");
        return 1;
      }
      names.emplace_back(command.name);
      longest = std::max(longest, names.back().size());
    }
  }
  writeText(ctx, "COMMAND SUMMARY:\n");
  const std::string margin(kMatrixLabelColumn, ' ');
  for (size_t row = 0; row < longest; ++row) {  // command names written downwards
    std::string line = margin;
    for (std::string_view name : names) line += std::string(" ") + (row < name.size() ? name[row] : ' ');
    while (!line.empty() && line.back() == ' ') line.pop_back();
    writeText(ctx, "%s\n", line.c_str());
  }
  writeText(ctx, "%s%s\n", margin.c_str(), std::string(2 * names.size(), '-').c_str());
  for (const ObjectEntry& object : objects) {
    std::string line(object.name);
    line.resize(kMatrixLabelColumn, ' ');
    for (std::string_view name : names) {
      bool has = false;
      for (const CommandEntry& command : object.commands) has = has || name == command.name;
      line += has ? " x" : " .";
    }
    writeText(ctx, "%s\n", line.c_str());
  }
  return 0;
}

int runHelp(CliContext& ctx) {
  if (ctx.position >= ctx.words.size()) {
    writeLines(ctx, basicHelpLines());
    return 0;
  }
  const std::string& word = ctx.words[ctx.position];
  if (word == "-basic") {
    writeLines(ctx, clientHelpLines());
  } else if (word == "-obj") {
    writeObjectNames(ctx);
  } else if (word == "-all") {
    writeEverything(ctx);
  } else if (word == "-sum") {
    return writeSummaryMatrix(ctx, objectTable());
  } else {
    return objectHelp(ctx, word);
  }
  return 0;
}

}  // namespace brivo::cli
