// The ModuleServices table handed to every module at startup: the server functions a module may
// call back (events, debug printing, device take-over, device-list send, server requests).
// See common/module_abi.h for the contract of each entry.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/debug.h"
#include "common/thread_manager.h"
#include "common/variable_table.h"
#include "server/events/dispatcher.h"
#include "server/main_loop.h"
#include "server/net/device_list_sender.h"
#include "server/net/password_change.h"
#include "server/request/local_addresses.h"
#include "server/request/module_internal.h"
#include "server/request/module_manager.h"
#include "server/request/router.h"
#include "server/server_state.h"

namespace {

constexpr const char kRescanTag[] = "rescanSystem/waitAndThenRestartServer";

// Request 1: the restart that rescans. One restart at a time: a second request while one is
// already under way starts nothing.
void requestRescan() {
  ServerControl& control = serverControl();
  if (control.scanning.load() != 0 || !isServerRunning()) return;
  int idle = 0;
  if (!control.rescanRequested.compare_exchange_strong(idle, 1)) return;
  if (startThread(waitAndThenRestartServer, 0, kThreadKeep, kRescanTag) == 0) {
    control.rescanRequested.store(0);  // nothing will restart: do not hold requests on the rescan page
  }
}

VariableTable singleValue(const char* key, const std::string& value) {
  VariableTable table = nullptr;
  addVariable(&table, key, value.c_str());
  return table;
}

// Entry 9.
VariableTable serverRequest(uint32_t request, VariableTable values) {
  switch (request) {
    case kServerRequestRescan:
      requestRescan();
      return nullptr;
    case kServerRequestChangePassword:
      return UpdatePassword(values);
    case kServerRequestVersion: {
      char* version = getVariableCopyShared(&serverSettings().server, "serverVersion");
      VariableTable table = singleValue("KvVersion", version != nullptr ? version : kMissing);
      std::free(version);
      return table;
    }
    case kServerRequestIpAddress:
      return singleValue("OsIp", serverIpText());
    case kServerRequestHostName:
      return singleValue("OsHostName", serverHostName());
    default:
      return nullptr;
  }
}

const ModuleServices kServices = {
    dispatchEvent,          // 0
    raiseEvent,             // 1
    nullptr,                // 2
    debugPrint,             // 3
    flushDebug,             // 4
    setDebugPrefixes,       // 5
    TakeDeviceControl,      // 6
    sendDeviceListService,  // 7
    nullptr,                // 8
    serverRequest,          // 9
};

}  // namespace

const ModuleServices* moduleServices() { return &kServices; }
