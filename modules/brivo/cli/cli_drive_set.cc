// The interpreter's drive changes: `drive set -di ... -state hotspare|free|N` makes each drive a
// global hot spare (0x93 with kSpareGlobal), a dedicated spare of array N (0x93 with N) or a free
// drive again (0xB3 with its spare number), all in one configuration change; `drive upgrade`
// loads a drive firmware image onto the drives of the model it names (firmware_image.h).
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
#include "modules/brivo/firmware_image.h"

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

// The drives the upgrade modifiers name; false after writing why none can be upgraded.
bool upgradeTargets(CliContext& ctx, const FirmwareImageHeader& header, const std::vector<uint8_t>& image,
                    std::vector<int>* out) {
  std::vector<int> named;
  if (!chooseDrives(ctx, &named)) return false;
  DriveChoice choice = DriveChoice::kAll;
  if (!named.empty()) choice = DriveChoice::kOne;
  if (hasModifier(ctx, kModInactive)) choice = DriveChoice::kInactive;
  if (hasModifier(ctx, kModOldRevision)) choice = DriveChoice::kOldRevision;
  if (hasModifier(ctx, kModInactiveOld)) choice = DriveChoice::kInactiveOld;
  const int one = named.empty() ? 0 : named.front();
  switch (chooseFirmwareDrives(*ctx.drives, header, image, choice, one, out)) {
    case DriveChoiceError::kNone:
      return true;
    case DriveChoiceError::kNamedUnusable:
      writeText(ctx, "Error: Disk not available for use. Disk %d.\n", one);
      return false;
    case DriveChoiceError::kNamedOtherModel:
      writeText(ctx, "Error: The file is for another disk model than disk %d. Nothing was sent.\n", one);
      return false;
    case DriveChoiceError::kNoModel:
      writeText(ctx, "Error: The file names no disk model. Nothing was sent.\n");
      return false;
    case DriveChoiceError::kNoMatch:
      break;
  }
  writeText(ctx, "Error: No disks match the selection. Nothing was sent.\n");
  return false;
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
  if (!readFirmwareImage(ctx, &image, &header) || !upgradeTargets(ctx, header, image, &targets)) return 1;
  ControllerCommand record;
  const int result = loadDriveFirmware(ctx.pair, *ctx.drives, targets, image, &record);
  if (result != kResultGood) {
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
