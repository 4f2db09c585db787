// The server method table, in its fixed order. Rows whose handler is null belong to pages that
// this build does not serve yet; they are skipped by the lookup so that the caller answers with
// its "invalid method" panel.
#include "server/request/server_methods.h"

#include <cstring>

#include "server/events/event_log.h"
#include "server/techsupport.h"

namespace {

struct MethodRow {
  const char* name;
  ServerMethod handler;
};

constexpr MethodRow kMethods[] = {
    {"GetDebugInfo", nullptr},
    {"testMethod", nullptr},
    {"TestLoop", nullptr},
    {"GetEmailConfig", nullptr},
    {"SetEmailConfig", nullptr},
    {"TestEmailConfig", nullptr},
    {"GetSnmpConfig", nullptr},
    {"SetSnmpConfig", nullptr},
    {"TestSnmpConfig", nullptr},
    {"GetSyslogConfig", nullptr},
    {"SetSyslogConfig", nullptr},
    {"TestSyslogConfig", nullptr},
    {"SessionPing", nullptr},
    {"ViewLogs", ViewLogs},
    {"ExportLogs", ExportLogs},
    {"ClearEventLogs", ClearEventLogs},
    {"GetNetworkInfo", nullptr},
    {"RescanSystem", nullptr},
    {"UpdatePassword", nullptr},
    {"GetMainPage", nullptr},
    {"GetAboutPage", nullptr},
    {"GetRescanPage", nullptr},
    {"GatherInformation", GatherInformation},
    {"TechSupportPing", TechSupportPing},
    {"PingPage", nullptr},
    {"LoadIndex", nullptr},
    {"TakeDeviceControl", nullptr},
    {"GetPrefsConfig", nullptr},
    {"SetPrefsConfig", nullptr},
};

}  // namespace

ServerMethod findServerMethod(const char* method) {
  if (method == nullptr) return nullptr;
  for (const MethodRow& row : kMethods) {
    if (std::strcmp(row.name, method) == 0) return row.handler;
  }
  return nullptr;
}

const char* serverMethodName(int index) {
  constexpr int count = static_cast<int>(sizeof(kMethods) / sizeof(kMethods[0]));
  return index >= 0 && index < count ? kMethods[index].name : nullptr;
}
