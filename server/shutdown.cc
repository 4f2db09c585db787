// The shutdown sequence of the server. Runs under the lifecycle lock (see main_loop.h); each step
// prints its name padded to 40 characters so that the "Done" lines up on the console.
#include <chrono>
#include <cstdio>
#include <thread>

#include "common/debug.h"
#include "common/string_tables.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/components.h"
#include "server/events/dispatcher.h"
#include "server/lifecycle_internal.h"
#include "server/main_loop.h"
#include "server/server_state.h"
#include "server/service_notify.h"

namespace {

constexpr uint32_t kEventServerShutdown = 0x102;
constexpr int kCountdownStepMs = 10;

void printStep(const char* name) {
  std::printf("%-40s", name);
  std::fflush(stdout);
}

void printDone() {
  std::printf("Done\n");
  std::fflush(stdout);
}

// Counts the grace time down in 10 ms steps on one console line. The steps follow a steady clock
// so that slow printing does not stretch the wait.
void countDown(int graceMs) {
  const auto start = std::chrono::steady_clock::now();
  for (int left = graceMs; left >= 0; left -= kCountdownStepMs) {
    std::printf("\rTime left: %d.%.3d   ", left / 1000, left % 1000);
    std::fflush(stdout);
    if (left == 0) break;
    std::this_thread::sleep_until(start + std::chrono::milliseconds(graceMs - left + kCountdownStepMs));
  }
  std::printf("\n");
}

void freeSettingsTables() {
  ServerSettings& settings = serverSettings();
  for (VariableTable* table : {&settings.email, &settings.snmp, &settings.syslog, &settings.server,
                               &settings.ip, &settings.prefs, &settings.webhook}) {
    freeVariableTable(table);
  }
}

}  // namespace

void lifecycle::shutdownLocked(State& s) {
  ServerControl& control = serverControl();
  ServerComponents& components = serverComponents();
  const LifecycleTimings timings = lifecycleTimings();
  const bool restarting = control.restart.load() != 0 && !s.exitRequested.load();
  if (restarting) {
    notifyServiceRestarting();
  } else {
    notifyServiceStopping();
  }

  raiseServerEvent("KestrovaEvent_ServerShutdown", kEventServerShutdown);
  std::this_thread::sleep_for(std::chrono::milliseconds(timings.shutdownEventMs));
  control.serverRunning.store(0);

  std::printf("The Server is shutting down.\n------------------------------\n");
  std::printf("Allowing threads to end: \n");
  countDown(timings.threadGraceMs);

  // Request handlers that have finished but were not yet reaped may still be returning from a
  // module's code; join them before the modules are unloaded.
  reapThreads();
  components.moduleShutdownProcedures(restarting);

  std::printf("\n\t\t Kestrova Module: Server\n\n");
  printStep("Closing libraries:");
  components.unloadModules();
  printDone();

  std::printf("Clearing device list:\n");
  components.freeDeviceList();
  printDone();

  printStep("Notification Shutdown:");
  stopNotificationChannels();
  printDone();

  std::printf("Ending all network communications:\n");
  components.stopNetwork();
  components.stopUserTracking();
  printDone();

  printStep("Clearing hashtables:");
  freeSettingsTables();
  printDone();

  printStep("Clearing strings:");
  setServerDeviceName(nullptr);
  setServerSerialNumber(nullptr);
  printDone();

  printStep("Clearing in-ram file tables:");
  clearStringTables();
  closeDebug();

  printStep("Terminating all threads:");
  terminateAllThreads();
  closeThreadManager();
  components.releaseRequestSide();
  printDone();

  std::printf("\n\nThe Server is shutdown is complete.\n------------------------------\n");
  if (restarting) {
    std::printf(" ********* MEMORY LEAKS ***********\n");
    std::printf(" ********* ************ ***********\n");
  }
  std::fflush(stdout);
  s.runActive = false;
  setStopWord();
}
