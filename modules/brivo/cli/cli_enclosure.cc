// The interpreter's enclosure object: `enclosure display` (the enclosures the controllers report in
// their information buffer, with the drives each holds and the state of its slots, power
// supplies, fans, temperature sensors and alarm, read from its SES pages through the controller)
// and `enclosure identify` (blinks an
// enclosure's locator: 0xC2 with kIdentifyEnclosure, the enclosure number and the seconds).
//
// Thread safety: as cli_handlers.h.
#include <cstdio>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_enclosure_ses.h"
#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_selectors.h"
#include "modules/brivo/monitor/enclosure_watch.h"

namespace brivo::cli {

namespace {

const EnclosureEntry* enclosureOf(const ControllerInformation& info, int number) {
  for (const EnclosureEntry& e : info.enclosures) {
    if (e.valid == kOn && e.number == number) return &e;
  }
  return nullptr;
}

std::string addressesText(const EnclosureEntry& e) {
  std::string text;
  for (const EnclosureAddress& a : e.addresses) {
    if (a.loop1Id == 0xFF && a.loop2Id == 0xFF) continue;
    char one[48];
    std::snprintf(one, sizeof(one), "%sloop 1 ID %s, loop 2 ID %s", text.empty() ? "" : "; ",
                  a.loop1Id == 0xFF ? "-" : std::to_string(a.loop1Id).c_str(),
                  a.loop2Id == 0xFF ? "-" : std::to_string(a.loop2Id).c_str());
    text += one;
  }
  return text.empty() ? "none" : text;
}

// Reads pages 1 and 2 through the first SES processor address that answers and writes the
// element lines.
void writeElements(CliContext& ctx, const EnclosureEntry& e) {
  int result = kResultBadArguments;
  for (const EnclosureAddress& a : e.addresses) {
    for (int loop = 0; loop < 2; ++loop) {
      const uint8_t id = loop == 0 ? a.loop1Id : a.loop2Id;
      if (id == 0xFF) continue;
      std::vector<uint8_t> config, status;
      const uint8_t address = sesAddress(loop, id);
      result = monitor::readSesPage(ctx.pair.device, ctx.pair.state, address, 1, &config);
      if (result == kResultGood)
        result = monitor::readSesPage(ctx.pair.device, ctx.pair.state, address, 2, &status);
      if (result == kResultGood && writeEnclosureElements(ctx, config, status)) return;
    }
  }
  writeField(ctx, "Elements", "not available (status " + std::to_string(result) + ")");
}

void writeBlock(CliContext& ctx, const EnclosureEntry& e) {
  char title[32];
  std::snprintf(title, sizeof(title), "Enclosure %d", e.number);
  writeRuler(ctx, '-', title);
  writeField(ctx, "WWN", wwnText(e.wwn));
  writeField(ctx, "Slots", std::to_string(e.slots));
  int drives = 0, failed = 0;
  uint64_t capacity = 0;
  std::string slots;
  for (int i = 0; i < ctx.drives->count && i < kMaxDrives; ++i) {
    const DriveListEntry& d = ctx.drives->entries[i];
    if (d.enclosure != e.number) continue;
    ++drives;
    capacity += driveCapacityGb(d);
    if (d.status == kDriveFailed || d.status == kDriveBypassed) {
      ++failed;
      slots += (slots.empty() ? "" : " ") + std::to_string(d.slot);
    }
  }
  writeField(ctx, "Drives", std::to_string(drives));
  writeField(ctx, "Drive Capacity", sizeText(capacity));
  writeField(ctx, "Failed Drives",
             failed == 0 ? std::string("none") : std::to_string(failed) + " (slots " + slots + ")");
  writeField(ctx, "SES Processor", addressesText(e));
  writeElements(ctx, e);
}

}  // namespace

int enclosureDisplay(CliContext& ctx) {
  std::vector<int> chosen;
  if (!chooseEnclosures(ctx, &chosen)) return 1;
  writeText(ctx, "--- Enclosure Total=%d ---\n", static_cast<int>(chosen.size()));
  for (int number : chosen) writeBlock(ctx, *enclosureOf(*ctx.info, number));
  return 0;
}

int enclosureIdentify(CliContext& ctx) {
  int seconds = 0;
  std::vector<int> chosen;
  if (!identifySeconds(ctx, &seconds) || !chooseEnclosures(ctx, &chosen)) return 1;
  if (chosen.empty()) {
    writeText(ctx, "Error: No enclosures exist.\n");
    return 1;
  }
  for (int number : chosen) {
    ControllerCommand record;
    const int result = sendOperation(ctx.pair, kOpIdentify, kIdentifyEnclosure, static_cast<uint8_t>(number),
                                     static_cast<uint8_t>(seconds), nullptr, 0, &record);
    if (result != kResultGood) {
      writeCommandFailure(ctx, "blink enclosure " + std::to_string(number), result, record);
      return 1;
    }
    writeText(ctx, "Enclosure %d is blinking for %d seconds.\n", number, seconds);
  }
  return 0;
}

}  // namespace brivo::cli
