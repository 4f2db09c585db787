// Tests of the "oslog" channel: it writes only while "UseOsEventLog" is true, under the server's
// software name (or "Kestrova"), with the level's priority and the "<device>: <message>" text;
// and, where a journal runs, the line read back from it.
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "server/events/channel_handlers.h"
#include "server/server_state.h"

namespace {

struct Line {
  std::string identity;
  int priority;
  std::string text;
};

class Recorder : public OsLogSink {
 public:
  void write(const std::string& identity, int priority, const std::string& text) override {
    lines.push_back({identity, priority, text});
  }
  std::vector<Line> lines;
};

class OsLogTest : public ::testing::Test {
 protected:
  void SetUp() override { setOsLogSink(&recorder_); }
  void TearDown() override {
    setOsLogSink(nullptr);
    freeVariableTable(&serverSettings().server);
  }
  static int write(const char* device, const char* message, uint32_t level) {
    EventRecord record{const_cast<char*>(message), const_cast<char*>(device), level, 0, 0, 0x101, 0};
    return writeOsEventLog(copyEventRecord(&record));
  }
  static void set(const char* key, const char* value) { replaceVariable(&serverSettings().server, key, value); }
  Recorder recorder_;
};

TEST_F(OsLogTest, WritesOnlyWhileTheSettingAsksForIt) {
  EXPECT_EQ(write("Server", "absent setting", 0), 0);
  set("UseOsEventLog", "false");
  EXPECT_EQ(write("Server", "false", 0), 0);
  set("UseOsEventLog", "yes");
  EXPECT_EQ(write("Server", "not a true text", 0), 0);
  EXPECT_TRUE(recorder_.lines.empty());
  set("UseOsEventLog", "1");
  EXPECT_EQ(write("Server", "one", 0), 0);
  set("UseOsEventLog", "true");
  EXPECT_EQ(write("Server", "true", 0), 0);
  ASSERT_EQ(recorder_.lines.size(), 2u);
  EXPECT_EQ(recorder_.lines[1].text, "Server: true");
}

TEST_F(OsLogTest, IdentityPriorityAndText) {
  set("UseOsEventLog", "true");
  EXPECT_EQ(write("Brivo 0123 (0)", "(Event ID: 0x301) Fan failed", 2), 0);
  set("softwareName", "Storage Watch");
  for (uint32_t level : {0u, 1u, 3u, 4u}) EXPECT_EQ(write("Server", "level", level), 0);
  EventRecord* empty = static_cast<EventRecord*>(calloc(1, sizeof(EventRecord)));
  EXPECT_EQ(writeOsEventLog(empty), 0);  // no texts: freed, nothing written
  ASSERT_EQ(recorder_.lines.size(), 5u);
  EXPECT_EQ(recorder_.lines[0].identity, "Kestrova");
  EXPECT_EQ(recorder_.lines[0].priority, LOG_ERR);
  EXPECT_EQ(recorder_.lines[0].text, "Brivo 0123 (0): (Event ID: 0x301) Fan failed");
  EXPECT_EQ(recorder_.lines[1].identity, "Storage Watch");
  EXPECT_EQ(recorder_.lines[1].priority, LOG_INFO);
  EXPECT_EQ(recorder_.lines[2].priority, LOG_WARNING);
  EXPECT_EQ(recorder_.lines[3].priority, LOG_WARNING);
  EXPECT_EQ(recorder_.lines[4].priority, LOG_INFO);
}

// Through syslog(3) into a running journal, read back with journalctl.
TEST(OsLogJournalTest, LineReachesTheJournal) {
  if (access("/run/systemd/journal/socket", F_OK) != 0 || access("/usr/bin/journalctl", X_OK) != 0) {
    GTEST_SKIP() << "no journal runs on this host (no /run/systemd/journal/socket)";
  }
  char marker[64];
  std::snprintf(marker, sizeof marker, "oslog-test-%ld-%d", static_cast<long>(std::time(nullptr)), getpid());
  replaceVariable(&serverSettings().server, "UseOsEventLog", "true");
  replaceVariable(&serverSettings().server, "softwareName", "KestrovaOsLogTest");
  EventRecord record{marker, const_cast<char*>("Server"), 2, 0, 0, 0, 0};
  ASSERT_EQ(writeOsEventLog(copyEventRecord(&record)), 0);
  freeVariableTable(&serverSettings().server);
  const std::string command = std::string("for i in $(seq 50); do journalctl -t KestrovaOsLogTest -p err -o cat ") +
                              "--since '-5min' 2>/dev/null | grep -qx 'Server: " + marker +
                              "' && exit 0; sleep 0.2; done; exit 1";
  EXPECT_EQ(std::system(command.c_str()), 0) << "the line did not reach the journal with priority err";
}

}  // namespace
