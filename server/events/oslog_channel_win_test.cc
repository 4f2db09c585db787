// Tests of the "oslog" channel on Windows: the levels map to the event log's event types, the
// setting still decides, and a record goes through the real event log (Wine's) with result 0
// while a record without device or message is dropped.
#include <windows.h>
// after windows.h
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/events/channel_handlers.h"
#include "server/server_state.h"

namespace {

struct Line {
  std::string identity;
  int type;
  std::string text;
};

class Recorder : public OsLogSink {
 public:
  void write(const std::string& identity, int type, const std::string& text) override {
    lines.push_back({identity, type, text});
  }
  std::vector<Line> lines;
};

int write(const char* device, const char* message, uint32_t level) {
  EventRecord record{const_cast<char*>(message), const_cast<char*>(device), level, 0, 0, 0x101, 0};
  return writeOsEventLog(copyEventRecord(&record));
}

void set(const char* key, const char* value) { replaceVariable(&serverSettings().server, key, value); }

TEST(WinOsLog, LevelsGiveEventTypesUnderTheSoftwareName) {
  Recorder recorder;
  setOsLogSink(&recorder);
  EXPECT_EQ(write("Server", "off", 2), 0);
  EXPECT_TRUE(recorder.lines.empty());
  set("UseOsEventLog", "true");
  set("softwareName", "Kestrova Test");
  for (uint32_t level : {0u, 1u, 2u, 3u, 4u}) EXPECT_EQ(write("Pair 1", "changed", level), 0);
  setOsLogSink(nullptr);
  ASSERT_EQ(recorder.lines.size(), 5u);
  const int types[] = {EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE,
                       EVENTLOG_INFORMATION_TYPE};
  for (size_t i = 0; i < recorder.lines.size(); ++i) {
    EXPECT_EQ(recorder.lines[i].type, types[i]) << i;
    EXPECT_EQ(recorder.lines[i].identity, "Kestrova Test");
    EXPECT_EQ(recorder.lines[i].text, "Pair 1: changed");
  }
  freeVariableTable(&serverSettings().server);
}

TEST(WinOsLog, RecordsReachTheEventLogAndIncompleteOnesAreDropped) {
  set("UseOsEventLog", "true");
  EXPECT_EQ(write("Server", "through the event log", 0), 0);
  EXPECT_EQ(write("Server", "an error through the event log", 2), 0);
  EXPECT_EQ(write(nullptr, "no device", 2), 0);
  EXPECT_EQ(writeOsEventLog(nullptr), 0);
  freeVariableTable(&serverSettings().server);
}

}  // namespace
