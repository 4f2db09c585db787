// The monitor thread; see monitor.h.
#include "modules/brivo/monitor/monitor.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "modules/brivo/admission_gate.h"
#include "modules/brivo/controller_identity.h"
#include "modules/brivo/events/module_events.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/monitor/enclosure_watch.h"
#include "modules/brivo/pair_access.h"
#include "modules/brivo/pair_paths.h"

namespace brivo::monitor {

namespace {

constexpr int kSleepStepMs = 100;
constexpr int kMinPeriodMs = 100;
constexpr int kMaxPeriodMs = 600000;
constexpr auto kStopWait = std::chrono::seconds(10);
constexpr char kThreadTag[] = "BrivoAcceptDeviceList/monitorThread";

// Whether the thread runs, so that a second acceptDeviceList starts no second one and shutdown
// can wait for its end.
Mutex g_threadMutex;
std::condition_variable g_threadEnded;
bool g_threadLive GUARDED_BY(g_threadMutex) = false;

// The names handled in one cycle, at most kMaxPairsPerCycle, compared without regard to case.
class HandledNames {
 public:
  bool add(const char* name) {
    if (names_.size() >= static_cast<size_t>(kMaxPairsPerCycle)) return false;
    for (const std::string& seen : names_) {
      if (strcasecmp(seen.c_str(), name) == 0) return false;
    }
    names_.emplace_back(name);
    return true;
  }

 private:
  std::vector<std::string> names_;
};

void noteClaim(ModDeviceItem* item) {
  BrivoDeviceState* state = stateOf(item);
  if (state == nullptr) return;
  const int32_t modStatus = std::atomic_ref<int32_t>(item->modStatus).load();
  if (modStatus == loadField(state->lastModStatus)) return;
  storeField(state->lastModStatus, modStatus);
  moduleState().claimChanged.store(true);
  markConfigurationChanged();
}

void sleepPeriod(int periodMs) {
  const ModuleState& module = moduleState();
  for (int left = periodMs; left > 0 && module.running.load(); left -= kSleepStepMs) {
    if (!threadSleep(std::min(left, kSleepStepMs))) break;
  }
}

void monitorThread(uintptr_t /*context*/) {
  const int periodMs = monitorPeriodMs();
  while (moduleState().running.load()) {
    runMonitorCycle();
    sleepPeriod(periodMs);
  }
  modulePrint(kDebugModuleLife, "mon: >> MONITORING ENDED <<\n");
  consolePrint("mon: >> MONITORING ENDED <<\n");
  MutexLock lock(g_threadMutex);
  g_threadLive = false;
  g_threadEnded.notify_all();
}

// After a pair's pass (REQUIRES: the gate held as a reader): when the pass saw something new or
// failure counting asked for it, recomputes the global status and saves the event bookmarks, so
// that a failure of the first of many pairs is reported at once and not after the whole cycle.
bool updateAfterPass(bool needUpdate) {
  ModuleState& module = moduleState();
  const bool requested = module.statusUpdateRequested.exchange(false);
  if (!module.running.load() || (!requested && !needUpdate)) return false;
  updateGlobalStatus();
  if (module.files.save(PropertyTable::kConfigurations) != 0) {
    consolePrint("Brivo could not write %s\n", kConfigurationsPath);
  }
  return true;
}

}  // namespace

int monitorPeriodMs() {
  const char* text = std::getenv(kMonitorPeriodEnv);
  if (text == nullptr || *text == '\0') return kMonitorPeriodMs;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < kMinPeriodMs || value > kMaxPeriodMs) return kMonitorPeriodMs;
  return static_cast<int>(value);
}

bool startMonitor(DeviceRecord* list) {
  MutexLock lock(g_threadMutex);
  if (g_threadLive) return true;
  g_threadLive = startThread(monitorThread, reinterpret_cast<uintptr_t>(list), 0, kThreadTag) != 0;
  return g_threadLive;
}

void stopMonitor() {
  MutexLock lock(g_threadMutex);
  if (!g_threadEnded.wait_for(lock.native(), kStopWait,
                              []() REQUIRES(g_threadMutex) { return !g_threadLive; })) {
    consolePrint("Brivo: the monitor thread did not end\n");
  }
}

bool runPairPass(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state) {
  ModuleState& module = moduleState();
  if (isUnreadItem(item)) {
    {
      MutexLock lock(enclosureLock());
      freeEnclosureSlots(state);
    }
    // Identification replaces the name; the new pair needs a status of its own.
    return identifyControllerPair(device, item, state) == kResultGood;
  }
  const events::MonitorOutcome events = monitorPairEventsOf(device, item, state);
  bool needUpdate = events.firstSight || events.newEvents;
  if (module.running.load() && events.readOk && watchEnclosures(device, item, state)) needUpdate = true;
  modulePrint(kDebugStatusDecisions,
              "mon: See if we need to update global status: requested,needUpdate=%d,%d\n",
              module.statusUpdateRequested.load() ? 1 : 0, needUpdate ? 1 : 0);
  return needUpdate;
}

CycleOutcome runMonitorCycle() {
  ModuleState& module = moduleState();
  CycleOutcome outcome;
  module.monitorCycleComplete.store(false);
  modulePrint(kDebugModuleLife, "mon: >>MONITOR BRIVO START<<\n");
  HandledNames handled;
  for (DeviceRecord* device = module.devicesAccepted.load() ? module.deviceList.load() : nullptr;
       device != nullptr && module.running.load(); device = device->next) {
    ModDeviceItem* item = findBrivoItem(device);
    if (item == nullptr) continue;
    // A path that did not answer when it was identified carries a placeholder name that stands for
    // no pair, so its claim means nothing. It is tried again every cycle, whoever claims it, so that
    // a path back in service serves its pair again (else the pair keeps only the paths that answered
    // at the start, and is lost with them).
    if (isUnreadItem(item)) {
      BrivoDeviceState* state = stateOf(item);
      if (state == nullptr) continue;
      GatePass pass(module.gate, GateMode::kRead);
      if (!pass.entered()) break;
      if (updateAfterPass(runPairPass(device, item, state))) ++outcome.statusUpdates;
      continue;
    }
    noteClaim(item);
    if (std::atomic_ref<int32_t>(item->modStatus).load() != MINE || !handled.add(item->name)) continue;
    ModDeviceItem* chosen = nullptr;
    DeviceRecord* path = findControllerPair(item->name, &chosen);
    BrivoDeviceState* state = stateOf(chosen);
    if (path == nullptr || state == nullptr) continue;
    GatePass pass(module.gate, GateMode::kRead);
    if (!pass.entered()) break;
    if (updateAfterPass(runPairPass(path, chosen, state))) ++outcome.statusUpdates;
    ++outcome.pairsPolled;
  }
  outcome.statusUpdated = outcome.statusUpdates > 0;
  module.monitorCycleComplete.store(true);
  return outcome;
}

}  // namespace brivo::monitor
