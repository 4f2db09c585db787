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
#include "modules/brivo/controller_clock.h"

namespace brivo::cli {

namespace {

std::string hostClockText() { return controllerClockText(hostClock()); }

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
    if (clockOffsetSeconds(clock, &drift) && drift != 0) {
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
