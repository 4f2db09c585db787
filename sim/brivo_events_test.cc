// The brivo model's event logs through the SCSI layer: 4096 entries with wrap-around, clearing,
// injected events, and the controllers' clocks set with WRITE BUFFER 0xC5.
#include <ctime>

#include "sim/brivo_test_fixture.h"

namespace brivotest {
namespace {

using BrivoEvents = BrivoSimTest;

int injectedNumber(const brivo::EventEntry& e) { return e.reason[1] | e.reason[2] << 8; }

TEST_F(BrivoEvents, LogWrapsAroundAt4096EntriesAndClearingKeepsTheSequence) {
  world->setStateFile("");  // no state file rewrite per injected event
  int before = eventLog(0)->count;
  const int kInjected = 5000;
  for (int i = 0; i < kInjected; ++i) {
    char text[64];
    std::snprintf(text, sizeof(text), "event alpha A 0x01 data=01%02X%02X", i & 0xFF, i >> 8);
    ASSERT_EQ(world->control(text).code, 0);
  }
  Reply r = read(brivo::kModeData, brivo::kOpReadEventLogA, brivo::kEventLogLength);
  ASSERT_TRUE(r.good());
  ASSERT_EQ(r.data.size(), 98320u);
  auto log = r.as<brivo::EventLog>();
  int total = before + kInjected;
  EXPECT_EQ(log->length, 98320u);
  EXPECT_EQ(log->count, 4096);
  EXPECT_EQ(log->newest, (total - 1) % 4096);
  EXPECT_EQ(injectedNumber(log->entries[0]), total - 4096 - before);  // the oldest kept
  EXPECT_EQ(injectedNumber(log->entries[4095]), kInjected - 1);       // the newest, last
  for (int i = 1; i < 4096; ++i)
    ASSERT_EQ(injectedNumber(log->entries[i]), injectedNumber(log->entries[i - 1]) + 1);
  EXPECT_LT(eventLog(1)->count, 10);  // B's log is its own

  // A 64 KB reader sees the same log in two pieces. The controller may log something of its own
  // between two reads (a slow run), so compare against a whole read that stayed the same around
  // the two pieces.
  bool compared = false;
  for (int attempt = 0; attempt < 5 && !compared; ++attempt) {
    Reply before = readAt(brivo::kOpReadEventLogA, 0, 98320);
    Reply first = readAt(brivo::kOpReadEventLogA, 0, 0x10000);
    Reply second = readAt(brivo::kOpReadEventLogA, 0x10000, 98320 - 0x10000);
    Reply after = readAt(brivo::kOpReadEventLogA, 0, 98320);
    ASSERT_TRUE(before.good() && first.good() && second.good() && after.good());
    if (before.data != after.data) continue;
    first.data.insert(first.data.end(), second.data.begin(), second.data.end());
    EXPECT_EQ(first.data, before.data);
    compared = true;
  }
  EXPECT_TRUE(compared) << "the log never stayed still for four reads";

  EXPECT_TRUE(command(brivo::kOpClearEventLog, {}, 0).refused(brivo::kAscInvalidCdbField));
  ASSERT_TRUE(command(brivo::kOpClearEventLog, {}, brivo::kSelectA).good());
  auto cleared = eventLog(0);
  ASSERT_EQ(cleared->count, 1);
  EXPECT_EQ(cleared->length, 16u + 24u);
  EXPECT_EQ(cleared->newest, total % 4096);  // the sequence runs on
  EXPECT_EQ(cleared->entries[0].code, brivo::kEvMaintenance);
  EXPECT_EQ(cleared->entries[0].reason[0], brivo::kMaintLogCleared);
  EXPECT_EQ(cleared->entries[1].code, 0);
}

TEST_F(BrivoEvents, InjectedEventsCarryClassCodeTimeAndReasonBytes) {
  ctl("event alpha B 0x0130 @1893456000 data=0102030405060708090A0B0C0D0E0F10 rebuild");
  auto log = eventLog(1);
  const brivo::EventEntry& e = log->entries[log->count - 1];
  EXPECT_EQ(e.eventClass, 1);
  EXPECT_EQ(e.code, 0x30);
  for (int k = 0; k < 14; ++k) EXPECT_EQ(e.reason[k], k + 1);  // cut to the 14 reason bytes
  std::time_t t = 1893456000;
  std::tm tm{};
  localtime_r(&t, &tm);
  EXPECT_EQ(e.time.year, tm.tm_year + 1900);
  EXPECT_EQ(e.time.month, tm.tm_mon + 1);
  EXPECT_EQ(e.time.day, tm.tm_mday);
  EXPECT_EQ(e.time.hour, tm.tm_hour);
  EXPECT_EQ(e.time.weekday, tm.tm_wday);
  EXPECT_TRUE(events(0, 0x30).empty());
}

TEST_F(BrivoEvents, SetTimeMovesOnlyTheSelectedClock) {
  brivo::EventTime t{2030, 5, 6, 1, 7, 8, 9};
  ASSERT_TRUE(command(brivo::kOpSetTime, bytesOf(t), brivo::kSelectB).good());
  auto logB = eventLog(1);
  EXPECT_EQ(logB->time.year, 2030);
  EXPECT_EQ(logB->time.month, 5);
  EXPECT_EQ(logB->time.day, 6);
  EXPECT_EQ(logB->time.hour, 7);
  EXPECT_EQ(logB->time.minute, 8);
  EXPECT_LE(logB->time.second, 11);
  EXPECT_EQ(logB->time.weekday, 1);  // 2030-05-06 is a Monday
  EXPECT_LT(eventLog(0)->time.year, 2030);
  EXPECT_EQ(info()->controllers[1].clock.year, 2030);
  auto set = events(1, brivo::kEvMaintenance, brivo::kMaintClockSet);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].time.year, 2030);  // logged by the new clock
  EXPECT_TRUE(events(0, brivo::kEvMaintenance, brivo::kMaintClockSet).empty());

  brivo::EventTime bad = t;
  bad.month = 13;
  EXPECT_TRUE(
      command(brivo::kOpSetTime, bytesOf(bad), brivo::kSelectBoth).refused(brivo::kAscInvalidParameter));
  brivo::EventTime notLeap{2031, 2, 29, 0, 0, 0, 0};
  EXPECT_TRUE(
      command(brivo::kOpSetTime, bytesOf(notLeap), brivo::kSelectA).refused(brivo::kAscInvalidParameter));
  brivo::EventTime leap{2032, 2, 29, 0, 12, 0, 0};
  ASSERT_TRUE(command(brivo::kOpSetTime, bytesOf(leap), brivo::kSelectBoth).good());
  EXPECT_EQ(eventLog(0)->time.year, 2032);
  EXPECT_EQ(eventLog(1)->time.day, 29);
  EXPECT_TRUE(command(brivo::kOpSetTime, bytesOf(leap), 4).refused(brivo::kAscInvalidCdbField));

  // The first year is the event log's: a clock before 2001 would stamp events no reader accepts.
  brivo::EventTime early{2000, 12, 31, 0, 23, 59, 59};
  EXPECT_TRUE(command(brivo::kOpSetTime, bytesOf(early), brivo::kSelectA).refused(brivo::kAscInvalidParameter));
  EXPECT_EQ(eventLog(0)->time.year, 2032);
  brivo::EventTime first{2001, 1, 1, 1, 0, 0, 0};
  ASSERT_TRUE(command(brivo::kOpSetTime, bytesOf(first), brivo::kSelectA).good());
  EXPECT_EQ(eventLog(0)->time.year, 2001);
}

TEST_F(BrivoEvents, TheClockControlTakesOnlyTimesAControllerCanHold) {
  ctl("set clock alpha A 2000-12-31T23:59:59", 1);
  ctl("set clock alpha A 2031-02-29T00:00:00", 1);
  ctl("set clock alpha A 2136-01-01T00:00:00", 1);
  ctl("set clock alpha A 2031-02-28T12:00:00");
  EXPECT_EQ(info()->controllers[0].clock.year, 2031);
  EXPECT_EQ(info()->controllers[0].clock.month, 2);
  ctl("set clock alpha A 2001-01-02T12:00:00");
  EXPECT_EQ(info()->controllers[0].clock.year, 2001);
}

}  // namespace
}  // namespace brivotest
