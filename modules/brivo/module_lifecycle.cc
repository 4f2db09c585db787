// The module's life; see module_lifecycle.h.
#include "modules/brivo/module_lifecycle.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/private_file.h"
#include "common/scsi/scsi_sim.h"
#include "common/thread_manager.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/method_table.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/module_hooks.h"
#include "modules/brivo/module_state.h"

namespace brivo {

namespace {

constexpr int kCountdownStepMs = 10;
constexpr int kSuspendPollMs = 10;
constexpr int kMaxArchivedSolutions = 1000;

std::atomic<int> g_countdownMs{2000};
std::atomic<int> g_waitStepMs{250};

void sleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

void resetModuleFlags(ModuleState& module) {
  module.accepting.store(false);
  module.devicesAccepted.store(false);
  module.monitorCycleComplete.store(true);
  module.monitorStarted.store(false);
  module.statusUpdateRequested.store(false);
  module.claimChanged.store(false);
  module.globalStatus.store(kStatusOk);
  module.deviceList.store(nullptr);
}

void sendStartupEvent(ModuleState& module) {
  const std::string source = module.files.value(PropertyTable::kSettings, kModuleLogNameKey);
  const std::string text = ModuleFiles::text(StringTable::kEvent, "StartupMessage");
  raiseModuleEvent(source.c_str(), text.c_str(), kStatusOk, 0, kEventIdStartup, 0);
}

void countDown() {
  for (int left = g_countdownMs.load(); left > 0; left -= kCountdownStepMs) {
    consolePrint("\rTime left: %d.%.3d   ", left / 1000, left % 1000);
    sleepMs(kCountdownStepMs);
  }
  consolePrint("\n");
}

// Waits for running requests and the monitor's cycle, then ends the monitor thread.
void waitForCommands(ModuleState& module) {
  consolePrint("%-40s", "Making sure CGI Requests are complete:");
  while (module.gate.busy() || (module.monitorStarted.load() && !module.monitorCycleComplete.load())) {
    consolePrint("Waiting for Commands to complete\n");
    sleepMs(g_waitStepMs.load());
  }
  if (module.monitorStarted.exchange(false)) {
    if (StopMonitorFn stop = moduleHooks().stopMonitor) stop();
  }
  consolePrint("Done\n");
}

void freeModuleItems(DeviceRecord* list) {
  for (DeviceRecord* device = list; device != nullptr; device = device->next) {
    ModDeviceItem** link = &device->units;
    while (*link != nullptr) {
      ModDeviceItem* item = *link;
      if (!isBrivoItem(item)) {
        link = &item->next;
        continue;
      }
      *link = item->next;
      freeDeviceState(stateOf(item));
      std::free(item);
    }
  }
}

// Writes one request and its reply (either may be empty) to the archive file.
void appendExchange(FILE* file, VariableTable request, VariableTable reply) {
  writeVariableTableText(request, file);
  writeVariableTableText(reply, file);
}

TableOwner pageRequest(const char* method) {
  TableOwner request;
  addVariable(request.address(), "module", "Brivo");
  addVariable(request.address(), "method", method);
  return request;
}

}  // namespace

void setShutdownTimingForTesting(int countdownMs, int waitStepMs) {
  g_countdownMs.store(countdownMs);
  g_waitStepMs.store(waitStepMs);
}

int startModule(const ModuleServices* services) {
  if (services == nullptr || services->dispatchEvent == nullptr || services->raiseEvent == nullptr) return 1;
  ModuleState& module = moduleState();
  initThreadManager();
  resetModuleFlags(module);
  module.services.store(services, std::memory_order_release);
  module.running.store(true);
  module.files.load();
  installModuleParts();
  sendStartupEvent(module);
  modulePrint(kDebugModuleLife, "mon: Brivo Module started\n");
  return 0;
}

void shutdownModule() {
  ModuleState& module = moduleState();
  module.running.store(false);
  module.gate.wakeAll();
  consolePrint("The Brivo module is shutting down.\n");
  consolePrint("Allowing Brivo threads to end: \n");
  countDown();
  waitForCommands(module);

  consolePrint("%-40s", "Clearing Brivo mod devices:");
  freeModuleItems(module.deviceList.exchange(nullptr));
  consolePrint("Done\n");

  consolePrint("%-40s", "Terminating reaming Brivo threads:");
  terminateAllThreads();
  closeThreadManager();
  // The module's own SCSI layer pools its simulator connections; the library is unloaded next, so
  // they are closed now rather than left open behind it.
  closeSimConnections();
  consolePrint("Done\n");

  consolePrint("%-40s", "Clearing Brivo hashtables:");
  module.files.saveAndUnload();
  consolePrint("Done\n");

  module.devicesAccepted.store(false);
  consolePrint("%-40s", "Brivo module shutdown:");
  consolePrint("Done\n");
  module.monitorCycleComplete.store(false);
}

int gatherModuleInformation(VariableTable serverPairs) {
  ModuleState& module = moduleState();
  GatePass pass(module.gate, GateMode::kWrite);
  if (!pass.entered()) return 0;
  char path[64];
  std::snprintf(path, sizeof(path), kParametersFile, kArchiveFolder);
  FILE* file = openPrivateFile(path, "w", kSharedFileMode);
  if (file == nullptr) {
    consolePrint("Brivo could not create %s\n", path);
    return 0;
  }
  TableOwner monitorRequest = pageRequest("GetMonitor");
  TableOwner monitorReply(dispatchInternal(monitorRequest.get()));
  for (VariableEntry* entry = serverPairs; entry != nullptr; entry = entry->next) {
    addVariable(monitorReply.address(), entry->key, entry->value);
  }
  appendExchange(file, monitorRequest.get(), monitorReply.get());
  const char* count = getVariable(monitorReply.get(), "SolutionLoop");
  const int solutions = std::clamp(count != nullptr ? std::atoi(count) : 0, 0, kMaxArchivedSolutions);
  for (int solution = solutions; solution >= 1; --solution) {
    TableOwner request = pageRequest("GetControllerInformation");
    addVariable(request.address(), "StorageSolution", std::to_string(solution).c_str());
    TableOwner reply(dispatchInternal(request.get()));
    appendExchange(file, request.get(), reply.get());
  }
  TableOwner mainRequest = pageRequest("GetMainPage");
  TableOwner mainReply(dispatchInternal(mainRequest.get()));
  appendExchange(file, mainRequest.get(), mainReply.get());
  std::fclose(file);
  return 0;
}

int suspendModuleActivity(const int32_t* flag) {
  ModuleState& module = moduleState();
  // The gate first: once it is held, no monitor pass is inside it, so a suspended thread never
  // holds the gate that this request needs.
  const bool entered = module.gate.enterWrite();
  if (entered) suspendAllThreads();
  consolePrint("Brivo has suspended all threads\n");
  while (flag != nullptr && __atomic_load_n(flag, __ATOMIC_ACQUIRE) != 0) sleepMs(kSuspendPollMs);
  if (entered) {
    resumeAllThreads();
    module.gate.leaveWrite();
  }
  consolePrint("Brivo has resumed all threads\n");
  return 0;
}

}  // namespace brivo
