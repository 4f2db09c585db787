// The `array` commands that act on arrays: create, delete, expand, set (configuration changes
// between 0x80 and 0x82), initialize, check, rebuild and identify (operations outside the
// bracket). The display is in cli_array_display.cc.
//
// Cache settings: -rc is the read-ahead size (auto, disabled, 256-2048 KB), -wc the write-back size
// (disabled, 1-256 MB in powers of two, max); -wc1, -wc2 and -wc3 switch cache mirroring, the UPS
// and the battery protection of the write-back cache (on/off). -tr trusts the drives' contents: the
// array is created without an initialisation.
//
// Thread safety: one command at a time (cli_context.h).
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_storage.h"

namespace brivo::cli {

namespace {

constexpr uint16_t kDefaultWriteBackMb = 16;
constexpr uint8_t kDefaultUnusedPercent = 1;

// A number modifier within [low, high]: "Error: Parsing <what>. Not a number." / "... Out of range.".
bool parseRange(CliContext& ctx, const char* what, const char* word, long low, long high, long* out) {
  long value = 0;
  if (!parseNumber(word, &value)) {
    writeText(ctx, "Error: Parsing %s. Not a number.\n", what);
    return false;
  }
  if (value < low || value > high) {
    writeText(ctx, "Error: Parsing %s. Out of range.\n", what);
    return false;
  }
  *out = value;
  return true;
}

bool parseReadAhead(CliContext& ctx, const char* word, uint16_t* kb) {
  if (strcasecmp(word, "auto") == 0) {
    *kb = 0;
    return true;
  }
  if (strcasecmp(word, "disabled") == 0) {
    *kb = kReadAheadDisabled;
    return true;
  }
  long value = 0;
  if (parseNumber(word, &value) && (value == 256 || value == 512 || value == 1024 || value == 2048)) {
    *kb = static_cast<uint16_t>(value);
    return true;
  }
  writeText(ctx, "Error: Parsing read cache value. Out of range.\n");
  return false;
}

bool parseWriteBack(CliContext& ctx, const char* word, uint16_t* mb) {
  if (strcasecmp(word, "disabled") == 0) {
    *mb = 0;
    return true;
  }
  if (strcasecmp(word, "max") == 0) {
    *mb = kWriteBackMaximum;
    return true;
  }
  long value = 0;
  if (parseNumber(word, &value) && value >= 1 && value <= 256 && (value & (value - 1)) == 0) {
    *mb = static_cast<uint16_t>(value);
    return true;
  }
  writeText(ctx, "Error: Parsing write cache value. Out of range.\n");
  return false;
}

bool parseOnOff(CliContext& ctx, const char* what, const char* word, bool* on) {
  for (const char* yes : {"on", "enabled", "enable", "yes", "true", "1"}) {
    if (strcasecmp(word, yes) == 0) {
      *on = true;
      return true;
    }
  }
  for (const char* no : {"off", "disabled", "disable", "no", "false", "0"}) {
    if (strcasecmp(word, no) == 0) {
      *on = false;
      return true;
    }
  }
  writeText(ctx, "Error: Parsing %s. Values are on and off.\n", what);
  return false;
}

// The cache settings of -rc, -wc, -wc1, -wc2 and -wc3 applied over the current ones.
struct CacheSettings {
  uint16_t readAheadKb = 0;
  uint16_t writeBackMb = kDefaultWriteBackMb;
  uint8_t flags = kCacheWriteBack | kCacheMirror;
};

bool parseCache(CliContext& ctx, CacheSettings* cache, bool* changed) {
  *changed = false;
  if (const char* word = modifierValue(ctx, kModReadCache)) {
    if (!parseReadAhead(ctx, word, &cache->readAheadKb)) return false;
    *changed = true;
  }
  if (const char* word = modifierValue(ctx, kModWriteCache)) {
    if (!parseWriteBack(ctx, word, &cache->writeBackMb)) return false;
    *changed = true;
  }
  struct FlagModifier {
    ModifierId id;
    const char* what;
    uint8_t bit;
  };
  static constexpr FlagModifier kFlags[] = {{kModWriteCache1, "cache mirror value", kCacheMirror},
                                            {kModWriteCache2, "cache UPS value", kCacheUps},
                                            {kModWriteCache3, "cache battery value", kCacheBattery}};
  for (const FlagModifier& f : kFlags) {
    const char* word = modifierValue(ctx, f.id);
    if (word == nullptr) continue;
    bool on = false;
    if (!parseOnOff(ctx, f.what, word, &on)) return false;
    cache->flags = static_cast<uint8_t>(on ? cache->flags | f.bit : cache->flags & ~f.bit);
    *changed = true;
  }
  cache->flags = static_cast<uint8_t>(cache->writeBackMb != 0 ? cache->flags | kCacheWriteBack
                                                              : cache->flags & ~kCacheWriteBack);
  return true;
}

// The codes of 0x9C for the sizes an array record keeps.
uint8_t readAheadCode(uint16_t kb) {
  switch (kb) {
    case kReadAheadDisabled:
      return 1;
    case 256:
      return 2;
    case 512:
      return 3;
    case 1024:
      return 4;
    case 2048:
      return 5;
    default:
      return 0;
  }
}

uint8_t writeBackCode(uint16_t mb) {
  if (mb == 0) return 0;
  if (mb == kWriteBackMaximum) return 10;
  uint8_t code = 1;
  while (code < 9 && (1u << code) <= mb) ++code;  // the largest power of two not above mb
  return code;
}

// The fewest members of a level (and, for RAID 50, the group rule); false with the error line.
bool layoutFits(CliContext& ctx, uint8_t level, int members, int groups) {
  int least = 1;
  switch (level) {
    case kRaid1:
      least = 2;
      break;
    case kRaid3:
    case kRaid5:
      least = 3;
      break;
    case kRaid6:
    case kRaid10:
      least = 4;
      break;
    case kRaid50:
      least = 3 * groups;
      break;
    default:
      break;
  }
  if (members < least) {
    writeText(ctx, "Error: %s needs at least %d disks.\n", raidLevelText(level).c_str(), least);
    return false;
  }
  if ((level == kRaid10 && members % 2 != 0) || (level == kRaid50 && members % groups != 0)) {
    writeText(ctx, "Error: %s needs the disks in equal groups.\n", raidLevelText(level).c_str());
    return false;
  }
  return true;
}

int lowestFreeArray(const ConfigurationBlock& config) {
  for (int n = 0; n < kMaxArrays; ++n) {
    if (config.arrays[n].valid != kOn) return n;
  }
  return -1;
}

// -r and -sub for an array of members disks: the level's code and, for RAID 50, the number of groups (each
// with one parity disk); false after an error line.
bool parseLayout(CliContext& ctx, int members, uint8_t* level, long* groups) {
  long number = 0;
  if (!parseNumber(modifierValue(ctx, kModRaidLevel), &number)) {
    writeText(ctx, "Error: Parsing RAID level. Not a number.\n");
    return false;
  }
  if (!raidLevelFromNumber(number, level)) {
    writeText(ctx, "Error: Parsing RAID level. Out of range.\n");
    return false;
  }
  *groups = *level == kRaid50 ? 2 : 0;
  if (const char* word = modifierValue(ctx, kModSubArrays)) {
    if (*level != kRaid50) {
      writeText(ctx, "Error: Parsing sub-array count. Only RAID 50 has sub-arrays.\n");
      return false;
    }
    if (!parseRange(ctx, "sub-array count", word, 2, kMaxMembers / 3, groups)) return false;
  }
  return layoutFits(ctx, *level, members, static_cast<int>(*groups));
}

// The create block from the modifiers; false after an error line.
bool buildCreateBlock(CliContext& ctx, CreateArrayBlock* block, std::string* name,
                      std::vector<const DriveListEntry*>* drives) {
  if (!parseName(ctx, "Array", modifierValue(ctx, kModName), sizeof(block->name), name)) return false;
  const std::vector<std::string> ids = modifierValues(ctx, kModDiskId);
  if (ids.size() > static_cast<size_t>(kMaxMembers)) {
    writeText(ctx, "Error: Too many disks specified for array.\n");
    return false;
  }
  if (!findDrives(ctx, ids, true, drives)) return false;
  uint8_t level = 0;
  long groups = 0;
  if (!parseLayout(ctx, static_cast<int>(drives->size()), &level, &groups)) return false;
  long stripe = 64;
  if (const char* word = modifierValue(ctx, kModStripeSize)) {
    if (!parseRange(ctx, "stripe size", word, 64, 256, &stripe)) return false;
    if (stripe != 64 && stripe != 128 && stripe != 256) {
      writeText(ctx, "Error: Parsing stripe size. Out of range.\n");
      return false;
    }
  }
  long backoff = kDefaultUnusedPercent;
  const char* backoffWord = modifierValue(ctx, kModBackoff);
  if (backoffWord != nullptr && !parseRange(ctx, "backoff percent", backoffWord, 0, 99, &backoff))
    return false;
  CacheSettings cache;
  bool changed = false;
  if (!parseCache(ctx, &cache, &changed)) return false;
  const bool trust = hasModifier(ctx, kModTransferRate);

  *block = CreateArrayBlock{};
  block->raidLevel = level;
  block->driveCount = static_cast<uint8_t>(drives->size());
  block->chunkSizeKb = static_cast<uint16_t>(stripe);
  for (size_t i = 0; i < drives->size(); ++i) std::memcpy(block->driveWwn[i], (*drives)[i]->wwn, 8);
  block->parityDrives = level == kRaid6 ? 2 : static_cast<uint8_t>(groups);
  block->cacheFlags = cache.flags;
  block->cacheFlush = 0xFF;
  block->readAheadKb = cache.readAheadKb;
  block->writeBackMb = cache.writeBackMb;
  block->initialize = trust ? 0 : 1;
  block->unusedPercent = static_cast<uint8_t>(backoff);
  std::memcpy(block->name, name->data(), name->size());
  return true;
}

}  // namespace

int arrayCreate(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  CreateArrayBlock block;
  std::string name;
  std::vector<const DriveListEntry*> drives;
  if (!buildCreateBlock(ctx, &block, &name, &drives)) return 1;
  if (lowestFreeArray(*ctx.config) < 0) {
    writeText(ctx, "Error: No room for another array.\n");
    return 1;
  }
  const int number = lowestFreeArray(*ctx.config);
  const bool created = changeConfiguration(ctx, "create array", [&](ControllerCommand* failed) {
    return sendOperation(ctx.pair, kOpCreateArray, 0, 0, 0, &block, sizeof(block), failed);
  });
  if (!created) return 1;
  std::vector<int> ids;
  for (const DriveListEntry* drive : drives) ids.push_back(driveIndex(*ctx.drives, drive));
  writeText(ctx, "Array %d created: \"%s\", %s on disks %s.\n", number, name.c_str(),
            raidLevelText(block.raidLevel).c_str(), idListText(ids).c_str());
  if (block.initialize != 0 && block.raidLevel != kRaid0) {
    writeText(ctx, "Initialization started (job %d).\n", jobId(kJobInit, number));
  }
  return 0;
}

int arrayDelete(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int array = 0;
  if (!findArray(ctx, modifierValue(ctx, kModArrayId), &array)) return 1;
  std::vector<int> holders;
  for (int d = 0; d < kMaxLogicalDrives; ++d) {
    const LogicalDriveRecord& ld = ctx.config->logicalDrives[d];
    bool here = false;
    for (int s = 0; ld.valid == kOn && s < std::min<int>(ld.segmentCount, kMaxSegments); ++s) {
      here = here || ld.segments[s].array == array;
    }
    if (here) holders.push_back(d);
  }
  if (!holders.empty()) {
    writeText(ctx, "Error: Array %d holds Logical Drives %s. Delete them first.\n", array,
              idListText(holders).c_str());
    return 1;
  }
  const bool deleted =
      changeConfiguration(ctx, "delete array " + std::to_string(array), [&](ControllerCommand* f) {
        return sendOperation(ctx.pair, kOpDeleteArray, 0, static_cast<uint8_t>(array), 0, nullptr, 0, f);
      });
  if (!deleted) return 1;
  writeText(ctx, "Array %d deleted.\n", array);
  return 0;
}

int arrayExpand(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int array = 0;
  if (!findArray(ctx, modifierValue(ctx, kModArrayId), &array)) return 1;
  const ArrayRecord& a = ctx.config->arrays[array];
  const std::vector<std::string> ids = modifierValues(ctx, kModDiskId);
  if (a.driveCount + ids.size() > static_cast<size_t>(kMaxMembers)) {
    writeText(ctx, "Error: Too many disks specified for array expansion.\n");
    return 1;
  }
  std::vector<const DriveListEntry*> drives;
  if (!findDrives(ctx, ids, true, &drives)) return 1;
  ExpandArrayBlock block{};
  block.array = static_cast<uint8_t>(array);
  block.driveCount = static_cast<uint8_t>(drives.size());
  block.parityGiven = kOff;
  if (const char* word = modifierValue(ctx, kModSubArrays)) {
    long groups = 0;
    if (a.raidLevel != kRaid50) {
      writeText(ctx, "Error: Parsing sub-array count. Only RAID 50 has sub-arrays.\n");
      return 1;
    }
    if (!parseRange(ctx, "sub-array count", word, 2, kMaxMembers / 3, &groups)) return 1;
    block.parityGiven = kOn;
    block.parityDrives = static_cast<uint8_t>(groups);
  }
  for (size_t i = 0; i < drives.size(); ++i) std::memcpy(block.driveWwn[i], drives[i]->wwn, 8);
  const bool expanded = changeConfiguration(ctx, "expand array", [&](ControllerCommand* failed) {
    return sendOperation(ctx.pair, kOpExpandArray, 0, 0, 0, &block, sizeof(block), failed);
  });
  if (!expanded) return 1;
  std::vector<int> added;
  for (const DriveListEntry* drive : drives) added.push_back(driveIndex(*ctx.drives, drive));
  writeText(ctx, "Array %d expansion started with disks %s (job %d).\n", array, idListText(added).c_str(),
            jobId(kJobExpansion, array));
  return 0;
}

int arraySet(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int array = 0;
  if (!findArray(ctx, modifierValue(ctx, kModArrayId), &array)) return 1;
  const ArrayRecord& a = ctx.config->arrays[array];
  std::string name;
  const char* nameWord = modifierValue(ctx, kModName);
  if (nameWord != nullptr && !parseName(ctx, "Array", nameWord, sizeof(a.name), &name)) return 1;
  CacheSettings cache;
  cache.readAheadKb = a.readAheadKb;
  cache.writeBackMb = a.writeBackMb;
  cache.flags = a.cacheFlags;
  bool cacheChanged = false;
  if (!parseCache(ctx, &cache, &cacheChanged)) return 1;
  if (nameWord == nullptr && !cacheChanged) {
    writeText(ctx, "Error: Nothing to set. Give -n, -rc, -wc, -wc1, -wc2 or -wc3.\n");
    return 1;
  }
  const bool saved = changeConfiguration(ctx, "set array", [&](ControllerCommand* failed) {
    const uint8_t n = static_cast<uint8_t>(array);
    if (nameWord != nullptr) {
      NameBlock32 block{};
      std::memcpy(block.name, name.data(), name.size());
      const int result = sendOperation(ctx.pair, kOpRenameArray, n, 0, 0, &block, sizeof(block), failed);
      if (result != kResultGood) return result;
    }
    if (!cacheChanged) return kResultGood;
    const uint8_t codes =
        static_cast<uint8_t>(writeBackCode(cache.writeBackMb) << 4 | readAheadCode(cache.readAheadKb));
    return sendOperation(ctx.pair, kOpChangeArray, n, cache.flags, codes, nullptr, 0, failed);
  });
  if (!saved) return 1;
  writeText(ctx, "Array %d settings changed.\n", array);
  return 0;
}

int arrayInitialize(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int array = 0;
  if (!findArray(ctx, modifierValue(ctx, kModArrayId), &array)) return 1;
  const bool pause = hasModifier(ctx, kModPause);
  const bool resume = hasModifier(ctx, kModUnpause);
  if (pause && resume) {
    writeText(ctx, "Error: -pause and -unpause exclude each other.\n");
    return 1;
  }
  const uint8_t action = pause ? kInitPause : resume ? kInitResume : kInitStart;
  if (!runOperation(ctx, "Initialize Array " + std::to_string(array), kOpInitializeArray,
                    static_cast<uint8_t>(array), action, 0)) {
    return 1;
  }
  writeText(ctx, "Initialization operation successful.\n");
  return 0;
}

int arrayCheck(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int array = 0;
  if (!findArray(ctx, modifierValue(ctx, kModArrayId), &array)) return 1;
  long mode = kParityVerify;
  if (!parseRange(ctx, "mode value", modifierValue(ctx, kModMode), kParityVerify, kParityVerifyRewrite,
                  &mode)) {
    return 1;
  }
  if (!runOperation(ctx, "check array", kOpStartParityCheck, kOff, static_cast<uint8_t>(array),
                    static_cast<uint8_t>(mode))) {
    return 1;
  }
  writeText(ctx, "Parity check (%s) started on array %d (job %d).\n",
            parityModeText(static_cast<uint8_t>(mode)), array, jobId(kJobParity, array));
  return 0;
}

int arrayRebuild(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int array = 0;
  if (!findArray(ctx, modifierValue(ctx, kModArrayId), &array)) return 1;
  const ArrayRecord& a = ctx.config->arrays[array];
  const int members = std::min<int>(a.driveCount, kMaxMembers);
  int member = -1;
  if (const char* failedWord = modifierValue(ctx, kModFailedDiskId)) {
    std::vector<const DriveListEntry*> failedDrive;
    if (!findDrives(ctx, wordsOf(failedWord), false, &failedDrive)) return 1;
    for (int m = 0; m < members; ++m) {
      if (std::memcmp(a.memberWwn[m], failedDrive[0]->wwn, 8) == 0) member = m;
    }
    if (member < 0) {
      writeText(ctx, "Error: Disk %d is not a member of array %d.\n", driveIndex(*ctx.drives, failedDrive[0]),
                array);
      return 1;
    }
  } else {
    for (int m = members - 1; m >= 0; --m) {
      if (a.memberStatus[m] == kMemberFailed || a.memberStatus[m] == kMemberMissing) member = m;
    }
    if (member < 0) {
      writeText(ctx, "Error: Array %d has no failed disk to rebuild.\n", array);
      return 1;
    }
  }
  std::vector<const DriveListEntry*> target;
  if (!findDrives(ctx, wordsOf(modifierValue(ctx, kModDiskId)), false, &target)) return 1;
  const DriveListEntry& drive = *target[0];
  const bool ownDrive = std::memcmp(a.memberWwn[member], drive.wwn, 8) == 0;
  const bool usable = drive.usage == kUsageFree || drive.usage == kUsageGlobalSpare ||
                      (drive.usage == kUsageDedicatedSpare && drive.array == array) || ownDrive;
  if (!usable || drive.status != kDriveGood) {
    writeText(ctx, "Error: Disk not available for use. Disk %d.\n", driveIndex(*ctx.drives, &drive));
    return 1;
  }
  RebuildBlock block{};
  block.array = static_cast<uint8_t>(array);
  block.member = static_cast<uint8_t>(member);
  std::memcpy(block.wwn, drive.wwn, 8);
  if (!runOperation(ctx, "rebuild array " + std::to_string(array), kOpRebuildDrive, 0, 0, 0, &block,
                    sizeof(block))) {
    return 1;
  }
  writeText(ctx, "Rebuild of array %d member %d onto disk %d started (job %d).\n", array, member,
            driveIndex(*ctx.drives, &drive), jobId(kJobRebuild, array));
  return 0;
}

int arrayIdentify(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int seconds = 0;
  if (!parseBlinkSeconds(ctx, modifierValue(ctx, kModTime), &seconds)) return 1;
  std::vector<int> arrays;
  const std::vector<std::string> words = modifierValues(ctx, kModArrayId);
  for (const std::string& word : words) {
    int array = 0;
    if (strcasecmp(word.c_str(), "all") != 0) {
      if (!findArray(ctx, word.c_str(), &array)) return 1;
      arrays.push_back(array);
      continue;
    }
    for (int n = 0; n < kMaxArrays; ++n) {
      if (ctx.config->arrays[n].valid == kOn) arrays.push_back(n);
    }
  }
  if (words.empty()) {
    for (int n = 0; n < kMaxArrays; ++n) {
      if (ctx.config->arrays[n].valid == kOn) arrays.push_back(n);
    }
  }
  if (arrays.empty()) {
    writeText(ctx, "Error: No arrays exist.\n");
    return 1;
  }
  for (int array : arrays) {
    ControllerCommand failed{};
    std::vector<int> blinked;
    const int result = blinkArrayMembers(ctx, array, seconds, &failed, &blinked);
    if (result != kResultGood) {
      writeCommandFailure(ctx, "blink array " + std::to_string(array), result, failed);
      return 1;
    }
    writeText(ctx, "Array %d: disks %s blink for %d seconds.\n", array, idListText(blinked).c_str(), seconds);
  }
  return 0;
}

}  // namespace brivo::cli
