// The rescan request and its page, the network bar with its refresh check, and the about page;
// see settings_pages.h.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/thread_manager.h"
#include "server/main_loop.h"
#include "server/request/local_addresses.h"
#include "server/request/module_manager.h"
#include "server/request/page_rows.h"
#include "server/request/settings_pages.h"
#include "server/server_state.h"

namespace {

constexpr const char kRescanTag[] = "rescanSystem/waitAndThenRestartServer";

// Adds key with the value of setting in db/server.ini, or an empty text.
void addServerSetting(VariableTable* reply, const char* key, const char* setting) {
  char* value = getVariableCopyShared(&serverSettings().server, setting);
  addVariable(reply, key, value != nullptr ? value : "");
  std::free(value);
}

bool parseCount(const char* text, long* value) {
  if (text == nullptr || *text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = number;
  return true;
}

}  // namespace

VariableTable RescanSystem(VariableTable request) {
  ServerControl& control = serverControl();
  int idle = 0;
  // Claiming the rescan-requested word lets only the first of several simultaneous requests start
  // a restart; the word is cleared when the server starts again.
  if (control.scanning.load() == 0 && isServerRunning() &&
      control.rescanRequested.compare_exchange_strong(idle, 1)) {
    if (startThread(waitAndThenRestartServer, 0, kThreadKeep, kRescanTag) == 0) {
      control.rescanRequested.store(0);
      logServerError("Unable to start the restart thread.");
    }
  }
  return GetRescanPage(request);
}

VariableTable GetRescanPage(VariableTable request) {
  const char* module = getVariable(request, "AfterModule");
  if (module == nullptr) module = getVariable(request, "module");
  if (module == nullptr) module = "server";
  const char* method = getVariable(request, "AfterMethod");
  if (method == nullptr) method = getVariable(request, "method");
  if (method == nullptr || std::strcmp(method, "RescanSystem") == 0) method = "GetMainPage";
  VariableTable reply = nullptr;
  addVariable(&reply, "AfterModule", module);
  addVariable(&reply, "AfterMethod", method);
  addVariable(&reply, "HTMLPath", "../Common/rescanning.htm");
  return reply;
}

VariableTable GetNetworkInfo(VariableTable) {
  const ServerControl& control = serverControl();
  VariableTable reply = nullptr;
  addServerSetting(&reply, "SoftwareName", "softwareName");
  addVariable(&reply, "ShowPasswordTab", "true");
  addVariable(&reply, "Ip", serverIpText().c_str());
  addVariable(&reply, "HostName", serverHostName().c_str());
  char status[16];
  std::snprintf(status, sizeof(status), "%.2X", getGlobalStatus(false));
  addVariable(&reply, "Status", status);
  addPageRows(PageRows::kLoggedInUsers, &reply);
  addIntVariable(&reply, "NumberOfNetworkChanges", static_cast<uint32_t>(control.networkChanges.load()),
                 true);
  addBoolVariable(&reply, "ButtonsEnabled", control.rescanRequested.load() == 0);
  addPageRows(PageRows::kServerList, &reply);
  addVariable(&reply, "HTMLPath", "../Server/main/serverbar.html");
  return reply;
}

VariableTable PingPage(VariableTable request) {
  const ServerControl& control = serverControl();
  // Recomputing the status advances the change counter when it changed.
  getGlobalStatus(false);
  long seen = 0;
  bool needUpdate = !parseCount(getVariable(request, "NumberOfNetworkChanges"), &seen) ||
                    seen != static_cast<long>(control.networkChanges.load());
  if (getBoolVariable(request, "DisabledByRescan") && control.rescanRequested.load() == 0) needUpdate = true;
  VariableTable reply = nullptr;
  addBoolVariable(&reply, "NeedUpdate", needUpdate);
  addVariable(&reply, "HTMLPath", "../Server/main/serverping.html");
  return reply;
}

VariableTable GetAboutPage(VariableTable) {
  VariableTable reply = nullptr;
  addServerSetting(&reply, "SoftwareName", "softwareName");
  addServerSetting(&reply, "ServerVersion", "serverVersion");
  addServerSetting(&reply, "CompanyName", "companyName");
  // The serial number the server took from db/server.ini at start, read from the table itself:
  // the table lock keeps the read safe while a shutdown clears the server's names.
  addServerSetting(&reply, "SerialNumber", "serialNumber");
  addVariable(&reply, "UpdateButtonLoop", "0");
  addVariable(&reply, "HTMLPath", "../Server/other/about.htm");
  return reply;
}
