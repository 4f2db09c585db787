// The snapshot actions of the snapshot page: CreateNewOda (enable snapshots on a host logical
// drive by giving it an internal logical drive as its area, 0x70), CreateSnap (take a snapshot,
// 0x73; an earlier one of the drive is replaced), Snapback (copy the snapshot back onto the drive,
// 0x77, which then runs as a job), DeleteSnap (0x74) and DeleteOda (release the area, 0x76; the
// internal drive stays and can serve another drive or be deleted). None needs a configuration
// bracket (protocol_snapshots.h).
//
// Request keys: "ModDeviceName", "LogicalDriveIndex" (the source drive, 0-511); CreateNewOda also
// "OdaLogicalDriveIndex" (the internal drive, 0-511) and "WarningPercent" (1-99; absent or empty:
// the controller's 80). A value that is absent where needed, not a number or out of range sends
// nothing and reports result 251; a pair without snapshots reports 254 without a command, except
// DeleteOda, for which a drive without an area (or a pair without snapshots) has nothing to
// disable and succeeds without a command, since DeleteHostLun calls it before every delete.
//
// Reply: the pop-up with the command result under the method's own key ("UpdateParent" on
// success); a successful change also tells polling monitor pages to reload.
//
// Thread safety: request threads under the writer side of the admission gate.
#include <string>

#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/rank_block.h"
#include "modules/brivo/pages/snapshot_areas.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

// A drive number key of the request in 0-511; false when it is absent or unusable.
bool driveKey(VariableTable request, const char* key, uint16_t* drive) {
  long value = 0;
  if (requestField(request, key, 0, kMaxLogicalDrives - 1, &value) != FieldState::kValue) return false;
  *drive = static_cast<uint16_t>(value);
  return true;
}

// Sends one snapshot operation with a SnapshotBlock for the request's drive.
VariableTable snapshotOperation(VariableTable request, const char* methodKey, uint8_t bufferId) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  uint16_t drive = 0;
  if (pair.found() && !driveKey(request, "LogicalDriveIndex", &drive)) {
    result = kResultBadValue;
  } else if (pair.found()) {
    PairSnapshots snapshots;
    result = readPairSnapshots(pair, &snapshots, &failed);
    if (result == kResultGood && snapshots.generation == 0) result = kResultBadArguments;
    if (result == kResultGood) {
      SnapshotBlock block{};
      block.sourceDrive = drive;
      result = sendOperation(pair, bufferId, 0, 0, 0, &block, sizeof(block), &failed);
      if (result == kResultGood) markConfigurationChanged();
    }
  }
  return commandPopupReply(request, methodKey, result, failed);
}

}  // namespace

VariableTable createNewOdaMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  uint16_t source = 0, area = 0;
  long warning = 0;
  const FieldState warningState = requestField(request, "WarningPercent", 1, 99, &warning);
  const bool usable = driveKey(request, "LogicalDriveIndex", &source) &&
                      driveKey(request, "OdaLogicalDriveIndex", &area) && source != area &&
                      warningState != FieldState::kBad;
  if (pair.found() && !usable) {
    result = kResultBadValue;
  } else if (pair.found()) {
    PairSnapshots snapshots;
    result = readPairSnapshots(pair, &snapshots, &failed);
    if (result == kResultGood && snapshots.generation == 0) result = kResultBadArguments;
    if (result == kResultGood) {
      SnapshotAreaBlock block{};
      block.sourceDrive = source;
      block.areaDrive = area;
      block.warningPercent = warningState == FieldState::kValue ? static_cast<uint8_t>(warning) : 0;
      result = sendOperation(pair, kOpCreateSnapshotArea, 0, 0, 0, &block, sizeof(block), &failed);
      if (result == kResultGood) markConfigurationChanged();
    }
  }
  return commandPopupReply(request, "CreateNewOda", result, failed);
}

VariableTable createSnapMethod(VariableTable request) {
  return snapshotOperation(request, "CreateSnap", kOpTakeSnapshot);
}

VariableTable snapbackMethod(VariableTable request) {
  return snapshotOperation(request, "Snapback", kOpSnapback);
}

VariableTable deleteSnapMethod(VariableTable request) {
  return snapshotOperation(request, "DeleteSnap", kOpDeleteSnapshot);
}

VariableTable deleteOdaMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long drive = requestNumber(request, "LogicalDriveIndex", -1);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && drive >= 0 && drive < kMaxLogicalDrives) {
    PairSnapshots snapshots;
    result = readPairSnapshots(pair, &snapshots, &failed);
    if (result == kResultGood && areaOfSource(snapshots, static_cast<int>(drive)) != nullptr) {
      SnapshotAreaBlock block{};
      block.sourceDrive = static_cast<uint16_t>(drive);
      result = sendOperation(pair, kOpReleaseSnapshotArea, 0, 0, 0, &block, sizeof(block), &failed);
      if (result == kResultGood) markConfigurationChanged();
    }
  }
  return commandPopupReply(request, "DeleteOda", result, failed);
}

}  // namespace brivo
