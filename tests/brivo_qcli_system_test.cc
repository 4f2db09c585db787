// The "qcli" method of the Brivo module inside the running server against raidsim: the server
// object answers from this host, a pair command without a pair lists the pairs the server sees,
// a named pair runs its handler between the Command and Results rulers, and a data-altering
// command stops at the confirmation question.
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
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_client.h"
#include "common/variable_table.h"
#include "tests/raidsim_process.h"
#include "tests/server_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kConfig[] = R"(
[pair alpha]
product = BRIVO R5-2400
wwn = 20000004CF8A1B2C
model = brivo
drives = 8
path = A 0:0:0:0
path = B 0:0:1:0
)";

// raidsim with kConfig in a folder of its own.
class Simulator : public RaidsimProcess {
 public:
  Simulator() : RaidsimProcess(kConfig, "qclisim") {}
};

// One qcli request as the front end hands it on: the words as p0, p1, ... and the options the
// client forwards. Returns the printed text (the reply's lines in order), empty when the round
// trip failed.
std::string qcli(const ServerProcess& server, const std::vector<std::string>& words, const std::string& wwn) {
  VariableTable request = nullptr;
  addVariable(&request, "RemoteAddress", "127.0.0.1");
  addVariable(&request, "module", "Brivo");
  addVariable(&request, "method", "qcli");
  std::vector<std::string> all = words;
  for (const char* option : {"--wwn", "", "--width", "79", "--type", "Brivo", "--rfile", "", "--sfile", ""}) {
    all.emplace_back(option);
  }
  all[all.size() - 9] = wwn;
  for (size_t i = 0; i < all.size(); ++i) {
    addVariable(&request, ("p" + std::to_string(i)).c_str(), all[i].c_str());
  }
  setenv("KESTROVA_SHM_PREFIX", server.shmPrefix().c_str(), 1);
  CgiClientOptions options;
  options.replyTimeoutMs = 15000;
  VariableTable reply = nullptr;
  std::string text;
  if (cgiRoundTrip(request, &reply, options) == kCgiOk) {
    const int lines = std::atoi(getVariableOrMissing(reply, "textloop"));
    for (int i = 0; i < lines; ++i)
      text += getVariableOrMissing(reply, ("textloop" + std::to_string(i) + "text").c_str());
    if (std::string(getVariableOrMissing(reply, "HTMLPath")) != "../../html/Brivo/main/qcli.htm")
      text.clear();
  }
  freeVariableTable(&request);
  freeVariableTable(&reply);
  unsetenv("KESTROVA_SHM_PREFIX");
  return text;
}

TEST(BrivoQcliSystem, CommandsRunInTheServer) {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build == nullptr || !fs::exists(builtServerPath()) || !fs::exists(fs::path(build) / "bin/raidsim")) {
    GTEST_FAIL() << "set KESTROVA_BUILD_DIR to a build with the server, raidsim and the Brivo module";
  }
  Simulator simulator;
  ASSERT_TRUE(simulator.waitListening()) << "raidsim did not start";
  InstanceFolder instance("kestrova-qcli");
  ASSERT_FALSE(instance.path().empty());
  fs::create_directories(instance.path() / "mods");
  fs::copy(fs::path(build) / "mods/Brivo", instance.path() / "mods/Brivo", fs::copy_options::recursive);
  ServerProcess server({"-debug"}, instance.path(), {{"KESTROVA_SCSI_SIM", simulator.socketPath()}});
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(server.waitForText("Scan System thread terminated\n", 60s)) << server.output();

  const std::string display = qcli(server, {"server", "display"}, "");
  ASSERT_FALSE(display.empty()) << server.output();
  EXPECT_NE(display.find("\nserver display\n"), std::string::npos) << display;
  EXPECT_NE(display.find("Server Information\n"), std::string::npos) << display;
  EXPECT_NE(display.find(" Hostname : "), std::string::npos) << display;
  EXPECT_EQ(display.find("Hostname : (missing)"), std::string::npos) << display;
  EXPECT_NE(display.find(" OS Version : Linux "), std::string::npos) << display;

  EXPECT_EQ(qcli(server, {"jobs", "display"}, ""),
            "Error: Cannot get controller device without --type and --wwn.\n"
            "Controllers seen by this server:\n"
            "    --type Brivo --wwn 20000004CF8A1B2C\n");

  const std::string arrays = qcli(server, {"ARR", "D", "-sum"}, "20000004CF8A1B2C");
  EXPECT_EQ(arrays.rfind("=== Command ===", 0), 0u) << arrays;
  EXPECT_NE(arrays.find("\narray display -sum\n"), std::string::npos) << arrays;
  EXPECT_NE(arrays.find("\n=== Results ==="), std::string::npos) << arrays;
  EXPECT_NE(arrays.find("--- Array Total="), std::string::npos) << arrays;
  EXPECT_EQ(arrays.substr(arrays.size() - 80), std::string(79, '=') + "\n") << arrays;

  EXPECT_EQ(qcli(server, {"config", "delete"}, "20000004CF8A1B2C"),
            "Confirmation is required to complete this operation.\n");
  EXPECT_NE(server.output().find("--- Qcli DONE"), std::string::npos);

  server.signal(SIGINT);
  EXPECT_EQ(server.finish(), 0) << server.output();
}

}  // namespace
