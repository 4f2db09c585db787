// The component table of this build. A component joins the life cycle by putting its function
// into defaultServerComponents below; until then the hook is a no-op that succeeds.
#include "server/components.h"

#include "server/device_list_owner.h"
#include "server/events/event_log.h"
#include "server/main_loop.h"
#include "server/net/device_list_sender.h"
#include "server/net/network_communicator.h"
#include "server/net/password_change.h"
#include "server/net/user_session.h"
#include "server/request/cgi_communicator.h"
#include "server/request/debug_page.h"
#include "server/request/module_manager.h"
#include "server/request/server_methods.h"

namespace {

void startUsers() {
  if (!startUserTracking()) logServerError("Unable to start the user session thread.");
  (void)warnAboutDefaultPassword();
}
void handDeviceListToModules() {
  // The debug page lists the same devices the modules were given, from a copy taken under the
  // device-claim lock (the network changes the units' claims meanwhile).
  setDeviceListSource(deviceListSnapshot);
  callAcceptDeviceList(serverDeviceList());
  // Only now, with the modules' units on it, may the claim code and the page use the list.
  publishDeviceListForNetwork();
}
void loadAndHoldModules() {
  loadModules();
  // The request side starts before the modules' startup and the scan; their requests wait.
  holdModuleRequests();
}
void shutDownModules(bool restarting) {
  // Modules unlink their units in their shutdown procedures: nobody may read the list from here on.
  withdrawDeviceListForNetwork();
  moduleShutdownProcedures(restarting);
}

}  // namespace

ServerComponents defaultServerComponents() {
  ServerComponents c{};
  c.reloadEventLogCounter = reloadLogCounter;
  c.loadModules = loadAndHoldModules;
  c.startModules = startModules;
  c.moduleShutdownProcedures = shutDownModules;
  c.unloadModules = unloadModules;
  c.gatherModuleInformation = gatherModuleInformation;
  c.initNetwork = initializeKestrovaNetwork;
  c.stopNetwork = stopKestrovaNetwork;
  c.startUserTracking = startUsers;
  c.stopUserTracking = stopUserTracking;
  c.startRequestSide = startCgiCommunicator;
  c.releaseRequestSide = releaseCgiCommunicator;
  c.scanDevices = scanServerDevices;
  c.acceptDeviceList = handDeviceListToModules;
  c.startDeviceListSender = startScanUnitListSender;
  c.freeDeviceList = freeServerDeviceList;
  c.findServerMethod = findServerMethod;
  return c;
}

ServerComponents& serverComponents() {
  static ServerComponents components = defaultServerComponents();
  return components;
}
