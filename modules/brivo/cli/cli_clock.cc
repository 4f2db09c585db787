// The interpreter's clock object: `clock display` shows each selected controller's clock beside
// the host's, `clock set -t yyyymmddHHMMSS` sets the selected controllers' clocks (WRITE BUFFER
// 0xC5 with the controller selector; the weekday is worked out from the date).
//
// Thread safety: as cli_handlers.h.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_selectors.h"

namespace brivo::cli {

namespace {

// Seconds the controller's clock runs ahead of the host's (negative: behind), when both are
// valid local times.
bool clockDrift(const EventTime& clock, long long* seconds) {
  if (clock.year < 1970 || clock.month < 1 || clock.month > 12 || clock.day < 1) return false;
  std::tm tm{};
  tm.tm_year = clock.year - 1900;
  tm.tm_mon = clock.month - 1;
  tm.tm_mday = clock.day;
  tm.tm_hour = clock.hour;
  tm.tm_min = clock.minute;
  tm.tm_sec = clock.second;
  tm.tm_isdst = -1;
  const time_t controller = std::mktime(&tm);
  if (controller == static_cast<time_t>(-1)) return false;
  *seconds = static_cast<long long>(controller) - static_cast<long long>(std::time(nullptr));
  return true;
}

std::string hostClockText() {
  const time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EventTime t{};
  t.year = static_cast<uint16_t>(local.tm_year + 1900);
  t.month = static_cast<uint8_t>(local.tm_mon + 1);
  t.day = static_cast<uint8_t>(local.tm_mday);
  t.weekday = static_cast<uint8_t>(local.tm_wday);
  t.hour = static_cast<uint8_t>(local.tm_hour);
  t.minute = static_cast<uint8_t>(local.tm_min);
  t.second = static_cast<uint8_t>(local.tm_sec);
  return controllerClockText(t);
}

}  // namespace

int clockDisplay(CliContext& ctx) {
  ControllerChoice choice;
  if (!chooseControllers(ctx, &choice)) return 1;
  writeField(ctx, "Host Clock", hostClockText());
  for (int c = 0; c < 2; ++c) {
    if (!choice.side[c]) continue;
    char label[40];
    std::snprintf(label, sizeof(label), "Controller %d Clock", c);
    if (!controllerOnline(*ctx.info, c)) {
      writeField(ctx, label,
                 "not available (" + controllerStateText(c == 0 ? ctx.info->stateA : ctx.info->stateB) + ")");
      continue;
    }
    const EventTime& clock = ctx.info->controllers[c].clock;
    std::string text = controllerClockText(clock);
    long long drift = 0;
    if (clockDrift(clock, &drift) && drift != 0) {
      char note[48];
      std::snprintf(note, sizeof(note), " (%+lld s from host)", drift);
      text += note;
    }
    writeField(ctx, label, text);
  }
  return 0;
}

int clockSet(CliContext& ctx) {
  ControllerChoice choice;
  if (!chooseControllers(ctx, &choice)) return 1;
  EventTime time{};
  switch (parseClockValue(modifierValue(ctx, kModTime), &time)) {
    case ClockValue::kNotANumber:
      writeText(ctx, "Error: Parsing time value. Not a number.\n");
      return 1;
    case ClockValue::kOutOfRange:
      writeText(ctx, "Error: Parsing time value. Out of range.\n");
      return 1;
    case ClockValue::kOk:
      break;
  }
  ControllerCommand record;
  const int result = sendOperation(ctx.pair, kOpSetTime, choice.selector, 0, 0, &time, sizeof(time), &record);
  if (result != kResultGood) {
    writeCommandFailure(ctx, "set controller time", result, record);
    return 1;
  }
  const char* which = choice.index < 0 ? "Controller clocks are" : "Controller clock is";
  writeText(ctx, "%s set to %s.\n", which, controllerClockText(time).c_str());
  return 0;
}

}  // namespace brivo::cli
