// The brivo model's snapshots: areas given to host logical drives, snapshots that fill their
// area as time passes (snapshot_fill_per_hour), the warning and overrun flags with their events,
// and snapbacks that run like jobs; the reads of both generations; see protocol_snapshots.h.
#include <algorithm>
#include <cstring>

#include "sim/brivo_model.h"

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

constexpr uint8_t kReported = brivo::kSnapWarning1 | brivo::kSnapWarning2 | brivo::kSnapOverrun;

template <typename T>
T* resetAs(std::vector<uint8_t>* out) {
  out->assign(sizeof(T), 0);
  return reinterpret_cast<T*>(out->data());
}

std::vector<uint8_t> sourceReason(uint8_t what, uint16_t source, int used = 0) {
  return {what, static_cast<uint8_t>(source), static_cast<uint8_t>(source >> 8), static_cast<uint8_t>(used)};
}

}  // namespace

int BrivoModel::snapshotUsed(const BrivoSnapshot& snap) const {
  if (!snap.present) return 0;
  int64_t grown = (now() - snap.time) * options_.snapshotFillPerHour / 3600;
  return static_cast<int>(std::clamp<int64_t>(snap.fillBase + grown, 0, 100));
}

uint8_t BrivoModel::snapshotFlags(const BrivoSnapshot& snap) const {
  uint8_t flags = snap.snapbackStart != 0 ? brivo::kSnapSnapback : 0;
  if (!snap.present) return flags;
  int used = snapshotUsed(snap);
  flags |= brivo::kSnapPresent;
  if (used >= snap.warning) flags |= brivo::kSnapWarning1;
  if (used >= 90) flags |= brivo::kSnapWarning2;
  if (used >= 100) flags |= brivo::kSnapOverrun | brivo::kSnapInvalid;
  return flags;
}

brivo::SnapshotArea BrivoModel::snapshotArea(uint16_t source, const BrivoSnapshot& snap) const {
  brivo::SnapshotArea area{};
  area.valid = brivo::kOn;
  area.flags = snapshotFlags(snap);
  area.sourceDrive = source;
  area.areaDrive = snap.area;
  area.snapshotCount = snap.present ? 1 : 0;
  area.areaSizeGb = live_->logicalDrives[snap.area % brivo::kMaxLogicalDrives].sizeGb;
  area.usedPercent = static_cast<uint8_t>(snapshotUsed(snap));
  area.warningPercent = snap.warning;
  if (snap.snapbackStart != 0) {
    int64_t percent = (now() - snap.snapbackStart) * 100 / std::max<int64_t>(1, options_.jobSeconds);
    area.snapbackPercent = static_cast<uint8_t>(std::clamp<int64_t>(percent, 0, 100));
  }
  area.snapshotTime = snap.present ? static_cast<uint32_t>(snap.time) : 0;
  area.sourceHostLun = live_->logicalDrives[source % brivo::kMaxLogicalDrives].hostLun;
  return area;
}

void BrivoModel::advanceSnapshots(PairState& pair) {
  for (auto& [source, snap] : snapshots_) {
    if (snap.snapbackStart != 0 && now() - snap.snapbackStart >= options_.jobSeconds) {
      snap.snapbackStart = 0;
      snap.time = now();
      snap.fillBase = 0;
      snap.reportedFlags = 0;
      logPairEvent(pair, brivo::kEvSnapback, sourceReason(2, source));
    }
    uint8_t flags = snapshotFlags(snap) & kReported;
    uint8_t added = flags & static_cast<uint8_t>(~snap.reportedFlags);
    snap.reportedFlags = flags;
    if ((added & brivo::kSnapOverrun) != 0) {
      logPairEvent(pair, brivo::kEvSnapshot, sourceReason(brivo::kSnapshotOverrun, source, 100));
    } else if (added != 0) {
      logPairEvent(pair, brivo::kEvSnapshot,
                   sourceReason(brivo::kSnapshotWarning, source, snapshotUsed(snap)));
    }
  }
}

void BrivoModel::pruneSnapshots(PairState& pair) {
  for (auto it = snapshots_.begin(); it != snapshots_.end();) {
    const brivo::LogicalDriveRecord& source = live_->logicalDrives[it->first % brivo::kMaxLogicalDrives];
    const brivo::LogicalDriveRecord& area = live_->logicalDrives[it->second.area % brivo::kMaxLogicalDrives];
    if (source.valid == brivo::kOn && area.valid == brivo::kOn) {
      ++it;
      continue;
    }
    logPairEvent(pair, brivo::kEvSnapshot, sourceReason(brivo::kSnapshotAreaReleased, it->first));
    it = snapshots_.erase(it);
  }
}

// ---- Operations ----

ModelResult BrivoModel::opSnapshotArea(Op& op) {
  if (options_.snapshotGeneration == 0) return illegal(brivo::kAscUnknownBuffer);
  brivo::SnapshotAreaBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  auto it = snapshots_.find(block.sourceDrive);
  uint8_t warning = block.warningPercent == 0 ? 80 : block.warningPercent;
  if (op.command.bufferId == brivo::kOpCreateSnapshotArea) {
    const brivo::LogicalDriveRecord* source =
        block.sourceDrive < brivo::kMaxLogicalDrives ? &live_->logicalDrives[block.sourceDrive] : nullptr;
    const brivo::LogicalDriveRecord* area =
        block.areaDrive < brivo::kMaxLogicalDrives ? &live_->logicalDrives[block.areaDrive] : nullptr;
    bool areaTaken = snapshots_.contains(block.areaDrive);
    for (const auto& [s, snap] : snapshots_) areaTaken = areaTaken || snap.area == block.areaDrive;
    if (source == nullptr || area == nullptr || source->valid != brivo::kOn || area->valid != brivo::kOn ||
        (source->availability & brivo::kAvailabilityInternal) != 0 ||
        (area->availability & brivo::kAvailabilityInternal) == 0 || it != snapshots_.end() || areaTaken ||
        warning > 99) {
      return illegal(brivo::kAscInvalidParameter);
    }
    BrivoSnapshot snap;
    snap.area = block.areaDrive;
    snap.warning = warning;
    snapshots_[block.sourceDrive] = snap;
    logPairEvent(op.pair, brivo::kEvSnapshot, sourceReason(brivo::kSnapshotAreaCreated, block.sourceDrive));
    return ModelResult::good();
  }
  if (it == snapshots_.end() || warning > 99) return illegal(brivo::kAscInvalidParameter);
  if (op.command.bufferId == brivo::kOpAssignSnapshotArea) {
    it->second.warning = warning;
    return ModelResult::good();
  }
  if (it->second.snapbackStart != 0) return illegal(brivo::kAscSequenceError);
  snapshots_.erase(it);
  logPairEvent(op.pair, brivo::kEvSnapshot, sourceReason(brivo::kSnapshotAreaReleased, block.sourceDrive));
  return ModelResult::good();
}

ModelResult BrivoModel::opTakeSnapshot(Op& op) {
  brivo::SnapshotBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  brivo::SnapshotSetBlock set{};
  set.count = 1;
  set.sourceDrives[0] = block.sourceDrive;
  Op one{op.pair, op.command, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&set), sizeof(set))};
  return opTakeSnapshotSet(one);
}

ModelResult BrivoModel::opTakeSnapshotSet(Op& op) {
  if (options_.snapshotGeneration == 0) return illegal(brivo::kAscUnknownBuffer);
  brivo::SnapshotSetBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  if (block.count < 1 || block.count > 4) return illegal(brivo::kAscInvalidParameter);
  for (int i = 0; i < block.count; ++i) {
    auto it = snapshots_.find(block.sourceDrives[i]);
    if (it == snapshots_.end()) return illegal(brivo::kAscInvalidParameter);
    if (it->second.snapbackStart != 0) return illegal(brivo::kAscSequenceError);
  }
  for (int i = 0; i < block.count; ++i) {  // all at the same instant, or none
    BrivoSnapshot& snap = snapshots_[block.sourceDrives[i]];
    snap.present = true;
    snap.time = now();
    snap.fillBase = 0;
    snap.reportedFlags = 0;
    logPairEvent(op.pair, brivo::kEvSnapshot, sourceReason(brivo::kSnapshotTaken, block.sourceDrives[i]));
  }
  return ModelResult::good();
}

ModelResult BrivoModel::opDeleteSnapshot(Op& op) {
  if (options_.snapshotGeneration == 0) return illegal(brivo::kAscUnknownBuffer);
  brivo::SnapshotBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  auto it = snapshots_.find(block.sourceDrive);
  if (it == snapshots_.end() || !it->second.present) return illegal(brivo::kAscInvalidParameter);
  if (it->second.snapbackStart != 0) return illegal(brivo::kAscSequenceError);
  it->second.present = false;
  it->second.reportedFlags = 0;
  logPairEvent(op.pair, brivo::kEvSnapshot, sourceReason(brivo::kSnapshotDeleted, block.sourceDrive));
  return ModelResult::good();
}

ModelResult BrivoModel::opSnapback(Op& op) {
  if (options_.snapshotGeneration == 0) return illegal(brivo::kAscUnknownBuffer);
  brivo::SnapshotBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  auto it = snapshots_.find(block.sourceDrive);
  if (it == snapshots_.end() || !it->second.present || (snapshotFlags(it->second) & brivo::kSnapInvalid) != 0)
    return illegal(brivo::kAscInvalidParameter);
  if (it->second.snapbackStart != 0) return illegal(brivo::kAscSequenceError);
  it->second.snapbackStart = now();
  logPairEvent(op.pair, brivo::kEvSnapback, sourceReason(1, block.sourceDrive));
  return ModelResult::good();
}

// ---- Reads ----

brivo::SnapshotEntry BrivoModel::snapshotEntry(uint16_t source, const BrivoSnapshot& snap) const {
  brivo::SnapshotEntry e{};
  e.valid = brivo::kOn;
  e.flags = snapshotFlags(snap);
  e.sourceDrive = source;
  e.time = static_cast<uint32_t>(snap.time);
  uint32_t areaMb = live_->logicalDrives[snap.area % brivo::kMaxLogicalDrives].sizeGb * 1024;
  e.usedMb = static_cast<uint32_t>(static_cast<uint64_t>(areaMb) * snapshotUsed(snap) / 100);
  e.areaDrive = snap.area;
  return e;
}

ModelResult BrivoModel::readSnapshots(const BufferCommand& command, std::vector<uint8_t>* out) const {
  uint8_t id = command.bufferId;
  uint8_t generation = options_.snapshotGeneration;
  bool first = id == brivo::kOpReadSnapshotAreasV1 || id == brivo::kOpReadSnapshotsV1;
  bool second = id == brivo::kOpReadSnapshotAreasV2 || id == brivo::kOpReadSnapshotsV2 ||
                id == brivo::kOpReadSnapshotStatsV2;
  if (generation == 0 || (first && generation != 1) || (second && generation != 2))
    return illegal(brivo::kAscUnknownBuffer);
  if (id != brivo::kOpReadSnapshotLun) {
    readSnapshotLists(id, out);
    return ModelResult::good();
  }
  int lun = command.cdb[4] << 8 | command.cdb[5];
  if (lun >= brivo::kMaxHostLuns) return illegal(brivo::kAscInvalidCdbField);
  auto* data = resetAs<brivo::SnapshotLunData>(out);
  data->length = sizeof(brivo::SnapshotLunData);
  for (const auto& [source, snap] : snapshots_) {
    if (live_->logicalDrives[source % brivo::kMaxLogicalDrives].hostLun != lun) continue;
    data->area = snapshotArea(source, snap);
    if (snap.present) data->snapshot = snapshotEntry(source, snap);
  }
  return ModelResult::good();
}

void BrivoModel::readSnapshotLists(uint8_t id, std::vector<uint8_t>* out) const {
  if (id == brivo::kOpReadSnapshotAreasV2) {
    auto* areas = resetAs<brivo::SnapshotAreasV2>(out);
    areas->length = sizeof(brivo::SnapshotAreasV2);
    areas->generation = 2;
    for (const auto& [source, snap] : snapshots_) {
      areas->areas[source % brivo::kMaxLogicalDrives] = snapshotArea(source, snap);
      ++areas->count;
    }
  } else if (id == brivo::kOpReadSnapshotAreasV1) {
    auto* areas = resetAs<brivo::SnapshotAreasV1>(out);
    areas->length = sizeof(brivo::SnapshotAreasV1);
    areas->generation = 1;
    for (const auto& [source, snap] : snapshots_) {
      if (areas->count < 64) areas->areas[areas->count++] = snapshotArea(source, snap);
    }
  } else if (id == brivo::kOpReadSnapshotsV1) {
    auto* list = resetAs<brivo::SnapshotListV1>(out);
    list->length = sizeof(brivo::SnapshotListV1);
    int n = 0;
    for (const auto& [source, snap] : snapshots_) {
      if (snap.present && n < 36) list->entries[n++] = snapshotEntry(source, snap);
    }
  } else if (id == brivo::kOpReadSnapshotsV2) {
    auto* list = resetAs<brivo::SnapshotListV2>(out);
    list->length = sizeof(brivo::SnapshotListV2);
    for (const auto& [source, snap] : snapshots_) {
      if (snap.present) list->entries[list->count++] = snapshotEntry(source, snap);
    }
  } else {
    auto* stats = resetAs<brivo::SnapshotStatisticsV2>(out);
    stats->length = sizeof(brivo::SnapshotStatisticsV2);
    for (const auto& [source, snap] : snapshots_) {
      brivo::SnapshotStatisticsEntry& e = stats->entries[stats->count++];
      e.sourceDrive = source;
      e.copyOnWrites = static_cast<uint32_t>(snapshotUsed(snap)) * 1000;
      e.reads = snap.present ? 50 : 0;
      e.writes = e.copyOnWrites;
    }
  }
}

}  // namespace sim
