// The monitor of the RAID module: one background thread that, every ten seconds, polls each
// controller pair this server monitors (module status MINE), once per pair however many host
// paths lead to it and at most 40 pairs per cycle. Each pair's pass runs under the admission gate
// as a reader: it identifies a pair whose first read failed ("BrivoNotRead"), reads both event
// logs and records the new events (events/module_events.h), and watches the enclosures
// (enclosure_watch.h). When a pass saw something new, or failure counting asked for it, that
// pass ends with a global status update (every pair's solution status, solution_status.h) and
// writes mods/Brivo/BrivoConfigurations.db with the event bookmarks. A claim that changed
// (module status) marks the monitor page for reloading.
//
// The thread is started by acceptDeviceList (module_hooks.h) and ends at shutdown: it finishes
// its cycle (shutdown waits for the monitor-cycle-complete flag) and its sleep, taken through the
// thread manager in short steps, ends as soon as the module stops.
//
// Tests: the environment variable KESTROVA_BRIVO_MONITOR_MS, read when the thread starts, sets
// the cycle period in milliseconds (100 to 600000) instead of ten seconds. Nothing else reads it.
//
// Thread safety: startMonitor and stopMonitor run on the server's main thread (acceptDeviceList,
// shutdown). runMonitorCycle is the thread's cycle; tests and the benchmark call it on their own
// thread while no monitor thread runs.
#pragma once

#include "common/device_list.h"
#include "modules/brivo/device_state.h"

namespace brivo::monitor {

inline constexpr int kMonitorPeriodMs = 10000;
inline constexpr char kMonitorPeriodEnv[] = "KESTROVA_BRIVO_MONITOR_MS";

// The cycle period: kMonitorPeriodMs, or the test override of kMonitorPeriodEnv.
int monitorPeriodMs();

// StartMonitorFn of module_hooks.h: starts the thread unless it runs. False when it could not.
bool startMonitor(DeviceRecord* list);
// StopMonitorFn: waits for the thread to end (the running flag is already clear).
void stopMonitor();

struct CycleOutcome {
  int pairsPolled = 0;
  int statusUpdates = 0;  // passes that ended with a global status update
  bool statusUpdated = false;
};
// One monitor cycle over the module's device list (clears and sets the monitor-cycle-complete
// flag around it). Walks the list only while the devices-accepted flag is set.
CycleOutcome runMonitorCycle();

// The per-pair pass (device = the pair's chosen path, item and state its own). Returns true when
// the pass saw something that needs a status update. REQUIRES: the admission gate held as a
// reader.
bool runPairPass(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state);

}  // namespace brivo::monitor
