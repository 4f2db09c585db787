// Shared pieces of the SNMP and syslog notifiers; see notifier_settings.h.
#include "server/events/notifier_settings.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "common/property_file.h"
#include "server/events/notifier_reminders.h"

namespace {

std::atomic<int> gInUseTimeoutMs{NotifierWaitTimings{}.inUseTimeoutMs};
std::atomic<int> gInUsePollMs{NotifierWaitTimings{}.inUsePollMs};
std::atomic<int> gReceiverTimeoutMs{kReceiverWaitTimings.inUseTimeoutMs};
std::atomic<int> gReceiverPollMs{kReceiverWaitTimings.inUsePollMs};

bool parseDecimal(std::string_view text, uint64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto result = std::from_chars(text.data(), text.data() + text.size(), *value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

}  // namespace

void setNotifierWaitTimings(const NotifierWaitTimings& timings) {
  gInUseTimeoutMs.store(timings.inUseTimeoutMs);
  gInUsePollMs.store(timings.inUsePollMs);
}

NotifierWaitTimings notifierWaitTimings() { return {gInUseTimeoutMs.load(), gInUsePollMs.load()}; }

bool acquireNotifierSettings(std::atomic<int>* word, int value) {
  const NotifierWaitTimings timings = notifierWaitTimings();
  return acquireFileInUse(word, timings.inUseTimeoutMs, value, timings.inUsePollMs);
}

void setReceiverWaitTimings(const NotifierWaitTimings& timings) {
  gReceiverTimeoutMs.store(timings.inUseTimeoutMs);
  gReceiverPollMs.store(timings.inUsePollMs);
}

NotifierWaitTimings receiverWaitTimings() { return {gReceiverTimeoutMs.load(), gReceiverPollMs.load()}; }

bool acquireReceiverSettings(std::atomic<int>* word, int value) {
  const NotifierWaitTimings timings = receiverWaitTimings();
  return acquireFileInUse(word, timings.inUseTimeoutMs, value, timings.inUsePollMs);
}

VersionCheck checkSettingsVersion(VariableTable request, VariableTable current, uint32_t* newVersion) {
  uint64_t requested = 0;
  const char* text = getVariable(request, "version");
  const char* stored = getVariable(current, "version");
  // A file without a counter shows its page with an empty one; that page must still be savable,
  // as the first save of a hand-made file.
  const bool firstSave = text != nullptr && stored == nullptr && trimBlanks(text).empty();
  if (!firstSave &&
      (text == nullptr || !parseDecimal(trimBlanks(text), &requested) || requested >= UINT32_MAX)) {
    return VersionCheck::kMissing;
  }
  uint64_t storedNumber = 0;
  // A stored counter that is not a number can never be quoted back: any request is out of date.
  if (stored != nullptr && (!parseDecimal(trimBlanks(stored), &storedNumber) || storedNumber != requested)) {
    return VersionCheck::kOld;
  }
  if (newVersion != nullptr) *newVersion = static_cast<uint32_t>(requested + 1);
  return VersionCheck::kOk;
}

std::string trimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string iweFromRequest(VariableTable request, const char* infoKey, const char* warnKey,
                           const char* errKey, int index) {
  char text[4];
  std::snprintf(text, sizeof(text), "%d%d%d",
                getBoolVariable(request, indexedKey(infoKey, index).c_str()) ? 1 : 0,
                getBoolVariable(request, indexedKey(warnKey, index).c_str()) ? 1 : 0,
                getBoolVariable(request, indexedKey(errKey, index).c_str()) ? 1 : 0);
  return text;
}

bool filterSelects(std::string_view filter, size_t position) {
  return position < filter.size() && filter[position] == '1';
}

bool parsePortText(std::string_view text, uint16_t* port) {
  uint64_t value = 0;
  if (text.size() > 5 || !parseDecimal(text, &value) || value < 1 || value > 65535) return false;
  if (port != nullptr) *port = static_cast<uint16_t>(value);
  return true;
}

bool isHostText(std::string_view text) {
  if (text.empty() || text.size() > 253) return false;
  for (unsigned char c : text) {
    if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

bool isPlainText(std::string_view text, size_t maxLength) {
  if (text.size() > maxLength) return false;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool addReminderInterval(VariableTable request, const char* key, TableOwner* table) {
  const char* posted = getVariable(request, key);
  const std::string text = trimBlanks(posted != nullptr ? posted : "");
  int64_t seconds = 0;
  if (!parseReminderInterval(text, &seconds)) return false;
  if (!text.empty()) addVariable(table->address(), key, text.c_str());
  return true;
}

std::string indexedKey(const char* key, int index) { return std::string(key) + std::to_string(index); }

const char* indexedValue(VariableTable table, const char* key, int index) {
  return getVariable(table, indexedKey(key, index).c_str());
}

void replaceSettingsTable(VariableTable* slot, VariableTable fresh) {
  VariableTable old = *slot;
  *slot = fresh;
  freeVariableTable(&old);
}
