// Modifier and global-option access and the number parsing of handler values; see cli_context.h.
//
// Thread safety: reads the caller's context only.
#include "modules/brivo/cli/cli_context.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace brivo::cli {

bool hasModifier(const CliContext& ctx, ModifierId id) {
  for (const ParsedModifier& m : ctx.modifiers) {
    if (m.id == id) return true;
  }
  return false;
}

const char* modifierValue(const CliContext& ctx, ModifierId id) {
  for (const ParsedModifier& m : ctx.modifiers) {
    if (m.id == id) return m.value.c_str();
  }
  return nullptr;
}

std::vector<std::string> modifierValues(const CliContext& ctx, ModifierId id) {
  std::vector<std::string> values;
  for (const ParsedModifier& m : ctx.modifiers) {
    if (m.id == id) values.push_back(m.value);
  }
  return values;
}

const char* globalOption(const CliContext& ctx, GlobalOption option) {
  const int slot = static_cast<int>(option);
  if (slot < 0 || slot >= kGlobalOptionSlots || !ctx.globalGiven[slot]) return nullptr;
  return ctx.globals[slot].c_str();
}

bool parseNumber(const char* text, long* out) {
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno == ERANGE || end == text || *end != '\0') return false;
  if (out != nullptr) *out = value;
  return true;
}

bool parseNumberOrAll(const char* text, long allValue, long* out) {
  if (text != nullptr && strcasecmp(text, "all") == 0) {
    if (out != nullptr) *out = allValue;
    return true;
  }
  return parseNumber(text, out);
}

}  // namespace brivo::cli
