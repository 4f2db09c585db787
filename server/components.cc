// The component table of this build. A component joins the life cycle by putting its function
// into defaultServerComponents below; until then the hook is a no-op that succeeds.
#include "server/components.h"

#include "server/events/event_log.h"
#include "server/request/server_methods.h"

namespace {

void doNothing() {}
void doNothingFlag(bool) {}
bool succeed() { return true; }

}  // namespace

ServerComponents defaultServerComponents() {
  ServerComponents c{};
  c.reloadEventLogCounter = reloadLogCounter;
  c.loadModules = doNothing;
  c.startModules = doNothing;
  c.moduleShutdownProcedures = doNothingFlag;
  c.unloadModules = doNothing;
  c.gatherModuleInformation = doNothing;
  c.initNetwork = doNothing;
  c.stopNetwork = doNothing;
  c.startRequestSide = succeed;
  c.releaseRequestSide = doNothing;
  c.scanDevices = doNothingFlag;
  c.acceptDeviceList = doNothing;
  c.startDeviceListSender = doNothing;
  c.freeDeviceList = doNothing;
  c.findServerMethod = findServerMethod;
  return c;
}

ServerComponents& serverComponents() {
  static ServerComponents components = defaultServerComponents();
  return components;
}
