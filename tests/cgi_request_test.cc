// The request path end to end: the built server in -debug mode in a fresh instance folder,
// driven through the front end's library over shared memory. Two slots served at once, a
// polling-only front end, a reply never taken, refused requests with their events in
// db/ServerLog.log, a rescan while a front end holds a slot, and no shared object left once the
// server has stopped.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_client.h"
#include "common/cgi_protocol.h"
#include "common/string_tables.h"
#include "common/variable_table.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TableOwner requestFor(const char* method, bool withAddress = true) {
  VariableTable request = nullptr;
  addVariable(&request, "module", "server");
  addVariable(&request, "method", method);
  if (withAddress) addVariable(&request, "RemoteAddress", "127.0.0.1");
  return TableOwner(request);
}

class CgiRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(builtServerPath())) GTEST_FAIL() << "server binary not found; set KESTROVA_BUILD_DIR";
    ASSERT_FALSE(instance_.path().empty());
  }
  void TearDown() override {
    if (!server_) return;
    EXPECT_EQ(server_->finish(), 0);
    EXPECT_NE(server_->output().find("CGI communicator ended\n"), std::string::npos) << server_->output();
    for (const auto& entry : fs::directory_iterator("/dev/shm")) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find(prefix_), std::string::npos) << "left behind: " << name;
    }
    unsetenv("KESTROVA_SHM_PREFIX");
  }

  // Starts the server with the reply time-out given (ms) and waits until it answers.
  void startServer(int replyTimeoutMs = 40000) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    prefix_ = "kestrova-cgisys-" + std::to_string(getpid()) + "-" + info->name() + ".";
    setenv("KESTROVA_SHM_PREFIX", prefix_.c_str(), 1);
    server_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{"-debug"}, instance_.path(),
        ServerProcess::Environment{{"KESTROVA_SHM_PREFIX", prefix_},
                                   {"KESTROVA_CGI_REPLY_TIMEOUT_MS", std::to_string(replyTimeoutMs)}});
    ASSERT_TRUE(server_->started());
    ASSERT_TRUE(server_->waitForText("Scan System thread terminated\n")) << server_->output();
    ASSERT_TRUE(waitUntil([] { return CgiClientSlot(CgiClientOptions()).connect() == kCgiOk; }));
  }
  void stopServer() { server_->signal(SIGINT); }

  std::string logText() {
    std::ifstream in(instance_.path() / "db/ServerLog.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // True once the event text of key has been written to the event log.
  bool logged(const char* key) {
    char* text = lookupString((instance_.path() / "db/strings.db").c_str(), key);
    const std::string wanted = text != nullptr ? text : key;
    std::free(text);
    return waitUntil([&] { return logText().find(wanted) != std::string::npos; }, 5s);
  }

  InstanceFolder instance_{"kestrova-cgisys"};
  std::unique_ptr<ServerProcess> server_;
  std::string prefix_;
};

TEST_F(CgiRequestTest, TwoSlotsAreServedAtOnceAndPollingOnlyFrontEndsWork) {
  startServer();
  CgiClientOptions options;
  CgiClientSlot first(options);
  ASSERT_EQ(first.claim(3), kCgiOk);
  TableOwner echo = requestFor("testMethod");
  ASSERT_EQ(first.submit(echo.get()), kCgiOk);
  ASSERT_EQ(first.awaitReply(), kCgiOk);  // slot 3's handler now waits for its reply to be taken

  CgiClientSlot second(options);
  ASSERT_EQ(second.claim(7), kCgiOk);
  TableOwner logs = requestFor("ViewLogs");
  ASSERT_EQ(second.submit(logs.get()), kCgiOk);
  ASSERT_EQ(second.awaitReply(), kCgiOk);
  VariableTable reply = nullptr;
  ASSERT_EQ(second.takeReply(&reply), kCgiOk);
  TableOwner logsReply(reply);
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "../Server/other/event_logs.htm");

  ASSERT_EQ(first.takeReply(&reply), kCgiOk);
  TableOwner echoReply(reply);
  EXPECT_STREQ(getVariable(reply, "serverSet"), "Inside request handler");
  EXPECT_STREQ(getVariable(reply, "VariablesLoop"), "3");

  CgiClientOptions polling;
  polling.pollOnly = true;
  TableOwner ping = requestFor("SessionPing");
  ASSERT_EQ(cgiRoundTrip(ping.get(), &reply, polling), kCgiOk);
  TableOwner pingReply(reply);
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "../Server/html/SessionPing.html");

  // Ten front ends at once, more requests than slots: every one is answered.
  std::atomic<int> answered{0};
  std::vector<std::thread> frontEnds;
  for (int t = 0; t < 10; ++t) {
    frontEnds.emplace_back([&answered, t] {
      CgiClientOptions mixed;
      mixed.pollOnly = t % 3 == 0;
      for (int i = 0; i < 15; ++i) {
        TableOwner request = requestFor("testMethod");
        VariableTable r = nullptr;
        if (cgiRoundTrip(request.get(), &r, mixed) == kCgiOk && getVariable(r, "serverSet") != nullptr) {
          answered.fetch_add(1);
        }
        freeVariableTable(&r);
      }
    });
  }
  for (std::thread& t : frontEnds) t.join();
  EXPECT_EQ(answered.load(), 150);
  stopServer();
}

TEST_F(CgiRequestTest, ReplyNeverTakenIsGivenUpAndTheSlotFreed) {
  startServer(800);
  CgiClientOptions options;
  CgiClientSlot slot(options);
  ASSERT_EQ(slot.claim(4), kCgiOk);
  TableOwner request = requestFor("testMethod");
  ASSERT_EQ(slot.submit(request.get()), kCgiOk);
  ASSERT_EQ(slot.awaitReply(), kCgiOk);
  EXPECT_TRUE(waitUntil([&] { return slot.state() == kSlotFinished || slot.state() == kSlotFree; }, 5s));
  EXPECT_TRUE(waitUntil([&] { return slot.state() == kSlotFree; }, 5s)) << "the communicator frees it";
  EXPECT_TRUE(logged("KestrovaEvent_CGITimeOutScript"));
  stopServer();
}

TEST_F(CgiRequestTest, RefusedRequestsGetTheirStatesAndEvents) {
  startServer();
  CgiClientOptions options;
  {
    CgiClientSlot slot(options);
    ASSERT_EQ(slot.claim(), kCgiOk);
    ASSERT_EQ(slot.submitBytes("", 1), kCgiOk);  // only the closing NUL
    EXPECT_EQ(slot.awaitReply(), kCgiNoVariables);
    slot.abandon();
  }
  EXPECT_TRUE(logged("KestrovaEvent_CGIRequestParamNotFound"));

  TableOwner anonymous = requestFor("testMethod", false);
  VariableTable reply = nullptr;
  EXPECT_EQ(cgiRoundTrip(anonymous.get(), &reply, options), kCgiNoReply);
  EXPECT_EQ(reply, nullptr);
  EXPECT_TRUE(logged("KestrovaEvent_CGIReturnParamNotFound"));

  // Both slots were acknowledged and freed: all ten take requests again.
  TableOwner echo = requestFor("testMethod");
  std::vector<std::unique_ptr<CgiClientSlot>> all;
  for (int i = 0; i < kRequestSlots; ++i) {
    all.push_back(std::make_unique<CgiClientSlot>(options));
    EXPECT_EQ(all.back()->claim(), kCgiOk) << i;
  }
  all.clear();
  stopServer();
}

TEST_F(CgiRequestTest, RescanWhileAFrontEndHoldsItsSlot) {
  startServer();
  struct stat before {};
  ASSERT_EQ(stat(("/dev/shm/" + prefix_ + "9190").c_str(), &before), 0);
  CgiClientOptions options;
  CgiClientSlot holder(options);
  ASSERT_EQ(holder.claim(6), kCgiOk);
  TableOwner echo = requestFor("testMethod");
  ASSERT_EQ(holder.submit(echo.get()), kCgiOk);
  ASSERT_EQ(holder.awaitReply(), kCgiOk);

  TableOwner rescan = requestFor("RescanSystem");
  VariableTable reply = nullptr;
  ASSERT_EQ(cgiRoundTrip(rescan.get(), &reply, options), kCgiOk);
  TableOwner rescanReply(reply);
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "../Common/rescanning.htm");

  EXPECT_TRUE(waitUntil([&] { return holder.state() == kSlotRescanning; })) << "restart in progress";
  // After the restart the server answers again, through the same status area.
  ASSERT_TRUE(waitUntil(
      [&] {
        VariableTable r = nullptr;
        const int result = cgiRoundTrip(echo.get(), &r, options);
        const bool served = result == kCgiOk && getVariable(r, "serverSet") != nullptr;
        freeVariableTable(&r);
        return served;
      },
      20s));
  struct stat after {};
  ASSERT_EQ(stat(("/dev/shm/" + prefix_ + "9190").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 0777, 0660u);
  stopServer();
}

}  // namespace
