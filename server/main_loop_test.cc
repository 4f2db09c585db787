// Tests of the server's life cycle inside one process: the order in which start-up and shutdown
// reach the components, restarts through the restart thread (twenty in a row must leave no
// thread, descriptor or shared-memory object behind), the CGI start failure, and a shutdown
// requested twice at once.
#include "server/main_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/scsi/device_scan.h"
#include "common/test_folder.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/components.h"
#include "server/server_state.h"
#include "tests/support/open_handles.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::openHandles;
using test_support::waitUntil;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

Mutex gCallsLock;
std::vector<std::string> gCalls GUARDED_BY(gCallsLock);
std::atomic<int> gStartedPasses{0};
std::atomic<int> gShutdownProcedures{0};

void record(const std::string& call) {
  MutexLock lock(gCallsLock);
  gCalls.push_back(call);
}

std::vector<std::string> takeCalls() {
  MutexLock lock(gCallsLock);
  std::vector<std::string> calls;
  calls.swap(gCalls);
  return calls;
}

ServerComponents recordingComponents() {
  ServerComponents c = defaultServerComponents();
  c.loadModules = [] { record("loadModules"); };
  c.initNetwork = [] { record("initNetwork"); };
  c.startRequestSide = [] {
    record("startRequestSide");
    return true;
  };
  c.startModules = [] { record("startModules"); };
  c.scanDevices = [](bool) { record("scanDevices"); };
  c.acceptDeviceList = [] { record("acceptDeviceList"); };
  c.startDeviceListSender = [] {
    record("startDeviceListSender");
    gStartedPasses.fetch_add(1);
  };
  c.moduleShutdownProcedures = [](bool restarting) {
    gShutdownProcedures.fetch_add(1);
    record(restarting ? "doResetProcedures" : "doShutdownProcedures");
  };
  c.unloadModules = [] { record("unloadModules"); };
  c.freeDeviceList = [] { record("freeDeviceList"); };
  c.stopNetwork = [] { record("stopNetwork"); };
  c.releaseRequestSide = [] { record("releaseRequestSide"); };
  return c;
}

int countEntries(const fs::path& folder, const std::string& prefix = "") {
  int count = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().string().rfind(prefix, 0) == 0) ++count;
  }
  return count;
}

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(instance_.path().empty());
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    if (source != nullptr && fs::is_directory(fs::path(source) / "data/db")) {
      fs::copy(fs::path(source) / "data/db", instance_.file("db"), fs::copy_options::recursive);
    }
    shmPrefix_ = "kestrova-lifecycle-test-" + std::to_string(getpid()) + ".";
    ASSERT_EQ(setenv("KESTROVA_SHM_PREFIX", shmPrefix_.c_str(), 1), 0);
    previous_ = fs::current_path();
    fs::current_path(instance_.path());
    setLifecycleTimings(LifecycleTimings{10, 0, 20});
    serverComponents() = recordingComponents();
    takeCalls();
    gStartedPasses.store(0);
    gShutdownProcedures.store(0);
  }

  void TearDown() override {
    if (server_.joinable()) {
      shutdownServer();
      server_.join();
    }
    serverComponents() = defaultServerComponents();
    setLifecycleTimings(LifecycleTimings{});
    fs::current_path(previous_);
  }

  void startServer() {
    server_ = std::thread([] {
      const char* argv[] = {"Kestrova"};
      EXPECT_EQ(runServer(1, argv), 0);
    });
  }

  // Starts the restart thread as the rescan page does and waits for the next pass to be up.
  void restartOnce() {
    const int passes = gStartedPasses.load();
    ASSERT_NE(startThread(waitAndThenRestartServer, 0, kThreadKeep, "rescanSystem/waitAndThenRestartServer"),
              0u);
    ASSERT_TRUE(waitUntil([passes] { return gStartedPasses.load() > passes; }));
  }

  struct Resources {
    int threads;
    int descriptors;
    int sharedMemory;
  };
  Resources resources() const {
    return Resources{countEntries("/proc/self/task"), openHandles(), countEntries("/dev/shm", shmPrefix_)};
  }

  TestFolder instance_;
  fs::path previous_;
  std::string shmPrefix_;
  std::thread server_;
};

TEST_F(MainLoopTest, StartAndRestartReachComponentsInOrder) {
  startServer();
  ASSERT_TRUE(waitUntil([] { return gStartedPasses.load() == 1; }));
  EXPECT_TRUE(fs::is_directory("Information"));
  EXPECT_TRUE(fs::is_directory("temp"));
  EXPECT_TRUE(isServerRunning());
  const std::vector<std::string> start{"loadModules",          "initNetwork", "startRequestSide",
                                       "startModules",         "scanDevices", "acceptDeviceList",
                                       "startDeviceListSender"};
  EXPECT_EQ(takeCalls(), start);

  restartOnce();
  std::vector<std::string> expected{"doResetProcedures", "unloadModules", "freeDeviceList", "stopNetwork",
                                    "releaseRequestSide"};
  expected.insert(expected.end(), start.begin(), start.end());
  EXPECT_EQ(takeCalls(), expected);
  ServerControl& control = serverControl();
  EXPECT_EQ(control.rescanRequested.load(), 0);  // cleared when the loop started again
  EXPECT_EQ(control.restart.load(), 0);
  EXPECT_GE(control.restartCount.load(), 1);

  shutdownServer();
  server_.join();
  EXPECT_EQ(takeCalls(), (std::vector<std::string>{"doShutdownProcedures", "unloadModules", "freeDeviceList",
                                                   "stopNetwork", "releaseRequestSide"}));
  EXPECT_FALSE(isServerRunning());
  EXPECT_EQ(control.stop.load(), 1);
}

TEST_F(MainLoopTest, TwentyRestartsLeaveNothingBehind) {
  startServer();
  ASSERT_TRUE(waitUntil([] { return gStartedPasses.load() == 1; }));
  // The first restart creates what lives for the whole process (the signal watcher, for one).
  restartOnce();
  std::this_thread::sleep_for(100ms);
  const Resources before = resources();
  const int restartsBefore = serverControl().restartCount.load();
  for (int i = 0; i < 20; ++i) restartOnce();
  EXPECT_EQ(serverControl().restartCount.load(), restartsBefore + 20);
  // The last restart thread is still on its way out when the next pass is up.
  Resources after = resources();
  waitUntil(
      [&] {
        after = resources();
        return after.threads <= before.threads && after.descriptors <= before.descriptors &&
               after.sharedMemory <= before.sharedMemory;
      },
      3s);
  EXPECT_LE(after.threads, before.threads);
  EXPECT_LE(after.descriptors, before.descriptors);
  EXPECT_LE(after.sharedMemory, before.sharedMemory);
}

TEST_F(MainLoopTest, MissingSettingsStartAndRestartEventsAndTheLeakBanner) {
  for (const char* file : {"db/email.ini", "db/snmp.ini", "db/syslog.ini", "db/server.ini", "db/IP.db"})
    fs::remove(file);
  ::testing::internal::CaptureStdout();
  startServer();
  ASSERT_TRUE(waitUntil([] { return gStartedPasses.load() == 1; }));
  restartOnce();
  shutdownServer();
  server_.join();
  const std::string output = ::testing::internal::GetCapturedStdout();
  size_t at = 0;
  for (const char* what : {"email", "snmp", "syslog", "server", "IP settings"}) {
    const std::string line =
        std::string("logServerError: Unable to open ") + what + " property file (or it is empty)\n";
    const size_t found = output.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << output;
    at = found + line.size();
  }
  // The banner belongs to the restart only: once, before the second start.
  const size_t banner =
      output.find(" ********* MEMORY LEAKS ***********\n ********* ************ ***********\n");
  ASSERT_NE(banner, std::string::npos) << output;
  EXPECT_EQ(output.find("MEMORY LEAKS", banner + 20), std::string::npos);
  EXPECT_LT(output.find("The Server is shutdown is complete."), banner);
  // The three life events reach the event log.
  std::string log;
  waitUntil([&] {
    std::ifstream in("db/ServerLog.log");
    log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return log.find("(Event ID: 0x102)", log.find("(Event ID: 0x102)") + 1) != std::string::npos;
  });
  for (const char* id : {"(Event ID: 0x101)", "(Event ID: 0x102)", "(Event ID: 0x103)"})
    EXPECT_NE(log.find(id), std::string::npos) << id << "\n" << log;
}

TEST_F(MainLoopTest, CgiStartFailureShutsDownAtOnce) {
  serverComponents().startRequestSide = [] {
    record("startRequestSide");
    return false;
  };
  ::testing::internal::CaptureStdout();
  const char* argv[] = {"Kestrova"};
  EXPECT_EQ(runServer(1, argv), 0);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(takeCalls(), (std::vector<std::string>{"loadModules", "initNetwork", "startRequestSide",
                                                   "doShutdownProcedures", "unloadModules", "freeDeviceList",
                                                   "stopNetwork", "releaseRequestSide"}));
  const size_t complete = output.find("The Server is shutdown is complete.");
  const size_t error = output.find("logServerError: Unable to start the CGI Communicator.\n");
  ASSERT_NE(complete, std::string::npos) << output;
  ASSERT_NE(error, std::string::npos) << output;
  EXPECT_LT(complete, error);
  EXPECT_EQ(output.find("MEMORY LEAKS"), std::string::npos);
}

TEST_F(MainLoopTest, ShutdownRequestedTwiceRunsOnce) {
  startServer();
  ASSERT_TRUE(waitUntil([] { return gStartedPasses.load() == 1; }));
  std::thread a(shutdownServer);
  std::thread b(shutdownServer);
  a.join();
  b.join();
  server_.join();
  EXPECT_EQ(gShutdownProcedures.load(), 1);
  shutdownServer();  // after the loop ended: nothing to do
  EXPECT_EQ(gShutdownProcedures.load(), 1);
}

TEST_F(MainLoopTest, ScanSystemNeedsItsArgumentsAndRunsOneAtATime) {
  EXPECT_EQ(scanSystem(nullptr), 2);
  ASSERT_TRUE(beginDeviceScan());  // a scan already runs
  ScanRequest request;
  EXPECT_EQ(scanSystem(&request), 0);
  EXPECT_TRUE(takeCalls().empty());
  endDeviceScan();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(scanSystem(&request), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Scan System thread terminated\n");
  EXPECT_EQ(takeCalls(),
            (std::vector<std::string>{"scanDevices", "acceptDeviceList"}));  // server not running
}

}  // namespace
