// Tests of the one controller-time rule: the calendar and the year range at their edges, the
// weekday worked out from the date, hostile numbers, and that every user of the rule (the event
// reader, `clock set -t`, the controller page's form) accepts and refuses exactly the same times.
#include "modules/brivo/controller_time.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "modules/brivo/cli/cli_selectors.h"
#include "modules/brivo/controller_clock.h"
#include "modules/brivo/events/event_time.h"

namespace brivo {
namespace {

struct Moment {
  int year, month, day, hour, minute, second;
};

TEST(ControllerTimeTest, EveryUserOfTheRuleAgreesAtItsEdges) {
  const Moment moments[] = {
      {2001, 1, 1, 0, 0, 0},       {2000, 12, 31, 23, 59, 59}, {2135, 12, 31, 23, 59, 59},
      {2136, 1, 1, 0, 0, 0},       {1970, 1, 1, 0, 0, 0},      {2004, 2, 29, 12, 0, 0},
      {2100, 2, 29, 12, 0, 0},     {2031, 2, 29, 0, 0, 0},     {2031, 4, 31, 0, 0, 0},
      {2031, 4, 30, 23, 59, 59},   {2031, 13, 1, 0, 0, 0},     {2031, 0, 1, 0, 0, 0},
      {2031, 1, 0, 0, 0, 0},       {2031, 1, 1, 24, 0, 0},     {2031, 1, 1, 0, 60, 0},
      {2031, 1, 1, 0, 0, 60},
  };
  for (const Moment& m : moments) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", m.year, m.month, m.day, m.hour, m.minute,
                  m.second);
    SCOPED_TRACE(text);
    const std::optional<EventTime> made = makeControllerTime(m.year, m.month, m.day, m.hour, m.minute, m.second);
    EventTime raw{};
    raw.year = static_cast<uint16_t>(m.year);
    raw.month = static_cast<uint8_t>(m.month);
    raw.day = static_cast<uint8_t>(m.day);
    raw.hour = static_cast<uint8_t>(m.hour);
    raw.minute = static_cast<uint8_t>(m.minute);
    raw.second = static_cast<uint8_t>(m.second);
    const bool valid = made.has_value();
    EXPECT_EQ(isValidControllerTime(raw), valid);
    EXPECT_EQ(events::isValidEventTime(raw), valid);

    char compact[32];
    std::snprintf(compact, sizeof compact, "%04d%02d%02d%02d%02d%02d", m.year, m.month, m.day, m.hour, m.minute,
                  m.second);
    EventTime parsed{};
    EXPECT_EQ(cli::parseClockValue(compact, &parsed) == cli::ClockValue::kOk, valid);

    char date[16], time[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", m.year, m.month, m.day);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", m.hour, m.minute, m.second);
    EventTime chosen{};
    EXPECT_EQ(parseChosenClock(date, time, &chosen), valid);
    if (valid) {
      EXPECT_EQ(std::memcmp(&parsed, &*made, sizeof parsed), 0);
      EXPECT_EQ(std::memcmp(&chosen, &*made, sizeof chosen), 0);
    }
  }
}

TEST(ControllerTimeTest, TheWeekdayComesFromTheDate) {
  struct Case {
    Moment moment;
    int weekday;  // 0 = Sunday
  };
  const Case cases[] = {
      {{2001, 1, 1, 0, 0, 0}, 1},     {{2030, 5, 6, 7, 8, 9}, 1},  {{2032, 2, 29, 0, 12, 0}, 0},
      {{2024, 1, 2, 12, 34, 56}, 2},  {{2135, 12, 31, 0, 0, 0}, 6},
  };
  for (const Case& c : cases) {
    const Moment& m = c.moment;
    const std::optional<EventTime> t = makeControllerTime(m.year, m.month, m.day, m.hour, m.minute, m.second);
    ASSERT_TRUE(t.has_value()) << m.year << "-" << m.month << "-" << m.day;
    EXPECT_EQ(t->weekday, c.weekday) << m.year << "-" << m.month << "-" << m.day;
    EXPECT_EQ(t->year, m.year);
    EXPECT_EQ(t->second, m.second);
  }
}

TEST(ControllerTimeTest, HostileNumbersMakeNoTime) {
  EXPECT_FALSE(makeControllerTime(INT_MIN, 1, 1, 0, 0, 0));
  EXPECT_FALSE(makeControllerTime(INT_MAX, 1, 1, 0, 0, 0));
  EXPECT_FALSE(makeControllerTime(65536 + 2031, 1, 1, 0, 0, 0));  // would wrap into the range as 16 bits
  EXPECT_FALSE(makeControllerTime(2031, -1, 1, 0, 0, 0));
  EXPECT_FALSE(makeControllerTime(2031, 1, 256 + 1, 0, 0, 0));
  EXPECT_FALSE(makeControllerTime(2031, 1, 1, -1, 0, 0));
  EXPECT_FALSE(makeControllerTime(2031, 1, 1, 0, -1, 0));
  EXPECT_FALSE(makeControllerTime(2031, 1, 1, 0, 0, INT_MIN));
  // A block of any bytes is judged without reading past it.
  EventTime junk;
  std::memset(&junk, 0xFF, sizeof junk);
  EXPECT_FALSE(isValidControllerTime(junk));
  EXPECT_FALSE(isValidControllerTime(EventTime{}));
}

}  // namespace
}  // namespace brivo
