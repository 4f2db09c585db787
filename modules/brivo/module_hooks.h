// Where the later pieces of the module plug into its core: the event reader's start-up replay
// (run after a pair has been identified) and the background monitor (started once devices are
// taken, stopped at shutdown). installModuleParts, called by startup, sets them; a hook left
// null is simply skipped, so the core runs on its own.
//
// Thread safety: the hooks are set by startup before any device is accepted or any request is
// dispatched, and read afterwards without a lock.
#pragma once

#include "common/device_list.h"
#include "modules/brivo/device_state.h"

namespace brivo {

// Records the events a pair logged while the server was not watching it (both sides, merged),
// and sets the pair's event bookmarks. Runs on the thread that identified the pair.
using StartupReplayFn = void (*)(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state);
// Starts the monitor thread over list unless it runs; false when it could not start.
using StartMonitorFn = bool (*)(DeviceRecord* list);
// Ends the monitor thread and waits for it (called at shutdown after the running flag cleared).
using StopMonitorFn = void (*)();

struct ModuleHooks {
  StartupReplayFn startupReplay = nullptr;
  StartMonitorFn startMonitor = nullptr;
  StopMonitorFn stopMonitor = nullptr;
};

ModuleHooks& moduleHooks();

// Sets the hooks of the parts built into this module. Called by startup.
void installModuleParts();

}  // namespace brivo
