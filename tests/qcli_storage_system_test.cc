// The storage commands of the module's "qcli" method inside the running server against raidsim:
// arrays, logical drives, mappings and jobs are created, shown, rebuilt, blinked, changed and
// deleted through the server's request path (module "Brivo", method "qcli", words p0, p1, ...),
// and every step is checked in the simulator's own state (its saved configuration records, jobs
// and enclosure indicators), not only in the text. Every command whose controller operation the
// simulator is told to refuse (its run-time key failop.ID) prints the failure with the
// controller's status and sense and changes nothing.
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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
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
model.job_seconds = 3600
drives = 10
enclosure = shelf
path = A 0:0:0:0
path = B 0:0:1:0
)";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename T>
bool fromHex(const std::string& hex, T* out) {
  if (hex.size() != 2 * sizeof(T)) return false;
  auto* bytes = reinterpret_cast<uint8_t*>(out);
  for (size_t i = 0; i < sizeof(T); ++i)
    bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return true;
}

// What the simulator holds for the pair, read from the state file that "ctl save" writes.
struct SimState {
  std::map<int, brivo::ArrayRecord> arrays;
  std::map<int, brivo::LogicalDriveRecord> drives;
  brivo::MappingTable mapping{};
  brivo::ConfigurationHeader header{};
  std::vector<std::pair<int, int>> jobs;  // kind, array
  std::set<int> locating;                 // enclosure slots whose locate LED is on
};

// raidsim with kConfig in a folder of its own; ctl commands and the state through its socket.
class Simulator : public RaidsimProcess {
 public:
  Simulator() : RaidsimProcess(kConfig, "qclisim") {}

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
      std::string verb, a, b, c, d;
      words >> verb >> a >> b >> c >> d;
      if (verb == "set" && a == "slot" && b == "shelf" && d == "locate") s.locating.insert(std::stoi(c));
      if (verb != "model" || a != "alpha") continue;
      if (b.rfind("config.array.", 0) == 0) fromHex(c, &s.arrays[std::stoi(b.substr(13))]);
      if (b.rfind("config.ld.", 0) == 0) fromHex(c, &s.drives[std::stoi(b.substr(10))]);
      if (b == "config.mapping") fromHex(c, &s.mapping);
      if (b == "config.header") fromHex(c, &s.header);
      if (b.rfind("job.", 0) == 0) {
        int kind = 0, array = 0;
        if (std::sscanf(c.c_str(), "%d,%d", &kind, &array) == 2) s.jobs.emplace_back(kind, array);
      }
    }
    return s;
  }
};

class QcliStorage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* build = std::getenv("KESTROVA_BUILD_DIR");
    if (build == nullptr || !fs::exists(builtServerPath()) || !fs::exists(fs::path(build) / "bin/raidsim"))
      return;
    simulator_ = new Simulator();
    if (!simulator_->waitListening()) return;
    instance_ = new InstanceFolder("kestrova-qcli-storage");
    fs::create_directories(instance_->path() / "mods");
    fs::copy(fs::path(build) / "mods/Brivo", instance_->path() / "mods/Brivo", fs::copy_options::recursive);
    server_ =
        new ServerProcess({"-debug"}, instance_->path(), {{"KESTROVA_SCSI_SIM", simulator_->socketPath()}});
    ready_ = server_->started() && server_->waitForText("Scan System thread terminated\n", 60s);
  }
  static void TearDownTestSuite() {
    if (server_ != nullptr && ready_) {
      server_->signal(SIGINT);
      const int status = server_->finish();
      EXPECT_EQ(status, 0) << "the server stops cleanly after the commands\n" << server_->output();
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

  // One qcli command for the pair; the printed text.
  static std::string qcli(const std::vector<std::string>& words) {
    VariableTable request = nullptr;
    addVariable(&request, "RemoteAddress", "127.0.0.1");
    addVariable(&request, "module", "Brivo");
    addVariable(&request, "method", "qcli");
    std::vector<std::string> all = words;
    all.insert(all.end(), {"--type", "Brivo", "--wwn", kWwn});
    for (size_t i = 0; i < all.size(); ++i)
      addVariable(&request, ("p" + std::to_string(i)).c_str(), all[i].c_str());
    setenv("KESTROVA_SHM_PREFIX", server_->shmPrefix().c_str(), 1);
    CgiClientOptions options;
    options.replyTimeoutMs = 30000;
    VariableTable reply = nullptr;
    std::string text;
    if (cgiRoundTrip(request, &reply, options) == kCgiOk) {
      const char* count = getVariable(reply, "textloop");
      for (int i = 0; count != nullptr && i < std::atoi(count); ++i) {
        const char* line = getVariable(reply, ("textloop" + std::to_string(i) + "text").c_str());
        if (line != nullptr) text += line;
      }
    }
    freeVariableTable(&request);
    freeVariableTable(&reply);
    unsetenv("KESTROVA_SHM_PREFIX");
    return text;
  }
  static bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  static Simulator* simulator_;
  static InstanceFolder* instance_;
  static ServerProcess* server_;
  static bool ready_;
};

Simulator* QcliStorage::simulator_ = nullptr;
InstanceFolder* QcliStorage::instance_ = nullptr;
ServerProcess* QcliStorage::server_ = nullptr;
bool QcliStorage::ready_ = false;

bool hasJob(const SimState& s, int kind, int array) {
  for (const auto& [k, a] : s.jobs) {
    if (k == kind && a == array) return true;
  }
  return false;
}

TEST_F(QcliStorage, CreateShowRebuildBlinkAndDeleteChangeTheController) {
  std::string out = qcli({"array", "create", "-n", "a1", "-di", "0", "1", "2", "-r", "5"});
  EXPECT_TRUE(has(out, "Confirmation is required to complete this operation.\n")) << out;
  EXPECT_TRUE(simulator_->state().arrays.empty()) << "nothing happens before the confirmation";

  out = qcli({"array", "create", "-n", "a1", "-di", "0", "1", "2", "-r", "5", "-q"});
  ASSERT_TRUE(has(out, "Array 0 created: \"a1\", RAID 5 on disks 0 1 2.\n")) << out;
  SimState s = simulator_->state();
  ASSERT_EQ(s.arrays.count(0), 1u);
  EXPECT_EQ(s.arrays[0].raidLevel, brivo::kRaid5);
  EXPECT_EQ(s.arrays[0].driveCount, 3);
  EXPECT_STREQ(s.arrays[0].name, "a1");
  EXPECT_TRUE(hasJob(s, brivo::kJobInit, 0)) << "a new RAID 5 initialises";

  out = qcli({"logical", "create", "-ai", "a1", "-sz", "100", "-n", "lv1", "-q"});
  ASSERT_TRUE(has(out, "Logical Drive 0 created: \"lv1\", 100 GB on array 0, host LUN 0")) << out;
  out = qcli({"mapping", "create", "-hba", "0", "-li", "0", "-pm", "ro", "-q"});
  ASSERT_TRUE(has(out, "Mapping 0 created:")) << out;
  s = simulator_->state();
  ASSERT_EQ(s.drives.count(0), 1u);
  EXPECT_EQ(s.drives[0].sizeGb, 100u);
  EXPECT_EQ(s.drives[0].hostLun, 0);
  EXPECT_STREQ(s.drives[0].name, "lv1");
  ASSERT_EQ(s.mapping.count, 1);
  EXPECT_EQ(s.mapping.entries[0].logicalDrive, 0);
  EXPECT_EQ(s.mapping.entries[0].permission, brivo::kMappingReadOnly);

  out = qcli({"array", "display", "-ai", "0", "-exp"});
  EXPECT_TRUE(has(out, "--- Array Total=1 ---\n")) << out;
  EXPECT_TRUE(has(out, "Name* : a1\n")) << out;
  EXPECT_TRUE(has(out, "Member Disks : 3 (IDs 0 1 2)\n")) << out;
  EXPECT_TRUE(has(out, "Job : Initialization [")) << out;
  out = qcli({"arr", "d", "-sum"});
  EXPECT_TRUE(has(out, " # Name                             RAID      Size Status   Job \n")) << out;
  EXPECT_TRUE(has(out, " 0 a1                               RAID 5   ")) << out;
  out = qcli({"logical", "display"});
  EXPECT_TRUE(has(out, "--- Logical Drive Total=1 ---\n") && has(out, "Name* : lv1\n") &&
              has(out, "Size : 100 GB\n"))
      << out;
  out = qcli({"mapping", "display"});
  EXPECT_TRUE(has(out, "Map 0 : Logical Drive 0 \"lv1\" as LUN 0, ro,")) << out;
  out = qcli({"jobs", "display"});
  EXPECT_TRUE(has(out, " 100 Initialization     0 [")) << out;

  // A member fails; the rebuild onto disk 5 starts, shows as job 200, and is cancelled.
  ASSERT_TRUE(simulator_->ctl("fail drive alpha 1"));
  out = qcli({"array", "rebuild", "-ai", "0", "-di", "5"});
  ASSERT_TRUE(has(out, "Rebuild of array 0 member 1 onto disk 5 started (job 200).\n")) << out;
  s = simulator_->state();
  EXPECT_EQ(s.arrays[0].memberStatus[1], brivo::kMemberRebuilding);
  EXPECT_TRUE(hasJob(s, brivo::kJobRebuild, 0));
  EXPECT_TRUE(has(qcli({"jobs", "display"}), " 200 Rebuild            0 ["));
  out = qcli({"jobs", "delete", "-ji", "200", "-q"});
  EXPECT_TRUE(has(out, "Job 200 deleted.\n")) << out;
  s = simulator_->state();
  EXPECT_FALSE(hasJob(s, brivo::kJobRebuild, 0));
  EXPECT_EQ(s.arrays[0].memberStatus[1], brivo::kMemberFailed);

  out = qcli({"array", "identify", "-ai", "a1", "-t", "120"});
  EXPECT_TRUE(has(out, "Array 0: disks 0 5 2 blink for 120 seconds.\n")) << out;
  EXPECT_EQ(simulator_->state().locating, (std::set<int>{0, 2, 5}));

  out = qcli({"array", "set", "-ai", "0", "-n", "renamed", "-wc", "64", "-q"});
  EXPECT_TRUE(has(out, "Array 0 settings changed.\n")) << out;
  s = simulator_->state();
  EXPECT_STREQ(s.arrays[0].name, "renamed");
  EXPECT_EQ(s.arrays[0].writeBackMb, 64);

  EXPECT_TRUE(has(qcli({"mapping", "delete", "-q"}), "1 Mapping deleted.\n"));
  EXPECT_TRUE(has(qcli({"logical", "delete", "-li", "0", "-q"}), "Logical Drive 0 deleted.\n"));
  EXPECT_TRUE(has(qcli({"array", "delete", "-ai", "renamed", "-q"}), "Array 0 deleted.\n"));
  s = simulator_->state();
  EXPECT_TRUE(s.arrays.empty());
  EXPECT_TRUE(s.drives.empty());
  EXPECT_EQ(s.mapping.count, 0);
  EXPECT_TRUE(simulator_->ctl("restore drive alpha 1"));
  EXPECT_TRUE(has(qcli({"array", "display"}), "--- Array Total=0 ---\n"));
}

TEST_F(QcliStorage, EveryRefusedOperationPrintsItsSenseAndChangesNothing) {
  ASSERT_TRUE(
      has(qcli({"array", "create", "-n", "a2", "-di", "3", "4", "6", "-r", "5", "-tr", "-q"}), "created"));
  ASSERT_TRUE(has(qcli({"logical", "create", "-ai", "0", "-sz", "50", "-q"}), "created"));
  ASSERT_TRUE(has(qcli({"mapping", "create", "-hba", "0", "-li", "0", "-q"}), "created"));
  struct Case {
    const char* op;
    std::vector<std::string> words;
    const char* operation;
  };
  const Case cases[] = {
      {"0x90", {"array", "create", "-n", "x", "-di", "7", "8", "9", "-r", "5", "-q"}, "create array"},
      {"0xA7", {"array", "set", "-ai", "0", "-n", "y", "-q"}, "set array"},
      {"0x9C", {"array", "set", "-ai", "0", "-rc", "512", "-q"}, "set array"},
      {"0xAB", {"array", "expand", "-ai", "0", "-di", "7", "-q"}, "expand array"},
      {"0xA6", {"array", "initialize", "-ai", "0", "-q"}, "Initialize Array 0"},
      {"0xCE", {"array", "check", "-ai", "0", "-m", "1", "-q"}, "check array"},
      {"0xC2", {"array", "identify", "-ai", "0", "-t", "5"}, "blink array 0"},
      {"0xC2", {"logical", "identify", "-li", "0", "-t", "5"}, "blink Logical Drive 0"},
      {"0x91", {"logical", "create", "-ai", "0", "-sz", "10", "-q"}, "create Logical Drive"},
      {"0xA5", {"logical", "expand", "-ai", "0", "-li", "0", "-sz", "10", "-q"}, "expand Logical Drive"},
      {"0xA8", {"logical", "set", "-li", "0", "-n", "z", "-q"}, "change Logical Drive settings"},
      {"0x92", {"mapping", "create", "-hba", "1", "-li", "0", "-q"}, "create mapping"},
      {"0x92", {"mapping", "set", "-mi", "0", "-cl", "0", "-q"}, "set mapping"},
      {"0x92", {"mapping", "delete", "-q"}, "delete mapping"},
      {"0xB1", {"logical", "delete", "-li", "0", "-q"}, "delete Logical Drive"},
  };
  for (const Case& c : cases) {
    const SimState before = simulator_->state();
    ASSERT_TRUE(simulator_->ctl(std::string("model alpha failop.") + c.op + " 3/11/01"));
    const std::string out = qcli(c.words);
    EXPECT_TRUE(has(out, std::string("Error: Cannot ") + c.operation + ". Status: 2 Sense: 3/11/01\n"))
        << c.op << " " << c.words[0] << " " << c.words[1] << "\n"
        << out;
    const SimState after = simulator_->state();
    EXPECT_EQ(after.header.changeCount, before.header.changeCount) << c.op << ": nothing saved";
    EXPECT_EQ(after.jobs.size(), before.jobs.size()) << c.op << ": no job started";
    EXPECT_EQ(after.locating, before.locating) << c.op << ": nothing blinks";
    ASSERT_TRUE(simulator_->ctl(std::string("model alpha failop.") + c.op + " off"));
  }
  // Cancelling a job, and a rebuild once a member has failed.
  ASSERT_TRUE(has(qcli({"array", "initialize", "-ai", "0", "-q"}), "Initialization operation successful.\n"));
  ASSERT_TRUE(simulator_->ctl("model alpha failop.0xAC 3/11/01"));
  EXPECT_TRUE(has(qcli({"jobs", "delete", "-ji", "100", "-q"}),
                  "Error: Cannot delete job. Status: 2 Sense: 3/11/01\n"));
  EXPECT_TRUE(hasJob(simulator_->state(), brivo::kJobInit, 0));
  ASSERT_TRUE(simulator_->ctl("fail drive alpha 3"));
  ASSERT_TRUE(simulator_->ctl("model alpha failop.0xCA 3/11/01"));
  EXPECT_TRUE(has(qcli({"array", "rebuild", "-ai", "0", "-di", "9"}),
                  "Error: Cannot rebuild array 0. Status: 2 Sense: 3/11/01\n"));
  EXPECT_TRUE(simulator_->state().jobs.empty()) << "the failed member stopped the initialisation; no rebuild";

  // Clean up; the array delete itself is refused once first.
  EXPECT_TRUE(has(qcli({"logical", "delete", "-li", "0", "-q"}), "deleted"));
  ASSERT_TRUE(simulator_->ctl("model alpha failop.0xB2 3/11/01"));
  EXPECT_TRUE(has(qcli({"array", "delete", "-ai", "0", "-q"}),
                  "Error: Cannot delete array 0. Status: 2 Sense: 3/11/01\n"));
  EXPECT_EQ(simulator_->state().arrays.count(0), 1u);
  EXPECT_TRUE(has(qcli({"array", "delete", "-ai", "0", "-q"}), "Array 0 deleted.\n"));
  EXPECT_TRUE(simulator_->ctl("restore drive alpha 3"));
  EXPECT_TRUE(simulator_->state().arrays.empty());
}

}  // namespace
