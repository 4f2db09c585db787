// Date and time texts under fixed time zones.
#include "common/date_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

namespace {

// Takes ownership of a returned text; "<null>" stands for a null result.
std::string take(char* text) {
  if (text == nullptr) return "<null>";
  std::string result(text);
  std::free(text);
  return result;
}

void useTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

constexpr time_t kMonJan7 = 1199696703;    // 2008-01-07 09:05:03 UTC
constexpr time_t kSunJan6 = 1199577600;    // 2008-01-06 00:00:00 UTC
constexpr time_t kLastOf1999 = 946684799;  // 1999-12-31 23:59:59 UTC

class DateTextTest : public ::testing::Test {
 protected:
  void SetUp() override { useTimeZone("UTC"); }
};

TEST_F(DateTextTest, FieldsOfOneTime) {
  EXPECT_EQ(take(monthNameAt(kMonJan7)), "Jan");
  EXPECT_EQ(take(weekdayNameAt(kMonJan7)), "Mon");
  EXPECT_EQ(take(dayOfMonthTextAt(kMonJan7)), "7");
  EXPECT_EQ(take(yearTextAt(kMonJan7)), "2008");
  EXPECT_EQ(take(timeTextAt(kMonJan7)), "09:05:03");
  EXPECT_EQ(take(dateText(kMonJan7)), "01/07/08");
  EXPECT_EQ(take(longDateTextAt(kMonJan7)), "Mon, Jan 7, 2008");
  EXPECT_EQ(take(syslogTimeText(kMonJan7)), "Jan 7 09:05:03 ");
}

TEST_F(DateTextTest, WeekdayNamesFromSunday) {
  const char* expected[] = {"Sun", "Mon", "Tues", "Wens", "Thus", "Fri", "Sat"};
  for (int day = 0; day < 7; ++day) {
    EXPECT_EQ(take(weekdayNameAt(kSunJan6 + day * 86400)), expected[day]) << "day " << day;
  }
}

TEST_F(DateTextTest, CenturyTurnAndTwoDigitFields) {
  EXPECT_EQ(take(dateText(kLastOf1999)), "12/31/99");
  EXPECT_EQ(take(timeTextAt(kLastOf1999)), "23:59:59");
  EXPECT_EQ(take(longDateTextAt(kLastOf1999)), "Fri, Dec 31, 1999");
  EXPECT_EQ(take(syslogTimeText(kLastOf1999)), "Dec 31 23:59:59 ");
  EXPECT_EQ(take(dateText(kLastOf1999 + 1)), "01/01/00");
  EXPECT_EQ(take(timeTextAt(kLastOf1999 + 1)), "00:00:00");
  EXPECT_EQ(take(longDateTextAt(kLastOf1999 + 1)), "Sat, Jan 1, 2000");
}

TEST_F(DateTextTest, UsesLocalTime) {
  useTimeZone("EST5");
  EXPECT_EQ(take(timeTextAt(kMonJan7)), "04:05:03");
  EXPECT_EQ(take(timeTextAt(kSunJan6)), "19:00:00");
  EXPECT_EQ(take(dayOfMonthTextAt(kSunJan6)), "5");
  EXPECT_EQ(take(weekdayNameAt(kSunJan6)), "Sat");
  EXPECT_EQ(take(dateText(kSunJan6)), "01/05/08");
}

TEST_F(DateTextTest, UnconvertibleTimeGivesNull) {
  const time_t huge = std::numeric_limits<time_t>::max();
  EXPECT_EQ(take(timeTextAt(huge)), "<null>");
  EXPECT_EQ(take(dateText(huge)), "<null>");
  EXPECT_EQ(take(longDateTextAt(huge)), "<null>");
  EXPECT_EQ(take(syslogTimeText(huge)), "<null>");
}

}  // namespace
