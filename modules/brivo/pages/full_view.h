// The keys of the monitor page's full view of one controller pair, built from the buffers that
// readFullView read (pure: nothing is sent here).
//
// Named keys: "ArraysAvailable", "LdsAvailable", "NumOfLD", "DriveMismatchInColumn",
// "ControllersImg", "ControllerA", "ControllerB", "ArrayInitPauseAllowed", "Loop1Img",
// "Loop2Img", "Loop1Status", "Loop2Status", "Loop1Up", "Loop2Up".
//
// Our own keys (the templates rely on them; every list has its row count under its bare name):
//   ControllerAStatus, ControllerBStatus    text of "ControllerStatus%.2X" (state byte)
//   ControllerAClass, ControllerBClass      health class of the controller (page_texts.h)
//   ControllersClass                        class of the controllers' combined health
//   DualDriveLoops                          the pair's drives sit on two loops
//   ProblemLoop%d{Text,Class,Severity}      what the solution checks found, worst first
//   ArrayLoop%d{Number,Name,RaidLevel,RaidLevelCode,DriveCount,ChunkSizeKb,CapacityGb,FreeGb,
//     Status,StatusCode,Class,Job,JobActive,Percent,ShowProgress,Paused,LogicalDrives}
//   LogicalDriveLoop%d{Number,Name,SizeGb,State,StateCode,Class,HostLun,HasHostLun,Arrays,
//     BlockSize,HasSnapshotArea,SnapshotUsedPercent,Snapback,SnapbackPercent}  (internal
//     snapshot-area drives are left out)
//   HostPortLoop%d{Controller,Port,Name,Status,Up,LoopId,DataRate,Topology,Wwpn,Wwnn,
//     Initiators} with Initiators%d{Wwpn,Wwnn,Name}
//   EnclosureLoop%d{Number,Wwn,SlotCount,Slots} and the enclosure identity keys of identity.h
//     (EnclosureLabel, EnclosureName, ...), with Slots%d{Slot,Occupied,Drive,DriveId,Wwn,Serial,
//     CapacityGb,Usage,Array,InArray,Status,Class,Identifying}
//   DriveLoop%d{Index,Wwn,Enclosure,Vendor,Product,Revision,Serial,CapacityGb,Usage,
//     UsageCode,Array,InArray,Member,Status,StatusCode,Class,OnLoop1,OnLoop2,Predicted,Temperature,
//     HotSpare,Identifying} and the drive identity keys of identity.h (DriveId, DiskIndex, Slot,
//     EnclosureNumber, EnclosureLabel)
// Slot numbers are the controller's, from 0, as the event log and qcli give them. Progress
// percent texts are empty when no progress record names the array.
//
// Thread safety: pure (reads the string tables).
#pragma once

#include <string>

#include "common/variable_table.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/monitor/solution_status.h"
#include "modules/brivo/pages/full_view_reads.h"

namespace brivo {

struct FullViewInput {
  std::string name;  // ModDeviceName
  ControllerTraits traits;
  int batteryPercentWarning = monitor::kDefaultBatteryPercentWarning;
  const FullViewBuffers* buffers = nullptr;         // REQUIRES: every buffer readFullView fills
  const monitor::SolutionReport* report = nullptr;  // the checks' findings (may be null)
};

void addFullView(VariableTable* reply, const FullViewInput& in);

// Parts of addFullView, kept apart for their size.
void addControllerSummary(VariableTable* reply, const FullViewInput& in);
void addArrayRows(VariableTable* reply, const FullViewInput& in);
void addLogicalDriveRows(VariableTable* reply, const FullViewInput& in);
void addHostPortRows(VariableTable* reply, const FullViewInput& in);
void addDriveRows(VariableTable* reply, const FullViewInput& in);
void addEnclosureRows(VariableTable* reply, const FullViewInput& in);

// What a problem sentence needs to name drives and enclosures as the event log does (either may
// be null: the sentence falls back to the serial number or the WWN).
struct ProblemContext {
  const ControllerInformation* info = nullptr;
  const DriveList* drives = nullptr;
};
// The sentence for one finding (the text of "Problem" + its kind name, filled).
std::string problemText(const monitor::CheckResult& r, const ProblemContext& context);
void addProblemRows(VariableTable* reply, const monitor::SolutionReport& report, const ProblemContext& context);

}  // namespace brivo
