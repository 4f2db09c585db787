// Debug print facility: code rules, option messages, settings file, output and concurrency.
#include "common/debug.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/debug_options.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Redirects standard output (the descriptor, so printf and the debug stream both land here) into
// a temporary file until finish().
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    file_ = std::tmpfile();
    dup2(fileno(file_), STDOUT_FILENO);
  }
  ~StdoutCapture() { finish(); }
  std::string finish() {
    if (file_ == nullptr) return "";
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    std::string text;
    std::rewind(file_);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
    std::fclose(file_);
    file_ = nullptr;
    return text;
  }

 private:
  int saved_ = -1;
  FILE* file_ = nullptr;
};

// Runs initDebugNoExit with the service name in front of args; returns what it printed.
std::string initWith(std::vector<std::string> args, bool* exitRequested = nullptr) {
  std::vector<const char*> argv{"Kestrova"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  StdoutCapture capture;
  bool exitFlag = false;
  initDebugNoExit(static_cast<int>(argv.size()), argv.data(), &exitFlag);
  if (exitRequested != nullptr) *exitRequested = exitFlag;
  return capture.finish();
}

TEST(DebugCodeTest, LegalOnlyWithLevelModuleAndSubsystem) {
  for (uint32_t code : {0x0u, 0x10u, 0xFFFu, 0x1000u, 0x1010u, 0x1001u, 0x11u}) {
    EXPECT_FALSE(isLegalDebugCode(code)) << std::hex << code;
  }
  for (uint32_t code : {0x1011u, 0x4011u, 0x20024u, 0x80000018u, 0xFFFFFFFFu}) {
    EXPECT_TRUE(isLegalDebugCode(code)) << std::hex << code;
  }
}

TEST(DebugCodeTest, ParsesWholeHexadecimalTextOnly) {
  uint32_t code = 0;
  EXPECT_TRUE(parseDebugCode("1011", &code));
  EXPECT_EQ(code, 0x1011u);
  EXPECT_TRUE(parseDebugCode("0x20aF", &code));
  EXPECT_EQ(code, 0x20AFu);
  EXPECT_TRUE(parseDebugCode("00000000FFFFFFFF", &code));
  EXPECT_EQ(code, 0xFFFFFFFFu);
  code = 7;
  for (const char* bad : {"", "0x", "zz", "1011zz", "-1", " 1011", "100000000", "10 11"}) {
    EXPECT_FALSE(parseDebugCode(bad, &code)) << bad;
  }
  EXPECT_EQ(code, 7u);
}

TEST(DebugTagTest, LowestSubsystemBitOfTheModuleColumn) {
  EXPECT_STREQ(debugTagName(0x1011), "net");
  EXPECT_STREQ(debugTagName(0x3013), "net");
  EXPECT_STREQ(debugTagName(0x6011), "thread");
  EXPECT_STREQ(debugTagName(0x800011), "syslog");
  EXPECT_STREQ(debugTagName(0x1000011), "rsvd");
  EXPECT_STREQ(debugTagName(0x20021), "mon");
  EXPECT_STREQ(debugTagName(0x8024), "ses");
  EXPECT_STREQ(debugTagName(0x40041), "ht");
  // Past the end of a column, several modules, no module or no subsystem: empty.
  EXPECT_STREQ(debugTagName(0x2000011), "");
  EXPECT_STREQ(debugTagName(0x40021), "");
  EXPECT_STREQ(debugTagName(0x80041), "");
  EXPECT_STREQ(debugTagName(0x1031), "");
  EXPECT_STREQ(debugTagName(0x1081), "");
  EXPECT_STREQ(debugTagName(0x11), "");
}

class DebugPrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrova-debug-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    log_ = (dir_ / "debug.log").string();
  }
  void TearDown() override {
    initWith({"-x"});  // clears the state without reading a settings file
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path dir_;
  std::string log_;
};

TEST_F(DebugPrintTest, FilterAndTagRules) {
  initWith({"1011", "-tag", "-f", log_});
  EXPECT_EQ(debugPrint(0x1012, "no common level\n"), 0);
  EXPECT_EQ(debugPrint(0x1021, "other module\n"), 0);
  EXPECT_EQ(debugPrint(0x2011, "other subsystem\n"), 0);
  const std::string shared = "net: shared bits 5\n";
  const std::string twoModules = ": two modules\n";
  EXPECT_EQ(debugPrint(0x3013, "shared bits %d\n", 5), static_cast<int>(shared.size()));
  EXPECT_EQ(debugPrint(0x1031, "two modules\n"), static_cast<int>(twoModules.size()));
  closeDebug();
  EXPECT_EQ(readFile(log_), shared + twoModules);
}

TEST_F(DebugPrintTest, ThreadManagerCodeIsNeverTagged) {
  initWith({"3013", "-tag", "-f", log_});
  EXPECT_GT(debugPrint(0x2012, "slot\n"), 0);
  EXPECT_GT(debugPrint(0x2011, "start\n"), 0);
  EXPECT_GT(debugPrint(0x2013, "both levels\n"), 0);
  closeDebug();
  EXPECT_EQ(readFile(log_), "slot\nthread: start\nthread: both levels\n");
}

TEST_F(DebugPrintTest, TimePrefixAndSwitchingPrefixes) {
  initWith({"1011", "-time", "-tag", "-f", log_});
  debugPrint(0x1011, "first\n");
  setDebugPrefixes(false);
  debugPrint(0x1011, "bare\n");
  setDebugPrefixes(true);
  debugPrint(0x1011, "again\n");
  closeDebug();
  const std::regex expected(
      "\\d{1,2}/\\d{1,2}\\.\\d\\d:\\d\\d:\\d\\d net: first\n"
      "bare\n"
      "\\d{1,2}/\\d{1,2}\\.\\d\\d:\\d\\d:\\d\\d net: again\n");
  std::string text = readFile(log_);
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(DebugPrintTest, PrefixesNotRequestedStayOff) {
  initWith({"1011", "-f", log_});
  setDebugPrefixes(true);
  debugPrint(0x1011, "plain\n");
  closeDebug();
  EXPECT_EQ(readFile(log_), "plain\n");
}

TEST_F(DebugPrintTest, OptionMessagesInArgumentOrder) {
  std::string out = initWith({"-time", "-tag", "1011", "zz", "1010", "-f", log_});
  EXPECT_EQ(out,
            "Timestamp printing enabled\nTag printing enabled\ndebug code = 1011\n"
            "ERROR: debug code zz is illegal.\nERROR: debug code 1010 is illegal.\n");
  EXPECT_EQ(debugEnabledCode(), 0x1011u);
  EXPECT_TRUE(debugToFile());
  EXPECT_EQ(std::string(debugFileName()), log_);
  EXPECT_TRUE(fs::exists(log_));
}

TEST_F(DebugPrintTest, IllegalCodeAloneLeavesPrintingOff) {
  EXPECT_EQ(initWith({"0x1000", "-f", log_}), "ERROR: debug code 0x1000 is illegal.\n");
  EXPECT_EQ(debugEnabledCode(), 0u);
  EXPECT_EQ(debugPrint(0xFFFFFFFF, "anything\n"), 0);
  EXPECT_FALSE(fs::exists(log_));  // no file without an enabled code
}

TEST_F(DebugPrintTest, FileOptionAsLastArgumentUsesStdout) {
  std::vector<const char*> argv{"Kestrova", "1011", "-f"};
  StdoutCapture capture;
  initDebugNoExit(static_cast<int>(argv.size()), argv.data(), nullptr);
  debugPrint(0x1011, "to stdout\n");
  EXPECT_EQ(capture.finish(), "debug code = 1011\nto stdout\n");
  EXPECT_FALSE(debugToFile());
  EXPECT_STREQ(debugFileName(), "");
}

TEST_F(DebugPrintTest, ExitOptionIsReportedAfterProcessing) {
  bool exitRequested = false;
  EXPECT_EQ(initWith({"-x", "1011"}, &exitRequested),
            "debug code = 1011\nExiting by command line argument.\n");
  EXPECT_TRUE(exitRequested);
  EXPECT_EQ(debugEnabledCode(), 0x1011u);
  EXPECT_EQ(initWith({"1011"}, &exitRequested), "debug code = 1011\n");
  EXPECT_FALSE(exitRequested);
}

TEST_F(DebugPrintTest, HelpKeepsServerRunningWithPrintingOff) {
  bool exitRequested = true;
  std::string out = initWith({"-h"}, &exitRequested);
  EXPECT_FALSE(exitRequested);
  EXPECT_EQ(debugEnabledCode(), 0u);
  EXPECT_EQ(out.rfind("Kestrova Server\nUsage:  server [options] > output\n \n", 0), 0u) << out;
  const std::string ending = "                Multiple bits may be entered in each field. \n\n";
  ASSERT_GE(out.size(), ending.size());
  EXPECT_EQ(out.substr(out.size() - ending.size()), ending);
}

// The help's subsystem rows must name what the tag prefix prints for the same bit.
TEST_F(DebugPrintTest, HelpTableAgreesWithTagNames) {
  std::istringstream help(initWith({"-h"}));
  const std::regex row(" {16}0x([0-9A-F]{8})  (.*)");
  const uint32_t modules[] = {kDebugModuleServer, kDebugModuleRaid, kDebugModuleJbod};
  int rows = 0;
  std::string line;
  while (std::getline(help, line)) {
    std::smatch match;
    if (!std::regex_match(line, match, row)) continue;
    ++rows;
    uint32_t bit = static_cast<uint32_t>(std::stoul(match[1].str(), nullptr, 16));
    std::string names = match[2].str();
    for (int column = 0; column < 3; ++column) {
      std::string name = column * 8 < static_cast<int>(names.size()) ? names.substr(column * 8, 8) : "";
      name.erase(name.find_last_not_of(' ') + 1);
      std::string tag = debugTagName(bit | modules[column] | kDebugLevel1);
      if (bit == 0x00800000 && column == 0) tag = "rsvd";  // shown as reserved in the help
      EXPECT_EQ(name, tag) << line;
    }
  }
  EXPECT_EQ(rows, 12);
}

TEST_F(DebugPrintTest, UncreatableFileFallsBackToStdout) {
  const std::string bad = (dir_ / "missing" / "debug.log").string();
  std::vector<const char*> argv{"Kestrova", "1011", "-f", bad.c_str()};
  StdoutCapture capture;
  initDebugNoExit(static_cast<int>(argv.size()), argv.data(), nullptr);
  debugPrint(0x1011, "still printed\n");
  EXPECT_EQ(capture.finish(), "debug code = 1011\nERROR: debug file <" + bad +
                                  "> failed to open for write. Using stdout.\nstill printed\n");
  EXPECT_FALSE(debugToFile());
  EXPECT_EQ(debugEnabledCode(), 0x1011u);
}

TEST_F(DebugPrintTest, RestartCreatesTheFileAnew) {
  initWith({"1011", "-f", log_});
  debugPrint(0x1011, "before restart\n");
  initWith({"1011", "-f", log_});
  EXPECT_EQ(readFile(log_), "");
  debugPrint(0x1011, "after restart\n");
  flushDebug();
  EXPECT_EQ(readFile(log_), "after restart\n");
}

TEST_F(DebugPrintTest, CopyDebugFile) {
  initWith({"1011", "-f", log_});
  debugPrint(0x1011, "copied line\n");
  const fs::path copy = dir_ / "DebugPrint.log";
  EXPECT_EQ(copyDebugFile(copy.string().c_str()), 0);
  EXPECT_EQ(readFile(copy), "copied line\n");
  EXPECT_NE(copyDebugFile((dir_ / "missing" / "x.log").string().c_str()), 0);
  initWith({"1011"});
  EXPECT_NE(copyDebugFile((dir_ / "other.log").string().c_str()), 0);  // output is stdout: nothing to copy
  EXPECT_FALSE(fs::exists(dir_ / "other.log"));
}

class DebugSettingsFileTest : public DebugPrintTest {
 protected:
  void SetUp() override {
    DebugPrintTest::SetUp();
    saved_ = fs::current_path();
    fs::create_directory(dir_ / "db");
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(saved_);
    DebugPrintTest::TearDown();
  }
  void writeSettings(const std::string& text) { std::ofstream(dir_ / "db" / "DebugSettings.db") << text; }
  fs::path saved_;
};

TEST_F(DebugSettingsFileTest, ReadWhenThereAreNoArguments) {
  writeSettings("Code = 3013\nTimeFlag = true\nTagFlag=true\nFile = dbg.log\n");
  EXPECT_EQ(initWith({}),
            "debug code = 0x00003013\nTimestamp printing enabled\nTag printing enabled\n"
            "Got the file name: 'dbg.log'\n");
  EXPECT_EQ(debugEnabledCode(), 0x3013u);
  EXPECT_TRUE(debugToFile());
  debugPrint(0x2012, "from settings\n");
  closeDebug();
  EXPECT_NE(readFile(dir_ / "dbg.log").find(" from settings\n"), std::string::npos);
}

TEST_F(DebugSettingsFileTest, MissingOrIllegalCode) {
  writeSettings("TimeFlag = TRUE\nTagFlag = yes\n");
  EXPECT_EQ(initWith({}), "ERROR: debug code (missing) is illegal.\n");
  EXPECT_EQ(debugEnabledCode(), 0u);
  writeSettings("Code = 1010\n");
  EXPECT_EQ(initWith({}), "ERROR: debug code 1010 is illegal.\n");
  EXPECT_EQ(debugEnabledCode(), 0u);
}

TEST_F(DebugSettingsFileTest, MissingFileLeavesPrintingOff) {
  initWith({"1011"});
  EXPECT_EQ(initWith({}), "");
  EXPECT_EQ(debugEnabledCode(), 0u);
}

TEST_F(DebugPrintTest, ConcurrentLinesStayWhole) {
  initWith({"1011", "-tag", "-f", log_});
  constexpr int kThreads = 6;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) debugPrint(0x1011, "thread %d line %d %s\n", t, i, "payload-payload");
    });
  }
  for (std::thread& thread : threads) thread.join();
  closeDebug();

  std::istringstream text(readFile(log_));
  const std::regex whole("net: thread (\\d+) line (\\d+) payload-payload");
  std::vector<int> next(kThreads, 0);
  std::string line;
  int count = 0;
  while (std::getline(text, line)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
    int t = std::stoi(match[1].str());
    EXPECT_EQ(std::stoi(match[2].str()), next[t]++);  // each thread's lines in its own order
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(DebugPrintTest, CloseWhilePrintingIsSafe) {
  initWith({"1011", "-time", "-f", log_});
  std::atomic<bool> go{true};
  std::atomic<int> printing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&go, &printing] {
      debugPrint(0x1011, "busy\n");
      printing.fetch_add(1);
      while (go.load()) debugPrint(0x1011, "busy\n");
    });
  }
  // The close must land while every thread is printing.
  EXPECT_TRUE(waitUntil([&] { return printing.load() == 4; })) << "the printers never started";
  closeDebug();
  EXPECT_EQ(debugPrint(0x1011, "after close\n"), 0);
  flushDebug();
  setDebugPrefixes(true);
  closeDebug();
  go = false;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(readFile(log_).find("after close"), std::string::npos);
}

}  // namespace
