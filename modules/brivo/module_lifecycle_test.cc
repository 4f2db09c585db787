// The module's life: start-up's checks and its event, the shutdown sequence with its console
// texts (waiting for a request in progress, freeing only the module's own items, writing the two
// bookkeeping files), suspension and the tech-support file.
#include "modules/brivo/module_lifecycle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/module_hooks.h"
#include "tests/support/wait_until.h"

namespace brivo {
namespace {

using test_support::waitUntil;

using namespace std::chrono_literals;

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.write("mods/Brivo/BrivoSettings.ini", "ModuleLogName = Brivo RAID Module\n");
    folder_.write("mods/Brivo/EventStrings.db", "StartupMessage = The RAID module has started.\n");
    setShutdownTimingForTesting(30, 20);
    std::lock_guard<std::mutex> lock(testing::raisedLock());
    testing::raisedEvents().clear();
  }

  testing::ModuleFolder folder_;
  ModuleServices services_ = testing::recordingServices();
};

TEST_F(LifecycleTest, StartupNeedsTheFirstTwoServices) {
  EXPECT_EQ(startModule(nullptr), 1);
  ModuleServices partial = services_;
  partial.raiseEvent = nullptr;
  EXPECT_EQ(startModule(&partial), 1);
  partial = services_;
  partial.dispatchEvent = nullptr;
  EXPECT_EQ(startModule(&partial), 1);
  EXPECT_FALSE(moduleState().running.load());
  EXPECT_TRUE(testing::raisedEvents().empty());

  // Shutting down a module that never started writes nothing over the files.
  folder_.write("mods/Brivo/BrivoConfigurations.db", "keep = me\n");
  ::testing::internal::CaptureStdout();
  shutdownModule();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(folder_.read("mods/Brivo/BrivoConfigurations.db"), "keep = me\n");
}

TEST_F(LifecycleTest, StartupRaisesItsEventAndShutdownPrintsEveryStep) {
  ASSERT_EQ(startModule(&services_), 0);
  EXPECT_TRUE(moduleState().running.load());
  ASSERT_EQ(testing::raisedEvents().size(), 1u);
  const testing::RaisedEventRecord& event = testing::raisedEvents()[0];
  EXPECT_EQ(event.device, "Brivo RAID Module");
  EXPECT_EQ(event.message, "The RAID module has started.");
  EXPECT_EQ(event.level, 0u);
  EXPECT_EQ(event.time, 0u);
  EXPECT_EQ(event.id, 0xA01u);
  EXPECT_EQ(event.sync, 0);

  moduleState().files.setValue(PropertyTable::kConfigurations, "Brivo20000004CF8A1B2CLastAEventTime",
                               "1700000000");
  ::testing::internal::CaptureStdout();
  shutdownModule();
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(output,
            "The Brivo module is shutting down.\n"
            "Allowing Brivo threads to end: \n"
            "\rTime left: 0.030   \rTime left: 0.020   \rTime left: 0.010   \n"
            "Making sure CGI Requests are complete:  Done\n"
            "Clearing Brivo mod devices:             Done\n"
            "Terminating reaming Brivo threads:      Done\n"
            "Clearing Brivo hashtables:              Done\n"
            "Brivo module shutdown:                  Done\n");
  EXPECT_FALSE(moduleState().running.load());
  const std::string configurations = folder_.read("mods/Brivo/BrivoConfigurations.db");
  EXPECT_NE(configurations.find("'This file contains information about brivo configurations\n"),
            std::string::npos);
  EXPECT_NE(configurations.find("Brivo20000004CF8A1B2CLastAEventTime = 1700000000\n"), std::string::npos);
  EXPECT_NE(folder_.read("mods/Brivo/NodePortNameList.db")
                .find("'This file contains logical names assigned to specific node-ports\n"),
            std::string::npos);
}

TEST_F(LifecycleTest, ShutdownWaitsForAWriteInProgressAndFreesOnlyItsItems) {
  ASSERT_EQ(startModule(&services_), 0);
  testing::DeviceList list;
  DeviceRecord* device = list.add("path");
  list.hangItem(device, "Brivo20000004CF8A1B2C");
  list.hangItem(device, "Test0000000000000001");
  list.hangItem(device, "Brivo20000004CF8A1B2C");
  moduleState().deviceList.store(list.head());

  std::atomic<bool> leaving{false};
  ASSERT_TRUE(moduleState().gate.enterWrite());
  std::thread request([&leaving] {
    std::this_thread::sleep_for(150ms);
    leaving.store(true);
    moduleState().gate.leaveWrite();
  });
  ::testing::internal::CaptureStdout();
  shutdownModule();
  const std::string output = ::testing::internal::GetCapturedStdout();
  request.join();
  EXPECT_TRUE(leaving.load()) << "shutdown returned before the request left";
  const std::string waiting = "Making sure CGI Requests are complete:  Waiting for Commands to complete\n";
  EXPECT_NE(output.find(waiting), std::string::npos) << output;
  EXPECT_NE(output.find("Waiting for Commands to complete\nDone\nClearing Brivo mod devices:"),
            std::string::npos);
  ASSERT_EQ(testing::DeviceList::unitCount(device), 1);
  EXPECT_STREQ(device->units->name, "Test0000000000000001");
}

std::atomic<int> g_monitorStops{0};
std::atomic<bool> g_cycleEndedBeforeStop{false};
void countStop() {
  g_cycleEndedBeforeStop.store(moduleState().monitorCycleComplete.load());
  ++g_monitorStops;
}

TEST_F(LifecycleTest, ShutdownLetsTheMonitorFinishItsCycleThenStopsIt) {
  ASSERT_EQ(startModule(&services_), 0);
  g_monitorStops.store(0);  // counts this test's stops only, also when the test is repeated
  moduleHooks().stopMonitor = countStop;
  moduleState().monitorStarted.store(true);
  moduleState().monitorCycleComplete.store(false);
  std::thread cycle([] {
    std::this_thread::sleep_for(100ms);
    moduleState().monitorCycleComplete.store(true);
  });
  ::testing::internal::CaptureStdout();
  shutdownModule();
  const std::string output = ::testing::internal::GetCapturedStdout();
  cycle.join();
  EXPECT_EQ(g_monitorStops.load(), 1);
  EXPECT_TRUE(g_cycleEndedBeforeStop.load());
  EXPECT_NE(output.find("Waiting for Commands to complete\n"), std::string::npos);
  EXPECT_FALSE(moduleState().monitorStarted.load());
}

TEST_F(LifecycleTest, SuspensionHoldsTheGateUntilTheFlagClears) {
  ASSERT_EQ(startModule(&services_), 0);
  int32_t flag = 1;
  std::atomic<bool> returned{false};
  ::testing::internal::CaptureStdout();
  std::thread suspender([&] {
    suspendModuleActivity(&flag);
    returned.store(true);
  });
  EXPECT_TRUE(waitUntil("the suspension to take the gate", [] { return moduleState().gate.busy(); }));
  std::this_thread::sleep_for(30ms);  // room for a wrong early return to show
  EXPECT_FALSE(returned.load());
  __atomic_store_n(&flag, 0, __ATOMIC_RELEASE);
  suspender.join();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Brivo has suspended all threads\nBrivo has resumed all threads\n");
  EXPECT_FALSE(moduleState().gate.busy());

  ::testing::internal::CaptureStdout();
  shutdownModule();
  ::testing::internal::GetCapturedStdout();
}

TEST_F(LifecycleTest, TechSupportFileHoldsEachRequestAndReply) {
  ASSERT_EQ(startModule(&services_), 0);
  TableOwner serverPairs;
  addVariable(serverPairs.address(), "CalledModule", "Brivo");
  addVariable(serverPairs.address(), "Module", "1");
  EXPECT_EQ(gatherModuleInformation(serverPairs.get()), 0);
  // A text file, as the server's tech-support files: CR LF line ends on Windows.
  const std::string text = folder_.readText("Information/brivo.parameters");
  const size_t monitor = text.find("method = GetMonitor\n");
  const size_t called = text.find("CalledModule = Brivo\n");
  const size_t main = text.find("method = GetMainPage\n");
  EXPECT_NE(monitor, std::string::npos) << text;
  EXPECT_NE(called, std::string::npos) << text;
  EXPECT_NE(main, std::string::npos) << text;
  EXPECT_LT(monitor, called);
  EXPECT_LT(called, main);
  EXPECT_FALSE(moduleState().gate.busy());

  ::testing::internal::CaptureStdout();
  shutdownModule();
  ::testing::internal::GetCapturedStdout();
}

}  // namespace
}  // namespace brivo
