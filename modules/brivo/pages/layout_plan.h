// A storage layout to build on a controller pair: arrays named by their member drives' WWNs,
// logical drives on those arrays, and hot spares. The configuration wizard (DiskConfigWizard /
// DiskConfigWizardSubmit) and the configuration apply (SlmApply) both turn what they received
// into such a plan, check it against the pair and build it with the same commands.
//
// Building (applyLayout): one change creates every array (0x90) and the global spares (0x93);
// the arrays the controller made are then found again in its configuration by their members;
// one change adds the dedicated spares; each logical drive is created in a change of its own
// (0x91 on a free region of its first array, 0xA9 for its host LUN), and grown by one more change
// per further segment (0xA5), each with the region indexes read fresh, because every saved change
// renumbers the free regions. The first failure ends the build; what was saved before it stays
// (the reply says how far it got).
//
// Thread safety: a request thread holding the admission gate as a writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/brivo/pair_access.h"
#include "modules/brivo/protocol.h"

namespace brivo {

struct PlannedArray {
  CreateArrayBlock block{};  // as sent: level, members, cache, name
};
struct PlannedSegment {
  int array = 0;        // index into LayoutPlan::arrays
  int existing = -1;    // >= 0: an array the pair already has (its number), instead of `array`
  uint32_t sizeGb = 0;  // 0: all the free space of that array's region
};
struct PlannedDrive {
  std::vector<PlannedSegment> segments;  // at least one
  std::string name;                      // at most 32 bytes
  int hostLun = -1;                      // -1: none
  uint8_t availability = 0;
  uint16_t blockSizeCode = 0;
};
struct PlannedSpare {
  uint8_t wwn[8] = {};
  int array = -1;  // index into LayoutPlan::arrays; -1 a global spare
};
struct LayoutPlan {
  std::vector<PlannedArray> arrays;
  std::vector<PlannedDrive> drives;
  std::vector<PlannedSpare> spares;
};

// Why a plan does not fit a pair: "" when it fits, else the key of the reason's text in
// CommandStrings.db ("LayoutDriveMissing", "LayoutDriveInUse", "LayoutDriveTwice",
// "LayoutHostLunTaken", "LayoutTooMany", "LayoutEmpty", "LayoutBadLevel", "LayoutNoArray") with
// *what naming the drive (WWN), the LUN or the array.
std::string checkLayout(const LayoutPlan& plan, const DriveList& drives, const ConfigurationBlock& config,
                        std::string* what);

// Whether a RAID level (kRaid...) can be built from count drives, and the parity-drive value
// its block needs (RAID 6: 2; RAID 50: groups of at least three).
bool raidLevelFits(uint8_t level, int count);

struct LayoutOutcome {
  int result = kResultGood;
  ControllerCommand failed{};
  int arraysMade = 0, drivesMade = 0, sparesMade = 0;
};
// Builds the plan (see above). REQUIRES: checkLayout returned "".
LayoutOutcome applyLayout(const PairTarget& pair, const LayoutPlan& plan);

}  // namespace brivo
