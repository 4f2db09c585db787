// Events of the users and password component; see user_events.h.
#include "server/net/user_events.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/variable_table.h"
#include "server/events/dispatcher.h"
#include "server/events/event_text.h"
#include "server/server_state.h"

namespace {

constexpr const char kAbsent[] = "??";

std::atomic<UserEventRaiser> gRaiser{raiseEvent};

std::string lookupFormat(const char* key) {
  char* text = lookupString(kStringsDbPath, key);
  std::string format = (text == nullptr || std::strcmp(text, kMissing) == 0) ? key : text;
  std::free(text);
  return format;
}

}  // namespace

std::string fillUserEventText(std::string_view format, std::initializer_list<const char*> values) {
  std::string text;
  const char* const* next = values.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        text.push_back('%');
        ++i;
        continue;
      }
      if (format[i + 1] == 's' && next != values.end()) {
        text.append(*next != nullptr ? *next : kAbsent);
        ++next;
        ++i;
        continue;
      }
    }
    text.push_back(format[i]);
  }
  if (text.size() >= kUserEventTextSize) text.resize(completeUtf8Length(text.data(), kUserEventTextSize - 1));
  return text;
}

int raiseUserEvent(const char* key, uint32_t eventId, uint32_t level,
                   std::initializer_list<const char*> values) {
  const std::string message = fillUserEventText(lookupFormat(key), values);
  const std::string device = serverDeviceNameCopy();
  return gRaiser.load()(device.c_str(), message.c_str(), level, 0, eventId, 0);
}

void setUserEventRaiser(UserEventRaiser raiser) { gRaiser.store(raiser != nullptr ? raiser : raiseEvent); }
