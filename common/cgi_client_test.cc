// Tests of the front end's side of the slot protocol against a server played by the test: slot
// claims under contention, a round trip with and without the wake-up semaphores, the results of
// the error and stop states, time-out, a stale request area, the request area's exact bytes and
// rights, and a reply area read within its real size.
#include "common/cgi_client.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_protocol.h"
#include "common/named_semaphore.h"
#include "common/shared_memory.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

using namespace std::chrono_literals;

// The server's shared objects, created by the test under its own prefix.
class FakeServer {
 public:
  // areaSize: kRequestSlots for a server that knows only the default names.
  explicit FakeServer(size_t areaSize = kRequestSlots) {
    if (createSharedMemory(areaSize, status_.address(), kStatusAreaName) != 0) return;
    wake_ = NamedSemaphore::create(kWakeSemaphore);
    for (int i = 0; i < kRequestSlots; ++i) {
      taken_[i] = NamedSemaphore::create(kTakenSemaphoreBase + i);
      reply_[i] = NamedSemaphore::create(kReplySemaphoreBase + i);
    }
  }
  bool ready() const { return status_.get() != nullptr && wake_ && taken_[9] && reply_[9]; }
  uint8_t* state(int slot) { return static_cast<uint8_t*>(status_.get()->view) + slot; }
  NamedSemaphore& wake() { return *wake_; }
  NamedSemaphore& taken(int slot) { return *taken_[slot]; }
  NamedSemaphore& reply(int slot) { return *reply_[slot]; }
  SharedMemoryRecord* area() { return status_.get(); }

  // Waits (polling) until the slot holds want; false after limit.
  bool waitFor(int slot, uint8_t want, std::chrono::milliseconds limit = 5s) {
    return waitUntil([&] { return loadSlotState(state(slot)) == want; }, limit, 1ms);
  }

  // The first slot seen in state want, or -1 after limit.
  int findSlot(uint8_t want, std::chrono::milliseconds limit = 5s) {
    int found = -1;
    const auto seen = [&] {
      for (int i = 0; i < kRequestSlots; ++i) {
        if (loadSlotState(state(i)) == want) found = i;
      }
      return found >= 0;
    };
    return waitUntil(seen, limit, 1ms) ? found : -1;
  }

  // Serves one request in slot as the server would: reads the request within the area's size,
  // publishes `bytes` as the reply and waits for the front end to take it.
  bool serve(int slot, const std::string& bytes, TableOwner* request) {
    if (!waitFor(slot, kSlotRequestReady)) return false;
    storeSlotState(state(slot), kSlotTaken);
    SharedMemoryOwner in;
    if (openSharedMemory(in.address(), kRequestAreaBase + slot) != 0) return false;
    *request =
        TableOwner(deserializeVariableTableBounded(static_cast<char*>(in.get()->view), in.get()->size));
    SharedMemoryOwner out;
    if (createSharedMemory(bytes.size(), out.address(), kReplyAreaBase + slot) != 0) return false;
    writeSharedMemory(bytes.data(), bytes.size(), out.get());
    storeSlotState(state(slot), kSlotReplyReady);
    reply(slot).post();
    if (!waitFor(slot, kSlotFinished)) return false;
    storeSlotState(state(slot), kSlotFree);
    return true;
  }

 private:
  SharedMemoryOwner status_;
  std::unique_ptr<NamedSemaphore> wake_;
  std::unique_ptr<NamedSemaphore> taken_[kRequestSlots];
  std::unique_ptr<NamedSemaphore> reply_[kRequestSlots];
};

class CgiClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    prefix_ = std::string("kestrova-cgiclient-") + std::to_string(getpid()) + "-" + info->name() + ".";
    setenv("KESTROVA_SHM_PREFIX", prefix_.c_str(), 1);
  }
  void TearDown() override { unsetenv("KESTROVA_SHM_PREFIX"); }

  static std::string serialized(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    std::string bytes;
    for (const auto& [key, value] : pairs) {
      bytes.append(key).push_back('\0');
      bytes.append(value).push_back('\0');
    }
    bytes.push_back('\0');
    return bytes;
  }
  std::string prefix_;
};

TEST_F(CgiClientTest, NoServerAndNoFreeSlot) {
  VariableTable reply = nullptr;
  CgiClientOptions options;
  EXPECT_EQ(cgiRoundTrip(nullptr, &reply, options), kCgiServerNotRunning);

  FakeServer server;
  ASSERT_TRUE(server.ready());
  for (int i = 0; i < kRequestSlots; ++i) storeSlotState(server.state(i), kSlotTaken);
  options.slotWaitMs = 30;
  const auto start = std::chrono::steady_clock::now();
  CgiClientSlot slot(options);
  EXPECT_EQ(slot.claim(), kCgiBusy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms);
  storeSlotState(server.state(6), kSlotFree);
  EXPECT_EQ(slot.claim(), kCgiOk);
  EXPECT_EQ(slot.slot(), 6);
  EXPECT_EQ(loadSlotState(server.state(6)), kSlotClaimed);
}

TEST_F(CgiClientTest, ConcurrentClaimsNeverShareASlot) {
  FakeServer server;
  ASSERT_TRUE(server.ready());
  std::atomic<int> holders[kRequestSlots] = {};
  std::atomic<int> collisions{0};
  std::atomic<int> claims{0};
  constexpr int kThreads = 12;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      CgiClientOptions options;
      options.pollOnly = true;
      for (int i = 0; i < 300; ++i) {
        CgiClientSlot slot(options);
        if (slot.claim() != kCgiOk) continue;
        if (holders[slot.slot()].fetch_add(1) != 0) collisions.fetch_add(1);
        claims.fetch_add(1);
        std::this_thread::yield();
        holders[slot.slot()].fetch_sub(1);
      }  // the destructor hands the unsubmitted claim back
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(collisions.load(), 0);
  EXPECT_GT(claims.load(), 0);
  for (int i = 0; i < kRequestSlots; ++i) EXPECT_EQ(loadSlotState(server.state(i)), kSlotFree) << i;
}

TEST_F(CgiClientTest, RoundTripWakesTheServerUnlessPollingOnly) {
  FakeServer server;
  ASSERT_TRUE(server.ready());
  for (bool pollOnly : {false, true}) {
    SCOPED_TRACE(pollOnly ? "polling" : "semaphores");
    server.wake().drain();
    CgiClientOptions options;
    options.pollOnly = pollOnly;
    options.pollStepMs = 5;
    VariableTable request = nullptr;
    addVariable(&request, "method", "testMethod");
    addVariable(&request, "RemoteAddress", "127.0.0.1");
    TableOwner requestOwner(request);
    int slot = -1;
    TableOwner received;
    std::thread serverThread([&] {
      slot = server.findSlot(kSlotRequestReady);
      if (slot >= 0) server.serve(slot, serialized({{"HTMLPath", "x.htm"}, {"serverSet", "yes"}}), &received);
    });
    VariableTable reply = nullptr;
    const int result = cgiRoundTrip(request, &reply, options);
    serverThread.join();
    TableOwner replyOwner(reply);
    ASSERT_EQ(result, kCgiOk);
    ASSERT_GE(slot, 0);
    EXPECT_STREQ(getVariable(reply, "serverSet"), "yes");
    EXPECT_STREQ(getVariable(reply, "HTMLPath"), "x.htm");
    EXPECT_STREQ(getVariable(received.get(), "method"), "testMethod");
    EXPECT_EQ(server.wake().wait(0), !pollOnly);
    EXPECT_EQ(server.taken(slot).wait(0), !pollOnly) << "5 is signalled to the handler";
    // The front end removed its request area before handing the slot back.
    SharedMemoryRecord* left = nullptr;
    EXPECT_EQ(openSharedMemory(&left, kRequestAreaBase + slot), 1);
  }
}

TEST_F(CgiClientTest, ErrorStatesAreAcknowledgedAndStopStatesLeftAlone) {
  FakeServer server;
  ASSERT_TRUE(server.ready());
  const struct {
    uint8_t state;
    int result;
  } cases[] = {{kSlotNoReply, kCgiNoReply},
               {kSlotNoVariables, kCgiNoVariables},
               {kSlotNoHandler, kCgiNoHandler},
               {kSlotStopped, kCgiServerStopped},
               {kSlotRestarting, kCgiServerRestarting},
               {kSlotRescanning, kCgiServerRescanning}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.state));
    for (int i = 0; i < kRequestSlots; ++i) storeSlotState(server.state(i), kSlotFree);
    std::thread serverThread([&] {
      if (!server.waitFor(0, kSlotRequestReady)) return;
      // An error belongs to the slot; a stop is written into every slot.
      for (int i = 0; i < kRequestSlots; ++i) {
        if (i == 0 || isSlotStopState(c.state)) storeSlotState(server.state(i), c.state);
      }
    });
    CgiClientOptions options;
    options.pollStepMs = 5;
    CgiClientSlot slot(options);
    ASSERT_EQ(slot.claim(0), kCgiOk);
    ASSERT_EQ(slot.submitBytes("a\0b\0\0", 5), kCgiOk);
    const int result = slot.awaitReply();
    serverThread.join();
    EXPECT_EQ(result, c.result);
    if (isCgiStopResult(c.result)) {
      EXPECT_EQ(loadSlotState(server.state(0)), c.state) << "the next server pass resets it";
      CgiClientSlot other(options);
      EXPECT_EQ(other.claim(), c.result) << "a stopped server is reported, not a busy one";
    }
    slot.abandon();
    EXPECT_EQ(loadSlotState(server.state(0)), isCgiStopResult(c.result) ? c.state : kSlotFinished);
  }
}

TEST_F(CgiClientTest, TimeOutGivesTheSlotUp) {
  FakeServer server;
  ASSERT_TRUE(server.ready());
  CgiClientOptions options;
  options.replyTimeoutMs = 40;
  options.pollStepMs = 10;
  VariableTable reply = nullptr;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(cgiRoundTrip(nullptr, &reply, options), kCgiTimeOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 35ms);
  EXPECT_EQ(reply, nullptr);
  int finished = 0;
  for (int i = 0; i < kRequestSlots; ++i) finished += loadSlotState(server.state(i)) == kSlotFinished;
  EXPECT_EQ(finished, 1);
}

TEST_F(CgiClientTest, StaleRequestAreaIsReplacedAndReplyReadWithinItsSize) {
  FakeServer server;
  ASSERT_TRUE(server.ready());
  SharedMemoryRecord* stale = nullptr;
  ASSERT_EQ(createSharedMemory(3, &stale, kRequestAreaBase + 4), 0);
  stale->owner = 0;  // left by a front end that died
  closeSharedMemory(stale);

  // A reply area cut after a complete pair, without the closing NUL.
  const std::string cut = std::string("HTMLPath\0a.htm\0Partial\0va", 25);
  TableOwner received;
  std::thread serverThread([&] { server.serve(4, cut, &received); });
  CgiClientOptions options;
  CgiClientSlot slot(options);
  ASSERT_EQ(slot.claim(4), kCgiOk);
  VariableTable request = nullptr;
  addVariable(&request, "module", "server");
  TableOwner requestOwner(request);
  ASSERT_EQ(slot.submit(request), kCgiOk);
  ASSERT_EQ(slot.awaitReply(), kCgiOk);
  VariableTable reply = nullptr;
  ASSERT_EQ(slot.takeReply(&reply), kCgiOk);
  serverThread.join();
  TableOwner replyOwner(reply);
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "a.htm");
#ifndef _WIN32
  // Windows sections are whole pages: the zero bytes after the writer's 25 close the cut pair,
  // so there the reply reads "Partial" = "va" (still never past the mapping).
  EXPECT_EQ(getVariable(reply, "Partial"), nullptr);
#endif
  EXPECT_STREQ(getVariable(received.get(), "module"), "server");
}

#ifndef _WIN32
// The request area is written without a mapping: the server must still find exactly the
// serialized request (no more bytes, no fewer) under the group's rights whatever the umask, and
// the area must be gone once the reply is taken.
TEST_F(CgiClientTest, RequestAreaHoldsExactlyTheRequestUnderTheGroupsRights) {
  FakeServer server;
  ASSERT_TRUE(server.ready());
  const std::string request =
      serialized({{"method", "SessionPing"}, {"LastEvent", std::string(5000, 'e').c_str()}});
  std::string seen;
  struct stat info {};
  std::thread serverThread([&] {
    ASSERT_TRUE(server.waitFor(3, kSlotRequestReady));
    storeSlotState(server.state(3), kSlotTaken);
    const std::string path = "/dev/shm" + sharedMemoryObjectName(kRequestAreaBase + 3);
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    SharedMemoryOwner in;
    ASSERT_EQ(openSharedMemory(in.address(), kRequestAreaBase + 3), 0);
    seen.assign(static_cast<const char*>(in.get()->view), in.get()->size);
    const std::string bytes = serialized({{"HTMLPath", "r.htm"}});
    SharedMemoryOwner out;
    ASSERT_EQ(createSharedMemoryFilled(bytes.data(), bytes.size(), out.address(),
                                       std::to_string(kReplyAreaBase + 3)),
              0);
    storeSlotState(server.state(3), kSlotReplyReady);
    server.reply(3).post();
    EXPECT_TRUE(server.waitFor(3, kSlotFinished));
  });
  const mode_t old = umask(027);
  CgiClientSlot slot{CgiClientOptions()};
  ASSERT_EQ(slot.claim(3), kCgiOk);
  const int submitted = slot.submitBytes(request.data(), request.size());
  umask(old);
  ASSERT_EQ(submitted, kCgiOk);
  ASSERT_EQ(slot.awaitReply(), kCgiOk);
  VariableTable reply = nullptr;
  EXPECT_EQ(slot.takeReply(&reply), kCgiOk);
  serverThread.join();
  TableOwner replyOwner(reply);
  EXPECT_EQ(seen, request);
  EXPECT_EQ(info.st_size, static_cast<off_t>(request.size()));
  EXPECT_EQ(info.st_mode & 0777, 0660u);
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "r.htm");
  EXPECT_NE(access(("/dev/shm" + sharedMemoryObjectName(kRequestAreaBase + 3)).c_str(), F_OK), 0);
}

// Another local user's object under a name: open to everybody, so never this process's own.
// (Under Windows only administrators and services create names in the Global namespace.)
void squat(uint32_t name) {
  const std::string object = sharedMemoryObjectName(name);
  const int fd = shm_open(object.c_str(), O_CREAT | O_EXCL | O_RDWR, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  close(fd);
}

TEST_F(CgiClientTest, NamesTakenByAnotherUserAreAvoidedAndTheSlotTellsTheOtherSide) {
  FakeServer server(kStatusAreaSize);
  ASSERT_TRUE(server.ready());
  squat(kRequestAreaBase + 6);
  squat(kReplyAreaBase + 6);
  TableOwner received;
  std::thread serverThread([&] {
    ASSERT_TRUE(server.waitFor(6, kSlotRequestReady));
    storeSlotState(server.state(6), kSlotTaken);
    // The request under the name the slot gives.
    const std::string requestName =
        readNameField(requestNameField(static_cast<uint8_t*>(server.area()->view), server.area()->size, 6));
    EXPECT_TRUE(isSectionNameOf(requestName, kRequestAreaBase + 6));
    EXPECT_NE(requestName, std::to_string(kRequestAreaBase + 6));
    SharedMemoryOwner in;
    ASSERT_EQ(openSharedMemoryNamed(in.address(), requestName), 0);
    received =
        TableOwner(deserializeVariableTableBounded(static_cast<char*>(in.get()->view), in.get()->size));
    // The reply under a private name, told through the slot.
    const std::string replyName = privateSectionName(kReplyAreaBase + 6);
    const std::string bytes = std::string("HTMLPath\0private.htm\0\0", 22);
    SharedMemoryOwner out;
    ASSERT_EQ(createSharedMemoryNamed(bytes.size(), out.address(), replyName), 0);
    writeSharedMemory(bytes.data(), bytes.size(), out.get());
    ASSERT_TRUE(writeNameField(
        replyNameField(static_cast<uint8_t*>(server.area()->view), server.area()->size, 6), replyName));
    storeSlotState(server.state(6), kSlotReplyReady);
    server.reply(6).post();
    EXPECT_TRUE(server.waitFor(6, kSlotFinished));
  });
  CgiClientSlot slot{CgiClientOptions()};
  ASSERT_EQ(slot.claim(6), kCgiOk);
  TableOwner request;
  addVariable(request.address(), "method", "SessionPing");
  ASSERT_EQ(slot.submit(request.get()), kCgiOk);
  ASSERT_EQ(slot.awaitReply(), kCgiOk);
  VariableTable reply = nullptr;
  ASSERT_EQ(slot.takeReply(&reply), kCgiOk);
  serverThread.join();
  TableOwner replyOwner(reply);
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "private.htm");
  EXPECT_STREQ(getVariable(received.get(), "method"), "SessionPing");
  for (uint32_t name : {kRequestAreaBase + 6, kReplyAreaBase + 6})
    shm_unlink(sharedMemoryObjectName(name).c_str());
}
#endif

TEST_F(CgiClientTest, AReplyNamedForAnotherSlotIsNotRead) {
  FakeServer server(kStatusAreaSize);
  ASSERT_TRUE(server.ready());
  std::thread serverThread([&] {
    ASSERT_TRUE(server.waitFor(2, kSlotRequestReady));
    storeSlotState(server.state(2), kSlotTaken);
    // A reply area of slot 3 offered for slot 2: the front end reads its own default instead.
    SharedMemoryOwner wrong;
    const std::string bytes = std::string("HTMLPath\0wrong.htm\0\0", 20);
    ASSERT_EQ(createSharedMemory(bytes.size(), wrong.address(), kReplyAreaBase + 3), 0);
    writeSharedMemory(bytes.data(), bytes.size(), wrong.get());
    writeNameField(replyNameField(static_cast<uint8_t*>(server.area()->view), server.area()->size, 2),
                   std::to_string(kReplyAreaBase + 3));
    storeSlotState(server.state(2), kSlotReplyReady);
    server.reply(2).post();
    EXPECT_TRUE(server.waitFor(2, kSlotFinished));
  });
  CgiClientSlot slot{CgiClientOptions()};
  ASSERT_EQ(slot.claim(2), kCgiOk);
  TableOwner request;
  addVariable(request.address(), "method", "x");
  ASSERT_EQ(slot.submit(request.get()), kCgiOk);
  ASSERT_EQ(slot.awaitReply(), kCgiOk);
  VariableTable reply = nullptr;
  EXPECT_EQ(slot.takeReply(&reply), kCgiFailed);  // no area 9392 exists
  EXPECT_EQ(reply, nullptr);
  serverThread.join();
}

}  // namespace
