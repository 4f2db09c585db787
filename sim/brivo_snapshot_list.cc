// The brivo pair's snapshot list and its reports; see brivo_snapshot_list.h.
#include "sim/brivo_snapshot_list.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

constexpr uint8_t kReported = brivo::kSnapWarning1 | brivo::kSnapWarning2 | brivo::kSnapOverrun;

std::vector<uint8_t> sourceReason(uint8_t what, uint16_t source, int used = 0) {
  return {what, static_cast<uint8_t>(source), static_cast<uint8_t>(source >> 8), static_cast<uint8_t>(used)};
}

template <typename T>
T* resetAs(std::vector<uint8_t>* out) {
  out->assign(sizeof(T), 0);
  return reinterpret_cast<T*>(out->data());
}

}  // namespace

BrivoSnapshot* BrivoSnapshotList::find(uint16_t source) {
  auto it = snapshots_.find(source);
  return it == snapshots_.end() ? nullptr : &it->second;
}

bool BrivoSnapshotList::uses(uint16_t drive) const {
  if (snapshots_.contains(drive)) return true;
  return std::any_of(snapshots_.begin(), snapshots_.end(),
                     [drive](const auto& s) { return s.second.area == drive; });
}

int BrivoSnapshotList::used(const BrivoSnapshot& snap, const SnapshotClock& clock) {
  if (!snap.present) return 0;
  int64_t grown = (clock.now - snap.time) * clock.fillPerHour / 3600;
  return static_cast<int>(std::clamp<int64_t>(snap.fillBase + grown, 0, 100));
}

uint8_t BrivoSnapshotList::flags(const BrivoSnapshot& snap, const SnapshotClock& clock) {
  uint8_t flags = snap.snapbackStart != 0 ? brivo::kSnapSnapback : 0;
  if (!snap.present) return flags;
  int percent = used(snap, clock);
  flags |= brivo::kSnapPresent;
  if (percent >= snap.warning) flags |= brivo::kSnapWarning1;
  if (percent >= 90) flags |= brivo::kSnapWarning2;
  if (percent >= 100) flags |= brivo::kSnapOverrun | brivo::kSnapInvalid;
  return flags;
}

brivo::SnapshotArea BrivoSnapshotList::area(uint16_t source, const BrivoSnapshot& snap,
                                            const brivo::ConfigurationBlock& cfg,
                                            const SnapshotClock& clock) {
  brivo::SnapshotArea area{};
  area.valid = brivo::kOn;
  area.flags = flags(snap, clock);
  area.sourceDrive = source;
  area.areaDrive = snap.area;
  area.snapshotCount = snap.present ? 1 : 0;
  area.areaSizeGb = cfg.logicalDrives[snap.area % brivo::kMaxLogicalDrives].sizeGb;
  area.usedPercent = static_cast<uint8_t>(used(snap, clock));
  area.warningPercent = snap.warning;
  if (snap.snapbackStart != 0) {
    int64_t percent = (clock.now - snap.snapbackStart) * 100 / std::max<int64_t>(1, clock.jobSeconds);
    area.snapbackPercent = static_cast<uint8_t>(std::clamp<int64_t>(percent, 0, 100));
  }
  area.snapshotTime = snap.present ? static_cast<uint32_t>(snap.time) : 0;
  area.sourceHostLun = cfg.logicalDrives[source % brivo::kMaxLogicalDrives].hostLun;
  return area;
}

brivo::SnapshotEntry BrivoSnapshotList::entry(uint16_t source, const BrivoSnapshot& snap,
                                              const brivo::ConfigurationBlock& cfg,
                                              const SnapshotClock& clock) {
  brivo::SnapshotEntry e{};
  e.valid = brivo::kOn;
  e.flags = flags(snap, clock);
  e.sourceDrive = source;
  e.time = static_cast<uint32_t>(snap.time);
  uint32_t areaMb = cfg.logicalDrives[snap.area % brivo::kMaxLogicalDrives].sizeGb * 1024;
  e.usedMb = static_cast<uint32_t>(static_cast<uint64_t>(areaMb) * used(snap, clock) / 100);
  e.areaDrive = snap.area;
  return e;
}

void BrivoSnapshotList::readLun(int lun, const brivo::ConfigurationBlock& cfg, const SnapshotClock& clock,
                                std::vector<uint8_t>* out) const {
  auto* data = resetAs<brivo::SnapshotLunData>(out);
  data->length = sizeof(brivo::SnapshotLunData);
  for (const auto& [source, snap] : snapshots_) {
    if (cfg.logicalDrives[source % brivo::kMaxLogicalDrives].hostLun != lun) continue;
    data->area = area(source, snap, cfg, clock);
    if (snap.present) data->snapshot = entry(source, snap, cfg, clock);
  }
}

void BrivoSnapshotList::readList(uint8_t id, const brivo::ConfigurationBlock& cfg, const SnapshotClock& clock,
                                 std::vector<uint8_t>* out) const {
  if (id == brivo::kOpReadSnapshotAreasV2) {
    auto* areas = resetAs<brivo::SnapshotAreasV2>(out);
    areas->length = sizeof(brivo::SnapshotAreasV2);
    areas->generation = 2;
    for (const auto& [source, snap] : snapshots_) {
      areas->areas[source % brivo::kMaxLogicalDrives] = area(source, snap, cfg, clock);
      ++areas->count;
    }
  } else if (id == brivo::kOpReadSnapshotAreasV1) {
    auto* areas = resetAs<brivo::SnapshotAreasV1>(out);
    areas->length = sizeof(brivo::SnapshotAreasV1);
    areas->generation = 1;
    for (const auto& [source, snap] : snapshots_) {
      if (areas->count < 64) areas->areas[areas->count++] = area(source, snap, cfg, clock);
    }
  } else if (id == brivo::kOpReadSnapshotsV1) {
    auto* list = resetAs<brivo::SnapshotListV1>(out);
    list->length = sizeof(brivo::SnapshotListV1);
    int n = 0;
    for (const auto& [source, snap] : snapshots_) {
      if (snap.present && n < 36) list->entries[n++] = entry(source, snap, cfg, clock);
    }
  } else if (id == brivo::kOpReadSnapshotsV2) {
    auto* list = resetAs<brivo::SnapshotListV2>(out);
    list->length = sizeof(brivo::SnapshotListV2);
    for (const auto& [source, snap] : snapshots_) {
      if (snap.present) list->entries[list->count++] = entry(source, snap, cfg, clock);
    }
  } else {
    auto* stats = resetAs<brivo::SnapshotStatisticsV2>(out);
    stats->length = sizeof(brivo::SnapshotStatisticsV2);
    for (const auto& [source, snap] : snapshots_) {
      brivo::SnapshotStatisticsEntry& e = stats->entries[stats->count++];
      e.sourceDrive = source;
      e.copyOnWrites = static_cast<uint32_t>(used(snap, clock)) * 1000;
      e.reads = snap.present ? 50 : 0;
      e.writes = e.copyOnWrites;
    }
  }
}

// ---- Time ----

void BrivoSnapshotList::advance(const Context& ctx) {
  for (auto& [source, snap] : snapshots_) {
    if (snap.snapbackStart != 0 && ctx.clock.now - snap.snapbackStart >= ctx.clock.jobSeconds) {
      snap.snapbackStart = 0;
      snap.time = ctx.clock.now;
      snap.fillBase = 0;
      snap.reportedFlags = 0;
      ctx.log(brivo::kEvSnapback, sourceReason(2, source));
    }
    uint8_t raised = flags(snap, ctx.clock) & kReported;
    uint8_t added = raised & static_cast<uint8_t>(~snap.reportedFlags);
    snap.reportedFlags = raised;
    if ((added & brivo::kSnapOverrun) != 0) {
      ctx.log(brivo::kEvSnapshot, sourceReason(brivo::kSnapshotOverrun, source, 100));
    } else if (added != 0) {
      ctx.log(brivo::kEvSnapshot, sourceReason(brivo::kSnapshotWarning, source, used(snap, ctx.clock)));
    }
  }
}

void BrivoSnapshotList::prune(const Context& ctx) {
  for (auto it = snapshots_.begin(); it != snapshots_.end();) {
    const brivo::LogicalDriveRecord& source = ctx.live.logicalDrives[it->first % brivo::kMaxLogicalDrives];
    const brivo::LogicalDriveRecord& area =
        ctx.live.logicalDrives[it->second.area % brivo::kMaxLogicalDrives];
    if (source.valid == brivo::kOn && area.valid == brivo::kOn) {
      ++it;
      continue;
    }
    ctx.log(brivo::kEvSnapshot, sourceReason(brivo::kSnapshotAreaReleased, it->first));
    it = snapshots_.erase(it);
  }
}

void BrivoSnapshotList::release(std::optional<uint16_t> drive, const Context& ctx) {
  for (auto it = snapshots_.begin(); it != snapshots_.end();) {
    if (drive && it->first != *drive && it->second.area != *drive) {
      ++it;
      continue;
    }
    ctx.log(brivo::kEvSnapshot, sourceReason(brivo::kSnapshotAreaReleased, it->first));
    it = snapshots_.erase(it);
  }
}

// ---- Operations ----

ModelResult BrivoSnapshotList::changeArea(uint8_t id, std::span<const uint8_t> data, const Context& ctx) {
  if (ctx.generation == 0) return illegal(brivo::kAscUnknownBuffer);
  brivo::SnapshotAreaBlock block;
  std::memcpy(&block, data.data(), sizeof(block));
  BrivoSnapshot* existing = find(block.sourceDrive);
  uint8_t warning = block.warningPercent == 0 ? 80 : block.warningPercent;
  if (id == brivo::kOpCreateSnapshotArea) {
    const brivo::LogicalDriveRecord* source =
        block.sourceDrive < brivo::kMaxLogicalDrives ? &ctx.live.logicalDrives[block.sourceDrive] : nullptr;
    const brivo::LogicalDriveRecord* area =
        block.areaDrive < brivo::kMaxLogicalDrives ? &ctx.live.logicalDrives[block.areaDrive] : nullptr;
    bool areaTaken = uses(block.areaDrive);
    if (source == nullptr || area == nullptr || source->valid != brivo::kOn || area->valid != brivo::kOn ||
        (source->availability & brivo::kAvailabilityInternal) != 0 ||
        (area->availability & brivo::kAvailabilityInternal) == 0 || existing != nullptr || areaTaken ||
        warning > 99) {
      return illegal(brivo::kAscInvalidParameter);
    }
    BrivoSnapshot snap;
    snap.area = block.areaDrive;
    snap.warning = warning;
    snapshots_[block.sourceDrive] = snap;
    ctx.log(brivo::kEvSnapshot, sourceReason(brivo::kSnapshotAreaCreated, block.sourceDrive));
    return ModelResult::good();
  }
  if (existing == nullptr || warning > 99) return illegal(brivo::kAscInvalidParameter);
  if (id == brivo::kOpAssignSnapshotArea) {
    existing->warning = warning;
    return ModelResult::good();
  }
  if (existing->snapbackStart != 0) return illegal(brivo::kAscSequenceError);
  snapshots_.erase(block.sourceDrive);
  ctx.log(brivo::kEvSnapshot, sourceReason(brivo::kSnapshotAreaReleased, block.sourceDrive));
  return ModelResult::good();
}

ModelResult BrivoSnapshotList::take(std::span<const uint8_t> data, const Context& ctx) {
  brivo::SnapshotBlock block;
  std::memcpy(&block, data.data(), sizeof(block));
  brivo::SnapshotSetBlock set{};
  set.count = 1;
  set.sourceDrives[0] = block.sourceDrive;
  return takeSet(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&set), sizeof(set)), ctx);
}

ModelResult BrivoSnapshotList::takeSet(std::span<const uint8_t> data, const Context& ctx) {
  if (ctx.generation == 0) return illegal(brivo::kAscUnknownBuffer);
  brivo::SnapshotSetBlock block;
  std::memcpy(&block, data.data(), sizeof(block));
  if (block.count < 1 || block.count > 4) return illegal(brivo::kAscInvalidParameter);
  for (int i = 0; i < block.count; ++i) {
    const BrivoSnapshot* snap = find(block.sourceDrives[i]);
    if (snap == nullptr) return illegal(brivo::kAscInvalidParameter);
    if (snap->snapbackStart != 0) return illegal(brivo::kAscSequenceError);
  }
  for (int i = 0; i < block.count; ++i) {  // all at the same instant, or none
    BrivoSnapshot& snap = *find(block.sourceDrives[i]);
    snap.present = true;
    snap.time = ctx.clock.now;
    snap.fillBase = 0;
    snap.reportedFlags = 0;
    ctx.log(brivo::kEvSnapshot, sourceReason(brivo::kSnapshotTaken, block.sourceDrives[i]));
  }
  return ModelResult::good();
}

ModelResult BrivoSnapshotList::remove(std::span<const uint8_t> data, const Context& ctx) {
  if (ctx.generation == 0) return illegal(brivo::kAscUnknownBuffer);
  brivo::SnapshotBlock block;
  std::memcpy(&block, data.data(), sizeof(block));
  BrivoSnapshot* snap = find(block.sourceDrive);
  if (snap == nullptr || !snap->present) return illegal(brivo::kAscInvalidParameter);
  if (snap->snapbackStart != 0) return illegal(brivo::kAscSequenceError);
  snap->present = false;
  snap->reportedFlags = 0;
  ctx.log(brivo::kEvSnapshot, sourceReason(brivo::kSnapshotDeleted, block.sourceDrive));
  return ModelResult::good();
}

ModelResult BrivoSnapshotList::snapback(std::span<const uint8_t> data, const Context& ctx) {
  if (ctx.generation == 0) return illegal(brivo::kAscUnknownBuffer);
  brivo::SnapshotBlock block;
  std::memcpy(&block, data.data(), sizeof(block));
  BrivoSnapshot* snap = find(block.sourceDrive);
  if (snap == nullptr || !snap->present || (flags(*snap, ctx.clock) & brivo::kSnapInvalid) != 0)
    return illegal(brivo::kAscInvalidParameter);
  if (snap->snapbackStart != 0) return illegal(brivo::kAscSequenceError);
  snap->snapbackStart = ctx.clock.now;
  ctx.log(brivo::kEvSnapback, sourceReason(1, block.sourceDrive));
  return ModelResult::good();
}

// ---- Buffers ----

ModelResult BrivoSnapshotList::read(const BufferCommand& command, const Context& ctx,
                                    std::vector<uint8_t>* out) const {
  uint8_t id = command.bufferId;
  uint8_t generation = ctx.generation;
  bool first = id == brivo::kOpReadSnapshotAreasV1 || id == brivo::kOpReadSnapshotsV1;
  bool second = id == brivo::kOpReadSnapshotAreasV2 || id == brivo::kOpReadSnapshotsV2 ||
                id == brivo::kOpReadSnapshotStatsV2;
  if (generation == 0 || (first && generation != 1) || (second && generation != 2))
    return illegal(brivo::kAscUnknownBuffer);
  if (id != brivo::kOpReadSnapshotLun) {
    readList(id, ctx.live, ctx.clock, out);
    return ModelResult::good();
  }
  int lun = command.cdb[4] << 8 | command.cdb[5];
  if (lun >= brivo::kMaxHostLuns) return illegal(brivo::kAscInvalidCdbField);
  readLun(lun, ctx.live, ctx.clock, out);
  return ModelResult::good();
}

const SavedKeys<BrivoSnapshotList>& BrivoSnapshotList::savedKeys() {
  using List = BrivoSnapshotList;
  using Snap = BrivoSnapshot;
  static const SavedKeys<List> keys = {
      recordKey<List, Snap>(
          "snap.#", {brivo::kMaxLogicalDrives - 1},
          {{"area", FieldKind::kNumber, [](Snap& s) -> FieldRef { return &s.area; }, 0,
            brivo::kMaxLogicalDrives - 1},
           {"warning", FieldKind::kNumber, [](Snap& s) -> FieldRef { return &s.warning; }, 0, 99},
           {"present", FieldKind::kNumber, [](Snap& s) -> FieldRef { return &s.present; }},
           {"time", FieldKind::kNumber, [](Snap& s) -> FieldRef { return &s.time; }},
           {"fillBase", FieldKind::kNumber, [](Snap& s) -> FieldRef { return &s.fillBase; }},
           {"snapbackStart", FieldKind::kNumber, [](Snap& s) -> FieldRef { return &s.snapbackStart; }},
           {"reportedFlags", FieldKind::kNumber, [](Snap& s) -> FieldRef { return &s.reportedFlags; }}},
          [](const List& list) {
            std::vector<KeyIndex> out;
            for (const auto& [source, snap] : list.snapshots_) out.push_back(KeyIndex{0, {source}});
            return out;
          },
          [](const List& list, const KeyIndex& k) {
            auto it = list.snapshots_.find(static_cast<uint16_t>(k.number()));
            return it == list.snapshots_.end() ? std::optional<Snap>() : std::optional<Snap>(it->second);
          },
          [](List& list, const KeyIndex& k, const Snap& s) {
            list.snapshots_[static_cast<uint16_t>(k.number())] = s;
            return true;
          }),
  };
  return keys;
}

}  // namespace sim
