// The groups of checks that evaluateSolution (solution_status.h) runs, one function per group,
// each adding its findings to a report and combining their statuses into report->status. Kept
// apart so that each group can be tested on its own buffers.
//
// Thread safety: pure functions over the caller's buffers.
#pragma once

#include <string>

#include "modules/brivo/monitor/solution_status.h"

namespace brivo::monitor::checks {

// Adds result to the report and combines its status (a result of 254 only informs).
void addFinding(SolutionReport* report, CheckResult result);

// Host ports, controller health (fills report->controllers), a missing controller in dual mode,
// drive loops, single controller and arrays. REQUIRES: pair.info, pair.header and pair.arrays.
void controllerChecks(const PairSnapshot& pair, SolutionReport* report);
// Loop presence and drive state of every entry of the drive list. REQUIRES: pair.drives.
void driveChecks(const PairSnapshot& pair, SolutionReport* report);
// Fans, temperatures and other elements of every cached enclosure.
void enclosureChecks(const PairSnapshot& pair, SolutionReport* report);
// Snapshot areas (overrun or invalid: Error; over a warning level: Warning).
void snapshotChecks(const PairSnapshot& pair, SolutionReport* report);

// printf into a std::string.
std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace brivo::monitor::checks
