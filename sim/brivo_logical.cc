// The brivo model's logical drives: creating them in a free region, growing, deleting, renaming,
// changing their availability and host LUN (all inside the configuration bracket), and the region
// information that tells where arrays have room; see brivo_model.h.
#include <algorithm>
#include <cstring>

#include "sim/brivo_model.h"

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

struct Region {
  int array = 0;
  bool used = false;
  uint32_t start = 0;
  uint32_t size = 0;
  int drive = 0xFFFF;
};

// Every region of every array, in array order and by start.
std::vector<Region> allRegions(const brivo::ConfigurationBlock& cfg) {
  std::vector<Region> out;
  for (int n = 0; n < brivo::kMaxArrays; ++n) {
    const brivo::ArrayRecord& a = cfg.arrays[n];
    if (a.valid != brivo::kOn) continue;
    std::vector<Region> used;
    for (int d = 0; d < brivo::kMaxLogicalDrives; ++d) {
      const brivo::LogicalDriveRecord& ld = cfg.logicalDrives[d];
      if (ld.valid != brivo::kOn) continue;
      for (int s = 0; s < ld.segmentCount && s < brivo::kMaxSegments; ++s) {
        if (ld.segments[s].array == n)
          used.push_back({n, true, ld.segments[s].startGb, ld.segments[s].sizeGb, d});
      }
    }
    std::sort(used.begin(), used.end(), [](const Region& x, const Region& y) { return x.start < y.start; });
    uint32_t cursor = 0;
    for (const Region& r : used) {
      if (r.start > cursor) out.push_back({n, false, cursor, r.start - cursor});
      out.push_back(r);
      cursor = std::max(cursor, r.start + r.size);
    }
    if (cursor < a.capacityGb) out.push_back({n, false, cursor, a.capacityGb - cursor});
  }
  return out;
}

std::vector<Region> freeRegions(const brivo::ConfigurationBlock& cfg) {
  std::vector<Region> out = allRegions(cfg);
  std::erase_if(out, [](const Region& r) { return r.used; });
  return out;
}

bool blockSizeValid(uint16_t code) {
  return code == 0 || code == 512 || code == 1024 || code == 2048 || code == 4096;
}

std::vector<uint8_t> driveReason(int drive, std::initializer_list<uint8_t> more) {
  // Sized once: GCC's -O2 bounds check misreads an insert behind two elements.
  std::vector<uint8_t> reason(2 + more.size());
  reason[0] = static_cast<uint8_t>(drive);
  reason[1] = static_cast<uint8_t>(drive >> 8);
  std::copy(more.begin(), more.end(), reason.begin() + 2);
  return reason;
}

}  // namespace

void BrivoModel::buildRegions(const brivo::ConfigurationBlock& cfg, bool freeOnly,
                              brivo::RegionInformation* out) const {
  *out = brivo::RegionInformation{};
  out->length = sizeof(brivo::RegionInformation);
  uint16_t freeIndex = 0;
  for (const Region& r : allRegions(cfg)) {
    uint16_t index = r.used ? 0xFFFF : freeIndex++;
    if (freeOnly && r.used) continue;
    if (out->count >= brivo::kMaxRegions) break;
    brivo::RegionEntry& e = out->entries[out->count++];
    e.array = static_cast<uint8_t>(r.array);
    e.kind = r.used ? brivo::kRegionUsed : brivo::kRegionFree;
    e.freeIndex = index;
    e.logicalDrive = static_cast<uint16_t>(r.used ? r.drive : 0xFFFF);
    e.startGb = r.start;
    e.sizeGb = r.size;
    out->freeCount += r.used ? 0 : 1;
  }
}

ModelResult BrivoModel::opCreateLogicalDrive(Op& op) {
  brivo::CreateLogicalDriveBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  brivo::ConfigurationBlock& cfg = config_.working();
  std::vector<Region> regions = freeRegions(cfg);
  if (block.sizeGb == 0 || block.region >= regions.size() || block.sizeGb > regions[block.region].size ||
      (block.availability & 0x70) != 0 || !blockSizeValid(block.blockSizeCode)) {
    return illegal(brivo::kAscInvalidParameter);
  }
  int d = 0;
  while (d < brivo::kMaxLogicalDrives && cfg.logicalDrives[d].valid == brivo::kOn) ++d;
  if (d == brivo::kMaxLogicalDrives) return illegal(brivo::kAscNoRoom);
  const Region& region = regions[block.region];
  brivo::LogicalDriveRecord& ld = cfg.logicalDrives[d];
  ld = brivo::LogicalDriveRecord{};
  ld.valid = brivo::kOn;
  ld.number = static_cast<uint16_t>(d);
  ld.availability = block.availability;
  ld.hostLun = brivo::kLunNone;
  ld.blockSizeCode = block.blockSizeCode;
  ld.segmentCount = 1;
  ld.sizeGb = block.sizeGb;
  std::memcpy(ld.name, block.name, sizeof(ld.name));
  ld.segments[0] = {static_cast<uint8_t>(region.array), {0, 0, 0}, region.start, block.sizeGb};
  ld.referenceNumber = config_.takeReference();
  ld.createdTime = static_cast<uint32_t>(now());
  config_.queueEvent(brivo::kEvDriveCreated,
                     driveReason(d, {static_cast<uint8_t>(region.array), static_cast<uint8_t>(block.sizeGb),
                                     static_cast<uint8_t>(block.sizeGb >> 8)}));
  refresh(op.pair, cfg);
  return ModelResult::good();
}

ModelResult BrivoModel::opGrowLogicalDrive(Op& op) {
  brivo::GrowLogicalDriveBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  brivo::ConfigurationBlock& cfg = config_.working();
  int d = op.logicalDrive();
  if (d >= brivo::kMaxLogicalDrives || cfg.logicalDrives[d].valid != brivo::kOn)
    return illegal(brivo::kAscInvalidCdbField);
  std::vector<Region> regions = freeRegions(cfg);
  if (block.sizeGb == 0 || block.region >= regions.size() || block.sizeGb > regions[block.region].size)
    return illegal(brivo::kAscInvalidParameter);
  brivo::LogicalDriveRecord& ld = cfg.logicalDrives[d];
  const Region& region = regions[block.region];
  brivo::Segment& last = ld.segments[ld.segmentCount - 1];
  if (last.array == region.array && last.startGb + last.sizeGb == region.start) {
    last.sizeGb += block.sizeGb;
  } else if (ld.segmentCount < brivo::kMaxSegments) {
    ld.segments[ld.segmentCount++] = {
        static_cast<uint8_t>(region.array), {0, 0, 0}, region.start, block.sizeGb};
  } else {
    return illegal(brivo::kAscNoRoom);
  }
  ld.sizeGb += block.sizeGb;
  uint32_t size = ld.sizeGb;
  config_.queueEvent(brivo::kEvDriveGrown,
                     driveReason(d, {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                     static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)}));
  refresh(op.pair, cfg);
  return ModelResult::good();
}

ModelResult BrivoModel::opDeleteLogicalDrive(Op& op) {
  brivo::ConfigurationBlock& cfg = config_.working();
  int d = op.logicalDrive();
  if (d >= brivo::kMaxLogicalDrives || cfg.logicalDrives[d].valid != brivo::kOn)
    return illegal(brivo::kAscInvalidCdbField);
  cfg.logicalDrives[d] = brivo::LogicalDriveRecord{};
  cfg.logicalDrives[d].hostLun = brivo::kLunNone;
  brivo::MappingTable& map = cfg.mapping;
  int kept = 0;
  for (int i = 0; i < map.count; ++i) {
    if (map.entries[i].logicalDrive != d) map.entries[kept++] = map.entries[i];
  }
  for (int i = kept; i < map.count; ++i) map.entries[i] = brivo::MappingEntry{};
  map.count = static_cast<uint16_t>(kept);
  config_.queueEvent(brivo::kEvDriveDeleted, driveReason(d, {}));
  refresh(op.pair, cfg);
  return ModelResult::good();
}

ModelResult BrivoModel::opRenameLogicalDrive(Op& op) {
  brivo::ConfigurationBlock& cfg = config_.working();
  int d = op.logicalDrive();
  if (d >= brivo::kMaxLogicalDrives || cfg.logicalDrives[d].valid != brivo::kOn)
    return illegal(brivo::kAscInvalidCdbField);
  std::memcpy(cfg.logicalDrives[d].name, op.block.data(), sizeof(cfg.logicalDrives[d].name));
  config_.queueEvent(brivo::kEvDriveChanged, driveReason(d, {brivo::kChangeName}));
  return ModelResult::good();
}

ModelResult BrivoModel::opChangeAvailability(Op& op) {
  brivo::ConfigurationBlock& cfg = config_.working();
  int d = op.logicalDrive();
  uint8_t availability = op.availability();
  if (d >= brivo::kMaxLogicalDrives || cfg.logicalDrives[d].valid != brivo::kOn || (availability & 0x70) != 0)
    return illegal(brivo::kAscInvalidCdbField);
  cfg.logicalDrives[d].availability = availability;
  config_.queueEvent(brivo::kEvDriveChanged, driveReason(d, {brivo::kChangeAvailability, availability}));
  return ModelResult::good();
}

ModelResult BrivoModel::opSetHostLun(Op& op) {
  brivo::SetHostLunBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  brivo::ConfigurationBlock& cfg = config_.working();
  if (block.logicalDrive >= brivo::kMaxLogicalDrives ||
      cfg.logicalDrives[block.logicalDrive].valid != brivo::kOn ||
      (block.hostLun >= brivo::kMaxHostLuns && block.hostLun != brivo::kLunNone)) {
    return illegal(brivo::kAscInvalidParameter);
  }
  for (int d = 0; d < brivo::kMaxLogicalDrives && block.hostLun != brivo::kLunNone; ++d) {
    const brivo::LogicalDriveRecord& other = cfg.logicalDrives[d];
    if (d != block.logicalDrive && other.valid == brivo::kOn && other.hostLun == block.hostLun)
      return illegal(brivo::kAscInvalidParameter);  // every host LUN names one drive
  }
  cfg.logicalDrives[block.logicalDrive].hostLun = block.hostLun;
  config_.queueEvent(brivo::kEvDriveChanged,
                     driveReason(block.logicalDrive, {brivo::kChangeLun, static_cast<uint8_t>(block.hostLun),
                                                      static_cast<uint8_t>(block.hostLun >> 8)}));
  return ModelResult::good();
}

}  // namespace sim
