// The interpreter's drive changes: `drive set -di ... -state hotspare|free|N` makes each drive a
// global hot spare (0x93 with kSpareGlobal), a dedicated spare of array N (0x93 with N) or a free
// drive again (0xB3 with its spare number), all in one configuration change; `drive upgrade`
// selects the drives for a drive firmware image (0xC6) and sends the image (WRITE BUFFER mode 5,
// buffer kFirmwareDrive).
//
// Every drive is checked before anything is sent, so that a command naming one unusable drive
// changes none.
//
// Thread safety: as cli_handlers.h.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_selectors.h"

namespace brivo::cli {

namespace {

constexpr int kStateFree = -1;
constexpr int kStateGlobal = kSpareGlobal;

// One drive's change: leave its spare slot and/or take a new one.
struct SpareStep {
  int index = 0;
  bool remove = false;
  bool add = false;
};

// -state: "hotspare" (kStateGlobal), "free" (kStateFree) or an existing array's number.
bool parseState(CliContext& ctx, int* state) {
  const char* text = modifierValue(ctx, kModState);
  long number = 0;
  if (text != nullptr && strcasecmp(text, "hotspare") == 0) {
    *state = kStateGlobal;
  } else if (text != nullptr && strcasecmp(text, "free") == 0) {
    *state = kStateFree;
  } else if (!parseNumber(text, &number)) {
    writeText(ctx, "Error: Parsing state value. Use hotspare, free or an array index.\n");
    return false;
  } else if (number >= kMaxArrays) {
    writeText(ctx, "Error: Parsing state value. Out of range.\n");
    return false;
  } else if (ctx.config->arrays[number].valid != kOn) {
    bool any = false;
    for (const ArrayRecord& a : ctx.config->arrays) any = any || a.valid == kOn;
    writeText(ctx, any ? "Error: Array index out of range.\n" : "Error: No arrays exist.\n");
    return false;
  } else {
    *state = static_cast<int>(number);
  }
  return true;
}

bool isSpare(const DriveListEntry& d) {
  return d.usage == kUsageGlobalSpare || d.usage == kUsageDedicatedSpare;
}

// Whether d already is what state asks for.
bool alreadyIs(const DriveListEntry& d, int state) {
  if (state == kStateFree) return d.usage == kUsageFree;
  if (state == kStateGlobal) return d.usage == kUsageGlobalSpare;
  return d.usage == kUsageDedicatedSpare && d.array == state;
}

// The steps for every chosen drive; false after writing why a drive cannot take the state.
bool planSpares(CliContext& ctx, const std::vector<int>& drives, int state, std::vector<SpareStep>* steps) {
  for (int index : drives) {
    const DriveListEntry& d = ctx.drives->entries[index];
    if (alreadyIs(d, state)) continue;
    if (state == kStateFree && !isSpare(d)) {
      writeText(ctx, "Error: Disk %d is not a hot spare.\n", index);
      return false;
    }
    if (state != kStateFree && (d.status != kDriveGood || (d.usage != kUsageFree && !isSpare(d)))) {
      writeText(ctx, "Error: Disk not available for use. Disk %d.\n", index);
      return false;
    }
    steps->push_back({index, isSpare(d), state != kStateFree});
  }
  return true;
}

std::string stateText(int state) {
  if (state == kStateFree) return "free";
  if (state == kStateGlobal) return "a global hot spare";
  return "a dedicated hot spare of array " + std::to_string(state);
}

// Selects (or with select false, deselects) drive index for the next drive firmware image.
int selectForFirmware(CliContext& ctx, int index, bool select, ControllerCommand* record) {
  DriveFirmwareSelectBlock block{};
  std::memcpy(block.wwn, ctx.drives->entries[index].wwn, sizeof(block.wwn));
  block.select = select ? 1 : 0;
  return sendOperation(ctx.pair, kOpSelectDriveFirmware, 0, 0, 0, &block, sizeof(block), record);
}

// The drives the upgrade modifiers name; false after writing why none can be upgraded.
bool upgradeTargets(CliContext& ctx, const FirmwareImageHeader& header, std::vector<int>* out) {
  std::vector<int> named;
  if (!chooseDrives(ctx, &named)) return false;
  char revision[8];
  std::snprintf(revision, sizeof(revision), "%04X", header.level & 0xFFFF);
  const bool inactive = hasModifier(ctx, kModInactive) || hasModifier(ctx, kModInactiveOld);
  const bool old = hasModifier(ctx, kModOldRevision) || hasModifier(ctx, kModInactiveOld);
  for (int i = 0; i < ctx.drives->count && i < kMaxDrives; ++i) {
    const DriveListEntry& d = ctx.drives->entries[i];
    const bool good = d.status == kDriveGood;
    if (!named.empty()) {
      if (named.front() != i) continue;
      if (!good) {
        writeText(ctx, "Error: Disk not available for use. Disk %d.\n", i);
        return false;
      }
    }
    if (!good || (inactive && d.usage == kUsageMember)) continue;
    // A drive image carries the drive revision it installs in the low 16 bits of its level.
    if (old && fieldText(d.revision, sizeof(d.revision)) == revision) continue;
    out->push_back(i);
  }
  if (out->empty()) {
    writeText(ctx, "Error: No disks match the selection. Nothing was sent.\n");
    return false;
  }
  return true;
}

}  // namespace

int driveSet(CliContext& ctx) {
  std::vector<int> drives;
  int state = kStateFree;
  if (!chooseDrives(ctx, &drives) || !parseState(ctx, &state)) return 1;
  std::vector<SpareStep> steps;
  if (!planSpares(ctx, drives, state, &steps)) return 1;
  if (!steps.empty()) {
    ControllerCommand record;
    std::string failed;
    const int result = inConfigChange(ctx.pair, &record, [&] {
      for (const SpareStep& step : steps) {
        const DriveListEntry& d = ctx.drives->entries[step.index];
        failed = "delete spare disk " + std::to_string(step.index);
        if (step.remove) {
          const int sent =
              sendOperation(ctx.pair, kOpRemoveHotSpare, d.hotSpareNumber, 0, 0, nullptr, 0, &record);
          if (sent != kResultGood) return sent;
        }
        if (!step.add) continue;
        failed = "make spare of disk " + std::to_string(step.index);
        HotSpareBlock block{};
        std::memcpy(block.wwn, d.wwn, sizeof(block.wwn));
        block.array = static_cast<uint8_t>(state);
        const int sent = sendOperation(ctx.pair, kOpAddHotSpare, 0, 0, 0, &block, sizeof(block), &record);
        if (sent != kResultGood) return sent;
      }
      return kResultGood;
    });
    if (result != kResultGood) {
      // A failure of the start or the save is the change of the first or last drive.
      if (failed.empty())
        failed = (state == kStateFree ? "delete spare disk " : "make spare of disk ") +
                 std::to_string(steps.front().index);
      writeCommandFailure(ctx, failed, result, record);
      return 1;
    }
    waitUntilReady(ctx.pair);
  }
  for (int index : drives) writeText(ctx, "Disk %d is %s.\n", index, stateText(state).c_str());
  return 0;
}

int driveUpgrade(CliContext& ctx) {
  std::vector<uint8_t> image;
  FirmwareImageHeader header;
  std::vector<int> targets;
  if (!readFirmwareImage(ctx, &image, &header) || !upgradeTargets(ctx, header, &targets)) return 1;
  ControllerCommand record;
  size_t selected = 0;
  int result = kResultGood;
  while (selected < targets.size() && result == kResultGood) {
    result = selectForFirmware(ctx, targets[selected], true, &record);
    if (result == kResultGood) ++selected;
  }
  if (result == kResultGood) {
    result = writeDataBuffer(ctx.pair, kModeFirmware, kFirmwareDrive, image.data(),
                             static_cast<uint32_t>(image.size()), &record);
  }
  if (result != kResultGood) {
    // Drives left selected would take the next image anyone sends.
    for (size_t i = 0; i < selected; ++i) {
      ControllerCommand ignored;
      selectForFirmware(ctx, targets[i], false, &ignored);
    }
    writeCommandFailure(ctx, "upgrade disk firmware", result, record);
    return 1;
  }
  std::string list;
  for (int index : targets) list += " " + std::to_string(index);
  writeText(ctx, "Disk firmware is loaded on %d disk(s):%s.\n", static_cast<int>(targets.size()),
            list.c_str());
  return 0;
}

}  // namespace brivo::cli
