// The static command language of the interpreter: every object with its commands, and every
// command with its modifiers, handler and help text. The parser (cli_parser.cc) finds words in
// these tables and checks modifiers against their group codes; help (cli_help.cc) prints them.
//
// Matching: object and command names and aliases are compared with the word turned to lower
// case; modifier names are compared exactly (case matters).
//
// Thread safety: the tables are constant data, read by any thread.
#pragma once

#include <cstddef>
#include <span>

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

// How a modifier takes part in the argument checks and in help.
enum ModifierGroup : int {
  kGroupOptional = 0,
  kGroupOptionalSet = 1,     // member of the optional group: at most one may be present
  kGroupRequired = 2,        // must be present (with a value when it takes one)
  kGroupRequiredSet = 3,     // member of the required group: exactly one must be present
  kGroupConfirm = 4,         // -q: without it a data-altering command asks for confirmation
  kGroupHidden = 7,          // accepted but never shown in help
  kGroupRequiredGlobal = 8,  // a global option (--sfile, --rfile) the command needs
};

enum ModifierKind : int {
  kKindFlag = 1,   // no value; stored as "."
  kKindValue = 2,  // the next word, which must not begin with a minus sign
  kKindList = 3,   // every following word up to the next that begins with a minus sign
};

struct ModifierEntry {
  const char* name;
  const char* alias;     // null when none
  const char* argument;  // argument name shown in help; null for a flag
  const char* help;
  int group;  // ModifierGroup
  int kind;   // ModifierKind
  ModifierId id;
};

struct CommandEntry {
  const char* name;
  const char* alias;
  CliHandler handler;
  std::span<const ModifierEntry> modifiers;
  const char* description;
};

struct ObjectEntry {
  const char* name;
  const char* alias;
  const char* description;
  std::span<const CommandEntry> commands;  // empty for help
};

// Every object, in help order.
std::span<const ObjectEntry> objectTable();

// The object or command whose name or alias equals word (already lower case), or null.
const ObjectEntry* findObject(const std::string& word);
const CommandEntry* findCommand(const ObjectEntry& object, const std::string& word);
// The modifier whose name or alias equals word exactly, or null. Global-option entries
// (group 8) never match: their words are removed before the modifiers are parsed.
const ModifierEntry* findModifier(const CommandEntry& command, const std::string& word);
// The command's confirmation modifier, or null when the command does not alter data.
const ModifierEntry* confirmationOf(const CommandEntry& command);

}  // namespace brivo::cli
