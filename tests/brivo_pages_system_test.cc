// The RAID module's monitor, controller and array pages in the running server against raidsim,
// through the server's request path (the shared-memory link, for the reply keys) and through the
// web front end cgiloader (for the rendered templates). One pair of ten drives in an SES
// enclosure. Checked: the monitor page before and after an array exists, its refresh poll with
// progress and the configuration-changed flag, the controller page, the create page with its
// profiles, creation, the job methods (initialise, pause, resume, cancel, parity check, cancel),
// renaming and cache changes, expansion, a refused rebuild cancel, a failed drive turning the
// solution to Error and the poll to "reload", and deletion; each change also in the simulator's
// saved configuration.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_client.h"
#include "common/scsi/scsi_sim.h"
#include "common/variable_table.h"
#include "modules/brivo/protocol.h"
#include "tests/frontend_web_instance.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;
// Each check asks the front end or the simulator over a socket; five times a second is plenty.
constexpr std::chrono::milliseconds kCheckEvery{200};

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Keys = std::map<std::string, std::string>;
using Fields = std::vector<std::pair<std::string, std::string>>;

constexpr char kAlpha[] = "Brivo20000004CF8A1B2C";

constexpr char kConfig[] = R"(
[pair alpha]
product = BRIVO R5-2400
wwn = 20000004CF8A1B2C
model = brivo
model.job_seconds = 600
drives = 10
enclosure = bay1
path = A 0:0:0:0
path = B 0:0:1:0

[enclosure bay1]
wwn = 500A0B8000112233
slots = 12
)";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// raidsim with the configuration above, in its own folder.
class Simulator {
 public:
  explicit Simulator(const fs::path& folder) : folder_(folder), socket_((folder / "sim.sock").string()) {
    const fs::path config = folder_ / "pairs.conf";
    std::ofstream(config) << kConfig;
    const std::string program = builtProgram("raidsim").string();
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      execl(program.c_str(), program.c_str(), "--socket", socket_.c_str(), "--config", config.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Simulator() {
    closeSimConnections();
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool waitListening() const {
    return waitUntil(
        [&] {
          std::string reply;
          return simControl(socket_, "list", &reply, 1000) == 0;
        },
        10s, kCheckEvery);
  }
  std::string ctl(const std::string& command) const {
    std::string reply;
    EXPECT_EQ(simControl(socket_, command, &reply), 0) << command << ": " << reply;
    return reply;
  }
  // The pair's saved array record n, or a record with valid 0 when the slot is free.
  brivo::ArrayRecord array(int n) const {
    const fs::path file = folder_ / "state.txt";
    ctl("save " + file.string());
    brivo::ArrayRecord record{};
    const std::string key = "model alpha config.array." + std::to_string(n) + " ";
    std::istringstream in(readFile(file));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(key, 0) != 0) continue;
      const std::string hex = line.substr(key.size());
      auto* bytes = reinterpret_cast<uint8_t*>(&record);
      for (size_t i = 0; i + 1 < hex.size() && i / 2 < sizeof(record); i += 2) {
        bytes[i / 2] = static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16));
      }
    }
    return record;
  }
  // The saved job lines of the pair ("kind,array,member,mode,start,duration,pausedAt,total").
  std::vector<std::string> jobs() const {
    const fs::path file = folder_ / "state.txt";
    ctl("save " + file.string());
    std::vector<std::string> lines;
    std::istringstream in(readFile(file));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("model alpha job.", 0) == 0) lines.push_back(line.substr(line.find(' ', 12) + 1));
    }
    return lines;
  }
  const std::string& socketPath() const { return socket_; }

 private:
  fs::path folder_;
  std::string socket_;
  pid_t pid_ = -1;
};

// The pause time of a saved job line (its seventh field; 0 while the job runs).
long long pausedAt(const std::string& job) {
  std::istringstream in(job);
  std::string field;
  for (int i = 0; i < 7 && std::getline(in, field, ','); ++i) {
  }
  return field.empty() ? 0 : std::stoll(field);
}

class BrivoPagesSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(builtServerPath()) && fs::exists(builtProgram("raidsim")))
        << "set KESTROVA_BUILD_DIR to a build with the server, raidsim, cgiloader and the Brivo module";
    ASSERT_TRUE(web_.ready()) << "instance not prepared (cgiloader built? KESTROVA_SOURCE_DIR set?)";
    const fs::path module = fs::path(std::getenv("KESTROVA_BUILD_DIR")) / "mods/Brivo";
    fs::create_directories(web_.root() / "mods");
    fs::copy(module, web_.root() / "mods/Brivo", fs::copy_options::recursive);
    sim_ = std::make_unique<Simulator>(web_.root());
    ASSERT_TRUE(sim_->waitListening()) << "raidsim did not start";
    server_ =
        std::make_unique<ServerProcess>(std::vector<std::string>{"-debug"}, web_.root(),
                                        ServerProcess::Environment{{"KESTROVA_SCSI_SIM", sim_->socketPath()},
                                                                   {"KESTROVA_BRIVO_MONITOR_MS", "1000"}});
    ASSERT_TRUE(server_->started());
    ASSERT_TRUE(server_->waitForText("Scan System thread terminated\n", 60s)) << server_->output();
    loader_ = std::make_unique<ChildProgram>(
        web_.loaderPath(), std::vector<std::string>{"--listen", "127.0.0.1:0"},
        std::vector<std::pair<std::string, std::string>>{{"KESTROVA_SHM_PREFIX", server_->shmPrefix()}});
    ASSERT_TRUE(loader_->waitForText("/\n")) << loader_->output();
    const std::string output = loader_->output();
    port_ = std::stoi(output.substr(output.rfind(':') + 1));
  }
  void TearDown() override {
    if (loader_) {
      loader_->stop();
      EXPECT_EQ(loader_->output().find("Sanitizer"), std::string::npos) << loader_->output();
    }
    if (!server_) return;
    server_->signal(SIGINT);
    EXPECT_EQ(server_->finish(), 0) << server_->output().substr(0, 4000);
    for (const char* report : {"Sanitizer", "runtime error"}) {
      const size_t at = server_->output().find(report);
      EXPECT_EQ(at, std::string::npos) << server_->output().substr(at == std::string::npos ? 0 : at, 3000);
    }
  }

  // One request through the server's request path; the reply's keys.
  Keys ask(const std::string& method, const Fields& fields = {}) {
    Keys values;
    VariableTable request = nullptr;
    addVariable(&request, "RemoteAddress", "127.0.0.1");
    addVariable(&request, "module", "Brivo");
    addVariable(&request, "method", method.c_str());
    for (const auto& [key, value] : fields) addVariable(&request, key.c_str(), value.c_str());
    setenv("KESTROVA_SHM_PREFIX", server_->shmPrefix().c_str(), 1);
    CgiClientOptions options;
    options.replyTimeoutMs = 30000;
    VariableTable reply = nullptr;
    if (cgiRoundTrip(request, &reply, options) == kCgiOk) {
      for (VariableEntry* e = reply; e != nullptr; e = e->next) values.emplace(e->key, e->value);
    }
    freeVariableTable(&request);
    freeVariableTable(&reply);
    unsetenv("KESTROVA_SHM_PREFIX");
    return values;
  }
  Keys askPair(const std::string& method, Fields fields = {}) {
    fields.emplace_back("ModDeviceName", kAlpha);
    return ask(method, fields);
  }
  // The page as a browser gets it through cgiloader.
  std::string page(const std::string& method, const std::string& query = "") {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(45, 0);
    client.set_basic_auth("admin", "pinecone");
    auto answer = client.Get("/cgi-bin/cgiloader.cgi?module=Brivo&method=" + method + query);
    EXPECT_TRUE(answer) << method;
    if (!answer) return "";
    EXPECT_EQ(answer->status, 200) << method << ": " << answer->body.substr(0, 2000);
    return answer->body;
  }
  // The poll of a page that showed the monitor reply `shown`.
  Keys ping(const Keys& shown, const Fields& more = {}) {
    Fields fields = more;
    for (const char* side : {"A", "B"}) {
      fields.emplace_back(shown.at(std::string("PingDevicesLoop0GuiDevice") + side),
                          shown.at(std::string("PingDevicesLoop0EventNum") + side));
    }
    fields.emplace_back(shown.at("PingDevicesLoop0GuiDeviceEnclosure"),
                        shown.at("PingDevicesLoop0LastEnclosureEvent"));
    return ask("PingPage", fields);
  }
  // The full monitor page once this server monitors the pair.
  Keys monitorInFull() {
    Keys keys;
    waitUntil(
        [&] {
          keys = ask("GetMonitor");
          return keys["HTMLPath"] == "../../html/Brivo/main/main.htm";
        },
        40s, kCheckEvery);
    return keys;
  }
  static std::string statusText(const Keys& keys) {
    if (keys.count("MessageSummary") == 0) return "(no command result)";
    return keys.at("MessageSummary") + " / " + keys.at("MessageDetails");
  }

  WebInstance web_;
  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<ChildProgram> loader_;
  int port_ = 0;
};

TEST_F(BrivoPagesSystem, MonitorControllerAndArrayPagesDriveThePair) {
  EXPECT_EQ(ask("GetMainPage")["HTMLPath"], "../../html/Brivo/main/mainframe.htm");
  Keys monitor = monitorInFull();
  ASSERT_EQ(monitor["HTMLPath"], "../../html/Brivo/main/main.htm") << server_->output().substr(0, 3000);
  EXPECT_EQ(monitor["SolutionLoop"], "1");
  EXPECT_EQ(monitor["SolutionLoop0AllowedToMonitor"], "true");
  EXPECT_EQ(monitor["SolutionLoop0SolutionWwn"], "20000004CF8A1B2C");
  EXPECT_EQ(monitor["ArraysAvailable"], "false");
  EXPECT_EQ(monitor["DriveLoop"], "10");
  EXPECT_EQ(monitor["EnclosureLoop"], "1");
  EXPECT_EQ(monitor["ControllersImg"], "/Brivo/images/controllers2_ok.gif");
  const std::string mainHtml = page("GetMonitor");
  EXPECT_NE(mainHtml.find("Storage solutions"), std::string::npos);
  EXPECT_NE(mainHtml.find("name=\"GuiDevice_" + std::string(kAlpha) + "A\""), std::string::npos);
  // Once the claim and the start-up events have settled, a page that shows the pair as it is
  // stays as it is.
  EXPECT_TRUE(waitUntil(
      [&] {
        monitor = ask("GetMonitor");
        return ping(monitor).count("UpdatePage") == 0;
      },
      15s, kCheckEvery));

  // A solution number past the end, and a poll that shows no pair, through the front end.
  Keys beyond = ask("GetMonitor", {{"StorageSolution", "3"}});
  EXPECT_EQ(beyond["CurrentSolution"], "1");
  EXPECT_EQ(beyond["SolutionSelectedNotAvail0SolutionNumber"], "3");
  EXPECT_NE(page("GetMonitor", "&StorageSolution=3").find("Solution 3 does not exist."), std::string::npos);
  const std::string pingHtml = page("PingPage", "&SolutionNumber=1");
  EXPECT_NE(pingHtml.find("data-marker=\"brivo-ping\" data-update-page=\"true\""), std::string::npos)
      << pingHtml;
  EXPECT_NE(page("GetMainPage").find("method=GetOverview"), std::string::npos) << "the start page: every pair";

  // Controller page, through both paths.
  Keys controllers = askPair("GetControllerInformation");
  EXPECT_EQ(controllers["ControllerLoop"], "2");
  EXPECT_EQ(controllers["ControllerDualMode"], "true");
  EXPECT_EQ(controllers["ResetControllerBothEnabled"], "true");
  EXPECT_NE(page("GetControllerInformation", std::string("&ModDeviceName=") + kAlpha).find("Controller B"),
            std::string::npos);

  // Create page and creation of a RAID 5 array of drives 0-2 (initialisation on).
  Keys create = askPair("GetCreateNewRankInformation");
  ASSERT_EQ(create["FreeDriveLoop"], "10");
  EXPECT_EQ(create["ProfileCount"], "5");
  EXPECT_NE(
      page("GetCreateNewRankInformation", std::string("&ModDeviceName=") + kAlpha).find("General purpose"),
      std::string::npos);
  std::vector<std::string> wwn;
  for (int i = 0; i < 10; ++i) wwn.push_back(create["FreeDriveLoop" + std::to_string(i) + "Wwn"]);
  Keys created = askPair("CreateNewRank", {{"RaidLevel", "5"},
                                           {"ArrayName", "first"},
                                           {"Initialize", "1"},
                                           {"Drive0", wwn[0]},
                                           {"Drive1", wwn[1]},
                                           {"Drive2", wwn[2]}});
  ASSERT_EQ(created["MessageIsSuccess"], "true") << statusText(created);
  EXPECT_EQ(created["FreeDriveLoop"], "7");
  brivo::ArrayRecord array = sim_->array(0);
  ASSERT_EQ(array.valid, brivo::kOn);
  EXPECT_EQ(array.raidLevel, brivo::kRaid5);
  EXPECT_EQ(array.driveCount, 3);
  EXPECT_STREQ(std::string(array.name, 5).c_str(), "first");
  EXPECT_EQ(ping(monitor)["UpdatePage"], "true") << "the configuration changed";

  // The new array in the monitor page, its initialisation with a progress bar the poll moves.
  monitor = ask("GetMonitor");
  EXPECT_EQ(monitor["ArrayLoop"], "1");
  EXPECT_EQ(monitor["ArrayLoop0Job"], "Initialization") << "qcli's word for the job";
  EXPECT_EQ(monitor["ArrayLoop0ShowProgress"], "true");
  sim_->ctl("model alpha advance 120");
  Keys polled = ping(monitor, {{std::string("Percent_") + kAlpha, "0"}});
  EXPECT_EQ(polled["PercentLoop0ArrayNum"], "0");
  EXPECT_GE(std::stoi(polled["PercentLoop0ArrayPercent"]), 15) << "two of ten minutes passed";

  // Pause, resume, cancel, initialise again and finish.
  EXPECT_EQ(askPair("PauseArrayInit", {{"RankNumber", "0"}})["MessageIsSuccess"], "true");
  ASSERT_EQ(sim_->jobs().size(), 1u);
  EXPECT_NE(pausedAt(sim_->jobs()[0]), 0) << sim_->jobs()[0];
  EXPECT_EQ(askPair("GetRankInformation", {{"RankNumber", "0"}})["CanResumeInit"], "true");
  EXPECT_EQ(askPair("UnPauseArrayInit", {{"RankNumber", "0"}})["MessageIsSuccess"], "true");
  EXPECT_EQ(askPair("CancelInitialization", {{"RankNumber", "0"}})["MessageIsSuccess"], "true");
  EXPECT_TRUE(sim_->jobs().empty());
  EXPECT_EQ(askPair("InitializeRank", {{"RankNumber", "0"}})["MessageIsSuccess"], "true");
  EXPECT_EQ(sim_->array(0).jobKind, brivo::kJobInit);
  sim_->ctl("model alpha advance 700");
  EXPECT_TRUE(waitUntil([&] { return sim_->array(0).initialized == brivo::kOn; }, 5s, kCheckEvery));

  // Parity check, started and cancelled.
  Keys rank = askPair("GetRankInformation", {{"RankNumber", "0"}});
  EXPECT_EQ(rank["CanStartParityCheck"], "true") << rank["Job"];
  EXPECT_EQ(askPair("StartParityCheck", {{"RankNumber", "0"}, {"ParityCheckMode", "1"}})["MessageIsSuccess"],
            "true");
  EXPECT_EQ(sim_->array(0).jobKind, brivo::kJobParity);
  EXPECT_EQ(askPair("CancelParityCheck")["MessageIsSuccess"], "true");
  EXPECT_EQ(sim_->array(0).jobKind, brivo::kJobNone);

  // No rebuild runs: the controller refuses and the page says why.
  Keys refused = askPair("CancelRebuild", {{"RankNumber", "0"}});
  EXPECT_EQ(refused["MessageIsSuccess"], "false");
  EXPECT_NE(refused["MessageDetails"].find("another operation is running or the configuration"),
            std::string::npos)
      << refused["MessageDetails"];

  // Rename and cache settings.
  Keys changed = askPair(
      "ChangeRankParameters",
      {{"RankNumber", "0"}, {"ArrayName", "renamed"}, {"WriteBackCacheSize", "32"}, {"CacheMirror", "true"}});
  EXPECT_EQ(changed["MessageIsSuccess"], "true") << statusText(changed);
  array = sim_->array(0);
  EXPECT_EQ(std::string(array.name, 7), "renamed");
  EXPECT_EQ(array.writeBackMb, 32);
  EXPECT_EQ(array.cacheFlags, brivo::kCacheWriteBack | brivo::kCacheMirror);
  const std::string rankHtml =
      page("GetRankInformation", std::string("&ModDeviceName=") + kAlpha + "&RankNumber=0");
  EXPECT_NE(rankHtml.find("renamed"), std::string::npos);

  // Expansion by drive 3.
  Keys expanded =
      askPair("CreateNewRank", {{"PerformExpansion", "true"}, {"RankNumber", "0"}, {"Drive0", wwn[3]}});
  EXPECT_EQ(expanded["MessageIsSuccess"], "true") << statusText(expanded);
  EXPECT_EQ(expanded["UpdateParent"], "true");
  sim_->ctl("model alpha advance 700");
  EXPECT_TRUE(waitUntil([&] { return sim_->array(0).driveCount == 4; }, 5s, kCheckEvery));

  // A RAID 6 array always gets two parity drives, whatever the request says.
  Keys raid6 = askPair("CreateNewRank", {{"RaidLevel", "6"},
                                         {"NumberOfParityDrives", "5"},
                                         {"Initialize", "0"},
                                         {"Drive0", wwn[5]},
                                         {"Drive1", wwn[6]},
                                         {"Drive2", wwn[7]},
                                         {"Drive3", wwn[8]}});
  EXPECT_EQ(raid6["MessageIsSuccess"], "true") << statusText(raid6);
  EXPECT_EQ(sim_->array(1).parityDrives, 2);

  // A failed member: the solution turns to Error and the poll asks for a reload.
  monitor = ask("GetMonitor");
  sim_->ctl("fail drive alpha 1");
  EXPECT_TRUE(waitUntil([&] { return ping(monitor).count("UpdatePage") != 0; }, 15s, kCheckEvery));
  EXPECT_TRUE(waitUntil(
      [&] { return ask("GetMonitor")["SolutionLoop0StatusIcon"] == "/Brivo/images/status_fail.gif"; }, 15s, kCheckEvery));
  monitor = ask("GetMonitor");
  EXPECT_NE(monitor["ProblemLoop"], "0");
  EXPECT_EQ(monitor["SolutionStatusClass"], "fail");

  // Deletion frees the slot.
  EXPECT_EQ(askPair("DeleteRank", {{"RankNumber", "1"}})["MessageIsSuccess"], "true");
  EXPECT_NE(sim_->array(1).valid, brivo::kOn);
  EXPECT_EQ(askPair("DeleteRank", {{"RankNumber", ""}})["MessageIsSuccess"], "false");
}

}  // namespace
