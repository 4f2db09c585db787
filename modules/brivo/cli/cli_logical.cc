// The `logical` commands that change logical drives: create, expand, delete and set (all between
// 0x80 and 0x82) and identify (blinking the member disks of the drive's arrays). The display is in
// cli_logical_display.cc.
//
// Capacity comes from the free regions of the array named by -ai (READ BUFFER 0x20, free regions
// only), used in order: the first piece creates the drive (0x91), every later one grows it (0xA5).
// A region that a piece uses up leaves the free-region list, so the indexes of the regions after it
// move down by one; a piece that leaves part of a region keeps that region's index. Pieces are at
// most 65535 GB (the block's size field).
//
// Thread safety: one command at a time (cli_context.h).
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_logical_plan.h"
#include "modules/brivo/cli/cli_storage.h"

namespace brivo::cli {

namespace {

constexpr uint8_t kAllPorts = 0x0F;

// -sz in GB, or "all" for every free GB of the array (size 0 stands for that).
bool parseSize(CliContext& ctx, const char* word, uint64_t* gb, bool* all) {
  long value = 0;
  if (!parseNumberOrAll(word, 0, &value)) {
    writeText(ctx, "Error: Parsing size value. Not a number.\n");
    return false;
  }
  *all = word != nullptr && strcasecmp(word, "all") == 0;
  if (!*all && value == 0) {
    writeText(ctx, "Error: Parsing size value. Out of range.\n");
    return false;
  }
  *gb = static_cast<uint64_t>(value);
  return true;
}

// -lun: a host LUN 0-511, or "none" when allowNone.
bool parseLun(CliContext& ctx, const char* word, bool allowNone, uint16_t* lun) {
  if (allowNone && word != nullptr && strcasecmp(word, "none") == 0) {
    *lun = kLunNone;
    return true;
  }
  long value = 0;
  if (!parseNumber(word, &value)) {
    writeText(ctx, "Error: Parsing LUN value. Not a number.\n");
    return false;
  }
  if (value >= kMaxHostLuns) {
    writeText(ctx, "Error: Parsing LUN value. Out of range.\n");
    return false;
  }
  *lun = static_cast<uint16_t>(value);
  return true;
}

// The drive other than `self` that has host LUN lun, or -1.
int lunOwner(const ConfigurationBlock& config, uint16_t lun, int self) {
  for (int d = 0; d < kMaxLogicalDrives; ++d) {
    const LogicalDriveRecord& ld = config.logicalDrives[d];
    if (d != self && ld.valid == kOn && ld.hostLun == lun) return d;
  }
  return -1;
}

uint16_t lowestFreeLun(const ConfigurationBlock& config) {
  for (int lun = 0; lun < kMaxHostLuns; ++lun) {
    if (lunOwner(config, static_cast<uint16_t>(lun), -1) < 0 && lun != config.header.controllerLun) {
      return static_cast<uint16_t>(lun);
    }
  }
  return kLunNone;
}

// The pieces for gb (0: everything free) on array; false after an error line.
bool planCapacity(CliContext& ctx, int array, uint64_t gb, const std::string& operation,
                  std::vector<CapacityPiece>* pieces, uint64_t* total) {
  auto regions = std::make_unique<RegionInformation>();
  ControllerCommand failed{};
  const int result = readFreeRegions(ctx.pair, regions.get(), &failed);
  if (result != kResultGood) {
    writeCommandFailure(ctx, operation, result, failed);
    return false;
  }
  const uint64_t available = freeOnArray(*regions, array);
  if (available == 0 || gb > available) {
    writeText(ctx, "Error: Not enough free space on array %d: %s free.\n", array,
              sizeText(available).c_str());
    return false;
  }
  *total = gb == 0 ? available : gb;
  *pieces = planPieces(*regions, array, *total);
  return true;
}

int sendPieces(CliContext& ctx, int drive, const std::vector<CapacityPiece>& pieces, size_t first,
               ControllerCommand* failed) {
  for (size_t i = first; i < pieces.size(); ++i) {
    GrowLogicalDriveBlock grow{};
    grow.sizeGb = pieces[i].sizeGb;
    grow.region = pieces[i].region;
    const int result = sendOperation(ctx.pair, kOpGrowLogicalDrive, static_cast<uint8_t>(drive >> 8),
                                     static_cast<uint8_t>(drive & 0xFF), 0, &grow, sizeof(grow), failed);
    if (result != kResultGood) return result;
  }
  return kResultGood;
}

int setHostLun(CliContext& ctx, int drive, uint16_t lun, ControllerCommand* failed) {
  SetHostLunBlock block{};
  block.logicalDrive = static_cast<uint16_t>(drive);
  block.hostLun = lun;
  return sendOperation(ctx.pair, kOpSetHostLun, 0, 0, 0, &block, sizeof(block), failed);
}

std::string lunText(uint16_t lun) { return lun == kLunNone ? "none" : std::to_string(lun); }

}  // namespace

int logicalCreate(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int array = 0;
  uint64_t gb = 0;
  bool all = false;
  std::string name;
  uint8_t ports = kAllPorts;
  if (!findArray(ctx, modifierValue(ctx, kModArrayId), &array) ||
      !parseSize(ctx, modifierValue(ctx, kModSize), &gb, &all) ||
      !parseName(ctx, "Logical Drive", modifierValue(ctx, kModName), sizeof(LogicalDriveRecord::name),
                 &name)) {
    return 1;
  }
  if (hasModifier(ctx, kModPorts) && !parsePorts(ctx, modifierValues(ctx, kModPorts), &ports)) return 1;
  uint16_t lun = lowestFreeLun(*ctx.config);
  if (const char* word = modifierValue(ctx, kModLun)) {
    if (!parseLun(ctx, word, false, &lun)) return 1;
    const int owner = lunOwner(*ctx.config, lun, -1);
    if (owner >= 0) {
      writeText(ctx, "Error: Host LUN %d is already used by Logical Drive %d.\n", lun, owner);
      return 1;
    }
  }
  int drive = 0;
  while (drive < kMaxLogicalDrives && ctx.config->logicalDrives[drive].valid == kOn) ++drive;
  if (drive == kMaxLogicalDrives) {
    writeText(ctx, "Error: No room for another Logical Drive.\n");
    return 1;
  }
  std::vector<CapacityPiece> pieces;
  uint64_t total = 0;
  if (!planCapacity(ctx, array, all ? 0 : gb, "create Logical Drive", &pieces, &total)) return 1;
  const bool created = changeConfiguration(ctx, "create Logical Drive", [&](ControllerCommand* failed) {
    CreateLogicalDriveBlock block{};
    block.sizeGb = pieces[0].sizeGb;
    block.region = pieces[0].region;
    block.availability = ports;
    std::memcpy(block.name, name.data(), name.size());
    int result = sendOperation(ctx.pair, kOpCreateLogicalDrive, 0, 0, 0, &block, sizeof(block), failed);
    if (result == kResultGood) result = sendPieces(ctx, drive, pieces, 1, failed);
    if (result == kResultGood && lun != kLunNone) result = setHostLun(ctx, drive, lun, failed);
    return result;
  });
  if (!created) return 1;
  writeText(ctx, "Logical Drive %d created: \"%s\", %s on array %d, host LUN %s, ports %s.\n", drive,
            name.c_str(), sizeText(total).c_str(), array, lunText(lun).c_str(), portsText(ports).c_str());
  return 0;
}

int logicalExpand(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int array = 0;
  int drive = 0;
  uint64_t gb = 0;
  bool all = false;
  if (!findArray(ctx, modifierValue(ctx, kModArrayId), &array) ||
      !findLogicalDrive(ctx, modifierValue(ctx, kModLogicalId), &drive) ||
      !parseSize(ctx, modifierValue(ctx, kModSize), &gb, &all)) {
    return 1;
  }
  std::vector<CapacityPiece> pieces;
  uint64_t total = 0;
  if (!planCapacity(ctx, array, all ? 0 : gb, "expand Logical Drive", &pieces, &total)) return 1;
  const bool grown = changeConfiguration(ctx, "expand Logical Drive", [&](ControllerCommand* failed) {
    return sendPieces(ctx, drive, pieces, 0, failed);
  });
  if (!grown) return 1;
  const uint64_t size = ctx.config->logicalDrives[drive].sizeGb + total;
  writeText(ctx, "Logical Drive %d expanded by %s on array %d to %s.\n", drive, sizeText(total).c_str(),
            array, sizeText(size).c_str());
  return 0;
}

int logicalDelete(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  std::vector<int> drives;
  if (!findLogicalDrives(ctx, modifierValues(ctx, kModLogicalId), &drives)) return 1;
  std::sort(drives.begin(), drives.end());
  drives.erase(std::unique(drives.begin(), drives.end()), drives.end());
  const bool deleted = changeConfiguration(ctx, "delete Logical Drive", [&](ControllerCommand* failed) {
    for (int drive : drives) {
      const int result = sendOperation(ctx.pair, kOpDeleteLogicalDrive, static_cast<uint8_t>(drive >> 8),
                                       static_cast<uint8_t>(drive & 0xFF), 0, nullptr, 0, failed);
      if (result != kResultGood) return result;
    }
    return kResultGood;
  });
  if (!deleted) return 1;
  for (int drive : drives) writeText(ctx, "Logical Drive %d deleted.\n", drive);
  return 0;
}

int logicalSet(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int drive = 0;
  if (!findLogicalDrive(ctx, modifierValue(ctx, kModLogicalId), &drive)) return 1;
  const char* nameWord = modifierValue(ctx, kModName);
  const char* lunWord = modifierValue(ctx, kModLun);
  const bool portsGiven = hasModifier(ctx, kModPorts);
  std::string name;
  uint8_t ports = 0;
  uint16_t lun = kLunNone;
  if (nameWord != nullptr &&
      !parseName(ctx, "Logical Drive", nameWord, sizeof(LogicalDriveRecord::name), &name)) {
    return 1;
  }
  if (portsGiven && !parsePorts(ctx, modifierValues(ctx, kModPorts), &ports)) return 1;
  if (lunWord != nullptr) {
    if (!parseLun(ctx, lunWord, true, &lun)) return 1;
    const int owner = lun == kLunNone ? -1 : lunOwner(*ctx.config, lun, drive);
    if (owner >= 0) {
      writeText(ctx, "Error: Host LUN %d is already used by Logical Drive %d.\n", lun, owner);
      return 1;
    }
  }
  if (nameWord == nullptr && lunWord == nullptr && !portsGiven) {
    writeText(ctx, "Error: Nothing to set. Give -n, -p or -lun.\n");
    return 1;
  }
  const uint8_t high = static_cast<uint8_t>(drive >> 8);
  const uint8_t low = static_cast<uint8_t>(drive & 0xFF);
  const bool saved =
      changeConfiguration(ctx, "change Logical Drive settings", [&](ControllerCommand* failed) {
        int result = kResultGood;
        if (portsGiven)
          result = sendOperation(ctx.pair, kOpChangeAvailability, high, low, ports, nullptr, 0, failed);
        if (result == kResultGood && nameWord != nullptr) {
          NameBlock32 block{};
          std::memcpy(block.name, name.data(), name.size());
          result =
              sendOperation(ctx.pair, kOpRenameLogicalDrive, high, low, 0, &block, sizeof(block), failed);
        }
        if (result == kResultGood && lunWord != nullptr) result = setHostLun(ctx, drive, lun, failed);
        return result;
      });
  if (!saved) return 1;
  writeText(ctx, "Logical Drive %d settings changed.\n", drive);
  return 0;
}

int logicalIdentify(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  int seconds = 0;
  if (!parseBlinkSeconds(ctx, modifierValue(ctx, kModTime), &seconds)) return 1;
  std::vector<int> drives;
  std::vector<std::string> words = modifierValues(ctx, kModLogicalId);
  if (words.empty()) words.push_back("all");
  if (!findLogicalDrives(ctx, words, &drives)) return 1;
  for (int drive : drives) {
    const LogicalDriveRecord& ld = ctx.config->logicalDrives[drive];
    std::vector<int> blinked;
    std::vector<int> arrays;
    ControllerCommand failed{};
    int result = kResultGood;
    for (int s = 0; s < std::min<int>(ld.segmentCount, kMaxSegments) && result == kResultGood; ++s) {
      const int array = ld.segments[s].array;
      if (array >= kMaxArrays || std::find(arrays.begin(), arrays.end(), array) != arrays.end()) continue;
      arrays.push_back(array);
      result = blinkArrayMembers(ctx, array, seconds, &failed, &blinked);
    }
    if (result != kResultGood) {
      writeCommandFailure(ctx, "blink Logical Drive " + std::to_string(drive), result, failed);
      return 1;
    }
    writeText(ctx, "Logical Drive %d: disks %s blink for %d seconds.\n", drive, idListText(blinked).c_str(),
              seconds);
  }
  return 0;
}

}  // namespace brivo::cli
