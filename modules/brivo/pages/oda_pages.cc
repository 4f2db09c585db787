// DeleteOda: disables snapshots on one logical drive ("LogicalDriveIndex") by releasing its
// snapshot area (0x76); the area's internal logical drive stays and can be given to another drive
// or deleted. The pair's snapshot generation (controller record byte 189) says where the areas are
// read: 0x66 (one entry per source drive) or 0x61 (areas in use at the front). A drive without an
// area has nothing to disable and succeeds without a command; a pair without snapshots too.
//
// Reply: the pop-up with the command result of "DeleteOda" ("UpdateParent" on success).
// DeleteHostLun calls this method before deleting a drive and discards the answer.
//
// Thread safety: request threads under the writer side of the admission gate.
#include <memory>

#include "modules/brivo/module_status.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

int readSnapshotBuffer(const PairTarget& pair, uint8_t bufferId, void* out, uint32_t length,
                       ControllerCommand* record) {
  buildCommand(record, kReadBuffer, kModeCommand, bufferId);
  const int result = transferCommandFor(pair.device, pair.state, record, out, length);
  noteCommandResult(result, pair.device);
  return result;
}

// Whether the drive has a snapshot area: 0 and *present set, or the failed read's result.
int findArea(const PairTarget& pair, uint8_t generation, int drive, bool* present,
             ControllerCommand* failed) {
  *present = false;
  if (generation == 2) {
    auto areas = std::make_unique<SnapshotAreasV2>();
    const int result =
        readSnapshotBuffer(pair, kOpReadSnapshotAreasV2, areas.get(), sizeof(SnapshotAreasV2), failed);
    if (result == kResultGood) *present = areas->areas[drive].valid == kOn;
    return result;
  }
  auto areas = std::make_unique<SnapshotAreasV1>();
  const int result =
      readSnapshotBuffer(pair, kOpReadSnapshotAreasV1, areas.get(), sizeof(SnapshotAreasV1), failed);
  if (result != kResultGood) return result;
  for (const SnapshotArea& area : areas->areas) {
    if (area.valid == kOn && area.sourceDrive == drive) *present = true;
  }
  return result;
}

}  // namespace

VariableTable deleteOdaMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long drive = requestNumber(request, "LogicalDriveIndex", -1);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && drive >= 0 && drive < kMaxLogicalDrives) {
    ControllerInformation info{};
    result = readControllerInformation(pair, &info, &failed);
    const ControllerRecord* record = result == kResultGood ? firstValidController(info) : nullptr;
    const uint8_t generation = record != nullptr ? record->snapshotGeneration : 0;
    bool present = false;
    if (generation == 1 || generation == 2)
      result = findArea(pair, generation, static_cast<int>(drive), &present, &failed);
    if (result == kResultGood && present) {
      SnapshotAreaBlock block{};
      block.sourceDrive = static_cast<uint16_t>(drive);
      result = sendOperation(pair, kOpReleaseSnapshotArea, 0, 0, 0, &block, sizeof(block), &failed);
      if (result == kResultGood) markConfigurationChanged();
    }
  }
  return commandPopupReply(request, "DeleteOda", result, failed);
}

}  // namespace brivo
