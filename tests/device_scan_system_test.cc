// The device scan inside the running server: with KESTROVA_SCSI_SIM naming a running raidsim,
// `server -debug` prints a record block for each simulated device and its debug page lists them.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/cgi_client.h"
#include "common/scsi/sim_socket.h"
#include "common/variable_table.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

namespace fs = std::filesystem;

class DeviceScanSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("KESTROVA_BUILD_DIR");
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    ASSERT_NE(build, nullptr);
    ASSERT_NE(source, nullptr);
    socket_ = (instance_.path() / "sim.sock").string();
    const std::string program = (fs::path(build) / "bin/raidsim").string();
    const std::string config = (fs::path(source) / "sim/examples/one_pair.conf").string();
    simulator_ = fork();
    if (simulator_ == 0) {
      execl(program.c_str(), program.c_str(), "--socket", socket_.c_str(), "--config", config.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto listening = [&] {
      int error = 0;
      return connectSimSocket(socket_, &error).valid();
    };
    ASSERT_TRUE(waitUntil("raidsim to listen", listening, test_support::kWaitLimit, std::chrono::milliseconds(25)));
  }
  void TearDown() override {
    if (simulator_ > 0) {
      kill(simulator_, SIGTERM);
      waitpid(simulator_, nullptr, 0);
    }
  }

  InstanceFolder instance_{"kestrova-scan"};
  std::string socket_;
  pid_t simulator_ = -1;
};

TEST_F(DeviceScanSystem, ServerPrintsTheSimulatedDevicesAndListsThemOnItsDebugPage) {
  ServerProcess server({"-debug"}, instance_.path(), {{"KESTROVA_SCSI_SIM", socket_}});
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(server.waitForText("Scan System thread terminated")) << server.output();
  const std::string out = server.output();
  // One pair through two controller paths (disk-type devices a class driver claims, each with its
  // own name) and the enclosure seen by the host (unclaimed: it gets the adapter's name).
  EXPECT_NE(out.find("**  ADDING DEVICE type:00 port:0 path:0 target:1 lun:0 devclaimed:1 **"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("---------------- Device Name : sim:" + socket_ + ":0:0:1:0\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("---------------- Device Name : sim:" + socket_ + ":0:\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Port.Bus.Target.LUN.Claimed : 0.0.8.0.No"), std::string::npos) << out;
  EXPECT_NE(out.find("Vendor         : KESTROVA"), std::string::npos) << out;
  EXPECT_NE(out.find("Product ID     : BRIVO R5-2400"), std::string::npos) << out;
  EXPECT_NE(out.find("Product ID     : BAY-12"), std::string::npos) << out;
  EXPECT_NE(out.find("Max Trans Size : 1024(KB)"), std::string::npos) << "the host's 1024 KB limit\n" << out;

  setenv("KESTROVA_SHM_PREFIX", server.shmPrefix().c_str(), 1);
  TableOwner request;
  addVariable(request.address(), "module", "server");
  addVariable(request.address(), "method", "GetDebugInfo");
  addVariable(request.address(), "RemoteAddress", "127.0.0.1");
  TableOwner reply;
  CgiClientOptions options;
  ASSERT_EQ(cgiRoundTrip(request.get(), reply.address(), options), kCgiOk);
  EXPECT_STREQ(getVariableOrMissing(reply.get(), "DeviceLoop"), "3");
  int pairs = 0;
  int enclosures = 0;
  for (int i = 0; i < 3; ++i) {
    const std::string row = "DeviceLoop" + std::to_string(i) + "IsScsiLoop0";
    const std::string product = getVariableOrMissing(reply.get(), (row + "ProductId").c_str());
    const std::string claimed = getVariableOrMissing(reply.get(), (row + "IsDeviceClaimed").c_str());
    if (product.rfind("BRIVO R5-2400", 0) == 0 && claimed == "true") ++pairs;
    if (product.rfind("BAY-12", 0) == 0 && claimed == "false") ++enclosures;
    EXPECT_STREQ(getVariableOrMissing(reply.get(), (row + "VendorId").c_str()), "KESTROVA");
  }
  EXPECT_EQ(pairs, 2);
  EXPECT_EQ(enclosures, 1);
  unsetenv("KESTROVA_SHM_PREFIX");

  server.signal(SIGINT);
  EXPECT_EQ(server.finish(), 0);
}

}  // namespace
