// Building a storage layout on a pair; see layout_plan.h.
#include "modules/brivo/pages/layout_plan.h"

#include <cstring>
#include <memory>
#include <set>

#include "modules/brivo/pages/lun_rules.h"

namespace brivo {

namespace {

bool sameWwn(const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, 8) == 0; }

// The configuration's array whose members are exactly the planned ones, or -1.
int madeArray(const ConfigurationBlock& config, const CreateArrayBlock& block) {
  for (int n = 0; n < kMaxArrays; ++n) {
    const ArrayRecord& a = config.arrays[n];
    if (a.valid != kOn || a.driveCount != block.driveCount) continue;
    bool all = true;
    for (int m = 0; m < block.driveCount && all; ++m) all = sameWwn(a.memberWwn[m], block.driveWwn[m]);
    if (all) return n;
  }
  return -1;
}

// The first free region of array n: its index among the free regions and its size.
bool freeRegionOf(const RegionInformation& regions, int n, uint16_t* index, uint32_t* sizeGb) {
  for (int i = 0; i < regions.count && i < kMaxRegions; ++i) {
    const RegionEntry& e = regions.entries[i];
    if (e.kind == kRegionFree && e.array == n && e.sizeGb > 0) {
      *index = e.freeIndex;
      *sizeGb = e.sizeGb;
      return true;
    }
  }
  return false;
}

uint16_t cappedSize(uint32_t planned, uint32_t available) {
  const uint32_t size = planned == 0 || planned > available ? available : planned;
  return static_cast<uint16_t>(size > 0xFFFF ? 0xFFFF : size);
}

struct Builder {
  const PairTarget& pair;
  const LayoutPlan& plan;
  LayoutOutcome outcome;
  std::vector<int> numbers;  // the controller's number of each planned array
  std::set<int> usedDriveNumbers;

  bool fail(int result) {
    outcome.result = result;
    return false;
  }

  bool createArrays() {
    const int result = inConfigChange(pair, &outcome.failed, [&] {
      for (const PlannedArray& array : plan.arrays) {
        const int sent =
            sendOperation(pair, kOpCreateArray, 0, 0, 0, &array.block, sizeof(array.block), &outcome.failed);
        if (sent != kResultGood) return sent;
        ++outcome.arraysMade;
      }
      return addSpares(true);
    });
    if (result != kResultGood) {
      outcome.arraysMade = 0;
      outcome.sparesMade = 0;
      return fail(result);
    }
    return true;
  }

  int addSpares(bool global) {
    for (const PlannedSpare& spare : plan.spares) {
      if ((spare.array < 0) != global) continue;
      HotSpareBlock block{};
      std::memcpy(block.wwn, spare.wwn, sizeof(block.wwn));
      block.array = global ? kSpareGlobal : static_cast<uint8_t>(numbers[spare.array]);
      const int sent = sendOperation(pair, kOpAddHotSpare, 0, 0, 0, &block, sizeof(block), &outcome.failed);
      if (sent != kResultGood) return sent;
      ++outcome.sparesMade;
    }
    return kResultGood;
  }

  bool findArrays() {
    std::unique_ptr<ConfigurationBlock> config = newConfigurationBlock();
    if (config == nullptr) return fail(kResultBadArguments);
    const int result = readConfiguration(pair, config.get(), &outcome.failed);
    if (result != kResultGood) return fail(result);
    for (const PlannedArray& array : plan.arrays) {
      const int n = madeArray(*config, array.block);
      if (n < 0) return fail(kResultBadArguments);
      numbers.push_back(n);
    }
    for (const LogicalDriveRecord& d : config->logicalDrives) {
      if (d.valid == kOn) usedDriveNumbers.insert(d.number);
    }
    return true;
  }

  bool dedicatedSpares() {
    bool any = false;
    for (const PlannedSpare& spare : plan.spares) any = any || spare.array >= 0;
    if (!any) return true;
    const int result = inConfigChange(pair, &outcome.failed, [&] { return addSpares(false); });
    return result == kResultGood || fail(result);
  }

  int nextNumber() const {
    for (int n = 0; n < kMaxLogicalDrives; ++n) {
      if (usedDriveNumbers.count(n) == 0) return n;
    }
    return -1;
  }

  // One segment: the first free region of its array; false (result set) when none is left.
  bool regionFor(const PlannedSegment& segment, uint16_t* index, uint16_t* sizeGb) {
    auto regions = std::make_unique<RegionInformation>();
    const int result = readFreeRegions(pair, regions.get(), &outcome.failed);
    if (result != kResultGood) return fail(result);
    uint32_t available = 0;
    const int n = segment.existing >= 0 ? segment.existing : numbers[segment.array];
    if (!freeRegionOf(*regions, n, index, &available)) return fail(kResultBadArguments);
    *sizeGb = cappedSize(segment.sizeGb, available);
    return true;
  }

  bool createDrive(const PlannedDrive& drive) {
    const int number = nextNumber();
    if (number < 0) return fail(kResultBadArguments);
    CreateLogicalDriveBlock block{};
    if (!regionFor(drive.segments.front(), &block.region, &block.sizeGb)) return false;
    block.availability = drive.availability;
    block.blockSizeCode = drive.blockSizeCode;
    std::memcpy(block.name, drive.name.data(), std::min(drive.name.size(), sizeof(block.name)));
    int result = inConfigChange(pair, &outcome.failed, [&] {
      int sent = sendOperation(pair, kOpCreateLogicalDrive, 0, 0, 0, &block, sizeof(block), &outcome.failed);
      if (sent != kResultGood || drive.hostLun < 0) return sent;
      SetHostLunBlock lun{static_cast<uint16_t>(number), static_cast<uint16_t>(drive.hostLun)};
      return sendOperation(pair, kOpSetHostLun, 0, 0, 0, &lun, sizeof(lun), &outcome.failed);
    });
    if (result != kResultGood) return fail(result);
    usedDriveNumbers.insert(number);
    for (size_t s = 1; s < drive.segments.size(); ++s) {
      GrowLogicalDriveBlock grow{};
      if (!regionFor(drive.segments[s], &grow.region, &grow.sizeGb)) return false;
      result = inConfigChange(pair, &outcome.failed, [&] {
        return sendOperation(pair, kOpGrowLogicalDrive, static_cast<uint8_t>(number >> 8),
                             static_cast<uint8_t>(number & 0xFF), 0, &grow, sizeof(grow), &outcome.failed);
      });
      if (result != kResultGood) return fail(result);
    }
    ++outcome.drivesMade;
    return true;
  }
};

}  // namespace

bool raidLevelFits(uint8_t level, int count) {
  if (count < 1 || count > kMaxMembers) return false;
  switch (level) {
    case kRaid0:
      return true;
    case kRaid1:
      return count >= 2;
    case kRaid3:
    case kRaid5:
      return count >= 3;
    case kRaid6:
    case kRaid10:
      return count >= 4 && (level == kRaid6 || count % 2 == 0);
    case kRaid50:
      return count >= 6 && count % 2 == 0;
    default:
      return false;
  }
}

std::string checkLayout(const LayoutPlan& plan, const DriveList& drives, const ConfigurationBlock& config,
                        std::string* what) {
  what->clear();
  if (plan.arrays.empty() && plan.spares.empty() && plan.drives.empty()) return "LayoutEmpty";
  int freeArrays = 0;
  for (const ArrayRecord& a : config.arrays) freeArrays += a.valid == kOn ? 0 : 1;
  if (static_cast<int>(plan.arrays.size()) > freeArrays) return "LayoutTooMany";
  std::vector<const uint8_t*> named;
  auto claim = [&](const uint8_t* wwn) -> std::string {
    *what = wwnText(wwn);
    for (const uint8_t* seen : named) {
      if (sameWwn(seen, wwn)) return "LayoutDriveTwice";
    }
    named.push_back(wwn);
    const DriveListEntry* d = driveWithWwn(drives, wwn);
    if (d == nullptr) return "LayoutDriveMissing";
    if (d->status != kDriveGood || d->usage != kUsageFree) return "LayoutDriveInUse";
    return "";
  };
  for (size_t i = 0; i < plan.arrays.size(); ++i) {
    const CreateArrayBlock& block = plan.arrays[i].block;
    if (!raidLevelFits(block.raidLevel, block.driveCount)) {
      *what = std::to_string(i);
      return "LayoutBadLevel";
    }
    for (int m = 0; m < block.driveCount; ++m) {
      const std::string problem = claim(block.driveWwn[m]);
      if (!problem.empty()) return problem;
    }
  }
  for (const PlannedSpare& spare : plan.spares) {
    const std::string problem = claim(spare.wwn);
    if (!problem.empty()) return problem;
  }
  std::set<int> luns;
  for (const LogicalDriveRecord& d : config.logicalDrives) {
    if (d.valid == kOn && d.hostLun != kLunNone) luns.insert(d.hostLun);
  }
  int freeDrives = 0;
  for (const LogicalDriveRecord& d : config.logicalDrives) freeDrives += d.valid == kOn ? 0 : 1;
  if (static_cast<int>(plan.drives.size()) > freeDrives) return "LayoutTooMany";
  for (const PlannedDrive& drive : plan.drives) {
    for (const PlannedSegment& segment : drive.segments) {
      const bool known = segment.existing >= 0
                             ? segment.existing < kMaxArrays && config.arrays[segment.existing].valid == kOn
                             : segment.array >= 0 && segment.array < static_cast<int>(plan.arrays.size());
      *what = std::to_string(segment.existing >= 0 ? segment.existing : segment.array);
      if (!known) return "LayoutNoArray";
    }
    if (drive.segments.empty()) return "LayoutNoArray";
    if (drive.hostLun < 0) continue;
    *what = std::to_string(drive.hostLun);
    if (drive.hostLun >= kMaxHostLuns || !luns.insert(drive.hostLun).second) return "LayoutHostLunTaken";
  }
  what->clear();
  return "";
}

LayoutOutcome applyLayout(const PairTarget& pair, const LayoutPlan& plan) {
  Builder builder{pair, plan, {}, {}, {}};
  const bool arrays = plan.arrays.empty() && plan.spares.empty()
                          ? builder.findArrays()
                          : builder.createArrays() && builder.findArrays();
  if (arrays && builder.dedicatedSpares()) {
    for (const PlannedDrive& drive : plan.drives) {
      if (!builder.createDrive(drive)) break;
    }
  }
  if (builder.outcome.arraysMade > 0 || builder.outcome.sparesMade > 0) waitUntilReady(pair);
  return builder.outcome;
}

}  // namespace brivo
