// The Brivo module inside the running server against raidsim: two controller pairs, one of them
// seen through two host adapters, and a plain disk. The server loads mods/Brivo/Brivo.so (copied
// from the build with its data files), the module takes every path to a pair and names its items
// "Brivo" + the pair's configuration WWN, leaves the disk alone, answers requests through its
// method table, and shuts down with its console steps, writing its bookkeeping file.
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
#include <iterator>
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

constexpr char kAlpha[] = "Brivo20000004CF8A1B2C";
constexpr char kBeta[] = "Brivo20000004CF8A9F10";

// Pair alpha through hosts 0 and 1 (direct-access and processor paths), pair beta on host 0.
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

[disk boot]
vendor = SEAGATE
product = ST4000NM0035
path = 0:0:5:0
)";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// raidsim with kConfig in a folder of its own.
class Simulator : public RaidsimProcess {
 public:
  Simulator() : RaidsimProcess(kConfig, "brivosim") {}
};

// One request to the server; the reply's pairs (empty when the round trip failed).
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

// Module items per device, by the device's target and adapter: "h<port>t<target>" -> item names.
std::map<std::string, std::vector<std::string>> itemsByDevice(std::map<std::string, std::string>& debug) {
  std::map<std::string, std::vector<std::string>> items;
  const int devices = std::atoi(debug["DeviceLoop"].c_str());
  for (int d = 0; d < devices; ++d) {
    const std::string row = "DeviceLoop" + std::to_string(d);
    const std::string where =
        debug[row + "IsScsiLoop0DeviceName"] + " t" + debug[row + "IsScsiLoop0TargetId"];
    const int units = std::atoi(debug[row + "ModLoop"].c_str());
    std::vector<std::string>& names = items[where];
    for (int m = 0; m < units; ++m)
      names.push_back(debug[row + "ModLoop" + std::to_string(m) + "DeviceName"]);
  }
  return items;
}

TEST(BrivoModuleSystem, TakesEveryPathToEachPairAndStopsCleanly) {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build == nullptr || !fs::exists(builtServerPath()) || !fs::exists(fs::path(build) / "bin/raidsim")) {
    GTEST_FAIL() << "set KESTROVA_BUILD_DIR to a build with the server, raidsim and the Brivo module";
  }
  Simulator simulator;
  ASSERT_TRUE(simulator.waitListening()) << "raidsim did not start";
  InstanceFolder instance("kestrova-brivo");
  ASSERT_FALSE(instance.path().empty());
  fs::create_directories(instance.path() / "mods");
  fs::copy(fs::path(build) / "mods/Brivo", instance.path() / "mods/Brivo", fs::copy_options::recursive);

  ServerProcess server({"-debug"}, instance.path(), {{"KESTROVA_SCSI_SIM", simulator.socketPath()}});
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(server.waitForText("Scan System thread terminated\n", 60s)) << server.output();
  EXPECT_NE(server.output().find("+ Module Brivo      ena=1 ord=1 name=RAID lib="), std::string::npos)
      << server.output();

  auto debug = ask(server, {{"module", "server"}, {"method", "GetDebugInfo"}});
  ASSERT_FALSE(debug.empty()) << server.output();
  int alphaPaths = 0, betaPaths = 0, others = 0;
  for (const auto& [device, names] : itemsByDevice(debug)) {
    for (const std::string& name : names) {
      if (name == kAlpha) {
        ++alphaPaths;
      } else if (name == kBeta) {
        ++betaPaths;
      } else if (name.rfind("Brivo", 0) == 0) {
        ADD_FAILURE() << device << " carries " << name;
      } else {
        ++others;
      }
    }
    EXPECT_LE(names.size(), 1u) << device << " has more than one item";
  }
  EXPECT_EQ(alphaPaths, 4) << "alpha: two controllers on each of two hosts";
  EXPECT_EQ(betaPaths, 2);
  EXPECT_EQ(others, 0);

  // The module answers through its method table; methods it does not build yet give the server's
  // panel, as unknown ones do.
  auto test = ask(server, {{"module", "Brivo"}, {"method", "TestMethod"}});
  EXPECT_EQ(test["Message"], "Invalid method (TestMethod) called from module: Brivo");

  server.signal(SIGINT);
  EXPECT_EQ(server.finish(), 0) << server.output();
  const std::string output = server.output();
  size_t at = 0;
  for (const char* step :
       {"The Brivo module is shutting down.\n", "Allowing Brivo threads to end: \n",
        "Making sure CGI Requests are complete:  Done\n", "Clearing Brivo mod devices:             Done\n",
        "Terminating reaming Brivo threads:      Done\n", "Clearing Brivo hashtables:              Done\n",
        "Brivo module shutdown:                  Done\n", "Closing libraries:"}) {
    const size_t found = output.find(step, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << step << "\n" << output;
    at = found;
  }
  EXPECT_NE(readFile(instance.path() / "mods/Brivo/BrivoConfigurations.db")
                .find("'This file contains information about brivo configurations"),
            std::string::npos);
  EXPECT_NE(readFile(instance.path() / "db/ServerLog.log").find("Brivo RAID Module"), std::string::npos)
      << "the start-up event reaches the event log";
}

}  // namespace
