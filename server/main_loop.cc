// The main loop of the server: start-up steps, the wait for the stop word, restarts; plus the
// restart thread and the start-up device scan. The shutdown steps are in shutdown.cc.
#include "server/main_loop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <thread>

#include "common/debug.h"
#include "common/file_utils.h"
#include "common/property_file.h"
#include "common/scsi/device_scan.h"
#include "common/string_tables.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/components.h"
#include "server/events/dispatcher.h"
#include "server/events/webhook_config.h"
#include "server/lifecycle_internal.h"
#include "server/server_state.h"
#include "server/service_notify.h"
#include "server/signals.h"

namespace {

constexpr uint32_t kMainDebug = 0x4011;
constexpr uint32_t kEventServerStarted = 0x101;
constexpr uint32_t kEventRescanStarted = 0x103;
constexpr auto kStopPollStep = std::chrono::milliseconds(2000);

Mutex gTimingsLock;
LifecycleTimings gTimings GUARDED_BY(gTimingsLock);

// One settings table read at start-up, with the line printed when its file is missing or empty.
struct SettingsFile {
  VariableTable ServerSettings::*table;
  const char* path;
  const char* missingMessage;
};

constexpr SettingsFile kSettingsFiles[] = {
    {&ServerSettings::email, kEmailIniPath, "Unable to open email property file (or it is empty)"},
    {&ServerSettings::snmp, kSnmpIniPath, "Unable to open snmp property file (or it is empty)"},
    {&ServerSettings::syslog, kSyslogIniPath, "Unable to open syslog property file (or it is empty)"},
    {&ServerSettings::server, kServerIniPath, "Unable to open server property file (or it is empty)"},
    {&ServerSettings::ip, kIpDbPath, "Unable to open IP settings property file (or it is empty)"},
};

void emptyWorkingFolders() {
  for (const char* folder : {"Information", "temp"}) {
    removeFolder(folder);
    if (makeFolder(folder) != 0) std::printf("Unable to create the folder %s\n", folder);
  }
}

void readSettingsTables() {
  ServerSettings& settings = serverSettings();
  for (const SettingsFile& file : kSettingsFiles) {
    freeVariableTable(&(settings.*file.table));
    settings.*file.table = readPropertyFile(file.path);
  }
  for (const SettingsFile& file : kSettingsFiles) {
    if (settings.*file.table == nullptr) logServerError(file.missingMessage);
  }
  // The preferences table has no missing-file line: its only entry is the page's edit counter.
  freeVariableTable(&settings.prefs);
  settings.prefs = readPropertyFile(kPrefsIniPath);
  // Nor has the webhook table: without its file there are simply no webhooks.
  freeVariableTable(&settings.webhook);
  settings.webhook = readPropertyFile(kWebhookIniPath);
}

void setServerNames() {
  setServerSerialNumber(getVariable(serverSettings().server, "serialNumber"));
  serverControl().serverRunning.store(1);
  char* name = lookupString(kStringsDbPath, "serverDeviceName");
  setServerDeviceName(name);
  std::free(name);
}

// Step 13. Returns false when the CGI communicator could not be started; the server is then shut
// down already.
bool startRequestSide(lifecycle::State& state) REQUIRES(state.lock) {
  ServerComponents& components = serverComponents();
  if (!components.startRequestSide()) {
    lifecycle::shutdownLocked(state);
    logServerError("Unable to start the CGI Communicator.");
    return false;
  }
  components.startModules();
  ScanRequest* request = new (std::nothrow) ScanRequest{};
  if (request == nullptr) {
    logServerError("During startup unable to allocate space for the scan structure");
    return true;
  }
  scanSystem(request);
  delete request;
  return true;
}

// Steps 3-14 of one pass, under the lifecycle lock.
void startPass() {
  lifecycle::State& state = lifecycle::state();
  ServerControl& control = serverControl();
  MutexLock lock(state.lock);
  if (state.exitRequested.load()) {  // a signal came between two passes
    lifecycle::setStopWord();
    return;
  }
  state.runActive = true;
  control.stop.store(0);
  control.rescanRequested.store(0);
  initThreadManager();
  debugPrint(kMainDebug, "main: Server start\n");
  loadStringTables(nullptr, nullptr, nullptr);
  emptyWorkingFolders();
  serverComponents().reloadEventLogCounter();
  readSettingsTables();
  setServerNames();
  startNotificationChannels();
  serverComponents().loadModules();
  serverComponents().initNetwork();
  serverComponents().startUserTracking();
  if (!startRequestSide(state)) return;
  lifecycle::raiseServerEvent("KestrovaEvent_ServerStarted", kEventServerStarted);
  notifyServiceReady();
}

// Step 15: the main thread sleeps in steps while the server runs; setting the stop word wakes it.
void waitForStopWord() {
  lifecycle::State& state = lifecycle::state();
  MutexLock lock(state.stopLock);
  while (serverControl().stop.load() == 0) state.stopCv.wait_for(lock.native(), kStopPollStep);
}

}  // namespace

namespace lifecycle {

State& state() {
  static State* const s = new State;
  return *s;
}

void setStopWord() {
  State& s = state();
  {
    MutexLock lock(s.stopLock);
    serverControl().stop.store(1);
  }
  s.stopCv.notify_all();
}

void raiseServerEvent(const char* key, uint32_t eventId) {
  char* text = lookupString(kStringsDbPath, key);
  std::string message = (text == nullptr || std::strcmp(text, kMissing) == 0) ? key : text;
  std::free(text);
  std::string device = serverDeviceNameCopy();
  raiseEvent(device.c_str(), message.c_str(), 0, 0, eventId, 0);
}

}  // namespace lifecycle

int runServer(int argc, const char* const* argv) {
  ServerControl& control = serverControl();
  lifecycle::State& state = lifecycle::state();
  control.startTime.store(std::time(nullptr));
  std::printf("Server last compiled on %s at %s.\n", __DATE__, __TIME__);
  installSignalHandling();
  for (;;) {
    bool exitAfterOptions = false;
    initDebugNoExit(argc, argv, &exitAfterOptions);
    if (exitAfterOptions) {
      std::fflush(stdout);
      std::exit(1);
    }
    debugPrint(kMainDebug, "main: Server is running\n");
    startPass();
    waitForStopWord();
    { MutexLock finished(state.lock); }  // the shutdown has returned
    if (control.restart.load() == 0 || state.exitRequested.load()) break;
    control.restart.store(0);
    control.restartTime.store(std::time(nullptr));
    control.restartCount.fetch_add(1);
  }
  std::fflush(stdout);
  return 0;
}

void shutdownServer() {
  lifecycle::State& state = lifecycle::state();
  MutexLock lock(state.lock);
  if (!state.runActive) return;
  lifecycle::shutdownLocked(state);
}

void shutdownServerForExit() {
  lifecycle::state().exitRequested.store(true);
  shutdownServer();
  // Wakes the main loop also when no pass was running.
  lifecycle::setStopWord();
}

void waitAndThenRestartServer(uintptr_t) {
  std::this_thread::sleep_for(std::chrono::milliseconds(lifecycleTimings().restartDelayMs));
  ServerControl& control = serverControl();
  control.rescanRequested.store(1);
  control.restart.store(1);
  lifecycle::raiseServerEvent("KestrovaEvent_RescanStarted", kEventRescanStarted);
  shutdownServer();
}

int scanSystem(const ScanRequest* request) {
  if (request == nullptr) return 2;
  ServerControl& control = serverControl();
  // The scan flag of the device scan is the one the network code consults; the control word
  // mirrors it for the pages that show whether a scan runs.
  if (!beginDeviceScan()) return 0;
  control.scanning.store(1);
  ServerComponents& components = serverComponents();
  components.scanDevices(request->rescanBuses);
  components.acceptDeviceList();
  control.scanning.store(0);
  endDeviceScan();
  if (isServerRunning()) components.startDeviceListSender();
  std::printf("Scan System thread terminated\n");
  std::fflush(stdout);
  return 0;
}

void logServerError(const char* text) {
  std::printf("logServerError: %s\n", text != nullptr ? text : "");
  std::fflush(stdout);
}

void printModuleShutdownBanner(const char* moduleName, bool restarting) {
  std::printf("\n\t\t Kestrova Module: %s\n\n", moduleName != nullptr ? moduleName : "");
  std::printf(restarting ? "\n\t\t Calling doResetProcedures \n" : "\n\t\t Calling doShutdownProcedures \n");
  std::fflush(stdout);
}

void setLifecycleTimings(const LifecycleTimings& timings) {
  MutexLock lock(gTimingsLock);
  gTimings = timings;
}

LifecycleTimings lifecycleTimings() {
  MutexLock lock(gTimingsLock);
  return gTimings;
}
