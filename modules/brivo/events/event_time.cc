// Controller time stamps; see event_time.h.
#include "modules/brivo/events/event_time.h"

#include <cstdio>
#include <ctime>

#include "modules/brivo/controller_time.h"

namespace brivo::events {

bool isValidEventTime(const EventTime& time) { return isValidControllerTime(time); }

std::optional<uint32_t> eventSeconds(const EventTime& time) {
  if (!isValidEventTime(time)) return std::nullopt;
  std::tm tm{};
  tm.tm_year = time.year - 1900;
  tm.tm_mon = time.month - 1;
  tm.tm_mday = time.day;
  tm.tm_hour = time.hour;
  tm.tm_min = time.minute;
  tm.tm_sec = time.second;
  tm.tm_isdst = -1;
  std::time_t seconds = std::mktime(&tm);
  if (seconds == static_cast<std::time_t>(-1) || seconds < 0 ||
      seconds > static_cast<std::time_t>(UINT32_MAX)) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(seconds);
}

uint64_t timeOrderKey(const EventTime& time) {
  return static_cast<uint64_t>(time.year) << 40 | static_cast<uint64_t>(time.month) << 32 |
         static_cast<uint64_t>(time.day) << 24 | static_cast<uint64_t>(time.hour) << 16 |
         static_cast<uint64_t>(time.minute) << 8 | time.second;
}

std::string eventDateText(const EventTime& time) {
  if (!isValidEventTime(time)) return "??";
  char text[16];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d", time.month, time.day, time.year % 100);
  return text;
}

std::string eventTimeText(const EventTime& time) {
  if (!isValidEventTime(time)) return "??";
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.hour, time.minute, time.second);
  return text;
}

std::string controllerClockText(const EventTime& time) {
  char text[40];
  std::snprintf(text, sizeof text, "%d/%02d/%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour,
                time.minute, time.second);
  return text;
}

}  // namespace brivo::events
