// Tests of event log validation and time stamps: the date rules (leap years), the header checks,
// the count of new entries from a bookmark (first sight, wrap-around, empty logs) and the rule
// that one bad time among the new entries invalidates the whole log.
#include "modules/brivo/events/event_validate.h"

#include <gtest/gtest.h>

#include <memory>

#include "modules/brivo/events/event_test_support.h"
#include "modules/brivo/events/event_time.h"

namespace brivo::events {
namespace {

using testing::ControllerLog;
using testing::entryOf;
using testing::timeOf;

TEST(EventTimeTest, DatesFollowTheCalendar) {
  EXPECT_TRUE(isValidEventTime(timeOf(2008, 2, 29, 23, 59, 59)));
  EXPECT_FALSE(isValidEventTime(timeOf(2007, 2, 29, 10, 0, 0)));
  EXPECT_FALSE(isValidEventTime(timeOf(2100, 2, 29, 10, 0, 0)));  // divisible by 100, not by 400
  EXPECT_TRUE(isValidEventTime(timeOf(2004, 2, 29, 0, 0, 0)));
  EXPECT_FALSE(isValidEventTime(timeOf(2008, 4, 31, 0, 0, 0)));
  EXPECT_TRUE(isValidEventTime(timeOf(2008, 12, 31, 0, 0, 0)));
  EXPECT_FALSE(isValidEventTime(timeOf(2008, 13, 1, 0, 0, 0)));
  EXPECT_FALSE(isValidEventTime(timeOf(2008, 1, 0, 0, 0, 0)));
  EXPECT_FALSE(isValidEventTime(timeOf(2008, 1, 1, 24, 0, 0)));
  EXPECT_FALSE(isValidEventTime(timeOf(2008, 1, 1, 0, 60, 0)));
  EXPECT_FALSE(isValidEventTime(timeOf(2008, 1, 1, 0, 0, 60)));
  EXPECT_FALSE(isValidEventTime(timeOf(2000, 6, 1, 0, 0, 0)));
  EXPECT_TRUE(isValidEventTime(timeOf(2001, 1, 1, 0, 0, 0)));
  EXPECT_TRUE(isValidEventTime(timeOf(2135, 12, 31, 0, 0, 0)));
  EXPECT_FALSE(isValidEventTime(timeOf(2136, 1, 1, 0, 0, 0)));
}

TEST(EventTimeTest, TextsAndSeconds) {
  EventTime t = timeOf(2008, 2, 29, 7, 5, 3);
  EXPECT_EQ(eventDateText(t), "02/29/08");
  EXPECT_EQ(eventTimeText(t), "07:05:03");
  EXPECT_EQ(controllerClockText(t), "2008/02/29 07:05:03");
  EXPECT_EQ(eventDateText(timeOf(2007, 2, 29, 7, 5, 3)), "??");
  EXPECT_EQ(eventTimeText(timeOf(2008, 2, 28, 25, 0, 0)), "??");
  ASSERT_TRUE(eventSeconds(t).has_value());
  EXPECT_EQ(*eventSeconds(timeOf(2008, 2, 29, 7, 5, 4)) - *eventSeconds(t), 1u);
  EXPECT_FALSE(eventSeconds(timeOf(2007, 2, 29, 7, 5, 3)).has_value());
  EXPECT_LT(timeOrderKey(timeOf(2008, 2, 29, 7, 5, 3)), timeOrderKey(timeOf(2008, 3, 1, 0, 0, 0)));
}

class EventValidateTest : public ::testing::Test {
 protected:
  // n entries, one second apart, the newest getting sequence index `newest`.
  void fill(int n, uint16_t newest) {
    controller_.startAt(static_cast<uint16_t>((newest - n + 1 + kEventLogEntries) % kEventLogEntries));
    for (int i = 0; i < n; ++i)
      controller_.append(entryOf(timeOf(2008, 1, 1, 10, i / 60 % 60, i % 60), 0x03, {1}));
  }
  Validation validate(int32_t* bookmark) {
    controller_.build(log_.get());
    return validateEventLog(log_.get(), bookmark);
  }

  ControllerLog controller_;
  std::unique_ptr<EventLog> log_ = std::make_unique<EventLog>();
};

TEST_F(EventValidateTest, FirstSightHasNothingNewAndSetsTheBookmark) {
  fill(10, 9);
  int32_t bookmark = -1;
  Validation v = validate(&bookmark);
  EXPECT_TRUE(v.ok);
  EXPECT_EQ(v.newCount, 0);
  EXPECT_EQ(bookmark, 9);
  controller_.append(entryOf(timeOf(2008, 1, 1, 11, 0, 0), 0x04, {1}));
  v = validate(&bookmark);
  EXPECT_EQ(v.newCount, 1);
  EXPECT_EQ(bookmark, 10);
  EXPECT_EQ(newEntry(*log_, 1, 0).code, 0x04);
}

TEST_F(EventValidateTest, SequenceIndexWrapsAt4096) {
  fill(kEventLogEntries, 4093);
  int32_t bookmark = 4093;
  for (int i = 0; i < 5; ++i)
    controller_.append(entryOf(timeOf(2008, 1, 2, 0, 0, i), 0x10, {static_cast<uint8_t>(i)}));
  ASSERT_EQ(controller_.newest(), 2);
  Validation v = validate(&bookmark);
  ASSERT_TRUE(v.ok);
  EXPECT_EQ(v.newCount, 5);  // 4094, 4095, 0, 1, 2
  EXPECT_EQ(bookmark, 2);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(newEntry(*log_, 5, i).reason[0], i);
}

TEST_F(EventValidateTest, NewCountIsLimitedByTheEntriesPresent) {
  fill(3, 100);
  int32_t bookmark = 50;  // 50 behind, but only 3 entries exist
  EXPECT_EQ(validate(&bookmark).newCount, 3);
  bookmark = 5000;  // out of range: counted from 0
  fill(1, 101);
  Validation v = validate(&bookmark);
  EXPECT_EQ(v.newCount, 4);
}

TEST_F(EventValidateTest, EmptyLogThenEntriesAreAllNew) {
  int32_t bookmark = -1;
  Validation v = validate(&bookmark);
  EXPECT_TRUE(v.ok);
  EXPECT_TRUE(v.emptyLog);
  EXPECT_EQ(log_->newest, 0xFFFF);
  EXPECT_EQ(bookmark, kEmptyLogBookmark);
  fill(2, 1);
  v = validate(&bookmark);
  EXPECT_EQ(v.newCount, 2);
  EXPECT_EQ(bookmark, 1);
}

TEST_F(EventValidateTest, BadHeadersFailAndKeepTheBookmark) {
  fill(4, 3);
  struct Case {
    const char* what;
    void (*spoil)(EventLog*);
  };
  const Case cases[] = {
      {"newest index", [](EventLog* l) { l->newest = kEventLogEntries; }},
      {"count", [](EventLog* l) { l->count = kEventLogEntries + 1; }},
      {"length", [](EventLog* l) { l->length = kEventLogLength + 1; }},
      {"clock", [](EventLog* l) { l->time = timeOf(2007, 2, 29, 0, 0, 0); }},
  };
  for (const Case& c : cases) {
    controller_.build(log_.get());
    c.spoil(log_.get());
    int32_t bookmark = 1;
    EXPECT_FALSE(validateEventLog(log_.get(), &bookmark).ok) << c.what;
    EXPECT_EQ(bookmark, 1) << c.what;
  }
}

TEST_F(EventValidateTest, BytesBeyondTheLengthAreZeroed) {
  fill(4, 3);
  controller_.build(log_.get());
  log_->length = 16 + 24 * 2;  // the controller has only two entries' worth of data
  int32_t bookmark = 1;
  Validation v = validateEventLog(log_.get(), &bookmark);
  EXPECT_FALSE(v.ok);  // the new entries 2 and 3 are now empty, with no valid time
  EXPECT_TRUE(v.badEventTime);
  EXPECT_EQ(log_->entries[3].code, 0);
  EXPECT_EQ(log_->entries[1].code, 0x03);
}

TEST_F(EventValidateTest, AnInvalidTimeAmongTheNewEntriesInvalidatesTheLog) {
  fill(4, 3);
  controller_.append(entryOf(timeOf(2007, 2, 29, 10, 0, 0), 0x42, {3, 60}));
  controller_.append(entryOf(timeOf(2008, 2, 29, 10, 0, 0), 0x42, {4, 90}));
  int32_t bookmark = 3;
  Validation v = validate(&bookmark);
  EXPECT_FALSE(v.ok);
  EXPECT_TRUE(v.badEventTime);
  EXPECT_EQ(bookmark, 3);
  // Once the bad entry is no longer new, the log is valid again.
  bookmark = 4;
  v = validate(&bookmark);
  EXPECT_TRUE(v.ok);
  EXPECT_EQ(v.newCount, 1);
}

TEST_F(EventValidateTest, RebuildStartedIsReportedOnlyWhenNew) {
  fill(2, 1);
  controller_.append(entryOf(timeOf(2008, 1, 3, 0, 0, 0), kEvRebuildStarted, {0, 1}));
  int32_t bookmark = 1;
  EXPECT_TRUE(validate(&bookmark).rebuildStarted);
  EXPECT_FALSE(validate(&bookmark).rebuildStarted);
}

}  // namespace
}  // namespace brivo::events
