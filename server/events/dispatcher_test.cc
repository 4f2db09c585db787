// Tests of the notification dispatcher with channels whose handlers the tests control: delivery
// to every channel, the event text, the syncing rule, a full channel that loses a record alone,
// the growing queue that loses nothing, records written at stop, and start failures.
#include "server/events/dispatcher.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_manager.h"
#include "common/variable_table.h"
#include "server/events/channel_handlers.h"
#include "server/server_state.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

using namespace std::chrono_literals;

// What one test channel received, in order.
struct Captured {
  std::mutex mutex;
  std::vector<EventRecord> records;  // texts copied into strings below
  std::vector<std::string> messages;
  std::vector<std::string> devices;

  void add(const EventRecord* record) {
    std::lock_guard<std::mutex> lock(mutex);
    records.push_back(*record);
    messages.emplace_back(record->message);
    devices.emplace_back(record->device);
  }
  size_t size() {
    std::lock_guard<std::mutex> lock(mutex);
    return records.size();
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex);
    records.clear();
    messages.clear();
    devices.clear();
  }
};

Captured gFirst;
Captured gSecond;
Captured gAtStop;
std::atomic<bool> gGateOpen{true};
std::atomic<int> gInsideGate{0};

int captureFirst(EventRecord* record) {
  gFirst.add(record);
  freeEventRecord(record);
  return 0;
}

int captureSecond(EventRecord* record) {
  gSecond.add(record);
  freeEventRecord(record);
  return 0;
}

// Holds the channel's thread until the gate opens.
int captureBehindGate(EventRecord* record) {
  gInsideGate.fetch_add(1);
  while (!gGateOpen.load()) std::this_thread::sleep_for(1ms);
  return captureFirst(record);
}

int captureAtStop(EventRecord* record) {
  gAtStop.add(record);
  freeEventRecord(record);
  return 0;
}

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(initThreadManager());
    serverControl().serverRunning.store(1);
    gFirst.clear();
    gSecond.clear();
    gAtStop.clear();
    gGateOpen.store(true);
    gInsideGate.store(0);
  }
  void TearDown() override {
    gGateOpen.store(true);
    serverControl().serverRunning.store(0);
    freeVariableTable(&serverSettings().server);
  }
};

TEST_F(DispatcherTest, EveryStartedChannelGetsItsOwnCopyInOrder) {
  NotificationDispatcher dispatcher(
      {{"first", 5, 0, captureFirst, nullptr}, {"second", 5, 0, captureSecond, nullptr}});
  ASSERT_TRUE(dispatcher.start());
  const auto before = static_cast<uint32_t>(std::time(nullptr));
  EXPECT_EQ(dispatcher.raise("Brivo00AA", "Drive failed", 2, 1000, 0x7, 0), 0);
  EXPECT_EQ(dispatcher.raise("Server", "Started", 0, 0, 0x101, 0), 0);
  EXPECT_EQ(dispatcher.raise("Server", "No ID", 1, 0, 0, 0), 0);
  ASSERT_TRUE(waitUntil([] { return gFirst.size() == 3 && gSecond.size() == 3; }));
  for (Captured* captured : {&gFirst, &gSecond}) {
    EXPECT_EQ(captured->messages, (std::vector<std::string>{"(Event ID: 0x 7) Drive failed",
                                                            "(Event ID: 0x101) Started", "No ID"}));
    EXPECT_EQ(captured->devices[0], "Brivo00AA");
    const EventRecord& first = captured->records[0];
    EXPECT_EQ(first.concernLevel, 2u);
    EXPECT_EQ(first.eventTime, 1000u);
    EXPECT_GE(first.raiseTime, before);
    EXPECT_EQ(first.eventId, 0x7u);
    EXPECT_GE(captured->records[1].eventTime, before) << "event time 0 means now";
  }
  EXPECT_EQ(dispatcher.dropCount(0) + dispatcher.dropCount(1), 0u);
}

TEST_F(DispatcherTest, MissingTextsAreRefused) {
  NotificationDispatcher dispatcher({{"first", 5, 0, captureFirst, nullptr}});
  ASSERT_TRUE(dispatcher.start());
  EXPECT_EQ(dispatcher.raise(nullptr, "text", 0, 0, 0, 0), 2);
  EXPECT_EQ(dispatcher.raise("device", nullptr, 0, 0, 0, 0), 2);
  EventRecord noDevice{const_cast<char*>("text"), nullptr, 0, 0, 0, 0, 0};
  EXPECT_EQ(dispatcher.dispatch(&noDevice), 2);
  EXPECT_EQ(dispatcher.dispatch(nullptr), 2);
  std::this_thread::sleep_for(100ms);  // a refused event, had it been queued, would be here by now
  EXPECT_EQ(gFirst.size(), 0u);
}

TEST_F(DispatcherTest, SyncedEventsPassOnlyWhenSyncingIsAllowed) {
  NotificationDispatcher dispatcher({{"first", 5, 0, captureFirst, nullptr}});
  ASSERT_TRUE(dispatcher.start());
  EXPECT_EQ(dispatcher.raise("d", "no setting", 0, 0, 0, 1), 0);
  addVariable(&serverSettings().server, "AllowEventLogSyncing", "false");
  EXPECT_EQ(dispatcher.raise("d", "refused", 0, 0, 0, 1), 0);
  EXPECT_EQ(dispatcher.raise("d", "not synced", 0, 0, 0, 0), 0);
  addVariable(&serverSettings().server, "AllowEventLogSyncing", "1");
  EXPECT_EQ(dispatcher.raise("d", "allowed", 0, 0, 0, 1), 0);
  ASSERT_TRUE(waitUntil([] { return gFirst.size() == 2; }));
  std::this_thread::sleep_for(100ms);  // time for the refused one to arrive, were it passed
  EXPECT_EQ(gFirst.messages, (std::vector<std::string>{"not synced", "allowed"}));
}

TEST_F(DispatcherTest, AFullChannelLosesTheRecordAloneAndCountsIt) {
  gGateOpen.store(false);
  NotificationDispatcher dispatcher(
      {{"slow", 2, 0, captureBehindGate, nullptr}, {"fast", 5, 0, captureSecond, nullptr}});
  ASSERT_TRUE(dispatcher.start());
  EXPECT_EQ(dispatcher.raise("d", "0", 0, 0, 0, 0), 0);
  ASSERT_TRUE(waitUntil([] { return gInsideGate.load() == 1; }));  // the slow thread holds record 0
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(dispatcher.raise("d", std::to_string(i).c_str(), 0, 0, 0, 0), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(dispatcher.raise("d", "5", 0, 0, 0, 0), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[ERROR] failed to queue notification\n");
  EXPECT_EQ(dispatcher.dropCount(0), 1u);
  EXPECT_EQ(dispatcher.dropCount(1), 0u);
  EXPECT_EQ(dispatcher.queuedCount(0), 4u);
  ASSERT_TRUE(waitUntil([] { return gSecond.size() == 6; }));
  gGateOpen.store(true);
  ASSERT_TRUE(waitUntil([] { return gFirst.size() == 5; }));
  EXPECT_EQ(gFirst.messages, (std::vector<std::string>{"0", "1", "2", "3", "4"}));
}

TEST_F(DispatcherTest, AGrowingChannelKeepsABurstWhileItsThreadIsBusy) {
  gGateOpen.store(false);
  NotificationDispatcher dispatcher({{"log", 5, 20, captureBehindGate, nullptr}});
  ASSERT_TRUE(dispatcher.start());
  constexpr int kBurst = 10000;
  for (int i = 0; i < kBurst; ++i) ASSERT_EQ(dispatcher.raise("d", std::to_string(i).c_str(), 0, 0, 0, 0), 0);
  EXPECT_EQ(dispatcher.dropCount(0), 0u);
  gGateOpen.store(true);
  ASSERT_TRUE(waitUntil([] { return gFirst.size() == kBurst; }));
  for (int i = 0; i < kBurst; ++i) ASSERT_EQ(gFirst.messages[i], std::to_string(i));
}

TEST_F(DispatcherTest, RecordsQueuedWhenTheServerStopsGoToTheStopHandler) {
  gGateOpen.store(false);
  NotificationDispatcher dispatcher(
      {{"log", 5, 0, captureBehindGate, captureAtStop}, {"other", 5, 0, captureBehindGate, nullptr}});
  ASSERT_TRUE(dispatcher.start());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(dispatcher.raise("d", std::to_string(i).c_str(), 0, 0, 0, 0), 0);
  ASSERT_TRUE(waitUntil([] { return gInsideGate.load() == 2; }));
  serverControl().serverRunning.store(0);
  gGateOpen.store(true);
  dispatcher.stop();
  EXPECT_FALSE(dispatcher.channelStarted(0));
  EXPECT_EQ(gFirst.size(), 2u);  // one record each was already in its handler
  EXPECT_EQ(gAtStop.messages, (std::vector<std::string>{"1", "2", "3", "4"}));
  // The other channel's four records were freed unprocessed (the leak checker watches them).
  EXPECT_EQ(dispatcher.raise("d", "after stop", 0, 0, 0, 0), 0);
}

TEST_F(DispatcherTest, RecordsRaisedWhileTheServerShutsDownStillReachTheStopHandler) {
  // Modules record their last controller events after the server stopped running and before the
  // channels are stopped; the event log must get each of them, in order.
  NotificationDispatcher dispatcher({{"log", 5, 20, captureFirst, captureAtStop}});  // grows as the log's does
  ASSERT_TRUE(dispatcher.start());
  EXPECT_EQ(dispatcher.raise("d", "running", 0, 0, 0, 0), 0);
  ASSERT_TRUE(waitUntil([] { return gFirst.size() == 1; }));
  serverControl().serverRunning.store(0);
  // The channel's thread notices the stop and hands what is queued to the stop handler.
  EXPECT_EQ(dispatcher.raise("d", "stopping", 0, 0, 0, 0), 0);
  ASSERT_TRUE(waitUntil([] { return gAtStop.size() == 1; }));
  std::thread module([&] {
    for (int i = 0; i < 2000; ++i) EXPECT_EQ(dispatcher.raise("d", std::to_string(i).c_str(), 0, 0, 0, 0), 0);
  });
  module.join();
  ASSERT_TRUE(waitUntil([&] { return gAtStop.size() == 2001; })) << gAtStop.size();
  dispatcher.stop();
  EXPECT_EQ(gFirst.messages, (std::vector<std::string>{"running"}));
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(gAtStop.messages[i + 1], std::to_string(i));
  EXPECT_EQ(dispatcher.dropCount(0), 0u);
}

TEST_F(DispatcherTest, AChannelThatCannotStartIsReportedAndSkipped) {
  closeThreadManager();
  NotificationDispatcher dispatcher({{"first", 5, 0, captureFirst, nullptr}});
  testing::internal::CaptureStdout();
  EXPECT_FALSE(dispatcher.start());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[ ERROR ] Failed to start first\n");
  EXPECT_FALSE(dispatcher.channelStarted(0));
  EXPECT_EQ(dispatcher.raise("d", "nobody listens", 0, 0, 0, 0), 0);
  ASSERT_TRUE(initThreadManager());
  EXPECT_TRUE(dispatcher.start());
  EXPECT_TRUE(dispatcher.channelStarted(0));
}

TEST(NotificationChannelsTest, ServerTableAndOsLogLevels) {
  const std::vector<NotificationChannelSpec> channels = defaultNotificationChannels();
  ASSERT_EQ(channels.size(), 6u);
  const char* names[] = {"kvlog", "oslog", "email", "snmp", "syslog", "webhook"};
  const int slots[] = {5, 5, 6, 5, 5, 5};
  for (size_t i = 0; i < channels.size(); ++i) {
    EXPECT_STREQ(channels[i].name, names[i]);
    EXPECT_STREQ(notificationChannelName(static_cast<int>(i)), names[i]);
    EXPECT_EQ(channels[i].slotsLog2, slots[i]);
    EXPECT_EQ(channels[i].maxSlotsLog2 > channels[i].slotsLog2, i == 0 || i == 4 || i == 5)
        << "the event log grows, and so do the channels with backlogs of their own (syslog, webhooks)";
    EXPECT_EQ(channels[i].stopHandler != nullptr, i == 0 || i == 2 || i == 5)
        << "the event log writes at stop, e-mail drops its records and closes its connection, webhooks queue "
           "them on disk";
    EXPECT_EQ(channels[i].idle != nullptr, i == 4 || i == 5) << "backlogs are sent while idle";
  }
  EXPECT_EQ(notificationChannelName(6), nullptr);
  EXPECT_EQ(osLogPriority(0), LOG_INFO);
  EXPECT_EQ(osLogPriority(1), LOG_WARNING);
  EXPECT_EQ(osLogPriority(2), LOG_ERR);
  EXPECT_EQ(osLogPriority(3), LOG_WARNING);
  EXPECT_EQ(osLogPriority(4), LOG_INFO);
}

}  // namespace
