// Host and controller clocks; see controller_clock.h.
#include "modules/brivo/controller_clock.h"

#include <cstring>
#include <ctime>
#include <optional>

#include "modules/brivo/cli/cli_selectors.h"
#include "modules/brivo/controller_time.h"
#include "modules/brivo/events/event_time.h"

namespace brivo {

namespace {

bool digitsAt(const char* text, size_t at, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (text[at + i] < '0' || text[at + i] > '9') return false;
  }
  return true;
}

}  // namespace

EventTime hostClock() {
  const time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return controllerTimeOf(local);
}

bool clockOffsetSeconds(const EventTime& clock, long long* seconds) {
  const std::optional<uint32_t> controller = events::eventSeconds(clock);
  if (!controller) return false;
  *seconds = static_cast<long long>(*controller) - static_cast<long long>(std::time(nullptr));
  return true;
}

bool parseChosenClock(const char* date, const char* time, EventTime* out) {
  if (date == nullptr || time == nullptr) return false;
  const size_t dateLength = std::strlen(date);
  const size_t timeLength = std::strlen(time);
  if (dateLength != 10 || date[4] != '-' || date[7] != '-' || !digitsAt(date, 0, 4) ||
      !digitsAt(date, 5, 2) || !digitsAt(date, 8, 2))
    return false;
  if ((timeLength != 5 && timeLength != 8) || time[2] != ':' || !digitsAt(time, 0, 2) ||
      !digitsAt(time, 3, 2))
    return false;
  if (timeLength == 8 && (time[5] != ':' || !digitsAt(time, 6, 2))) return false;
  char compact[15];
  std::memcpy(compact, date, 4);
  std::memcpy(compact + 4, date + 5, 2);
  std::memcpy(compact + 6, date + 8, 2);
  std::memcpy(compact + 8, time, 2);
  std::memcpy(compact + 10, time + 3, 2);
  std::memcpy(compact + 12, timeLength == 8 ? time + 6 : "00", 2);
  compact[14] = '\0';
  return cli::parseClockValue(compact, out) == cli::ClockValue::kOk;
}

}  // namespace brivo
