// Tests of the event log behind the server's own dispatcher: clearing the log (and the clear
// event that the "kvlog" channel writes afterwards) and a burst of events that must all reach the
// file, numbered without gaps, while pages are read at the same time.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "common/thread_manager.h"
#include "server/events/dispatcher.h"
#include "server/events/event_log.h"
#include "server/events/event_log_format.h"
#include "server/events/log_test_fixture.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

using namespace std::chrono_literals;

class EventLogChannelTest : public EventLogFolderTest {
 protected:
  void SetUp() override {
    EventLogFolderTest::SetUp();
    writeFile("db/strings.db",
              "KestrovaEvent_ClearServerLog = The event log was cleared.\n"
              "CmdClearLogs = Clearing the event log\n"
              "CommandOK = %s completed successfully.\n"
              "CommandFail = %s failed.\n");
    setServerDeviceName("Test Server");
    ASSERT_TRUE(initThreadManager());
    serverControl().serverRunning.store(1);
    ASSERT_TRUE(startNotificationChannels());
  }
  void TearDown() override {
    serverControl().serverRunning.store(0);
    stopNotificationChannels();
    setServerDeviceName(nullptr);
    EventLogFolderTest::TearDown();
  }
};

TEST_F(EventLogChannelTest, ClearingLeavesTheHeaderAndTheClearEventAsRecordOne) {
  for (int i = 0; i < 5; ++i) ASSERT_EQ(raiseEvent("dev", "before", 0, 0, 0, 0), 0);
  ASSERT_TRUE(waitUntil([] { return lastLogEntryNumber() == 5; }, 5000ms));

  TableOwner reply(ClearEventLogs(nullptr));
  auto pairs = pairsOf(reply.get());
  EXPECT_EQ(pairs["MessageSummary"], "Clearing the event log completed successfully.");
  EXPECT_EQ(pairs["MessageDetails"], " ");
  EXPECT_EQ(pairs["MessageImageSrc"], "/images/popup_info.gif");
  EXPECT_EQ(pairs["HTMLPath"], "../Server/other/event_logs.htm");

  ASSERT_TRUE(waitUntil([] { return lastLogEntryNumber() == 1; }, 5000ms));
  const std::string file = readFile("db/ServerLog.log");
  EXPECT_EQ(file.rfind(kBuiltInLogHeader, 0), 0u);
  const std::string record = file.substr(sizeof(kBuiltInLogHeader) - 1);
  EXPECT_EQ(record.rfind("\"1\",\"0\",\"", 0), 0u) << record;
  EXPECT_NE(record.find("\"Test Server\",\"(Event ID: 0x105) The event log was cleared.\"\n"),
            std::string::npos)
      << record;
  EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 1);
}

TEST_F(EventLogChannelTest, AFailedClearIsReportedAndRaisesNoEvent) {
  std::filesystem::create_directory("db/ServerLog.log");  // cannot be opened for writing
  testing::internal::CaptureStdout();
  TableOwner reply(ClearEventLogs(nullptr));
  testing::internal::GetCapturedStdout();
  auto pairs = pairsOf(reply.get());
  EXPECT_EQ(pairs["MessageSummary"], "Clearing the event log failed.");
  EXPECT_EQ(pairs["MessageImageSrc"], "/images/popup_error.gif");
  std::this_thread::sleep_for(200ms);  // a wrongly logged entry would be written by now
  EXPECT_EQ(lastLogEntryNumber(), 0);
}

TEST_F(EventLogChannelTest, ABurstOfEventsIsWrittenWholeWhilePagesAreRead) {
  constexpr int kBurst = 10000;
  // The fixed-size channels overflow during the burst; their console lines are not wanted here.
  testing::internal::CaptureStdout();
  std::atomic<bool> raising{true};
  std::thread reader([&] {
    while (raising.load() || lastLogEntryNumber() < kBurst) {
      TableOwner shown(ViewLogs(nullptr));
      auto pairs = pairsOf(shown.get());
      const int entries = std::stoi(pairs["LogEntries"]);
      if (entries == 0) continue;  // nothing written yet (the file may not even exist)
      const int newest = std::stoi(pairs["LogEntries0logNumber"]);
      for (int slot = 1; slot < entries; ++slot) {
        ASSERT_EQ(std::stoi(pairs["LogEntries" + std::to_string(slot) + "logNumber"]), newest - slot);
      }
      if (lastLogEntryNumber() >= kBurst) break;
    }
  });
  for (int i = 1; i <= kBurst; ++i)
    ASSERT_EQ(raiseEvent("dev", std::to_string(i).c_str(), 1, 0, 0, 0) & 2, 0);
  raising.store(false);
  const bool written = waitUntil([] { return lastLogEntryNumber() == kBurst; }, 60000ms);
  reader.join();
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(written) << lastLogEntryNumber();
  EXPECT_EQ(notificationDropCount(0), 0u);

  std::istringstream file(readFile("db/ServerLog.log"));
  std::string line;
  std::getline(file, line);
  EXPECT_EQ(line + "\n", kBuiltInLogHeader);
  int expected = 1;
  while (std::getline(file, line)) {
    std::string number;
    std::string message;
    ASSERT_TRUE(readLogField(line.c_str(), 0, &number));
    ASSERT_TRUE(readLogField(line.c_str(), 5, &message));
    ASSERT_EQ(number, std::to_string(expected));
    ASSERT_EQ(message, std::to_string(expected));
    ++expected;
  }
  EXPECT_EQ(expected, kBurst + 1);
}

}  // namespace
