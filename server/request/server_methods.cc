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
  bool altersData;  // saves, clears, tests, rescans, password changes: refused to forged requests
};

constexpr bool kRead = false;
constexpr bool kAlters = true;

constexpr MethodRow kMethods[] = {
    {"GetDebugInfo", GetDebugInfo, kRead},
    {"testMethod", testMethod, kRead},
    {"TestLoop", TestLoop, kRead},
    {"GetEmailConfig", GetEmailConfig, kRead},
    {"SetEmailConfig", SetEmailConfig, kAlters},
    {"TestEmailConfig", TestEmailConfig, kAlters},
    {"GetSnmpConfig", GetSnmpConfig, kRead},
    {"SetSnmpConfig", SetSnmpConfig, kAlters},
    {"TestSnmpConfig", TestSnmpConfig, kAlters},
    {"GetSyslogConfig", GetSyslogConfig, kRead},
    {"SetSyslogConfig", SetSyslogConfig, kAlters},
    {"TestSyslogConfig", TestSyslogConfig, kAlters},
    {"SessionPing", SessionPing, kRead},
    {"ViewLogs", ViewLogs, kRead},
    {"ExportLogs", ExportLogs, kRead},
    {"ClearEventLogs", ClearEventLogs, kAlters},
    {"GetNetworkInfo", GetNetworkInfo, kRead},
    {"RescanSystem", RescanSystem, kAlters},
    {"UpdatePassword", UpdatePassword, kAlters},
    {"GetMainPage", GetMainPage, kRead},
    {"GetAboutPage", GetAboutPage, kRead},
    {"GetRescanPage", GetRescanPage, kRead},
    {"GatherInformation", GatherInformation, kAlters},
    {"TechSupportPing", TechSupportPing, kRead},
    {"PingPage", PingPage, kRead},
    {"LoadIndex", LoadIndex, kRead},
    {"TakeDeviceControl", TakeDeviceControl, kAlters},
    {"GetPrefsConfig", GetPrefsConfig, kRead},
    {"SetPrefsConfig", SetPrefsConfig, kAlters},
    {"GetMetrics", GetMetrics, kRead},
    {"GetNetworkKeyConfig", GetNetworkKeyConfig, kRead},
    {"SetNetworkKeyConfig", SetNetworkKeyConfig, kAlters},
    {"GetWebhookConfig", GetWebhookConfig, kRead},
    {"SetWebhookConfig", SetWebhookConfig, kAlters},
    {"TestWebhookConfig", TestWebhookConfig, kAlters},
};

}  // namespace

namespace {

const MethodRow* findRow(const char* method) {
  if (method == nullptr) return nullptr;
  for (const MethodRow& row : kMethods) {
    if (std::strcmp(row.name, method) == 0) return &row;
  }
  return nullptr;
}

}  // namespace

ServerMethod findServerMethod(const char* method) {
  const MethodRow* row = findRow(method);
  return row != nullptr ? row->handler : nullptr;
}

int serverMethodAltersData(const char* method) {
  const MethodRow* row = findRow(method);
  if (row == nullptr) return -1;
  return row->altersData ? 1 : 0;
}

const char* serverMethodName(int index) {
  constexpr int count = static_cast<int>(sizeof(kMethods) / sizeof(kMethods[0]));
  return index >= 0 && index < count ? kMethods[index].name : nullptr;
}
