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
#include "server/request/local_addresses.h"
#include "server/request/module_internal.h"
#include "server/request/module_manager.h"
#include "server/request/router.h"
#include "server/server_state.h"

namespace {

constexpr const char kRescanTag[] = "rescanSystem/waitAndThenRestartServer";
// Far more fields than any page posts; a larger count is a broken request.
constexpr unsigned long kMaxPostParameters = 1000;

// Set while this thread answers a forwarded request, so that a module that asks again from
// inside that request gets an error instead of an endless loop.
thread_local bool t_forwarding = false;

// The forwarded request of a take-over, rebuilt from its "PostParameter%d" pairs. False when the
// count is not a number or too large.
bool forwardedRequest(VariableTable request, TableOwner* forwarded) {
  const char* countText = getVariable(request, "NumberOfPostParameters");
  char* end = nullptr;
  const unsigned long count = countText != nullptr ? std::strtoul(countText, &end, 10) : 0;
  if (countText != nullptr && (end == countText || *end != '\0' || countText[0] == '-')) return false;
  if (count > kMaxPostParameters) return false;
  for (unsigned long i = 0; i < count; ++i) {
    const std::string index = std::to_string(i);
    const char* field = getVariable(request, ("PostParameter" + index + "Field").c_str());
    const char* value = getVariable(request, ("PostParameter" + index + "Value").c_str());
    if (field != nullptr && value != nullptr) addVariable(forwarded->address(), field, value);
  }
  return true;
}

// Entry 6. Claiming the unit belongs to the network communicator, which is not part of this
// build yet: nothing is taken over ("TookOverDeviceControl" = "false"), but the forwarded request
// is answered as the user expects.
VariableTable takeDeviceControl(VariableTable request) {
  if (t_forwarding) return errorPanelReply("TakeDeviceControl was asked again from the forwarded request.");
  TableOwner forwarded;
  if (!forwardedRequest(request, &forwarded)) {
    return errorPanelReply("TakeDeviceControl: invalid NumberOfPostParameters.");
  }
  t_forwarding = true;
  VariableTable reply = routeRequest(forwarded.get());
  t_forwarding = false;
  addVariable(&reply, "TookOverDeviceControl", "false");
  return reply;
}

// Entry 7. The device-list sender belongs to the network communicator; until it exists no
// thread is started.
uint64_t sendDeviceList() { return 0; }

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
VariableTable serverRequest(uint32_t request, VariableTable) {
  switch (request) {
    case kServerRequestRescan:
      requestRescan();
      return nullptr;
    case kServerRequestChangePassword:
      return nullptr;  // the password change belongs to the user bookkeeping, not in this build yet
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
    dispatchEvent,      // 0
    raiseEvent,         // 1
    nullptr,            // 2
    debugPrint,         // 3
    flushDebug,         // 4
    setDebugPrefixes,   // 5
    takeDeviceControl,  // 6
    sendDeviceList,     // 7
    nullptr,            // 8
    serverRequest,      // 9
};

}  // namespace

const ModuleServices* moduleServices() { return &kServices; }
