// Events of the request side; see cgi_events.h.
#include "server/request/cgi_events.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/variable_table.h"
#include "server/events/dispatcher.h"
#include "server/server_state.h"

namespace {
constexpr uint32_t kErrorSeverity = 2;
}  // namespace

void raiseCgiEvent(const char* key, uint32_t eventId, const std::string& cause) {
  char* text = lookupString(kStringsDbPath, key);
  std::string message = (text == nullptr || std::strcmp(text, kMissing) == 0) ? key : text;
  std::free(text);
  if (!cause.empty()) message += " (" + cause + ")";
  const std::string device = serverDeviceNameCopy();
  raiseEvent(device.c_str(), message.c_str(), kErrorSeverity, 0, eventId, 0);
}
