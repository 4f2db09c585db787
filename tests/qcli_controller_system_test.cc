// The controller-level commands of the module's "qcli" method inside the running server against
// raidsim: hot spares, the drive and enclosure locators, the controllers' clocks, the
// configuration saved as a file, deleted and restored from that file, the event logs shown,
// saved and cleared, statistics cleared and a controller reset, all through the server's request
// path (module "Brivo", method "qcli", words p0, p1, ...). Every step is checked in the
// simulator's own state (its saved configuration, clocks, indicators, event logs and statistics),
// not only in the text, and every operation the simulator is told to refuse (its run-time key
// failop.ID) prints "Error: Cannot ..." with the controller's status and sense and changes nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_client.h"
#include "common/variable_table.h"
#include "modules/brivo/protocol.h"
#include "tests/raidsim_process.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kWwn[] = "20000004CF8A1B2C";

constexpr char kConfig[] = R"(
[enclosure shelf]
slots = 12

[pair alpha]
wwn = 20000004CF8A1B2C
model = brivo
model.reset_ms = 400
drives = 10
enclosure = shelf
path = A 0:0:0:0
path = B 0:0:1:0
)";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Hexadecimal text as bytes; empty for anything else.
std::vector<uint8_t> hexBytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return bytes;
  for (size_t i = 0; i < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// What the simulator holds for the pair, read from the state file that "ctl save" writes.
struct SimState {
  brivo::ConfigurationHeader header{};
  std::vector<brivo::SpareRecord> spares;  // the valid ones
  std::map<char, long long> clockOffset;   // controller -> seconds ahead of the host
  std::set<int> locatingSlots;
  bool enclosureLocating = false;
  std::map<char, std::vector<brivo::EventEntry>> events;  // controller -> its log, oldest first
  std::set<std::string> statisticsCleared;                // "A.0", "B.1", ...
};

// raidsim with kConfig in a folder of its own.
class Simulator : public RaidsimProcess {
 public:
  Simulator() : RaidsimProcess(kConfig, "qclictl") {}

  // One control command; true when raidsim accepted it.
  bool ctl(const std::string& command) const {
    std::string reply;
    return control(command, &reply) == 0;
  }

  SimState state() const {
    SimState s;
    const fs::path file = folder() / "state.txt";
    if (!ctl("save " + file.string())) return s;
    std::istringstream lines(readFile(file));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string verb, a, b, c, d, e;
      words >> verb >> a >> b >> c >> d >> e;
      if (verb == "set" && a == "clock" && b == "alpha") s.clockOffset[c[0]] = std::stoll(d);
      if (verb == "set" && a == "slot" && b == "shelf" && d == "locate") s.locatingSlots.insert(std::stoi(c));
      if (verb == "set" && a == "locate" && b == "shelf") s.enclosureLocating = c == "on";
      if (verb != "model" || a != "alpha") continue;
      const std::vector<uint8_t> bytes = hexBytes(c);
      if (b == "config.header" && bytes.size() == sizeof(s.header))
        std::memcpy(&s.header, bytes.data(), bytes.size());
      if (b == "config.spares") {
        for (size_t at = 0; at + sizeof(brivo::SpareRecord) <= bytes.size();
             at += sizeof(brivo::SpareRecord)) {
          brivo::SpareRecord spare;
          std::memcpy(&spare, bytes.data() + at, sizeof(spare));
          if (spare.valid == brivo::kOn) s.spares.push_back(spare);
        }
      }
      if (b.rfind("eventlog.", 0) == 0 && b.size() > 11) {
        for (size_t at = 0; at + sizeof(brivo::EventEntry) <= bytes.size(); at += sizeof(brivo::EventEntry)) {
          brivo::EventEntry entry;
          std::memcpy(&entry, bytes.data() + at, sizeof(entry));
          s.events[b[9]].push_back(entry);
        }
      }
      if (b.rfind("stats.", 0) == 0) s.statisticsCleared.insert(b.substr(6));
    }
    return s;
  }
};

// The WWN of drive i as the simulator gives it.
std::vector<uint8_t> driveWwn(int i) {
  const uint64_t pair = 0x20000004CF8A1B2CULL;
  const uint64_t wwn = 0x5000C50000000000ULL + ((pair & 0xFFFFFF) << 8) + static_cast<uint64_t>(i);
  std::vector<uint8_t> out(8);
  for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(wwn >> (56 - 8 * k));
  return out;
}

bool isSpare(const SimState& s, int drive, uint8_t array) {
  for (const brivo::SpareRecord& spare : s.spares) {
    if (std::memcmp(spare.wwn, driveWwn(drive).data(), 8) == 0 && spare.array == array) return true;
  }
  return false;
}

int countEvents(const SimState& s, char controller, uint8_t code, int r0 = -1) {
  int n = 0;
  auto found = s.events.find(controller);
  if (found == s.events.end()) return 0;
  for (const brivo::EventEntry& e : found->second)
    n += e.code == code && (r0 < 0 || e.reason[0] == r0) ? 1 : 0;
  return n;
}

class QcliController : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* build = std::getenv("KESTROVA_BUILD_DIR");
    if (build == nullptr || !fs::exists(builtServerPath()) || !fs::exists(fs::path(build) / "bin/raidsim"))
      return;
    simulator_ = new Simulator();
    if (!simulator_->waitListening()) return;
    instance_ = new InstanceFolder("kestrova-qcli-controller");
    fs::create_directories(instance_->path() / "mods");
    fs::copy(fs::path(build) / "mods/Brivo", instance_->path() / "mods/Brivo", fs::copy_options::recursive);
    // Changes wait for the controller without the 3-second pauses between tries.
    server_ = new ServerProcess(
        {"-debug"}, instance_->path(),
        {{"KESTROVA_SCSI_SIM", simulator_->socketPath()}, {"KESTROVA_BRIVO_READY_POLL_SECONDS", "0"}});
    ready_ = server_->started() && server_->waitForText("Scan System thread terminated\n", 60s);
  }
  static void TearDownTestSuite() {
    if (server_ != nullptr) {
      server_->signal(SIGINT);
      server_->finish();
    }
    delete server_;
    delete instance_;
    delete simulator_;
    server_ = nullptr;
    instance_ = nullptr;
    simulator_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(ready_) << "needs KESTROVA_BUILD_DIR with the server, raidsim and the Brivo module"
                        << (server_ != nullptr ? "\n" + server_->output() : "");
  }

  // One qcli command for the pair (upload: the server-side path of a sent file); the reply.
  static std::map<std::string, std::string> ask(const std::vector<std::string>& words,
                                                const std::string& upload = "") {
    VariableTable request = nullptr;
    addVariable(&request, "RemoteAddress", "127.0.0.1");
    addVariable(&request, "module", "Brivo");
    addVariable(&request, "method", "qcli");
    std::vector<std::string> all = words;
    all.insert(all.end(), {"--type", "Brivo", "--wwn", kWwn});
    for (size_t i = 0; i < all.size(); ++i)
      addVariable(&request, ("p" + std::to_string(i)).c_str(), all[i].c_str());
    if (!upload.empty()) addVariable(&request, "UploadedFile", upload.c_str());
    setenv("KESTROVA_SHM_PREFIX", server_->shmPrefix().c_str(), 1);
    CgiClientOptions options;
    options.replyTimeoutMs = 30000;
    VariableTable reply = nullptr;
    std::map<std::string, std::string> values;
    if (cgiRoundTrip(request, &reply, options) == kCgiOk) {
      for (VariableEntry* e = reply; e != nullptr; e = e->next) values.emplace(e->key, e->value);
    }
    freeVariableTable(&request);
    freeVariableTable(&reply);
    unsetenv("KESTROVA_SHM_PREFIX");
    return values;
  }
  // The printed text of a reply.
  static std::string text(std::map<std::string, std::string>& reply) {
    std::string out;
    const int count = std::atoi(reply["textloop"].c_str());
    for (int i = 0; i < count; ++i) out += reply["textloop" + std::to_string(i) + "text"];
    return out;
  }
  static std::string qcli(const std::vector<std::string>& words, const std::string& upload = "") {
    auto reply = ask(words, upload);
    return text(reply);
  }
  static bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  // A file the reply names with "ExportText" or "ExportBinary" ("../../temp/NAME"), from the server.
  static std::string exported(const std::string& path) {
    return path.rfind("../../", 0) == 0 ? readFile(instance_->path() / path.substr(6)) : std::string();
  }

  static Simulator* simulator_;
  static InstanceFolder* instance_;
  static ServerProcess* server_;
  static bool ready_;
};

Simulator* QcliController::simulator_ = nullptr;
InstanceFolder* QcliController::instance_ = nullptr;
ServerProcess* QcliController::server_ = nullptr;
bool QcliController::ready_ = false;

TEST_F(QcliController, SparesAndLocatorsChangeTheController) {
  std::string out = qcli({"drive", "set", "-di", "3", "-state", "hotspare"});
  EXPECT_TRUE(has(out, "Confirmation is required to complete this operation.\n")) << out;
  EXPECT_TRUE(simulator_->state().spares.empty()) << "nothing happens before the confirmation";

  out = qcli({"drive", "set", "-di", "3", "4", "-state", "hotspare", "-q"});
  ASSERT_TRUE(has(out, "Disk 3 is a global hot spare.\n")) << out;
  SimState s = simulator_->state();
  EXPECT_TRUE(isSpare(s, 3, brivo::kSpareGlobal));
  EXPECT_TRUE(isSpare(s, 4, brivo::kSpareGlobal));
  out = qcli({"drive", "display", "-spares", "-sum"});
  EXPECT_TRUE(has(out, "--- Drive Total=2 ---\n")) << out;
  EXPECT_TRUE(has(out, "  3    0    3  931G Good       Spare ")) << out;
  out = qcli({"drive", "display", "-di", "4"});
  EXPECT_TRUE(has(out, "Usage* : Global spare (spare 1)\n")) << out;

  out = qcli({"drive", "set", "-di", "4", "-state", "free", "-q"});
  ASSERT_TRUE(has(out, "Disk 4 is free.\n")) << out;
  s = simulator_->state();
  EXPECT_TRUE(isSpare(s, 3, brivo::kSpareGlobal));
  EXPECT_FALSE(isSpare(s, 4, brivo::kSpareGlobal));

  out = qcli({"drive", "identify", "-di", "2", "7", "-t", "120"});
  EXPECT_TRUE(has(out, "Disk 7 is blinking for 120 seconds.\n")) << out;
  out = qcli({"enclosure", "identify", "-t", "60"});
  EXPECT_TRUE(has(out, "Enclosure 0 is blinking for 60 seconds.\n")) << out;
  s = simulator_->state();
  EXPECT_EQ(s.locatingSlots, (std::set<int>{2, 7}));
  EXPECT_TRUE(s.enclosureLocating);
  out = qcli({"enclosure", "display"});
  EXPECT_TRUE(has(out, "--- Enclosure Total=1 ---\n") && has(out, "Slot Status (12) : ")) << out;
  EXPECT_TRUE(has(out, "Drives : 10\n")) << out;
}

TEST_F(QcliController, ClockIsSetOnTheChosenController) {
  const std::string out = qcli({"clock", "set", "-ci", "1", "-t", "20300615123000"});
  ASSERT_TRUE(has(out, "Controller clock is set to 2030-06-15 12:30:00 Saturday.\n")) << out;
  std::tm tm{};
  tm.tm_year = 130, tm.tm_mon = 5, tm.tm_mday = 15, tm.tm_hour = 12, tm.tm_min = 30, tm.tm_isdst = -1;
  const long long expected =
      static_cast<long long>(std::mktime(&tm)) - static_cast<long long>(std::time(nullptr));
  const SimState s = simulator_->state();
  ASSERT_EQ(s.clockOffset.count('B'), 1u);
  EXPECT_NEAR(static_cast<double>(s.clockOffset.at('B')), static_cast<double>(expected), 5.0);
  EXPECT_EQ(s.clockOffset.count('A'), 0u) << "controller A keeps the host's time";
  EXPECT_TRUE(has(qcli({"clock", "display", "-ci", "1"}), "Controller 1 Clock : 2030-06-15 12:3"));
  EXPECT_TRUE(
      has(qcli({"clock", "set", "-t", "20300231000000"}), "Error: Parsing time value. Out of range.\n"));
}

TEST_F(QcliController, ConfigurationIsSavedDeletedAndRestored) {
  ASSERT_TRUE(has(qcli({"config", "set", "-n", "before", "-as", "enabled", "-q"}), "Name is changed.\n"));
  ASSERT_TRUE(has(qcli({"drive", "set", "-di", "6", "-state", "hotspare", "-q"}), "is a global hot spare"));
  auto reply = ask({"config", "save", "--rfile", "saved.cfg"});
  ASSERT_EQ(reply["ExportBinary"], "../../temp/Brivo.ConfigurationBlock") << text(reply);
  const std::string saved = exported(reply["ExportBinary"]);
  ASSERT_EQ(saved.size(), brivo::kConfigurationLength);
  brivo::ConfigurationHeader header;
  std::memcpy(&header, saved.data(), sizeof(header));
  EXPECT_STREQ(header.name, "before");
  const fs::path upload = instance_->path() / "upload.cfg";
  std::ofstream(upload, std::ios::binary) << saved;

  std::string out = qcli({"config", "delete", "-q"});
  ASSERT_TRUE(has(out, "Configuration is deleted.\n")) << out;
  SimState s = simulator_->state();
  EXPECT_STREQ(s.header.name, "");
  EXPECT_TRUE(s.spares.empty());

  const fs::path shortFile = instance_->path() / "short.cfg";
  std::ofstream(shortFile, std::ios::binary) << saved.substr(1);
  out = qcli({"config", "restore", "--sfile", "short.cfg", "-q"}, shortFile.string());
  EXPECT_TRUE(has(out, "Error: The configuration file length is wrong.")) << out;
  EXPECT_STREQ(simulator_->state().header.name, "") << "nothing sent";

  out = qcli({"config", "restore", "--sfile", "upload.cfg", "-q"}, upload.string());
  ASSERT_TRUE(has(out, "Configuration is restored.\n")) << out;
  s = simulator_->state();
  EXPECT_STREQ(s.header.name, "before");
  EXPECT_EQ(s.header.autoSpare, brivo::kOn);
  EXPECT_TRUE(isSpare(s, 6, brivo::kSpareGlobal));
  out = qcli({"config", "display"});
  EXPECT_TRUE(has(out, "Name* : before\n") && has(out, "Hot Spares : ")) << out;
}

TEST_F(QcliController, EventsAreShownSavedAndCleared) {
  std::string out = qcli({"events", "display", "-ci", "0", "-last", "2"});
  EXPECT_TRUE(has(out, "--- Event Total=2 ---\n")) << out;
  EXPECT_TRUE(has(out, "  Num Date     Time     Ctlr Status  Message\n")) << out;

  auto reply = ask({"events", "save", "--rfile", "events.csv"});
  ASSERT_EQ(reply["ExportText"], "../../temp/ControllerEvents.log.csv") << text(reply);
  const std::string csv = exported(reply["ExportText"]);
  EXPECT_EQ(csv.rfind("\"Log Number\",\"Concern Level\",\"Date\",\"Time\",\"Device\",\"Message\",", 0), 0u)
      << csv.substr(0, 200);
  EXPECT_GT(std::count(csv.begin(), csv.end(), '\n'), 3);

  out = qcli({"events", "delete", "-ci", "1", "-q"});
  ASSERT_TRUE(has(out, "Events deleted.\n")) << out;
  const SimState s = simulator_->state();
  ASSERT_EQ(s.events.at('B').size(), 1u) << "a cleared log holds its clearing entry only";
  EXPECT_EQ(s.events.at('B')[0].code, brivo::kEvMaintenance);
  EXPECT_GT(s.events.at('A').size(), 1u) << "controller A's log stays";
}

TEST_F(QcliController, DisplaysAndStatistics) {
  std::string out = qcli({"controller", "display"});
  EXPECT_TRUE(has(out, "--- Controller Total=2 ---\n")) << out;
  EXPECT_TRUE(has(out, "Status : Online\n") && has(out, "Air Temperature : ") &&
              has(out, "12V Input Voltage : "))
      << out;
  out = qcli({"statistics", "display", "-ci", "0"});
  EXPECT_TRUE(has(out, " Controller 0, Port both, Logical Drive all ") && has(out, "Read Commands : "))
      << out;
  out = qcli({"statistics", "delete", "-q"});
  ASSERT_TRUE(has(out, "Statistics deleted.\n")) << out;
  const SimState s = simulator_->state();
  EXPECT_TRUE(s.statisticsCleared.count("A.0") == 1 && s.statisticsCleared.count("B.0") == 1)
      << "both controllers' counters cleared";
}

TEST_F(QcliController, RefusedOperationsPrintTheSenseAndChangeNothing) {
  struct Case {
    const char* op;
    std::vector<std::string> words;
    const char* failure;
  };
  const fs::path upload = instance_->path() / "zero.cfg";
  std::ofstream(upload, std::ios::binary) << std::string(brivo::kConfigurationLength, '\0');
  const Case cases[] = {
      {"0x93", {"drive", "set", "-di", "8", "-state", "hotspare", "-q"}, "make spare of disk 8"},
      {"0xC2", {"drive", "identify", "-di", "9", "-t", "30"}, "blink disk 9"},
      {"0xC2", {"enclosure", "identify", "-ei", "0", "-t", "30"}, "blink enclosure 0"},
      {"0xC5", {"clock", "set", "-ci", "0", "-t", "20290101000000"}, "set controller time"},
      {"0x81", {"config", "delete", "-q"}, "delete configuration"},
      {"0x83", {"config", "restore", "--sfile", "zero.cfg", "-q"}, "restore configuration"},
      {"0xC1", {"events", "delete", "-q"}, "delete Events"},
      {"0xC3", {"controller", "reset", "-ci", "1", "-q"}, "reset controller 1"},
      {"0xC4", {"controller", "shutdown", "-ci", "0", "-q"}, "shutdown controller 0"},
  };
  for (const Case& c : cases) {
    const SimState before = simulator_->state();
    ASSERT_TRUE(simulator_->ctl(std::string("model alpha failop.") + c.op + " 3/11/01"));
    const std::string out = qcli(c.words, c.words[0] == "config" ? upload.string() : "");
    EXPECT_TRUE(has(out, std::string("Error: Cannot ") + c.failure + ". Status: 2 Sense: 3/11/01\n"))
        << c.op << "\n"
        << out;
    const SimState after = simulator_->state();
    EXPECT_EQ(after.header.changeCount, before.header.changeCount) << c.op;
    EXPECT_EQ(after.spares.size(), before.spares.size()) << c.op;
    EXPECT_EQ(after.locatingSlots, before.locatingSlots) << c.op;
    EXPECT_EQ(after.clockOffset, before.clockOffset) << c.op;
    EXPECT_EQ(after.events.at('A').size(), before.events.at('A').size()) << c.op << ": nothing logged";
    ASSERT_TRUE(simulator_->ctl(std::string("model alpha failop.") + c.op + " off"));
  }
}

// Last: the controller goes down for a moment.
TEST_F(QcliController, ZResetReachesTheController) {
  const SimState before = simulator_->state();
  const std::string out = qcli({"controller", "reset", "-ci", "1", "-q"});
  ASSERT_TRUE(has(out, "Controller is reset. Please give it time to come up.\n")) << out;
  // model.reset_ms = 400; each look runs qcli, so a few a second are enough.
  EXPECT_TRUE(test_support::waitUntil(
      "the controller back from its reset",
      [&] { return has(qcli({"clock", "display", "-ci", "1"}), "Controller 1 Clock : 2"); },
      test_support::kWaitLimit, 200ms));
  const SimState s = simulator_->state();
  EXPECT_EQ(countEvents(s, 'B', brivo::kEvController, brivo::kCtlResetByHost),
            countEvents(before, 'B', brivo::kEvController, brivo::kCtlResetByHost) + 1);
  EXPECT_EQ(countEvents(s, 'B', brivo::kEvController, brivo::kCtlStarted),
            countEvents(before, 'B', brivo::kEvController, brivo::kCtlStarted) + 1)
      << "and came back";
  EXPECT_EQ(countEvents(s, 'A', brivo::kEvController, brivo::kCtlResetByHost),
            countEvents(before, 'A', brivo::kEvController, brivo::kCtlResetByHost))
      << "controller A was not reset";
}

}  // namespace
