// Status bookkeeping shared by the monitor and the pages: the rule that combines check results
// into a solution or module status, communication-failure counting per path with its two events,
// and the global status update.
//
// The solution status itself (every check with its findings) is the monitor's:
// monitor/solution_status.h; solutionStatus here is its overall status.
//
// Thread safety: any thread. Counts and flags are atomics; updateGlobalStatus may run from the
// monitor and from request threads at once (the last store wins, as both compute from the same
// data).
#pragma once

#include <cstdint>
#include <string>

#include "common/device_list.h"

namespace brivo {

// Most pairs handled in one monitor cycle or status update.
inline constexpr int kMaxPairsPerCycle = 40;

// Combines a check's result r into the running status s: 254 leaves s alone; 255 replaces only
// OK; any other r replaces s when (s AND 3) is smaller.
uint32_t combineStatus(uint32_t s, uint32_t r);

// Notes the result of a command sent to device: 0 resets the path's failure count (after three
// or more failures with the event "ControllerCommOk"); anything else counts a failure (the third
// in a row raises "ControllerCommFailure"). Nothing is counted while acceptDeviceList runs or
// when countFailures is false. Returns true when result is 0.
bool noteCommandResult(int result, DeviceRecord* device, bool countFailures = true);

// Status of the pair whose item hangs on device (0 for none or a pair monitored elsewhere); sends
// the status checks' commands (see monitor/solution_status.h).
uint32_t solutionStatus(DeviceRecord* device);

// Recomputes every pair's solution status and the global status (0 when the module is not
// running).
void updateGlobalStatus();

// The source name of a controller's events: "ControllerLogName" of the settings (default
// "Brivo %s (%s)") filled with the pair's name without "Brivo" and with which (e.g. "0", "0+1").
std::string controllerSourceName(const char* pairName, const char* which);

}  // namespace brivo
