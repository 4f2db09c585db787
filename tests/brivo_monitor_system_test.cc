// The Brivo module's monitor inside the running server against raidsim: three controller pairs
// (alpha through two host adapters, beta, and gamma with a single path), a monitor cycle of one
// second (KESTROVA_BRIVO_MONITOR_MS) and the module's debug lines on (-debug 20027). Checked in
// one server run: each pair is polled once per cycle whatever its number of paths; a controller
// failure reaches db/ServerLog.log as the decoded event; three failed commands raise
// "ControllerCommFailure" once, a fourth nothing, the next success "ControllerCommOk" once; a
// battery at 79 percent is a Warning during the controller's first day of power-on and an Error
// after it; an entry dated 2007-02-29 invalidates its side's log (the other side is still
// recorded) until the date is valid again; 5,000 events logged at once all reach the event log.
// Then the server restarts and records once, with the sync text, what a controller logged while
// it was down.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_client.h"
#include "common/scsi/scsi_sim.h"
#include "common/variable_table.h"
#include "modules/brivo/controller_time.h"
#include "modules/brivo/protocol.h"
#include "tests/raidsim_process.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;
// Each check copies the server's whole output or reads the event log.
constexpr std::chrono::milliseconds kCheckEvery{100};

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kAlpha[] = "Brivo20000004CF8A1B2C";
constexpr char kBeta[] = "Brivo20000004CF8A9F10";
constexpr char kGamma[] = "Brivo20000004CF8A7700";
constexpr char kCycleStart[] = "mon: >>MONITOR BRIVO START<<\n";
constexpr char kSideARead[] = "eventsReader: A side cmmd evals";

constexpr char kConfig[] = R"(
[host 0]
max_transfer_kb = 512

[host 1]
max_transfer_kb = 256

[pair alpha]
product = BRIVO R5-2400
wwn = 20000004CF8A1B2C
model = brivo
drives = 12
enclosure = bay1
path = A 0:0:0:0
path = B 0:0:1:0
path = A 1:0:0:0 type=3
path = B 1:0:1:0 type=3

[pair beta]
product = BRIVO R6-4800
wwn = 20000004CF8A9F10
model = brivo
type = 3
drives = 16
path = A 0:0:2:0
path = B 0:0:3:0

[pair gamma]
wwn = 20000004CF8A7700
model = brivo
drives = 4
path = A 0:0:4:0

[enclosure bay1]
wwn = 500A0B8000112233
slots = 12
)";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// Lines of text that contain every one of parts.
size_t linesWith(const std::string& text, const std::vector<std::string>& parts) {
  size_t n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    bool all = true;
    for (const std::string& p : parts) all = all && line.find(p) != std::string::npos;
    if (all) ++n;
  }
  return n;
}

// raidsim with kConfig in a folder of its own.
class Simulator : public RaidsimProcess {
 public:
  Simulator() : RaidsimProcess(kConfig, "monsim") {}
  // One control command; its reply (a refusal fails the test).
  std::string ctl(const std::string& command) const {
    std::string reply;
    EXPECT_EQ(control(command, &reply), 0) << command << ": " << reply;
    return reply;
  }
};

brivo::EventTime eventTime(std::time_t seconds) {
  std::tm tm{};
  localtime_r(&seconds, &tm);
  return brivo::controllerTimeOf(tm);
}

// Event 0x52 "Logical drive %d is online." for drive number `drive`, at time t.
brivo::EventEntry driveOnline(const brivo::EventTime& t, uint16_t drive) {
  brivo::EventEntry e{};
  e.time = t;
  e.code = 0x52;
  e.reason[0] = static_cast<uint8_t>(drive);
  e.reason[1] = static_cast<uint8_t>(drive >> 8);
  return e;
}

std::string hexOf(const brivo::EventEntry* entries, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  const auto* bytes = reinterpret_cast<const uint8_t*>(entries);
  for (size_t i = 0; i < count * sizeof(brivo::EventEntry); ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

std::vector<brivo::EventEntry> entriesOfHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  std::vector<brivo::EventEntry> entries(bytes.size() / sizeof(brivo::EventEntry));
  std::memcpy(entries.data(), bytes.data(), entries.size() * sizeof(brivo::EventEntry));
  return entries;
}

// A controller's event log as the simulator keeps it, rewritten through its saved-state keys:
// the entries (oldest first) and the newest sequence index.
struct SimLog {
  std::vector<brivo::EventEntry> entries;
  unsigned newest = 0;
};

SimLog readSimLog(const Simulator& sim, const std::string& pair, char side) {
  const fs::path file = sim.folder() / "state.txt";
  sim.ctl("save " + file.string());
  SimLog log;
  const std::string key = "model " + pair + " eventlog." + side;
  std::istringstream in(readFile(file));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + " ", 0) == 0) {
      log.newest = static_cast<unsigned>(std::strtoul(line.c_str() + key.size() + 1, nullptr, 10));
    } else if (line.rfind(key + ".", 0) == 0) {
      const auto chunk = entriesOfHex(line.substr(line.find(' ', key.size()) + 1));
      log.entries.insert(log.entries.end(), chunk.begin(), chunk.end());
    }
  }
  return log;
}

// Replaces the log: every entry in two control commands at most per 512 entries, the meta first.
void writeSimLog(const Simulator& sim, const std::string& pair, char side, const SimLog& log) {
  const std::string key = "model " + pair + " eventlog." + side;
  sim.ctl(key + " " + std::to_string(log.newest) + "," + std::to_string(log.entries.size()) + ",1");
  for (size_t first = 0, chunk = 0; first < log.entries.size(); first += 512, ++chunk) {
    const size_t n = std::min<size_t>(512, log.entries.size() - first);
    sim.ctl(key + "." + std::to_string(chunk) + " " + hexOf(&log.entries[first], n));
  }
}

// Appends entries to a controller's log at once (the monitor sees them in one read).
void appendToSimLog(const Simulator& sim, const std::string& pair, char side,
                    const std::vector<brivo::EventEntry>& added) {
  SimLog log = readSimLog(sim, pair, side);
  log.entries.insert(log.entries.end(), added.begin(), added.end());
  log.newest = (log.newest + static_cast<unsigned>(added.size())) % brivo::kEventLogEntries;
  writeSimLog(sim, pair, side, log);
}

std::map<std::string, std::string> ask(const ServerProcess& server,
                                       const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::map<std::string, std::string> values;
  VariableTable request = nullptr;
  addVariable(&request, "RemoteAddress", "127.0.0.1");
  for (const auto& [key, value] : pairs) addVariable(&request, key.c_str(), value.c_str());
  setenv("KESTROVA_SHM_PREFIX", server.shmPrefix().c_str(), 1);
  CgiClientOptions options;
  options.replyTimeoutMs = 15000;
  VariableTable reply = nullptr;
  if (cgiRoundTrip(request, &reply, options) == kCgiOk) {
    for (VariableEntry* e = reply; e != nullptr; e = e->next) values.emplace(e->key, e->value);
  }
  freeVariableTable(&request);
  freeVariableTable(&reply);
  unsetenv("KESTROVA_SHM_PREFIX");
  return values;
}

class BrivoMonitorSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    build_ = std::getenv("KESTROVA_BUILD_DIR") != nullptr ? std::getenv("KESTROVA_BUILD_DIR") : "";
    if (build_.empty() || !fs::exists(builtServerPath()) || !fs::exists(build_ / "bin/raidsim") ||
        !fs::exists(build_ / "mods/Brivo/Brivo.so")) {
      GTEST_FAIL() << "set KESTROVA_BUILD_DIR to a build with the server, raidsim and the Brivo module";
    }
    ASSERT_TRUE(sim_.waitListening()) << "raidsim did not start";
    ASSERT_FALSE(instance_.path().empty());
    fs::create_directories(instance_.path() / "mods");
    fs::copy(build_ / "mods/Brivo", instance_.path() / "mods/Brivo", fs::copy_options::recursive);
    // Events read back at start-up are recorded only where syncing is allowed.
    const fs::path ini = instance_.path() / "db/server.ini";
    std::string settings = readFile(ini);
    settings = std::regex_replace(settings, std::regex("AllowEventLogSyncing = false"),
                                  "AllowEventLogSyncing = true");
    std::ofstream(ini, std::ios::trunc) << settings;
  }

  std::unique_ptr<ServerProcess> startServer() {
    auto server =
        std::make_unique<ServerProcess>(std::vector<std::string>{"-debug", "20027"}, instance_.path(),
                                        ServerProcess::Environment{{"KESTROVA_SCSI_SIM", sim_.socketPath()},
                                                                   {"KESTROVA_BRIVO_MONITOR_MS", "1000"}});
    EXPECT_TRUE(server->started());
    EXPECT_TRUE(server->waitForText("Scan System thread terminated\n", 60s)) << server->output();
    return server;
  }
  void stopServer(std::unique_ptr<ServerProcess>& server) {
    server->signal(SIGINT);
    const int status = server->finish();
    const std::string output = server->output();
    const size_t report = output.find("WARNING: ");  // a sanitizer's report, when there is one
    EXPECT_EQ(status, 0) << output.substr(report != std::string::npos ? report : 0, 8000);
    server.reset();
  }

  std::string log() const { return readFile(instance_.path() / "db/ServerLog.log"); }
  bool logShows(const std::vector<std::string>& parts, std::chrono::milliseconds limit = 15s) const {
    return waitUntil([&] { return linesWith(log(), parts) > 0; }, limit, kCheckEvery);
  }
  // Waits until `cycles` more monitor cycles have started after the output seen so far.
  static bool waitCycles(ServerProcess& server, size_t cycles, std::chrono::milliseconds limit = 20s) {
    const size_t now = countOf(server.output(), kCycleStart);
    return waitUntil([&] { return countOf(server.output(), kCycleStart) >= now + cycles; }, limit,
                     kCheckEvery);
  }

  fs::path build_;
  Simulator sim_;
  InstanceFolder instance_{"kestrova-brivomon"};
};

// The pairs each cycle polled: per cycle (output between two cycle starts), the number of A-side
// event reads, one per polled pair.
std::vector<size_t> readsPerCycle(const std::string& output) {
  std::vector<size_t> counts;
  size_t at = output.find(kCycleStart);
  while (at != std::string::npos) {
    const size_t next = output.find(kCycleStart, at + 1);
    if (next == std::string::npos) break;  // the cycle still runs
    counts.push_back(countOf(output.substr(at, next - at), kSideARead));
    at = next;
  }
  return counts;
}

TEST_F(BrivoMonitorSystem, PollsRecordsCountsJudgesAndSyncsAfterARestart) {
  std::unique_ptr<ServerProcess> server = startServer();
  ASSERT_TRUE(server && server->started());
  // The units are claimed once the server has sent its list; then every pair is polled.
  const auto polling = [&] {
    const std::vector<size_t> reads = readsPerCycle(server->output());
    return !reads.empty() && reads.back() > 0;
  };
  ASSERT_TRUE(waitUntil(polling, 40s, kCheckEvery)) << server->output();
  ASSERT_TRUE(waitCycles(*server, 2));
  const std::vector<size_t> reads = readsPerCycle(server->output());
  ASSERT_GE(reads.size(), 2u);
  EXPECT_EQ(reads[reads.size() - 1], 3u) << "alpha's four paths, beta's two and gamma's one: three pairs\n"
                                         << server->output();
  EXPECT_EQ(reads[reads.size() - 2], 3u);
  auto debug = ask(*server, {{"module", "server"}, {"method", "GetDebugInfo"}});
  std::string names;
  for (const auto& [key, value] : debug) {
    if (key.find("ModLoop") != std::string::npos && key.ends_with("DeviceName")) names += value + " ";
  }
  EXPECT_EQ(countOf(names, kAlpha), 4u) << names;
  EXPECT_EQ(countOf(names, kBeta), 2u) << names;
  EXPECT_EQ(countOf(names, kGamma), 1u) << names;

  // A failed controller: its partner logs it, and the decoded event reaches the log.
  sim_.ctl("fail controller alpha B");
  EXPECT_TRUE(
      logShows({"\"Brivo 20000004CF8A1B2C (0)\"", "(Event ID: 0xB1C) The other controller has failed."}))
      << log();
  EXPECT_TRUE(waitUntil(
      [&] { return server->output().find("UPDATE GLOBAL STATUS, setting to 0x2\n") != std::string::npos; },
      10s, kCheckEvery));
  sim_.ctl("restore controller alpha B");
  EXPECT_TRUE(logShows({"\"Brivo 20000004CF8A1B2C (0)\"", "controller is working again."})) << log();

  // Four commands in a row fail on gamma's only path: one failure event at the third, none at the
  // fourth, one recovery event at the next success.
  const std::vector<std::string> commFailure = {"\"Brivo 20000004CF8A7700 (0+1)\"", "(Event ID: 0xA03)"};
  const std::vector<std::string> commOk = {"\"Brivo 20000004CF8A7700 (0+1)\"", "(Event ID: 0xA04)"};
  sim_.ctl("noanswer gamma 4");
  ASSERT_TRUE(logShows(commOk, 20s)) << log();
  ASSERT_TRUE(waitCycles(*server, 2));
  EXPECT_EQ(linesWith(log(), commFailure), 1u) << log();
  EXPECT_EQ(linesWith(log(), commOk), 1u) << log();
  EXPECT_EQ(countOf(server->output(), ">>> WE HAVE HAD 3 CONCURRENT FAILURES"), 1u);

  // Battery at 79 percent: Warning during the first day of power-on, Error after it.
  sim_.ctl("model beta poweron.A 3600");
  sim_.ctl("set battery beta A 79");
  const std::string batteryWarning = "Brivo20000004CF8A9F10: Setting to Warning, controller A battery";
  const std::string batteryError = "Brivo20000004CF8A9F10: Setting to Error, controller A battery";
  EXPECT_TRUE(
      waitUntil([&] { return server->output().find(batteryWarning) != std::string::npos; }, 15s, kCheckEvery))
      << server->output().substr(server->output().size() > 6000 ? server->output().size() - 6000 : 0);
  EXPECT_EQ(server->output().find(batteryError), std::string::npos);
  sim_.ctl("model beta poweron.A 90000");
  sim_.ctl("event beta A 0x52 data=6300");  // asks for a status update
  EXPECT_TRUE(
      waitUntil([&] { return server->output().find(batteryError) != std::string::npos; }, 15s, kCheckEvery));
  sim_.ctl("set battery beta A 100");

  // A 2007-02-29 entry invalidates gamma's A log, entries before it included; B is still read.
  // (Injected entries keep each log in time order, as a controller's is: the stored bookmark time
  // is that of the last entry recorded.)
  appendToSimLog(sim_, "gamma", 'A',
                 {driveOnline(eventTime(std::time(nullptr) - 4), 7),
                  driveOnline(brivo::EventTime{2007, 2, 29, 4, 12, 0, 0}, 8)});
  sim_.ctl("event gamma B 0x52 data=0900");
  EXPECT_TRUE(logShows({"\"Brivo 20000004CF8A7700 (1)\"", "Logical drive 9 is online."})) << log();
  ASSERT_TRUE(waitCycles(*server, 2));
  EXPECT_NE(server->output().find("eventsValidator: INVALID EVENT TIME, invalidating event structure!"),
            std::string::npos);
  EXPECT_EQ(linesWith(log(), {"Logical drive 7 is online."}), 0u);
  // 2008-02-29 is a valid date: the log is read again and both entries are recorded once.
  SimLog gamma = readSimLog(sim_, "gamma", 'A');
  gamma.entries.back().time = brivo::EventTime{2008, 2, 29, 4, 12, 0, 5};
  writeSimLog(sim_, "gamma", 'A', gamma);
  EXPECT_TRUE(logShows({"\"Brivo 20000004CF8A7700 (0)\"", "Logical drive 8 is online."})) << log();
  EXPECT_EQ(linesWith(log(), {"\"Brivo 20000004CF8A7700 (0)\"", "Logical drive 7 is online."}), 1u);
  sim_.ctl("event gamma A 0x52 data=0A00");  // a current entry last again
  EXPECT_TRUE(logShows({"\"Brivo 20000004CF8A7700 (0)\"", "Logical drive 10 is online."})) << log();

  // 5,000 events at once, 2,500 on each controller of beta: every one is recorded, once.
  for (char side : {'A', 'B'}) {
    std::vector<brivo::EventEntry> burst;
    for (uint16_t i = 0; i < 2500; ++i) {
      const uint16_t drive = static_cast<uint16_t>(1000 + (side == 'A' ? i : 2500 + i));
      burst.push_back(driveOnline(eventTime(std::time(nullptr) - 4), drive));
    }
    appendToSimLog(sim_, "beta", side, burst);
  }
  const auto burstLines = [&] {
    return linesWith(log(), {"\"Brivo 20000004CF8A9F10 (0)\"", "is online."}) +
           linesWith(log(), {"\"Brivo 20000004CF8A9F10 (1)\"", "is online."});
  };
  EXPECT_TRUE(waitUntil([&] { return burstLines() >= 5001; }, 30s, kCheckEvery)) << burstLines();
  ASSERT_TRUE(waitCycles(*server, 2));
  EXPECT_EQ(burstLines(), 5001u) << "the burst and the event that asked for the battery update";
  EXPECT_EQ(linesWith(log(), {"Logical drive 1000 is online."}), 1u);
  EXPECT_EQ(linesWith(log(), {"Logical drive 5999 is online."}), 1u);

  // Restart: what alpha's A controller logged while the server was down is recorded once, with
  // the sync text; nothing recorded before is recorded again.
  stopServer(server);
  EXPECT_NE(readFile(instance_.path() / "mods/Brivo/BrivoConfigurations.db")
                .find(std::string(kAlpha) + "LastAEventTime"),
            std::string::npos);
  const std::string before = log();
  std::this_thread::sleep_for(1100ms);  // later than the last event the server recorded
  sim_.ctl("event alpha A 0x52 data=0B00");
  server = startServer();
  ASSERT_TRUE(server && server->started());
  EXPECT_TRUE(logShows(
      {"\"Brivo 20000004CF8A1B2C (0)\"", "Logical drive 11 is online.", "while the server was not running."}))
      << log();
  ASSERT_TRUE(waitUntil(polling, 40s, kCheckEvery));
  ASSERT_TRUE(waitCycles(*server, 2));
  const std::string after = log();
  EXPECT_EQ(linesWith(after, {"Logical drive 11 is online."}), 1u)
      << after.substr(before.size()) << server->output();
  EXPECT_EQ(linesWith(after, {"The other controller has failed."}), 1u);
  EXPECT_EQ(linesWith(after, {"Logical drive 5999 is online."}), 1u);
  stopServer(server);
}

}  // namespace
