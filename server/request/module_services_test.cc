// Tests of the ModuleServices table as a module sees it: each entry called from inside a loaded
// test module (events reaching the event log, debug printing, the server requests, the device
// take-over and the device-list send).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/debug.h"
#include "common/thread_manager.h"
#include "server/events/dispatcher.h"
#include "server/events/event_log.h"
#include "server/events/event_log_index.h"
#include "server/main_loop.h"
#include "server/request/local_addresses.h"
#include "server/request/module_manager.h"
#include "server/request/module_test_fixture.h"
#include "server/server_state.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

using namespace std::chrono_literals;

class ModuleServicesTest : public ModuleFolderTest {
 protected:
  void SetUp() override {
    ModuleFolderTest::SetUp();
    installModule("Alpha", "ModuleEnabled=1\n");
    loadCapturing();
    startModules();
  }
};

TEST_F(ModuleServicesTest, EventsFromTheModuleReachTheEventLog) {
  eventLogIndex().invalidate();
  setLastLogEntryNumber(0);
  ASSERT_TRUE(initThreadManager());
  serverControl().serverRunning.store(1);
  ASSERT_TRUE(startNotificationChannels());

  auto raised = call("Alpha", "RaiseEvent",
                     {{"device", "Unit 7"}, {"message", "Fan failed"}, {"level", "2"}, {"eventId", "0x20"}});
  auto dispatched = call("Alpha", "DispatchEvent", {{"device", "Unit 8"}, {"message", "Fan fixed"}});
  auto noDevice = call("Alpha", "RaiseEvent", {{"message", "lost"}});
  auto noMessage = call("Alpha", "DispatchEvent", {{"device", "Unit 8"}});
  EXPECT_EQ(raised["Result"], "0");
  EXPECT_EQ(dispatched["Result"], "0");
  EXPECT_EQ(noDevice["Result"], "2");
  EXPECT_EQ(noMessage["Result"], "2");
  EXPECT_TRUE(waitUntil([] { return lastLogEntryNumber() == 2; }, 5000ms));

  serverControl().serverRunning.store(0);
  stopNotificationChannels();
  closeThreadManager();
  const std::string log = readFile("db/ServerLog.log");
  EXPECT_NE(log.find("\"Unit 7\",\"(Event ID: 0x20) Fan failed\""), std::string::npos) << log;
  EXPECT_NE(log.find("\"Unit 8\",\"Fan fixed\""), std::string::npos) << log;
  EXPECT_EQ(log.find("lost"), std::string::npos);
}

TEST_F(ModuleServicesTest, DebugPrintGoesThroughTheServersFilter) {
  const char* argv[] = {"Kestrova", "1011"};
  ::testing::internal::CaptureStdout();
  initDebugNoExit(2, argv, nullptr);
  auto printed = call("Alpha", "DebugPrint", {{"code", "0x1011"}, {"text", "from the module"}});
  auto filtered = call("Alpha", "DebugPrint", {{"code", "0x20021"}, {"text", "not shown"}});
  closeDebug();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed["Result"], std::to_string(std::string("from the module\n").size()));
  EXPECT_EQ(filtered["Result"], "0");
  EXPECT_NE(out.find("from the module\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("not shown"), std::string::npos);
}

TEST_F(ModuleServicesTest, ServerRequestsAnswerVersionAddressAndHostName) {
  VariableTable& settings = serverSettings().server;
  addVariable(&settings, "serverVersion", "4.2.1");
  auto version = call("Alpha", "ServerRequest", {{"code", "3"}});
  freeVariableTable(&settings);
  EXPECT_EQ(version["KvVersion"], "4.2.1");
  EXPECT_EQ(call("Alpha", "ServerRequest", {{"code", "3"}})["KvVersion"], "(missing)");

  auto ip = call("Alpha", "ServerRequest", {{"code", "4"}});
  in_addr address{};
  EXPECT_EQ(inet_pton(AF_INET, ip["OsIp"].c_str(), &address), 1) << ip["OsIp"];
  EXPECT_EQ(ip["OsIp"], serverIpText());

  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
  EXPECT_EQ(call("Alpha", "ServerRequest", {{"code", "5"}})["OsHostName"], host);

  // Request 2 is the password change: without old and new password it answers the failure.
  auto password = call("Alpha", "ServerRequest", {{"code", "2"}});
  EXPECT_EQ(password["Answer"], "table");
  EXPECT_EQ(password["MessageIsSuccess"], "false");

  for (const char* code : {"0", "6", "4294967295"}) {
    auto reply = call("Alpha", "ServerRequest", {{"code", code}});
    EXPECT_EQ(reply["Answer"], "null") << code;
    EXPECT_EQ(reply.size(), 1u) << code;
  }
}

TEST_F(ModuleServicesTest, RescanStartsOneRestartThreadOnlyWhileTheServerRuns) {
  ServerControl& control = serverControl();
  auto restartThreads = [] {
    int n = 0;
    for (const ThreadListing& t : listThreads())
      n += t.tag == "rescanSystem/waitAndThenRestartServer" && t.running;
    return n;
  };
  ASSERT_TRUE(initThreadManager());
  LifecycleTimings timings = lifecycleTimings();
  const LifecycleTimings saved = timings;
  timings.restartDelayMs = 300;
  setLifecycleTimings(timings);

  call("Alpha", "ServerRequest", {{"code", "1"}});
  EXPECT_EQ(control.rescanRequested.load(), 0) << "the server is not running";
  control.serverRunning.store(1);
  control.scanning.store(1);
  call("Alpha", "ServerRequest", {{"code", "1"}});
  EXPECT_EQ(control.rescanRequested.load(), 0) << "a scan is running";
  control.scanning.store(0);

  auto reply = call("Alpha", "ServerRequest", {{"code", "1"}});
  EXPECT_EQ(reply["Answer"], "null");
  EXPECT_EQ(control.rescanRequested.load(), 1);
  call("Alpha", "ServerRequest", {{"code", "1"}});
  EXPECT_EQ(restartThreads(), 1) << "a second request while one is under way starts nothing";
  const bool kept = [] {
    for (const ThreadListing& t : listThreads()) {
      if (t.tag == "rescanSystem/waitAndThenRestartServer") return (t.options & kThreadKeep) != 0;
    }
    return false;
  }();
  EXPECT_TRUE(kept);
  // No server pass runs here, so the restart thread's shutdown returns at once.
  EXPECT_TRUE(waitUntil([&] { return control.restart.load() == 1 && restartThreads() == 0; }, 5000ms));

  control.restart.store(0);
  control.rescanRequested.store(0);
  control.serverRunning.store(0);
  setLifecycleTimings(saved);
  closeThreadManager();
}

TEST_F(ModuleServicesTest, TakeDeviceControlAnswersTheForwardedRequest) {
  std::map<std::string, std::string> forward = {
      {"ModDeviceName", "Alpha0000000000000001"}, {"NumberOfPostParameters", "3"},
      {"PostParameter0Field", "module"},          {"PostParameter0Value", "Alpha"},
      {"PostParameter1Field", "method"},          {"PostParameter1Value", "Echo"},
      {"PostParameter2Field", "Color"},           {"PostParameter2Value", "green"}};
  auto reply = call("Alpha", "TakeDeviceControl", forward);
  EXPECT_EQ(reply["TookOverDeviceControl"], "false");
  EXPECT_EQ(reply["Color"], "green");
  EXPECT_TRUE(sameFolder(reply["ModuleFolder"], "mods/Alpha"));
  EXPECT_EQ(reply.count("ModDeviceName"), 0u) << "only the forwarded pairs are routed";

  // A forwarded request that asks to take over again must not loop.
  forward["PostParameter1Value"] = "TakeDeviceControl";
  ::testing::internal::CaptureStdout();
  auto nested = call("Alpha", "TakeDeviceControl", forward);
  auto broken = call("Alpha", "TakeDeviceControl", {{"NumberOfPostParameters", "many"}});
  auto huge = call("Alpha", "TakeDeviceControl", {{"NumberOfPostParameters", "4000000000"}});
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(nested["TookOverDeviceControl"], "false");
  EXPECT_EQ(nested["HTMLPath"], "../Common/CommonErrorPanel.htm");
  EXPECT_EQ(broken["HTMLPath"], "../Common/CommonErrorPanel.htm");
  EXPECT_EQ(huge["HTMLPath"], "../Common/CommonErrorPanel.htm");
  EXPECT_EQ(broken.count("TookOverDeviceControl"), 0u);

  EXPECT_EQ(call("Alpha", "SendDeviceList")["Result"], "0");
}

}  // namespace
