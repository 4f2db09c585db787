// The interpreter's statistics object: `statistics display` (each selected controller's counters
// for one host port or both and one logical drive or all, READ BUFFER 0x44/0x45) and `statistics
// delete` (clears every port's and every logical drive's counters of each controller that answers:
// WRITE BUFFER 0xCB for A, 0xCC for B).
//
// Thread safety: as cli_handlers.h.
#include <cstdio>
#include <string>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_selectors.h"
#include "modules/brivo/cli/cli_statistics_text.h"

namespace brivo::cli {

namespace {

// -pi: 0 or 1 (one port), "all" or absent (both ports): the port selector of the read.
bool choosePort(CliContext& ctx, uint8_t* selector) {
  *selector = kPortBoth;
  const char* text = modifierValue(ctx, kModPortIndex);
  if (text == nullptr) return true;
  long value = 0;
  if (!parseNumberOrAll(text, -1, &value)) {
    writeText(ctx, "Error: Parsing Port index. Not a number.\n");
    return false;
  }
  if (value != -1 && value != 0 && value != 1) {
    writeText(ctx, "Error: Parsing Port index. Out of range.\n");
    return false;
  }
  *selector = value == -1 ? kPortBoth : value == 0 ? kPort0 : kPort1;
  return true;
}

// -li: an existing logical drive, "all" or absent (kAllLogicalDrives).
bool chooseLogicalDrive(CliContext& ctx, uint16_t* drive) {
  *drive = kAllLogicalDrives;
  const char* text = modifierValue(ctx, kModLogicalId);
  if (text == nullptr) return true;
  long value = 0;
  if (!parseNumberOrAll(text, -1, &value)) {
    writeText(ctx, "Error: Parsing Logical index. Not a number.\n");
    return false;
  }
  if (value == -1) return true;
  bool any = false;
  for (const LogicalDriveRecord& d : ctx.config->logicalDrives) any = any || d.valid == kOn;
  if (!any) {
    writeText(ctx, "Error: No Logical Drives exist.\n");
    return false;
  }
  if (value >= kMaxLogicalDrives || ctx.config->logicalDrives[value].valid != kOn) {
    writeText(ctx, "Error: Logical Drive index out of range.\n");
    return false;
  }
  *drive = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

int statisticsDisplay(CliContext& ctx) {
  ControllerChoice choice;
  uint8_t port = kPortBoth;
  uint16_t drive = kAllLogicalDrives;
  if (!chooseControllers(ctx, &choice) || !choosePort(ctx, &port) || !chooseLogicalDrive(ctx, &drive))
    return 1;
  int shown = 0;
  for (int c = 0; c < 2; ++c) shown += choice.side[c] && controllerOnline(*ctx.info, c) ? 1 : 0;
  writeText(ctx, "--- Controller Total=%d ---\n", shown);
  int failures = 0;
  for (int c = 0; c < 2; ++c) {
    if (!choice.side[c]) continue;
    if (!controllerOnline(*ctx.info, c)) {
      writeText(ctx, "Controller %d is not available; it has no statistics to show.\n", c);
      continue;
    }
    StatisticsBuffer buffer{};
    ControllerCommand record;
    const int result = readStatistics(ctx.pair, c, port, drive, &buffer, &record);
    if (result != kResultGood) {
      writeCommandFailure(ctx, "read statistics of controller " + std::to_string(c), result, record);
      ++failures;
      continue;
    }
    writeStatisticsBlock(ctx, c, port, drive, buffer);
  }
  return failures == 0 ? 0 : 1;
}

int statisticsDelete(CliContext& ctx) {
  int cleared = 0;
  for (int c = 0; c < 2; ++c) {
    if (!controllerOnline(*ctx.info, c)) continue;
    ControllerCommand record;
    const uint8_t id = c == 0 ? kOpClearStatisticsA : kOpClearStatisticsB;
    const int result = sendOperation(ctx.pair, id, kPortBoth, kAllLogicalDrives >> 8,
                                     kAllLogicalDrives & 0xFF, nullptr, 0, &record);
    if (result != kResultGood) {
      writeCommandFailure(ctx, "delete statistics of controller " + std::to_string(c), result, record);
      return 1;
    }
    ++cleared;
  }
  if (cleared == 0) {
    writeText(ctx, "Error: No controller is available to clear statistics.\n");
    return 1;
  }
  writeText(ctx, "Statistics deleted.\n");
  return 0;
}

}  // namespace brivo::cli
