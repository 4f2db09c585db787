// Snapshot areas of a pair; see snapshot_areas.h.
#include "modules/brivo/pages/snapshot_areas.h"

#include <iterator>
#include <memory>
#include <new>

#include "modules/brivo/module_status.h"

namespace brivo {

int readPairSnapshots(const PairTarget& pair, PairSnapshots* out, ControllerCommand* failed) {
  *out = PairSnapshots{};
  ControllerInformation info{};
  int result = readControllerInformation(pair, &info, failed);
  if (result != kResultGood) return result;
  const ControllerRecord* first = firstValidController(info);
  const uint8_t generation = first != nullptr ? first->snapshotGeneration : 0;
  if (generation != 1 && generation != 2) return kResultGood;
  auto areas = std::unique_ptr<SnapshotAreasV2>(new (std::nothrow) SnapshotAreasV2());
  if (!areas) return kResultBadArguments;
  const uint8_t id = generation == 2 ? kOpReadSnapshotAreasV2 : kOpReadSnapshotAreasV1;
  const uint32_t length = generation == 2 ? sizeof(SnapshotAreasV2) : sizeof(SnapshotAreasV1);
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, kModeCommand, id);
  result = transferCommandFor(pair.device, pair.state, &command, areas.get(), length);
  noteCommandResult(result, pair.device);
  if (result != kResultGood) {
    if (failed != nullptr) *failed = command;
    return result;
  }
  out->generation = generation;
  const SnapshotArea* begin = areas->areas;
  const SnapshotArea* end = std::end(areas->areas);
  if (generation == 1) {
    const auto* v1 = reinterpret_cast<const SnapshotAreasV1*>(areas.get());
    begin = v1->areas;
    end = std::end(v1->areas);
  }
  for (const SnapshotArea* area = begin; area != end; ++area) {
    if (area->valid != kOn) continue;
    SnapshotArea kept = *area;
    // In the second generation an area's place in the list is its source drive's number.
    if (generation == 2) kept.sourceDrive = static_cast<uint16_t>(area - begin);
    if (kept.sourceDrive < kMaxLogicalDrives) out->areas.push_back(kept);
  }
  return kResultGood;
}

const SnapshotArea* areaOfSource(const PairSnapshots& snapshots, int drive) {
  for (const SnapshotArea& area : snapshots.areas) {
    if (area.sourceDrive == drive) return &area;
  }
  return nullptr;
}

bool isAreaDrive(const PairSnapshots& snapshots, int drive) {
  for (const SnapshotArea& area : snapshots.areas) {
    if (area.areaDrive == drive) return true;
  }
  return false;
}

}  // namespace brivo
