// Progress of the job running on an array (initialisation, rebuild, parity check, expansion), as
// the monitor page's progress bars and PingPage report it.
//
// Sources, first match wins: the per-array record of the job progress buffer (0x57; only read
// when controller-information byte 463 is 0xF1), then the controller information's progress
// records: initialisation (460: array 461, percent 462), rebuild (448: array 449, percent 451),
// parity check (464: array 465, percent 466) and expansion (468: array 469, percent 470). A
// record counts only when its first byte is 0xF1.
//
// Thread safety: pure functions.
#pragma once

#include "modules/brivo/protocol.h"

namespace brivo {

// Percent of the job on array (0-100), or -1 when no progress record names it. jobs may be null
// (not read).
int arrayProgressPercent(const ControllerInformation& info, const JobProgress* jobs, int array);

// True when the job buffer says the array's job is paused (an initialisation on hold).
bool arrayJobPaused(const JobProgress* jobs, int array);

}  // namespace brivo
