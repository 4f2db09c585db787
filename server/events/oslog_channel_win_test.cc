// Tests of the "oslog" channel on Windows: the levels map to the event log's event types, the
// setting still decides, and a record goes through the real event log (Wine's) with result 0
// while a record without device or message is dropped; the message file has the text of every
// identifier the channel reports.
#include <windows.h>
// after windows.h
#include <gtest/gtest.h>

#include <filesystem>
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
  const int types[] = {EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_ERROR_TYPE,
                       EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE};
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

// The event viewer formats an event with the registered message file: every identifier the
// channel can report must have a text there, and that text shows device and message.
TEST(WinOsLog, MessageFileHasTheTextOfEveryIdentifierTheChannelReports) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::filesystem::path file =
      std::filesystem::path(self).parent_path().parent_path() / "bin" / "db" / "MessageFile.dll";
  HMODULE messages = LoadLibraryExW(file.wstring().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(messages, nullptr) << file.string() << ": error " << GetLastError();
  EXPECT_EQ(osLogEventIdentifier(EVENTLOG_ERROR_TYPE, 0x12345), 0xC0022345u);
  EXPECT_EQ(osLogEventIdentifier(EVENTLOG_INFORMATION_TYPE, 0x301), 0x40020301u);
  auto format = [&](DWORD identifier) {
    char device[] = "Pair 1";
    char message[] = "drive 3 failed";
    // FormatMessage's argument array: one pointer-sized value per insertion string.
    DWORD_PTR inserts[2] = {reinterpret_cast<DWORD_PTR>(device), reinterpret_cast<DWORD_PTR>(message)};
    char text[256] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages, identifier, 0,
                       text, sizeof text, reinterpret_cast<va_list*>(inserts));
    return length == 0 ? std::string("(none)") : std::string(text, length);
  };
  for (int type : {EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_ERROR_TYPE}) {
    for (uint32_t id : {0x0u, 0x1u, 0x301u, 0x7FFFu, 0xFFFFu, 0x10001u}) {
      EXPECT_EQ(format(osLogEventIdentifier(type, id)), "Pair 1: drive 3 failed\r\n") << type << " " << id;
    }
  }
  // Identifiers of another facility or severity are not ours: no text.
  EXPECT_EQ(format(0x40030301), "(none)");
  EXPECT_EQ(format(0x00020301), "(none)");
  FreeLibrary(messages);
}

}  // namespace
