// The brivo model's arrays: creating, deleting, expanding, changing and renaming them (all inside
// the configuration bracket), their capacity, and the derived fields of a configuration (fault
// status, running job, free space, logical drive state, header counts); see brivo_model.h.
#include <algorithm>
#include <cstring>

#include "sim/brivo_model.h"

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

bool wwnEquals(const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, 8) == 0; }

bool levelKnown(uint8_t level) {
  return level == brivo::kRaid0 || level == brivo::kRaid1 || level == brivo::kRaid3 ||
         level == brivo::kRaid5 || level == brivo::kRaid6 || level == brivo::kRaid10 ||
         level == brivo::kRaid50;
}

// Whether `members` drives with `parity` parity drives make a valid array of the level.
bool layoutValid(uint8_t level, int members, int parity) {
  if (members < 1 || members > brivo::kMaxMembers) return false;
  switch (level) {
    case brivo::kRaid0:
      return parity == 0;
    case brivo::kRaid1:
      return parity == 0 && members >= 2;
    case brivo::kRaid3:
    case brivo::kRaid5:
      return parity == 0 && members >= 3;
    case brivo::kRaid6:
      return parity == 2 && members >= 4;
    case brivo::kRaid10:
      return parity == 0 && members >= 4 && members % 2 == 0;
    case brivo::kRaid50:
      return parity >= 2 && members % parity == 0 && members / parity >= 3;
    default:
      return false;
  }
}

uint32_t usableCapacity(uint8_t level, int members, int parity, uint32_t member) {
  switch (level) {
    case brivo::kRaid0:
      return members * member;
    case brivo::kRaid1:
      return member;
    case brivo::kRaid10:
      return members / 2 * member;
    case brivo::kRaid3:
    case brivo::kRaid5:
      return (members - 1) * member;
    case brivo::kRaid6:
      return (members - 2) * member;
    case brivo::kRaid50:
      return (members - parity) * member;
    default:
      return 0;
  }
}

int lowestFreeArray(const brivo::ConfigurationBlock& cfg) {
  for (int n = 0; n < brivo::kMaxArrays; ++n) {
    if (cfg.arrays[n].valid != brivo::kOn) return n;
  }
  return -1;
}

uint16_t readAheadSize(int code) {
  static constexpr uint16_t kSizes[] = {0, brivo::kReadAheadDisabled, 256, 512, 1024, 2048};
  return kSizes[code];
}

uint16_t writeBackSize(int code) {
  return code == 0 ? 0 : code == 10 ? brivo::kWriteBackMaximum : static_cast<uint16_t>(1 << (code - 1));
}

}  // namespace

// ---- Drives ----

int BrivoModel::driveIndexByWwn(const PairState& pair, const uint8_t* wwn) const {
  for (size_t i = 0; i < pair.drives.size(); ++i) {
    uint64_t value = 0;
    for (int k = 0; k < 8; ++k) value = value << 8 | wwn[k];
    if (pair.drives[i].wwn == value) return static_cast<int>(i);
  }
  return -1;
}

bool BrivoModel::driveInUse(const brivo::ConfigurationBlock& cfg, const uint8_t* wwn) const {
  for (const brivo::ArrayRecord& a : cfg.arrays) {
    if (a.valid != brivo::kOn) continue;
    for (int m = 0; m < a.driveCount; ++m) {
      if (wwnEquals(a.memberWwn[m], wwn)) return true;
    }
  }
  for (const brivo::SpareRecord& s : cfg.spares) {
    if (s.valid == brivo::kOn && wwnEquals(s.wwn, wwn)) return true;
  }
  return false;
}

bool BrivoModel::driveUsable(const PairState& pair, const brivo::ConfigurationBlock& cfg, int drive) const {
  if (drive < 0 || drive >= static_cast<int>(pair.drives.size())) return false;
  uint8_t wwn[8];
  for (int k = 0; k < 8; ++k) wwn[k] = static_cast<uint8_t>(pair.drives[drive].wwn >> (56 - 8 * k));
  return !pair.drives[drive].failed && !controllers_.drives()[drive].bypassed && !driveInUse(cfg, wwn);
}

uint32_t BrivoModel::memberCapacityGb(const PairState& pair, const brivo::ArrayRecord& array) const {
  uint64_t smallest = UINT64_MAX;
  for (int m = 0; m < array.driveCount; ++m) {
    int drive = driveIndexByWwn(pair, array.memberWwn[m]);
    if (drive >= 0) smallest = std::min(smallest, pair.drives[drive].blocks);
  }
  if (smallest == UINT64_MAX) return 0;
  uint64_t gb = smallest * 512 / (1ULL << 30);
  return static_cast<uint32_t>(gb * (100 - std::min<int>(array.unusedPercent, 99)) / 100);
}

// ---- Operations ----

ModelResult BrivoModel::opCreateArray(Op& op) {
  brivo::CreateArrayBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  brivo::ConfigurationBlock& cfg = config_.working();
  int count = block.driveCount;
  if (!levelKnown(block.raidLevel) || !layoutValid(block.raidLevel, count, block.parityDrives))
    return illegal(brivo::kAscInvalidParameter);
  uint16_t chunk = block.chunkSizeKb == 0xFFFF ? 64 : block.chunkSizeKb;
  uint8_t unused = block.unusedPercent == 0xFF ? 1 : block.unusedPercent;
  if ((chunk != 64 && chunk != 128 && chunk != 256) || unused > 99 || (block.cacheFlags & 0xC0) != 0)
    return illegal(brivo::kAscInvalidParameter);
  for (int i = 0; i < count; ++i) {
    if (!driveUsable(op.pair, cfg, driveIndexByWwn(op.pair, block.driveWwn[i])))
      return illegal(brivo::kAscInvalidParameter);
    for (int j = 0; j < i; ++j) {
      if (wwnEquals(block.driveWwn[i], block.driveWwn[j])) return illegal(brivo::kAscInvalidParameter);
    }
  }
  int n = lowestFreeArray(cfg);
  if (n < 0) return illegal(brivo::kAscNoRoom);
  brivo::ArrayRecord& a = cfg.arrays[n];
  a = brivo::ArrayRecord{};
  a.valid = brivo::kOn;
  a.raidLevel = block.raidLevel;
  a.driveCount = static_cast<uint8_t>(count);
  a.arrayNumber = static_cast<uint8_t>(n);
  a.chunkSizeKb = chunk;
  a.createdTime = static_cast<uint32_t>(now());
  std::memcpy(a.memberWwn, block.driveWwn, sizeof(a.memberWwn[0]) * count);
  a.parityDrives = block.parityDrives;
  a.cacheFlags = block.cacheFlags;
  a.cacheFlush = block.cacheFlush == 0xFF ? 4 : block.cacheFlush;
  a.readAheadKb = block.readAheadKb;
  a.writeBackMb = block.writeBackMb;
  bool initialize = block.initialize != 0 && block.initialize != brivo::kOff;
  a.initialized = block.raidLevel == brivo::kRaid0 ? brivo::kOn : brivo::kOff;
  a.unusedPercent = unused;
  std::memcpy(a.name, block.name, sizeof(a.name));
  a.memberCapacityGb = memberCapacityGb(op.pair, a);
  config_.queueEvent(brivo::kEvArrayCreated, {static_cast<uint8_t>(n), a.raidLevel, a.driveCount});
  if (initialize && a.raidLevel != brivo::kRaid0) {
    Pending p;
    p.kind = Pending::kStartInit;
    p.array = n;
    config_.pending().push_back(p);
  }
  refresh(op.pair, cfg);
  return ModelResult::good();
}

ModelResult BrivoModel::opDeleteArray(Op& op) {
  brivo::ConfigurationBlock& cfg = config_.working();
  int n = op.wideArrayNumber();
  if (n >= brivo::kMaxArrays || cfg.arrays[n].valid != brivo::kOn) return illegal(brivo::kAscInvalidCdbField);
  for (const brivo::LogicalDriveRecord& d : cfg.logicalDrives) {
    if (d.valid != brivo::kOn) continue;
    for (int s = 0; s < d.segmentCount; ++s) {
      if (d.segments[s].array == n) return illegal(brivo::kAscInvalidParameter);
    }
  }
  cfg.arrays[n] = brivo::ArrayRecord{};
  cfg.arrays[n].faultStatus = brivo::kFaultNone;
  for (brivo::SpareRecord& s : cfg.spares) {
    if (s.valid == brivo::kOn && s.array == n) s = brivo::SpareRecord{};  // dedicated to nothing now
  }
  std::erase_if(config_.pending(),
                [n](const Pending& p) { return p.kind != Pending::kEvent && p.array == n; });
  config_.queueEvent(brivo::kEvArrayDeleted, {static_cast<uint8_t>(n)});
  refresh(op.pair, cfg);
  return ModelResult::good();
}

ModelResult BrivoModel::opExpandArray(Op& op) {
  brivo::ExpandArrayBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  brivo::ConfigurationBlock& cfg = config_.working();
  if (block.array >= brivo::kMaxArrays || cfg.arrays[block.array].valid != brivo::kOn)
    return illegal(brivo::kAscInvalidParameter);
  brivo::ArrayRecord& a = cfg.arrays[block.array];
  int total = a.driveCount + block.driveCount;
  int parity = block.parityGiven == brivo::kOn ? block.parityDrives : a.parityDrives;
  bool queued = std::any_of(config_.pending().begin(), config_.pending().end(), [&](const Pending& p) {
    return p.kind == Pending::kStartExpansion && p.array == block.array;
  });
  if (block.driveCount == 0 || a.raidLevel == brivo::kRaid1 || !layoutValid(a.raidLevel, total, parity) ||
      jobs_.of(block.array) != nullptr || queued || faultStatus(a) == brivo::kFaultInvalid) {
    return illegal(brivo::kAscInvalidParameter);
  }
  for (int i = 0; i < block.driveCount; ++i) {
    int drive = driveIndexByWwn(op.pair, block.driveWwn[i]);
    if (!driveUsable(op.pair, cfg, drive) ||
        op.pair.drives[drive].blocks * 512 / (1ULL << 30) < a.memberCapacityGb)
      return illegal(brivo::kAscInvalidParameter);
    for (int j = 0; j < i; ++j) {
      if (wwnEquals(block.driveWwn[i], block.driveWwn[j])) return illegal(brivo::kAscInvalidParameter);
    }
  }
  for (int i = 0; i < block.driveCount; ++i) {
    std::memcpy(a.memberWwn[a.driveCount + i], block.driveWwn[i], 8);
    a.memberStatus[a.driveCount + i] = brivo::kMemberGood;
  }
  a.driveCount = static_cast<uint8_t>(total);
  a.parityDrives = static_cast<uint8_t>(parity);
  Pending p;
  p.kind = Pending::kStartExpansion;
  p.array = block.array;
  p.count = block.driveCount;
  config_.pending().push_back(p);
  refresh(op.pair, cfg);
  return ModelResult::good();
}

ModelResult BrivoModel::opChangeArray(Op& op) {
  brivo::ConfigurationBlock& cfg = config_.working();
  uint8_t n = op.arrayNumber();
  int writeBack = op.cacheSizes() >> 4;
  int readAhead = op.cacheSizes() & 0x0F;
  if (n >= brivo::kMaxArrays || cfg.arrays[n].valid != brivo::kOn || (op.cacheFlags() & 0xC0) != 0 ||
      writeBack > 10 || readAhead > 5) {
    return illegal(brivo::kAscInvalidCdbField);
  }
  brivo::ArrayRecord& a = cfg.arrays[n];
  a.cacheFlags = op.cacheFlags();
  a.readAheadKb = readAheadSize(readAhead);
  a.writeBackMb = writeBackSize(writeBack);
  config_.queueEvent(brivo::kEvArrayChanged,
                     {n, a.cacheFlags, static_cast<uint8_t>(readAhead), static_cast<uint8_t>(writeBack)});
  return ModelResult::good();
}

ModelResult BrivoModel::opRenameArray(Op& op) {
  brivo::ConfigurationBlock& cfg = config_.working();
  uint8_t n = op.arrayNumber();
  if (n >= brivo::kMaxArrays || cfg.arrays[n].valid != brivo::kOn) return illegal(brivo::kAscInvalidCdbField);
  std::memcpy(cfg.arrays[n].name, op.block.data(), sizeof(cfg.arrays[n].name));
  config_.queueEvent(brivo::kEvArrayRenamed, {n});
  return ModelResult::good();
}

// ---- Derived fields ----

uint8_t BrivoModel::faultStatus(const brivo::ArrayRecord& a) const {
  int failed = 0;
  bool rebuilding = false;
  bool lost = false;
  int groups = a.raidLevel == brivo::kRaid50 && a.parityDrives > 0 ? a.parityDrives : 1;
  int groupSize = std::max(1, a.driveCount / groups);
  std::vector<int> failedInGroup(groups + 1, 0);
  for (int m = 0; m < a.driveCount; ++m) {
    if (a.memberStatus[m] == brivo::kMemberGood) continue;
    ++failed;
    rebuilding = rebuilding || a.memberStatus[m] == brivo::kMemberRebuilding;
    ++failedInGroup[std::min(m / groupSize, groups)];
    bool partnerFailed = a.memberStatus[m ^ 1] != brivo::kMemberGood;
    if (a.raidLevel == brivo::kRaid10 && (m % 2) == 1 && partnerFailed) lost = true;
  }
  if (a.raidLevel == brivo::kRaid0) return failed > 0 ? brivo::kFaultInvalid : brivo::kFaultNone;
  if (a.raidLevel == brivo::kRaid1) lost = failed == a.driveCount;
  if (a.raidLevel == brivo::kRaid3 || a.raidLevel == brivo::kRaid5) lost = failed > 1;
  if (a.raidLevel == brivo::kRaid6) lost = failed > 2;
  if (a.raidLevel == brivo::kRaid50) {
    for (int count : failedInGroup) lost = lost || count > 1;
  }
  if (lost) return brivo::kFaultInvalid;
  if (rebuilding) return brivo::kFaultRebuilding;
  if (failed > 0) return brivo::kFaultDegraded;
  return a.initialized == brivo::kOn ? brivo::kFaultTolerant : brivo::kFaultUninitialized;
}

void BrivoModel::refresh(const PairState& pair, brivo::ConfigurationBlock& cfg) const {
  (void)pair;
  brivo::ConfigurationHeader& h = cfg.header;
  h.arrayCount = 0;
  for (int n = 0; n < brivo::kMaxArrays; ++n) {
    brivo::ArrayRecord& a = cfg.arrays[n];
    if (a.valid != brivo::kOn) continue;
    h.arrayCount = static_cast<uint16_t>(n + 1);
    const BrivoJob* job = nullptr;
    for (const BrivoJob& j : jobs_.all()) {
      if (j.array == n && j.kind != brivo::kJobNone) job = &j;
    }
    a.jobKind = job != nullptr ? job->kind : brivo::kJobNone;
    int members = a.driveCount - (job != nullptr && job->kind == brivo::kJobExpansion ? job->mode : 0);
    a.capacityGb = usableCapacity(a.raidLevel, members, a.parityDrives, a.memberCapacityGb);
    a.faultStatus = faultStatus(a);
    a.freeGb = a.capacityGb;
  }
  h.logicalDriveCount = 0;
  for (int d = 0; d < brivo::kMaxLogicalDrives; ++d) {
    brivo::LogicalDriveRecord& ld = cfg.logicalDrives[d];
    if (ld.valid != brivo::kOn) continue;
    h.logicalDriveCount = static_cast<uint16_t>(d + 1);
    ld.number = static_cast<uint16_t>(d);
    uint8_t state = brivo::kDriveOnline;
    for (int s = 0; s < ld.segmentCount && s < brivo::kMaxSegments; ++s) {
      brivo::ArrayRecord& a = cfg.arrays[ld.segments[s].array % brivo::kMaxArrays];
      uint32_t free = a.freeGb;
      uint32_t used = ld.segments[s].sizeGb;
      a.freeGb = free - std::min(free, used);
      uint8_t here = a.faultStatus == brivo::kFaultInvalid ? brivo::kDriveOffline
                     : a.faultStatus == brivo::kFaultDegraded || a.faultStatus == brivo::kFaultRebuilding
                         ? brivo::kDriveDegraded
                     : a.jobKind == brivo::kJobInit ? brivo::kDriveInitializing
                                                    : brivo::kDriveOnline;
      if (here == brivo::kDriveOffline || (here == brivo::kDriveDegraded && state != brivo::kDriveOffline) ||
          (here == brivo::kDriveInitializing && state == brivo::kDriveOnline))
        state = here;
    }
    ld.state = state;
  }
  h.hotSpareCount = 0;
  for (const brivo::SpareRecord& s : cfg.spares) h.hotSpareCount += s.valid == brivo::kOn ? 1 : 0;
  h.mappingCount = cfg.mapping.count;
}

void BrivoModel::refreshAll(const PairState& pair) {
  refresh(pair, config_.live());
  if (config_.change() != nullptr) refresh(pair, *config_.change());
}

}  // namespace sim
