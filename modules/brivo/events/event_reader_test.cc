// Tests of reading and recording controller events: each event recorded exactly once in merged
// order, the wrap-around of the sequence index, logs invalidated by a bad date, failed reads,
// the monitor's waits, start-up replay with the sync text (also across a simulated server
// restart), 5,000 events in one cycle, missing severities and an early stop.
#include "modules/brivo/events/event_reader.h"

#include <gtest/gtest.h>

#include <set>

#include "modules/brivo/events/event_test_support.h"
#include "modules/brivo/events/event_time.h"

namespace brivo::events {
namespace {

using testing::entryOf;
using testing::FakeModule;
using testing::FakePair;
using testing::timeOf;

// Seconds since 10:00:00 on 2008-03-01 as a controller time.
EventTime at(int seconds) { return timeOf(2008, 3, 1, 10 + seconds / 3600, seconds / 60 % 60, seconds % 60); }

class EventReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_.fakeTexts.events = {{"BrivoEvent_08", "event %d"},
                                {"BrivoEvent_0B", "%s is offline"},
                                {"BrivoEvent_ArrayNameNotExporting", "%s (Array %d)"},
                                {"BrivoEvent_ArrayNameWhenExporting", "Array %d"},
                                {"BrivoEvent_11", "array %d changed"},
                                {"BrivoEvent_30", "rebuild %d"},
                                {"BrivoEvent_SyncUp", "(from %s %s)"}};
    module_.fakeTexts.severities = {{"0x08", "0"}, {"0x0B", "2"}, {"0x30", "0"}};
  }
  // Appends event `id` (code 0x08, logical drive id) to a side's log.
  void add(int side, int id, const EventTime& time, uint8_t eventClass = kClassNormal) {
    pair_.logs[side].append(
        entryOf(time, 0x08, {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)}, eventClass));
  }
  std::vector<std::string> texts() const { return module_.raisedTexts(); }

  FakeModule module_;
  FakePair pair_;
};

TEST_F(EventReaderTest, FirstSightRecordsNothingThenEachNewEventOnce) {
  add(0, 1, at(1));
  add(1, 2, at(2));
  MonitorOutcome first = monitorPairEvents(module_, pair_);
  EXPECT_TRUE(first.firstSight);
  EXPECT_TRUE(first.readOk);
  EXPECT_FALSE(first.newEvents);
  EXPECT_TRUE(module_.raised.empty());
  EXPECT_EQ(pair_.index[0], 0);
  EXPECT_EQ(pair_.index[1], 0);

  add(0, 3, at(3));
  add(0, 4, at(5));
  add(1, 5, at(4));
  MonitorOutcome second = monitorPairEvents(module_, pair_);
  EXPECT_FALSE(second.firstSight);
  EXPECT_TRUE(second.newEvents);
  EXPECT_EQ(second.recorded, 3);
  EXPECT_EQ(texts(), (std::vector<std::string>{"event 3", "event 5", "event 4"}));
  const RaisedEvent& e = module_.raised[0];
  EXPECT_EQ(e.source, "Brivo 0123456789ABCDEF (0)");
  EXPECT_EQ(module_.raised[1].source, "Brivo 0123456789ABCDEF (1)");
  EXPECT_EQ(e.eventId, 0xB08u);
  EXPECT_EQ(e.time, *eventSeconds(at(3)));
  EXPECT_EQ(e.syncFlag, 0);
  EXPECT_EQ(module_.storedEventTime(pair_.pairName, kSideA), *eventSeconds(at(5)));
  EXPECT_EQ(module_.storedEventTime(pair_.pairName, kSideB), *eventSeconds(at(4)));
  EXPECT_EQ(pair_.time[kSideA], *eventSeconds(at(5)));

  EXPECT_EQ(monitorPairEvents(module_, pair_).recorded, 0);
  EXPECT_EQ(module_.raised.size(), 3u);
}

TEST_F(EventReaderTest, MergeOrderPutsBFirstOnEqualTimesAndSkipsInternalAndEmptyEntries) {
  add(0, 0, at(0));
  add(1, 0, at(0));
  monitorPairEvents(module_, pair_);
  add(0, 1, at(10));
  add(0, 2, at(11), kClassInternal);
  pair_.logs[0].append(entryOf(at(11), 0, {}));  // an empty entry
  add(0, 3, at(30));
  add(1, 4, at(10));
  add(1, 5, at(20));
  add(1, 6, at(40));
  EXPECT_EQ(monitorPairEvents(module_, pair_).recorded, 5);
  EXPECT_EQ(texts(), (std::vector<std::string>{"event 4", "event 1", "event 5", "event 3", "event 6"}));
}

TEST_F(EventReaderTest, ClockGoingBackwardsStillRecordsEveryNewEntry) {
  add(0, 0, at(100));
  monitorPairEvents(module_, pair_);
  add(0, 1, at(200));
  add(0, 2, at(50));  // the controller's clock was set back
  add(1, 3, at(60));
  EXPECT_EQ(monitorPairEvents(module_, pair_).recorded, 3);
  // A's oldest remaining entry (200) is later than B's (60): B goes first.
  EXPECT_EQ(texts(), (std::vector<std::string>{"event 3", "event 1", "event 2"}));
}

TEST_F(EventReaderTest, SequenceIndexWrappingFrom4095To0) {
  pair_.valid[1] = false;
  pair_.logs[0].startAt(4094);  // 4096 entries: the newest gets index 4093
  for (int i = 0; i < kEventLogEntries; ++i) add(0, i, at(i));
  ASSERT_EQ(pair_.logs[0].newest(), 4093);
  monitorPairEvents(module_, pair_);
  ASSERT_EQ(pair_.index[0], 4093);
  for (int i = 0; i < 5; ++i) add(0, 5000 + i, at(5000 + i));
  ASSERT_EQ(pair_.logs[0].newest(), 2);
  EXPECT_EQ(monitorPairEvents(module_, pair_).recorded, 5);
  EXPECT_EQ(texts(),
            (std::vector<std::string>{"event 5000", "event 5001", "event 5002", "event 5003", "event 5004"}));
  EXPECT_EQ(pair_.index[0], 2);
}

TEST_F(EventReaderTest, AnEventDated2007February29InvalidatesThatCyclesLog) {
  add(0, 0, at(0));
  add(1, 0, at(0));
  monitorPairEvents(module_, pair_);
  add(0, 1, at(1));
  add(0, 2, timeOf(2007, 2, 29, 10, 0, 0));
  add(1, 3, at(2));
  pair_.infoState[1] = kOff;  // the refresh finds controller B failed
  MonitorOutcome outcome = monitorPairEvents(module_, pair_);
  EXPECT_TRUE(module_.printedLine("eventsValidator: INVALID EVENT TIME, invalidating event structure!\n"));
  EXPECT_TRUE(module_.printedLine("Error: 'A' side events returned in unknown format\n"));
  EXPECT_TRUE(module_.printedLine("checkAndSetValidControllers(): A:1 B:0\n"));
  EXPECT_EQ(pair_.readsOf(kOpReadControllerInfo), 1);
  EXPECT_EQ(pair_.index[0], 0);  // A's bookmark did not move
  EXPECT_FALSE(pair_.valid[1]);  // and B was not read after the refresh
  EXPECT_EQ(pair_.readsOf(kOpReadEventLogB), 1);
  EXPECT_FALSE(outcome.readOk);
  EXPECT_TRUE(module_.raised.empty());

  pair_.infoState[0] = pair_.infoState[1] = kOff;
  monitorPairEvents(module_, pair_);
  EXPECT_TRUE(module_.printedLine("checkAndSetValidControllers(): A:1 B:0\n"));  // never neither side
  EXPECT_TRUE(pair_.valid[0]);

  pair_.valid[1] = true;
  pair_.infoState[0] = pair_.infoState[1] = kOn;
  monitorPairEvents(module_, pair_);  // still invalid: B's event arrives, A's do not
  EXPECT_EQ(texts(), (std::vector<std::string>{"event 3"}));
  pair_.logs[0].at(2).time = timeOf(2008, 2, 29, 10, 0, 0);  // a valid leap day
  EXPECT_EQ(monitorPairEvents(module_, pair_).recorded, 2);
  EXPECT_EQ(texts(), (std::vector<std::string>{"event 3", "event 1", "event 2"}));
}

TEST_F(EventReaderTest, FailedReadIsReportedAndCountedWhileTheOtherSideIsRead) {
  add(0, 0, at(0));
  add(1, 0, at(0));
  monitorPairEvents(module_, pair_);
  add(1, 1, at(1));
  pair_.failures[kOpReadEventLogA] = 2;
  pair_.noted.clear();
  MonitorOutcome outcome = monitorPairEvents(module_, pair_);
  EXPECT_TRUE(outcome.readOk);
  EXPECT_TRUE(module_.printedLine("eventsReader: A side cmmd failed (2)\n"));
  EXPECT_TRUE(module_.printedLine("SENSE DATA 5/24/00\n"));
  EXPECT_EQ(pair_.noted, (std::vector<int>{2, 0}));
  EXPECT_EQ(texts(), (std::vector<std::string>{"event 1"}));
  EXPECT_TRUE(module_.printedLine("eventsReader: B side cmmd evals =========== lastBEvent=1. numNewB=1.\n"));
}

TEST_F(EventReaderTest, RebuildStartAndRecentEventsMakeTheMonitorWait) {
  add(0, 0, at(0));
  add(1, 0, at(0));
  monitorPairEvents(module_, pair_);
  pair_.logs[0].append(entryOf(at(10), kEvRebuildStarted, {1}));
  monitorPairEvents(module_, pair_);
  EXPECT_EQ(module_.sleeps, (std::vector<int>{5000}));
  EXPECT_TRUE(module_.printedLine("Sleeping on rebuild started event for 5 seconds\n"));

  module_.sleeps.clear();
  add(0, 1, at(20));
  add(1, 2, at(21));
  pair_.logs[0].clock = at(22);
  pair_.logs[1].clock = at(22);
  monitorPairEvents(module_, pair_);
  EXPECT_EQ(module_.sleeps, (std::vector<int>{3000}));  // once for both sides
  EXPECT_TRUE(module_.printedLine("mon: Controller 0 had event less than 3 seconds ago\n"));
  EXPECT_TRUE(module_.printedLine("mon: Controller 1 had event less than 3 seconds ago\n"));
}

TEST_F(EventReaderTest, StartupReplayRecordsEventsNewerThanTheStoredTimesOnceWithTheSyncText) {
  for (int i = 0; i < 4; ++i) add(0, i, at(10 * i));           // 0, 10, 20, 30
  for (int i = 0; i < 3; ++i) add(1, 10 + i, at(10 * i + 5));  // 5, 15, 25
  module_.storeEventTime(pair_.pairName, kSideA, *eventSeconds(at(10)));
  module_.storeEventTime(pair_.pairName, kSideB, *eventSeconds(at(25)));
  EXPECT_EQ(startupReplay(module_, pair_), 2);
  ASSERT_EQ(module_.raised.size(), 2u);
  EXPECT_EQ(module_.raised[0].text, "event 2 (from 03/01/08 10:00:20)");
  EXPECT_EQ(module_.raised[1].text, "event 3 (from 03/01/08 10:00:30)");
  EXPECT_EQ(module_.raised[0].syncFlag, 1);
  EXPECT_FALSE(pair_.replay[0] || pair_.replay[1]);
  EXPECT_EQ(pair_.index[0], 3);  // monitoring goes on from the newest entries

  add(1, 20, at(40));
  EXPECT_EQ(monitorPairEvents(module_, pair_).recorded, 1);
  EXPECT_EQ(module_.raised.back().text, "event 20");
  EXPECT_EQ(module_.raised.back().syncFlag, 0);
}

TEST_F(EventReaderTest, StartupWithoutStoredTimesStoresTheControllerClocks) {
  add(0, 1, at(1));
  add(1, 2, at(2));
  EXPECT_EQ(startupReplay(module_, pair_), 0);
  EXPECT_EQ(module_.storedEventTime(pair_.pairName, kSideA), *eventSeconds(pair_.logs[0].clock));
  EXPECT_EQ(module_.storedEventTime(pair_.pairName, kSideB), *eventSeconds(pair_.logs[1].clock));
  add(0, 3, at(3));
  monitorPairEvents(module_, pair_);
  EXPECT_EQ(texts(), (std::vector<std::string>{"event 3"}));
}

TEST_F(EventReaderTest, AfterAServerRestartEveryNewerEventIsRecordedOnce) {
  pair_.logs[0].clock = pair_.logs[1].clock = at(0);
  EXPECT_EQ(startupReplay(module_, pair_), 0);  // empty logs, nothing stored: the clocks are stored
  add(0, 1, at(1));
  add(1, 2, at(2));
  monitorPairEvents(module_, pair_);  // a log first seen empty: all its entries are new
  add(0, 3, at(3));
  monitorPairEvents(module_, pair_);
  ASSERT_EQ(texts(), (std::vector<std::string>{"event 1", "event 2", "event 3"}));

  // The server stops; the controllers log on; a new server (fresh pair state, same stored times)
  // starts and replays.
  add(0, 4, at(4));
  add(1, 5, at(5));
  add(0, 6, at(6));
  FakePair restarted;
  restarted.logs[0] = pair_.logs[0];
  restarted.logs[1] = pair_.logs[1];
  EXPECT_EQ(startupReplay(module_, restarted), 3);
  EXPECT_EQ(texts(), (std::vector<std::string>{
                         "event 1", "event 2", "event 3", "event 4 (from 03/01/08 10:00:04)",
                         "event 5 (from 03/01/08 10:00:05)", "event 6 (from 03/01/08 10:00:06)"}));
  EXPECT_EQ(module_.raised.back().syncFlag, 1);
  EXPECT_EQ(monitorPairEvents(module_, restarted).recorded, 0);
  EXPECT_EQ(startupReplay(module_, restarted), 0);  // a second start replays nothing again
}

TEST_F(EventReaderTest, EventsOfTheLastRecordedSecondLoggedAfterTheReadAreReplayedAfterARestart) {
  pair_.logs[0].clock = pair_.logs[1].clock = at(0);
  startupReplay(module_, pair_);
  add(0, 1, at(7));
  add(0, 2, at(7));
  monitorPairEvents(module_, pair_);
  EXPECT_EQ(module_.storedEventCount(pair_.pairName, kSideA), 2u);
  // Still in second 7 the controller logs two more, then one in second 8; the server has stopped.
  add(0, 3, at(7));
  add(0, 4, at(7));
  add(0, 5, at(8));
  FakePair restarted;
  restarted.logs[0] = pair_.logs[0];
  restarted.logs[1] = pair_.logs[1];
  EXPECT_EQ(startupReplay(module_, restarted), 3);
  EXPECT_EQ(texts(), (std::vector<std::string>{"event 1", "event 2", "event 3 (from 03/01/08 10:00:07)",
                                               "event 4 (from 03/01/08 10:00:07)",
                                               "event 5 (from 03/01/08 10:00:08)"}));
  EXPECT_EQ(module_.storedEventCount(pair_.pairName, kSideA), 1u);
  FakePair again;
  again.logs[0] = pair_.logs[0];
  again.logs[1] = pair_.logs[1];
  EXPECT_EQ(startupReplay(module_, again), 0);

  // A bookmark without a count (a file from before it was kept) takes the whole second as done,
  // and recording on in that second keeps it so.
  module_.storedCounts.clear();
  add(0, 6, at(8));
  FakePair old;
  old.logs[0] = pair_.logs[0];
  old.logs[1] = pair_.logs[1];
  EXPECT_EQ(startupReplay(module_, old), 0);
  old.logs[0].append(entryOf(at(8), 0x08, {7, 0}, kClassNormal));
  EXPECT_EQ(monitorPairEvents(module_, old).recorded, 1);
  EXPECT_EQ(module_.storedEventCount(pair_.pairName, kSideA), kWholeSecond);
}

TEST_F(EventReaderTest, FiveThousandEventsInOneCycleAreAllRecorded) {
  add(0, 0, at(0));
  add(1, 0, at(0));
  monitorPairEvents(module_, pair_);
  for (int i = 1; i <= 5000; ++i) add(i % 2, i, at(i / 2 + 1));
  MonitorOutcome outcome = monitorPairEvents(module_, pair_);
  EXPECT_EQ(outcome.recorded, 5000);
  ASSERT_EQ(module_.raised.size(), 5000u);
  std::set<std::string> distinct;
  uint32_t previous = 0;
  for (const RaisedEvent& e : module_.raised) {
    distinct.insert(e.text);
    EXPECT_GE(e.time, previous);
    previous = e.time;
  }
  EXPECT_EQ(distinct.size(), 5000u);
}

TEST_F(EventReaderTest, MissingSeverityIsRecordedAfterAnInternalEvent) {
  add(0, 0, at(0));
  monitorPairEvents(module_, pair_);
  pair_.logs[0].append(entryOf(at(1), 0x11, {7}));
  monitorPairEvents(module_, pair_);
  ASSERT_EQ(module_.raised.size(), 2u);
  EXPECT_EQ(module_.raised[0].source, "Internal");
  EXPECT_EQ(module_.raised[0].text, "Event status of event: 0x11 was not found.");
  EXPECT_EQ(module_.raised[0].severity, 2u);
  EXPECT_EQ(module_.raised[0].eventId, 0xB11u);
  EXPECT_EQ(module_.raised[1].text, "array 7 changed");
  EXPECT_EQ(module_.raised[1].severity, 2u);
}

TEST_F(EventReaderTest, RecordingStopsWhenTheModuleStops) {
  add(0, 0, at(0));
  monitorPairEvents(module_, pair_);
  for (int i = 1; i <= 10; ++i) add(0, i, at(i));
  module_.stopAfterRaises = 3;
  EXPECT_EQ(monitorPairEvents(module_, pair_).recorded, 3);
  EXPECT_EQ(module_.raised.size(), 3u);
  EXPECT_EQ(module_.storedEventTime(pair_.pairName, kSideA), *eventSeconds(at(3)));
}

TEST_F(EventReaderTest, ArrayNamesAndSourceNamesAndDebugLines) {
  module_.fakeTexts.settings["ControllerLogName"] = "Pair %s, controller %s";
  pair_.arrayNames[2] = "Finance";
  add(0, 0, at(0));
  monitorPairEvents(module_, pair_);
  pair_.logs[0].append(entryOf(at(1), 0x0B, {2}));
  pair_.logs[0].append(entryOf(at(2), 0x0B, {2}));
  monitorPairEvents(module_, pair_);
  EXPECT_EQ(texts(),
            (std::vector<std::string>{"Finance (Array 2) is offline", "Finance (Array 2) is offline"}));
  EXPECT_EQ(module_.raised[0].source, "Pair 0123456789ABCDEF, controller 0");
  int arrayReads = 0;
  for (const testing::SentCommand& c : pair_.sent) {
    if (c.bufferId == kOpReadArray) {
      ++arrayReads;
      EXPECT_EQ(c.mode, kModeCommand);
      EXPECT_EQ(c.p4, 2);
    }
  }
  EXPECT_EQ(arrayReads, 1);
  ASSERT_EQ(module_.debugLines.size(), 2u);
  EXPECT_EQ(module_.debugLines[0],
            "mon: Event (0): Date:  3/01/2008 10:00:01 Code = 0B Reason = 02, 00, 00, 00, 00, 00\n"
            "   Status = 2x Msg = Finance (Array 2) is offline \n");
}

}  // namespace
}  // namespace brivo::events
