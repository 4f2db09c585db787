// The monitor page (GetMonitor): every storage solution by name and status icon with the keys
// its refresh polling echoes, the selected one in full (full_view.h), and the template that fits
// what could be shown. getMonitorMethod (page_methods.h) is buildMonitorReply for a browser; the
// command interpreter uses the same page for every solution, monitored here or not.
//
// Templates: "main.htm" when the full view was built; "main_cont_fail.htm" when the selected
// solution cannot be shown in full (three or more failed commands, another server monitors it,
// nobody claimed it, or a read failed: "LastFailureCode" and "LastFailureSenseData");
// "main_no_solution.htm" without solutions; "waiting_for_devices.htm" before the first device
// list was accepted.
//
// The request selects the solution by "StorageSolution" (default 1), or, without it, by
// "ModDeviceName" (the pages' links back to the monitor).
//
// Our own keys besides those of full_view.h:
//   SolutionLoop%d{Number,ModDeviceName,Selected,StatusText,StatusClass}
//   ModDeviceName, SelectedSolutionName, SelectedSolutionWwn, SolutionStatusText,
//   SolutionStatusClass (the selected solution), CannotCommunicate and FailureCount (more than
//   two failed commands), NotMonitoredHere, SelectedIsUnclaimed.
//
// Thread safety: a request thread holding the admission gate as a reader.
#pragma once

#include <vector>

#include "common/variable_table.h"
#include "modules/brivo/monitor/solution_status.h"
#include "modules/brivo/pages/full_view_reads.h"
#include "modules/brivo/pages/solution_list.h"

namespace brivo {

inline constexpr char kMainPageTemplate[] = "../../html/Brivo/main/main.htm";
inline constexpr char kMainFailTemplate[] = "../../html/Brivo/main/main_cont_fail.htm";
inline constexpr char kNoSolutionTemplate[] = "../../html/Brivo/main/main_no_solution.htm";
inline constexpr char kWaitingTemplate[] = "../../html/Brivo/main/waiting_for_devices.htm";
inline constexpr char kMainFrameTemplate[] = "../../html/Brivo/main/mainframe.htm";

// everySolution: build the selected solution in full whether or not this server monitors it
// (commands to a pair monitored elsewhere are then not counted as its failures). Caller frees.
VariableTable buildMonitorReply(VariableTable request, bool everySolution);

// The keys the refresh poll echoes for solution s in row `row` of "PingDevicesLoop" (the row
// count is the caller's).
void addSolutionPingKeys(VariableTable* reply, int row, const SolutionEntry& s);

// What the solution checks judge for solution s, from the buffers of its full view and the
// enclosure pages the monitor cached (all borrowed; they must outlive the snapshot).
monitor::PairSnapshot solutionSnapshot(const SolutionEntry& s, const FullViewBuffers& b,
                                       const std::vector<monitor::EnclosurePages>& enclosures);

}  // namespace brivo
