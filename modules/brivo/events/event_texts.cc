// Table-backed lookups and stored bookmark times; see event_texts.h.
#include "modules/brivo/events/event_texts.h"

#include <cstdlib>
#include <cstring>

#include "common/string_tables.h"

namespace brivo::events {

namespace {

std::optional<std::string> fromStringTable(const std::string& path, const std::string& key) {
  char* value = lookupString(path.c_str(), key.c_str());
  if (value == nullptr) return std::nullopt;
  std::optional<std::string> result;
  if (std::strcmp(value, kMissing) != 0) result = value;
  std::free(value);
  return result;
}

std::optional<std::string> fromTable(const VariableTable* table, const std::string& key) {
  if (table == nullptr) return std::nullopt;
  char* value = getVariableCopyShared(table, key.c_str());
  if (value == nullptr) return std::nullopt;
  std::string result = value;
  std::free(value);
  return result;
}

}  // namespace

TableEventTexts::TableEventTexts(std::string eventStringsPath, std::string serverStringsPath,
                                 const VariableTable* severity, const VariableTable* settings)
    : eventStrings_(std::move(eventStringsPath)),
      serverStrings_(std::move(serverStringsPath)),
      severity_(severity),
      settings_(settings) {}

std::optional<std::string> TableEventTexts::eventText(const std::string& key) const {
  return fromStringTable(eventStrings_, key);
}

std::optional<std::string> TableEventTexts::serverText(const std::string& key) const {
  return fromStringTable(serverStrings_, key);
}

std::optional<std::string> TableEventTexts::severity(const std::string& key) const {
  return fromTable(severity_, key);
}

std::optional<std::string> TableEventTexts::setting(const std::string& key) const {
  return fromTable(settings_, key);
}

std::string lastEventTimeKey(std::string_view pairName, int side) {
  return std::string(pairName) + (side == kSideA ? "LastAEventTime" : "LastBEventTime");
}

std::string lastEventCountKey(std::string_view pairName, int side) {
  return std::string(pairName) + (side == kSideA ? "LastAEventCount" : "LastBEventCount");
}

uint32_t parseStoredEventCount(const std::string& text) {
  if (text.empty() || text.size() > 10) return kWholeSecond;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return kWholeSecond;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value >= kWholeSecond ? kWholeSecond : static_cast<uint32_t>(value);
}

uint32_t parseStoredEventTime(const std::string& text) {
  if (text.empty() || text.size() > 10) return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value > UINT32_MAX ? 0 : static_cast<uint32_t>(value);
}

uint32_t readStoredEventTime(const VariableTable* table, std::string_view pairName, int side) {
  std::optional<std::string> text = fromTable(table, lastEventTimeKey(pairName, side));
  return text ? parseStoredEventTime(*text) : 0;
}

void writeStoredEventTime(VariableTable* table, std::string_view pairName, int side, uint32_t seconds) {
  replaceVariable(table, lastEventTimeKey(pairName, side).c_str(), std::to_string(seconds).c_str());
}

}  // namespace brivo::events
