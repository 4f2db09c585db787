// The snapshot page (GetSnapProgressInfo): every host logical drive of a pair with its snapshot
// area (size, used percent, warning level), its snapshot (when taken) and the progress of a
// snapback, plus the internal logical drives free to serve as areas. The page reloads itself
// every few seconds while a snapback runs; its forms post to the snapshot actions (oda_pages.cc).
//
// Keys: "ModDeviceName"; "SnapshotsSupported" and "SnapshotGeneration"; the list "SnapLoop"
// (Number, Name, SizeGb, HostLun, HasHostLun, HasArea, AreaDrive, AreaSizeGb, UsedPercent,
// WarningPercent, HasSnapshot, SnapshotTime, Snapback, SnapbackPercent, Lost, Class); the list
// "AreaCandidateLoop" (Number, Name, SizeGb) with "CanEnable"; "SnapbackRunning" and the
// snapback rows of the monitor's poll ("SnapBackPercentLoop%dLUNNum", "...LUNPercent"). A failed
// read adds "ReadFailed" and the command result of "GetSnapProgressInfo".
//
// Thread safety: request threads under the reader side of the admission gate.
#include <memory>
#include <string>

#include "modules/brivo/command_result.h"
#include "modules/brivo/pages/config_archive.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/snapshot_areas.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kSnapshotTemplate[] = "../../html/Brivo/snapshot/snapshots.htm";
constexpr char kList[] = "SnapLoop";

const char* areaClass(const SnapshotArea& area) {
  if ((area.flags & (kSnapInvalid | kSnapOverrun)) != 0) return "fail";
  if ((area.flags & (kSnapWarning1 | kSnapWarning2)) != 0) return "warn";
  return "ok";
}

// One "SnapLoop" row; returns whether a snapback runs on the drive.
bool addDriveRow(VariableTable* reply, int row, const LogicalDriveRecord& drive, const SnapshotArea* area,
                 const ConfigurationBlock& config) {
  addRowNumber(reply, kList, row, "Number", drive.number);
  addRowText(reply, kList, row, "Name", fieldText(drive.name, sizeof(drive.name)));
  addRowNumber(reply, kList, row, "SizeGb", drive.sizeGb);
  addRowFlag(reply, kList, row, "HasHostLun", drive.hostLun != kLunNone);
  addRowNumber(reply, kList, row, "HostLun", drive.hostLun);
  addRowFlag(reply, kList, row, "HasArea", area != nullptr);
  if (area == nullptr) {
    addRowText(reply, kList, row, "Class", "unknown");
    return false;
  }
  const LogicalDriveRecord& areaDrive = config.logicalDrives[area->areaDrive % kMaxLogicalDrives];
  const bool snapback = (area->flags & kSnapSnapback) != 0;
  addRowNumber(reply, kList, row, "AreaDrive", area->areaDrive);
  addRowText(reply, kList, row, "AreaName", fieldText(areaDrive.name, sizeof(areaDrive.name)));
  addRowNumber(reply, kList, row, "AreaSizeGb", area->areaSizeGb);
  addRowNumber(reply, kList, row, "UsedPercent", area->usedPercent);
  addRowNumber(reply, kList, row, "WarningPercent", area->warningPercent);
  addRowFlag(reply, kList, row, "HasSnapshot", (area->flags & kSnapPresent) != 0);
  addRowText(reply, kList, row, "SnapshotTime",
             area->snapshotTime != 0 ? localTimeText(area->snapshotTime) : "");
  addRowFlag(reply, kList, row, "Snapback", snapback);
  addRowNumber(reply, kList, row, "SnapbackPercent", area->snapbackPercent);
  addRowFlag(reply, kList, row, "Lost", (area->flags & (kSnapInvalid | kSnapOverrun)) != 0);
  addRowText(reply, kList, row, "Class", areaClass(*area));
  return snapback;
}

void addSnapshotRows(VariableTable* reply, const ConfigurationBlock& config, const PairSnapshots& snapshots) {
  int row = 0, candidates = 0, snapbacks = 0;
  for (const LogicalDriveRecord& drive : config.logicalDrives) {
    if (drive.valid != kOn) continue;
    if ((drive.availability & kAvailabilityInternal) != 0) {
      if (isAreaDrive(snapshots, drive.number)) continue;
      addRowNumber(reply, "AreaCandidateLoop", candidates, "Number", drive.number);
      addRowText(reply, "AreaCandidateLoop", candidates, "Name", fieldText(drive.name, sizeof(drive.name)));
      addRowNumber(reply, "AreaCandidateLoop", candidates, "SizeGb", drive.sizeGb);
      ++candidates;
      continue;
    }
    const SnapshotArea* area = areaOfSource(snapshots, drive.number);
    if (addDriveRow(reply, row, drive, area, config)) {
      const int lun = area->sourceHostLun != kLunNone ? area->sourceHostLun : area->sourceDrive;
      addRowNumber(reply, "SnapBackPercentLoop", snapbacks, "LUNNum", lun);
      addRowNumber(reply, "SnapBackPercentLoop", snapbacks, "LUNPercent", area->snapbackPercent);
      ++snapbacks;
    }
    ++row;
  }
  setCount(reply, kList, row);
  setCount(reply, "AreaCandidateLoop", candidates);
  setCount(reply, "SnapBackPercentLoop", snapbacks);
  addFlag(reply, "CanEnable", candidates > 0);
  addFlag(reply, "SnapbackRunning", snapbacks > 0);
}

}  // namespace

VariableTable getSnapProgressInfoMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  std::unique_ptr<ConfigurationBlock> config = newConfigurationBlock();
  PairSnapshots snapshots;
  if (pair.found() && config != nullptr) {
    result = readConfiguration(pair, config.get(), &failed);
    if (result == kResultGood) result = readPairSnapshots(pair, &snapshots, &failed);
  }
  addFlag(&reply, "SnapshotsSupported", result == kResultGood && snapshots.generation != 0);
  addNumber(&reply, "SnapshotGeneration", snapshots.generation);
  if (result == kResultGood) {
    addSnapshotRows(&reply, *config, snapshots);
  } else {
    addFlag(&reply, "ReadFailed", true);
    addControllerCommandResult(&reply, "GetSnapProgressInfo", result, failed);
  }
  addText(&reply, kHtmlPathKey, kSnapshotTemplate);
  return reply;
}

}  // namespace brivo
