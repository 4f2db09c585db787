// Controller time: the clock value a Brivo controller keeps, is set to and stamps its events with
// (the 8-byte EventTime of protocol.h, the controller's local time), seen through the std::chrono
// calendar types. This is the one rule of what a valid controller time is, shared by the event
// reader, the command interpreter's `clock set`, the web form of the controller page and the
// simulator's controller, so that no side accepts a time another side refuses.
//
// Valid: a real calendar date (February 29 only in leap years) in the years 2001 to 2135, hour at
// most 23, minute and second at most 59; the weekday byte is not part of the rule. 2001 is the
// first year because a controller's event log holds no earlier time: a clock set before 2001
// would stamp every later event with a time the event reader refuses, and those events would be
// lost to the server's log.
//
// Header-only, so that the simulator (which does not link the module) uses the same code.
//
// Thread safety: pure functions.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>

#include "modules/brivo/protocol.h"

namespace brivo {

inline constexpr std::chrono::year kFirstControllerYear{2001};
inline constexpr std::chrono::year kLastControllerYear{2135};

// The time block of a broken-down time (localtime_r's), weekday included: how a host's clock
// becomes a controller's.
inline EventTime controllerTimeOf(const std::tm& local) {
  EventTime t{};
  t.year = static_cast<uint16_t>(local.tm_year + 1900);
  t.month = static_cast<uint8_t>(local.tm_mon + 1);
  t.day = static_cast<uint8_t>(local.tm_mday);
  t.weekday = static_cast<uint8_t>(local.tm_wday);
  t.hour = static_cast<uint8_t>(local.tm_hour);
  t.minute = static_cast<uint8_t>(local.tm_min);
  t.second = static_cast<uint8_t>(local.tm_sec);
  return t;
}

// The calendar date of a time block (check ok(): the block may name no real date).
constexpr std::chrono::year_month_day controllerDate(const EventTime& time) {
  return std::chrono::year_month_day{std::chrono::year{time.year}, std::chrono::month{time.month},
                                     std::chrono::day{time.day}};
}

constexpr bool isValidControllerTime(const EventTime& time) {
  const std::chrono::year_month_day date = controllerDate(time);
  return date.ok() && date.year() >= kFirstControllerYear && date.year() <= kLastControllerYear &&
         time.hour <= 23 && time.minute <= 59 && time.second <= 59;
}

// The time block of a date and a time of day, weekday worked out from the date (0 = Sunday);
// nothing when they make no valid controller time.
constexpr std::optional<EventTime> makeControllerTime(std::chrono::year_month_day date, int hour, int minute,
                                                      int second) {
  if (!date.ok() || date.year() < kFirstControllerYear || date.year() > kLastControllerYear || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  EventTime time{};
  time.year = static_cast<uint16_t>(static_cast<int>(date.year()));
  time.month = static_cast<uint8_t>(static_cast<unsigned>(date.month()));
  time.day = static_cast<uint8_t>(static_cast<unsigned>(date.day()));
  time.weekday = static_cast<uint8_t>(std::chrono::weekday{std::chrono::sys_days{date}}.c_encoding());
  time.hour = static_cast<uint8_t>(hour);
  time.minute = static_cast<uint8_t>(minute);
  time.second = static_cast<uint8_t>(second);
  return time;
}

// The same from plain numbers, as parsers have them (a year outside the 16-bit range, a month
// of 0 or 13, day 31 of a short month all give nothing).
constexpr std::optional<EventTime> makeControllerTime(int year, int month, int day, int hour, int minute,
                                                      int second) {
  if (year < 0 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  return makeControllerTime(
      std::chrono::year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                  std::chrono::day{static_cast<unsigned>(day)}},
      hour, minute, second);
}

}  // namespace brivo
