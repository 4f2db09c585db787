// Crash test: the built server is killed with SIGKILL at random moments while a front end saves
// settings pages (db/email.ini and db/syslog.ini, through the server's own methods) and a test
// module raises bursts of events (db/ServerLog.log), and after every kill:
// - each settings file is byte for byte either the version before the save under way or the
//   version that save writes (which the test learns by sending the same save again on the
//   restored old file and comparing), never a mix, an empty or a truncated file;
// - the event log reads whole: the header, then records of six fields numbered one after the
//   other (a record cut by the kill may only be the last line);
// - the next start prints no error line that a clean start does not print, and takes requests.
//
// KESTROVA_CRASH_KILLS sets the number of kills (default 10, the CI variant; 50 for the long
// run), KESTROVA_CRASH_SEED the random seed (printed, so a failure can be repeated).
//
// Thread safety: the test thread drives the server; the load threads only send requests and
// record what the saves did under one lock.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_client.h"
#include "common/variable_table.h"
#include "server/events/event_log_format.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"
#include "tests/test_environment.h"

namespace {

using test_support::waitUntil;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kEmailFile[] = "db/email.ini";
constexpr char kSyslogFile[] = "db/syslog.ini";
constexpr int kFiles = 2;
const char* const kFilePaths[kFiles] = {kEmailFile, kSyslogFile};
constexpr char kPropertyMarker[] = "ENDOFHASHTABLE";
// Events one request raises: the test module raises them back to back.
constexpr int kBurst = 50;

void writeAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Lines of a server's output that report an error or a failure.
std::set<std::string> errorLines(const std::string& output) {
  static const std::regex kError("error|fail|corrupt|invalid|illegal", std::regex::icase);
  std::set<std::string> lines;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (std::regex_search(line, kError)) lines.insert(line);
  }
  return lines;
}

CgiClientOptions quickOptions() {
  CgiClientOptions options;
  options.replyTimeoutMs = 3000;  // a killed server never answers: the load threads give up soon
  options.slotWaitMs = 1000;
  return options;
}

TableOwner serverRequest(const char* method) {
  TableOwner request;
  addVariable(request.address(), "module", "server");
  addVariable(request.address(), "method", method);
  addVariable(request.address(), "RemoteAddress", "127.0.0.1");
  return request;
}

// The reply, or nothing when the round trip failed.
std::optional<TableOwner> roundTrip(VariableTable request) {
  VariableTable reply = nullptr;
  if (cgiRoundTrip(request, &reply, quickOptions()) != kCgiOk) return std::nullopt;
  return TableOwner(reply);
}

// A save request of file f quoting version, made distinct from every other save by serial.
TableOwner saveRequest(int f, const std::string& version, int serial) {
  TableOwner request = serverRequest(f == 0 ? "SetEmailConfig" : "SetSyslogConfig");
  addVariable(request.address(), "version", version.c_str());
  if (f == 0) {
    addVariable(request.address(), "emailServer", "");
    addVariable(request.address(), "emailSigEnable", serial % 2 == 0 ? "true" : "false");
    addVariable(request.address(), "emailSigText", ("Crash test save " + std::to_string(serial)).c_str());
    addVariable(request.address(), "emailAddr1", "ops@example.com");
    addVariable(request.address(), "emailSetIWE1", "111");
  } else {
    addVariable(request.address(), "SyslogServer0", "127.0.0.1");
    addVariable(request.address(), "SyslogPort0", std::to_string(20000 + serial % 20000).c_str());
    addVariable(request.address(), "SyslogErr0", "true");
    if (serial % 3 == 0) addVariable(request.address(), "SyslogInfo0", "true");
  }
  return request;
}

bool succeeded(const std::optional<TableOwner>& reply) {
  return reply && std::string(getVariableOrMissing(reply->get(), "MessageIsSuccess")) == "true";
}

// What the load has done to the settings files, shared between the saver and the test thread.
struct SaveLedger {
  std::mutex mu;
  std::string lastGood[kFiles];                // the file as the last completed save (or the start) left it
  std::optional<TableOwner> inFlight[kFiles];  // the save sent and not answered
  int completed = 0;
};

// The instance: a folder with the default db/ files and the test module as "Crash".
class CrashInstance {
 public:
  CrashInstance() {
    const char* build = std::getenv("KESTROVA_BUILD_DIR");
    if (build == nullptr || folder_.path().empty()) return;
    const fs::path module = fs::path(build) / "mods/TestModule/TestModule.so";
    fs::create_directories(folder_.path() / "mods/Crash");
    std::error_code error;
    fs::copy_file(module, folder_.path() / "mods/Crash/Crash.so", error);
    if (error) return;
    writeAll(folder_.path() / "mods/Crash/CrashSettings.ini",
             "ModuleEnabled=1\nTabOrder=1\nModuleName=Crash\n");
    ready_ = true;
  }
  bool ready() const { return ready_; }
  fs::path path(const char* relative) const { return folder_.path() / relative; }
  const fs::path& root() const { return folder_.path(); }

 private:
  InstanceFolder folder_{"kestrova-crash"};
  bool ready_ = false;
};

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(builtServerPath())) GTEST_FAIL() << "server binary not found; set KESTROVA_BUILD_DIR";
    ASSERT_TRUE(instance_.ready()) << "the test module or the instance folder is missing";
    prefix_ = "kestrova-crash-" + std::to_string(getpid()) + ".";
    setenv("KESTROVA_SHM_PREFIX", prefix_.c_str(), 1);
  }
  void TearDown() override {
    server_.reset();
    unsetenv("KESTROVA_SHM_PREFIX");
  }

  // Starts the server and waits until it takes requests; returns its output so far.
  void start() {
    server_ = std::make_unique<ServerProcess>(std::vector<std::string>{"-debug"}, instance_.root(),
                                              ServerProcess::Environment{{"KESTROVA_SHM_PREFIX", prefix_}});
    ASSERT_TRUE(server_->started());
    ASSERT_TRUE(server_->waitForText("Scan System thread terminated\n")) << server_->output();
    ASSERT_TRUE(waitUntil("a CGI slot after the start",
                          [] { return CgiClientSlot(CgiClientOptions()).connect() == kCgiOk; }, 10s, 10ms));
  }

  void kill() {
    server_->signal(SIGKILL);
    server_->finish();
  }

  // The version a save of file f must quote; nothing when the server is gone.
  static std::optional<std::string> versionOf(int f) {
    std::optional<TableOwner> reply =
        roundTrip(serverRequest(f == 0 ? "GetEmailConfig" : "GetSyslogConfig").get());
    if (!reply) return std::nullopt;
    return std::string(getVariableOrMissing(reply->get(), "version"));
  }

  // Saves one file after the other until stop; records each completed save.
  void saveLoop(std::atomic<bool>* stop, int* serial) {
    std::string versions[kFiles];
    for (int f = 0; f < kFiles; ++f) {
      std::optional<std::string> version = versionOf(f);
      if (!version) return;
      versions[f] = *version;
    }
    for (int f = 0; !stop->load(); f = (f + 1) % kFiles) {
      TableOwner request = saveRequest(f, versions[f], ++*serial);
      {
        std::lock_guard<std::mutex> lock(ledger_.mu);
        ledger_.inFlight[f] = TableOwner(copyVariableTable(request.get()));
      }
      std::optional<TableOwner> reply = roundTrip(request.get());
      if (!reply) return;  // the server is gone: the save stays in flight
      std::lock_guard<std::mutex> lock(ledger_.mu);
      ASSERT_TRUE(succeeded(reply)) << getVariableOrMissing(reply->get(), "MessageDetails");
      ledger_.lastGood[f] = readFileText(instance_.path(kFilePaths[f]));
      ledger_.inFlight[f].reset();
      ++ledger_.completed;
      versions[f] = getVariableOrMissing(reply->get(), "version");
    }
  }

  // Raises events through the test module until stop or the server is gone.
  void raiseLoop(std::atomic<bool>* stop, int thread, std::atomic<int>* raised) {
    for (int n = 0; !stop->load(); ++n) {
      TableOwner request;
      addVariable(request.address(), "module", "Crash");
      addVariable(request.address(), "method", "RaiseEvent");
      addVariable(request.address(), "RemoteAddress", "127.0.0.1");
      addVariable(request.address(), "device", "Crash test");
      addVariable(
          request.address(), "message",
          ("Burst event " + std::to_string(thread) + "-" + std::to_string(n) + " \"quoted\"").c_str());
      addVariable(request.address(), "level", std::to_string(n % 3).c_str());
      addVariable(request.address(), "repeat", std::to_string(kBurst).c_str());
      if (!roundTrip(request.get())) return;
      raised->fetch_add(kBurst);
    }
  }

  // The event log reads whole. Returns the number of records.
  int checkEventLog() {
    const std::string log = readFileText(instance_.path("db/ServerLog.log"));
    std::istringstream in(log);
    std::string line;
    int lineNumber = 0;
    int32_t previous = 0;
    int records = 0;
    size_t consumed = 0;
    while (std::getline(in, line)) {
      consumed += line.size() + 1;
      const bool last = consumed >= log.size();
      const bool cut = last && log.back() != '\n';
      if (lineNumber++ == 0) {
        EXPECT_EQ(line.rfind("\"Log Number\"", 0), 0u) << "the first line is the header: " << line;
        continue;
      }
      std::string fields[6];
      bool complete = true;
      for (int k = 0; k < 6 && complete; ++k) complete = readLogField(line.c_str(), k, &fields[k]);
      if (cut) {
        ++cutRecords_;
        continue;  // a record the kill cut short: only ever the last line
      }
      EXPECT_TRUE(complete) << "line " << lineNumber << " is not a whole record: " << line;
      const int32_t number = std::atoi(fields[0].c_str());
      EXPECT_EQ(number, previous + 1) << "line " << lineNumber << ": " << line;
      previous = number;
      ++records;
    }
    return records;
  }

  CrashInstance instance_;
  std::string prefix_;
  std::unique_ptr<ServerProcess> server_;
  SaveLedger ledger_;
  int cutRecords_ = 0;
};

TEST_F(CrashTest, KillsDuringSavesAndEventBurstsLeaveWholeFiles) {
  const int kills = environmentNumber("KESTROVA_CRASH_KILLS", 10);
  const unsigned seed =
      static_cast<unsigned>(environmentNumber("KESTROVA_CRASH_SEED", std::random_device()()));
  std::printf("crash test: %d kills, seed %u\n", kills, seed);
  std::mt19937 random(seed);

  // A clean start tells which error lines are normal for this instance.
  start();
  if (HasFatalFailure()) return;
  const std::set<std::string> normalErrors = errorLines(server_->output());
  for (int f = 0; f < kFiles; ++f) ledger_.lastGood[f] = readFileText(instance_.path(kFilePaths[f]));

  int serial = 0;
  int newVersions = 0;
  int totalRaised = 0;
  for (int kill = 0; kill < kills; ++kill) {
    std::atomic<bool> stop{false};
    std::atomic<int> raised{0};
    std::thread saver([&] { saveLoop(&stop, &serial); });
    std::thread raiserA([&] { raiseLoop(&stop, 0, &raised); });
    std::thread raiserB([&] { raiseLoop(&stop, 1, &raised); });
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(150, 1000)(random)));
    this->kill();
    stop = true;
    saver.join();
    raiserA.join();
    raiserB.join();
    totalRaised += raised.load();
    if (HasFatalFailure()) return;

    // Each settings file: the old version, or (checked after the restart) the new one.
    std::optional<std::string> crashed[kFiles];
    std::optional<TableOwner> resend[kFiles];
    for (int f = 0; f < kFiles; ++f) {
      const std::string now = readFileText(instance_.path(kFilePaths[f]));
      std::lock_guard<std::mutex> lock(ledger_.mu);
      if (now == ledger_.lastGood[f]) continue;
      ASSERT_TRUE(ledger_.inFlight[f].has_value()) << kFilePaths[f] << " changed without a save under way:\n"
                                                   << now;
      ASSERT_NE(now.find(kPropertyMarker), std::string::npos) << kFilePaths[f] << " is cut short:\n" << now;
      crashed[f] = now;
      resend[f] = std::move(ledger_.inFlight[f]);
      writeAll(instance_.path(kFilePaths[f]), ledger_.lastGood[f]);  // the old version, to redo the save on
    }
    const int records = checkEventLog();

    // The next start is clean, and takes requests.
    start();
    if (HasFatalFailure()) return;
    for (const std::string& line : errorLines(server_->output())) {
      EXPECT_TRUE(normalErrors.count(line) == 1) << "after kill " << kill << " the start printed: " << line;
    }
    for (int f = 0; f < kFiles; ++f) {
      if (!resend[f]) continue;
      std::optional<TableOwner> reply = roundTrip(resend[f]->get());
      ASSERT_TRUE(succeeded(reply)) << "the save under way at the kill, sent again";
      EXPECT_EQ(readFileText(instance_.path(kFilePaths[f])), *crashed[f])
          << kFilePaths[f] << " after the kill is neither the old nor the new version";
      ++newVersions;
    }
    for (int f = 0; f < kFiles; ++f) ledger_.lastGood[f] = readFileText(instance_.path(kFilePaths[f]));
    for (auto& flight : ledger_.inFlight) flight.reset();
    std::printf("kill %d: %d saves completed so far, %d events raised, %d records in the log\n", kill,
                ledger_.completed, raised.load(), records);
    std::fflush(stdout);
  }
  std::printf(
      "crash test: %d kills, %d saves completed, %d kills found the new version of a file, "
      "%d events raised, %d records cut by a kill\n",
      kills, ledger_.completed, newVersions, totalRaised, cutRecords_);
  EXPECT_GT(ledger_.completed, 0) << "no save completed: the kills proved nothing";
  EXPECT_GT(totalRaised, 0) << "no event was raised: the kills proved nothing";

  server_->signal(SIGINT);
  EXPECT_EQ(server_->finish(), 0) << server_->output();
  for (const auto& entry : fs::directory_iterator("/dev/shm")) {
    EXPECT_EQ(entry.path().filename().string().find(prefix_), std::string::npos)
        << "left behind: " << entry.path();
  }
}

}  // namespace
