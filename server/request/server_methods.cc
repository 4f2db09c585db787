// The server method table, in its fixed order. Rows whose handler is null belong to pages that
// this build does not serve yet; they are skipped by the lookup so that the caller answers with
// its "invalid method" panel.
#include "server/request/server_methods.h"

#include <cstring>

#include "server/events/email_pages.h"
#include "server/events/event_log.h"
#include "server/events/snmp_settings.h"
#include "server/events/syslog_settings.h"
#include "server/events/webhook_settings.h"
#include "server/net/device_list_sender.h"
#include "server/net/network_key_page.h"
#include "server/net/password_change.h"
#include "server/request/debug_page.h"
#include "server/request/server_metrics.h"
#include "server/request/server_pages.h"
#include "server/request/settings_pages.h"
#include "server/techsupport.h"

namespace {

struct MethodRow {
  const char* name;
  ServerMethod handler;
};

constexpr MethodRow kMethods[] = {
    {"GetDebugInfo", GetDebugInfo},
    {"testMethod", testMethod},
    {"TestLoop", TestLoop},
    {"GetEmailConfig", GetEmailConfig},
    {"SetEmailConfig", SetEmailConfig},
    {"TestEmailConfig", TestEmailConfig},
    {"GetSnmpConfig", GetSnmpConfig},
    {"SetSnmpConfig", SetSnmpConfig},
    {"TestSnmpConfig", TestSnmpConfig},
    {"GetSyslogConfig", GetSyslogConfig},
    {"SetSyslogConfig", SetSyslogConfig},
    {"TestSyslogConfig", TestSyslogConfig},
    {"SessionPing", SessionPing},
    {"ViewLogs", ViewLogs},
    {"ExportLogs", ExportLogs},
    {"ClearEventLogs", ClearEventLogs},
    {"GetNetworkInfo", GetNetworkInfo},
    {"RescanSystem", RescanSystem},
    {"UpdatePassword", UpdatePassword},
    {"GetMainPage", GetMainPage},
    {"GetAboutPage", GetAboutPage},
    {"GetRescanPage", GetRescanPage},
    {"GatherInformation", GatherInformation},
    {"TechSupportPing", TechSupportPing},
    {"PingPage", PingPage},
    {"LoadIndex", LoadIndex},
    {"TakeDeviceControl", TakeDeviceControl},
    {"GetPrefsConfig", GetPrefsConfig},
    {"SetPrefsConfig", SetPrefsConfig},
    {"GetMetrics", GetMetrics},
    {"GetNetworkKeyConfig", GetNetworkKeyConfig},
    {"SetNetworkKeyConfig", SetNetworkKeyConfig},
    {"GetWebhookConfig", GetWebhookConfig},
    {"SetWebhookConfig", SetWebhookConfig},
    {"TestWebhookConfig", TestWebhookConfig},
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
