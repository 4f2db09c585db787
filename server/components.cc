// The component table of this build. A component joins the life cycle by putting its function
// into defaultServerComponents below; until then the hook is a no-op that succeeds.
#include "server/components.h"

#include "server/device_list_owner.h"
#include "server/events/event_log.h"
#include "server/request/cgi_communicator.h"
#include "server/request/debug_page.h"
#include "server/request/module_manager.h"
#include "server/request/server_methods.h"

namespace {

void doNothing() {}
void handDeviceListToModules() {
  // The debug page lists the same devices the modules were given.
  setDeviceListSource([]() -> const DeviceRecord* { return serverDeviceList(); });
  callAcceptDeviceList(serverDeviceList());
}

}  // namespace

ServerComponents defaultServerComponents() {
  ServerComponents c{};
  c.reloadEventLogCounter = reloadLogCounter;
  c.loadModules = loadModules;
  c.startModules = startModules;
  c.moduleShutdownProcedures = moduleShutdownProcedures;
  c.unloadModules = unloadModules;
  c.gatherModuleInformation = gatherModuleInformation;
  c.initNetwork = doNothing;
  c.stopNetwork = doNothing;
  c.startRequestSide = startCgiCommunicator;
  c.releaseRequestSide = releaseCgiCommunicator;
  c.scanDevices = scanServerDevices;
  c.acceptDeviceList = handDeviceListToModules;
  c.startDeviceListSender = doNothing;
  c.freeDeviceList = freeServerDeviceList;
  c.findServerMethod = findServerMethod;
  return c;
}

ServerComponents& serverComponents() {
  static ServerComponents components = defaultServerComponents();
  return components;
}
