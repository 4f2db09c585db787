// The interpreter's drive object, its displays and the locator: `drive display` (the pair's drive
// list, narrowed by -di and by -spares, -failed and -unused, as a -sum table or one block per
// drive) and `drive identify` (blinks each drive's locator through the drive loop it is on,
// 0xC2). `drive set` and `drive upgrade` are in cli_drive_set.cc.
//
// Thread safety: as cli_handlers.h.
#include <cstdio>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_drive_text.h"
#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_selectors.h"

namespace brivo::cli {

namespace {

// The drives -spares, -failed and -unused ask for (any of them); every drive without them.
bool wanted(const CliContext& ctx, const DriveListEntry& drive) {
  const bool spares = hasModifier(ctx, kModSpares);
  const bool failed = hasModifier(ctx, kModFailed);
  const bool unused = hasModifier(ctx, kModUnused);
  if (!spares && !failed && !unused) return true;
  return (spares && (drive.usage == kUsageGlobalSpare || drive.usage == kUsageDedicatedSpare)) ||
         (failed && (drive.status == kDriveFailed || drive.status == kDriveBypassed)) ||
         (unused && drive.usage == kUsageFree);
}

void writeSummary(CliContext& ctx, const std::vector<int>& drives) {
  writeText(ctx, "  # Encl Slot  Size Status     Usage        Product          Rev  Serial\n");
  writeText(ctx, "--- ---- ---- ----- ---------- ------------ ---------------- ---- ------------\n");
  for (int index : drives)
    writeText(ctx, "%s\n", driveSummaryLine(index, ctx.drives->entries[index]).c_str());
}

void writeBlock(CliContext& ctx, int index, const DriveListEntry& d) {
  char title[32];
  std::snprintf(title, sizeof(title), "Drive %d", index);
  writeRuler(ctx, '-', title);
  writeField(ctx, "Drive ID", std::to_string(d.driveId));
  writeField(ctx, "Enclosure", d.enclosure == 0xFE ? std::string("none") : std::to_string(d.enclosure));
  writeField(ctx, "Slot", std::to_string(d.slot));
  writeField(ctx, "WWN", wwnText(d.wwn));
  writeField(ctx, "Vendor", fieldText(d.vendor, sizeof(d.vendor)));
  writeField(ctx, "Product", fieldText(d.product, sizeof(d.product)));
  writeField(ctx, "Revision", fieldText(d.revision, sizeof(d.revision)));
  writeField(ctx, "Serial Number", fieldText(d.serial, sizeof(d.serial)));
  writeField(ctx, "Capacity", driveCapacityText(d));
  writeField(ctx, "Status", driveStatusText(d.status));
  writeField(ctx, "Usage*", driveUsageDetail(d));
  writeField(ctx, "Loop 1 ID",
             d.loop1Id == kNotOnLoop ? std::string("not on loop") : std::to_string(d.loop1Id));
  writeField(ctx, "Loop 2 ID",
             d.loop2Id == kNotOnLoop ? std::string("not on loop") : std::to_string(d.loop2Id));
  if ((d.flags & kDriveFlagPredicted) != 0) writeField(ctx, "Failure Predicted", "yes");
  if ((d.flags & kDriveFlagIdentify) != 0) writeField(ctx, "Locator", "blinking");
  if ((d.flags & kDriveFlagFirmwareSelected) != 0) writeField(ctx, "Firmware Upgrade", "selected");
}

// Drive loop (0 or 1) through which drive d is reached, -1 when it is on neither.
int loopOf(const DriveListEntry& d) {
  if (d.loop1Id != kNotOnLoop) return 0;
  if (d.loop2Id != kNotOnLoop) return 1;
  return -1;
}

}  // namespace

int driveDisplay(CliContext& ctx) {
  std::vector<int> chosen;
  if (!chooseDrives(ctx, &chosen)) return 1;
  if (!hasModifier(ctx, kModDiskId)) {
    for (int i = 0; i < ctx.drives->count && i < kMaxDrives; ++i) chosen.push_back(i);
  }
  std::vector<int> shown;
  for (int index : chosen) {
    if (wanted(ctx, ctx.drives->entries[index])) shown.push_back(index);
  }
  writeText(ctx, "--- Drive Total=%d ---\n", static_cast<int>(shown.size()));
  if (hasModifier(ctx, kModSummary)) {
    if (!shown.empty()) writeSummary(ctx, shown);
    return 0;
  }
  for (int index : shown) writeBlock(ctx, index, ctx.drives->entries[index]);
  return 0;
}

int driveIdentify(CliContext& ctx) {
  int seconds = 0;
  std::vector<int> chosen;
  if (!identifySeconds(ctx, &seconds) || !chooseDrives(ctx, &chosen)) return 1;
  if (chosen.empty()) {
    for (int i = 0; i < ctx.drives->count && i < kMaxDrives; ++i) chosen.push_back(i);
  }
  if (chosen.empty()) {
    writeText(ctx, "Error: No disks exist.\n");
    return 1;
  }
  for (int index : chosen) {
    const DriveListEntry& d = ctx.drives->entries[index];
    const int loop = loopOf(d);
    if (loop < 0) {
      writeText(ctx, "Error: Disk %d is not on a drive loop and cannot blink.\n", index);
      return 1;
    }
    ControllerCommand record;
    const int result = sendOperation(ctx.pair, kOpIdentify, static_cast<uint8_t>(loop), d.driveId,
                                     static_cast<uint8_t>(seconds), nullptr, 0, &record);
    if (result != kResultGood) {
      writeCommandFailure(ctx, "blink disk " + std::to_string(index), result, record);
      return 1;
    }
    writeText(ctx, "Disk %d is blinking for %d seconds.\n", index, seconds);
  }
  return 0;
}

}  // namespace brivo::cli
