// Tests of the CGI communicator inside one process, driven through the front end's library: a
// slot is not freed while its handler still runs, the handler threads (reused, never more than
// the requests in flight, a slow request not holding up another slot's, idle ones ending, a stop
// while requests are under way), slots left in states nobody watches are given up, the stop states at the end
// of a pass, the status area kept over a restart and removed on a stop, the slot waits, and the debug page
// rows. Then the failures of a request with their slot states and their events in the event log by ID, a
// handler that cannot be started, and the two answers the handler gives instead of the router's: the rescan
// page and the refused verification password.
#include "server/request/cgi_communicator.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_client.h"
#include "common/cgi_protocol.h"
#include "common/shared_memory.h"
#include "common/test_folder.h"
#include "common/thread_manager.h"
#include "server/events/dispatcher.h"
#include "server/events/event_log.h"
#include "server/net/password_change.h"
#include "server/request/request_admission.h"
#include "server/server_state.h"
#include "tests/support/wait_until.h"
#include "tests/support/wine.h"

namespace {

using test_support::waitUntil;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::atomic<bool> gHoldHandlers{false};
std::atomic<int> gHeldHandlers{0};

// Admission hook that keeps a handler busy while the test holds it.
void holdingTrackUser(VariableTable*) {
  gHeldHandlers.fetch_add(1);
  while (gHoldHandlers.load()) std::this_thread::sleep_for(1ms);
  gHeldHandlers.fetch_sub(1);
}

// Admission hook that keeps only the requests marked "hold" busy while the test holds them.
void holdingMarkedTrackUser(VariableTable* request) {
  if (getVariable(*request, "hold") != nullptr) holdingTrackUser(request);
}

// Every handler thread the communicator starts, counted.
std::atomic<int> gHandlerStarts{0};
ThreadHandle countingStarter(ThreadRoutine routine, uintptr_t context, uint32_t options, const char* tag) {
  gHandlerStarts.fetch_add(1);
  return startThread(routine, context, options, tag);
}

// Handler threads in the thread table: those whose routine still runs, or all (ended ones stay
// until they are reaped and joined).
int handlerThreads(bool runningOnly) {
  int count = 0;
  for (const ThreadListing& thread : listThreads()) {
    count += thread.tag == "requestManager/handleCGIRequest" && (thread.running || !runningOnly);
  }
  return count;
}
int runningHandlerThreads() { return handlerThreads(true); }

int countSharedObjects(const std::string& prefix) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/dev/shm")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0 || name.rfind("sem." + prefix, 0) == 0) ++count;
  }
  return count;
}

VariableTable echoRequest() {
  VariableTable request = nullptr;
  addVariable(&request, "method", "testMethod");
  addVariable(&request, "RemoteAddress", "127.0.0.1");
  return request;
}

class CgiCommunicatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    prefix_ = "kestrova-cgicomm-" + std::to_string(getpid()) + "-" + info->name() + ".";
    setenv("KESTROVA_SHM_PREFIX", prefix_.c_str(), 1);
    saved_ = fs::current_path();
    fs::create_directories(folder_.path() + "/db");
    fs::current_path(folder_.path());
    CgiTimings timings;
    timings.replyTimeoutMs = 300;
    timings.pollIntervalMs = 300;
    timings.waitStepMs = 20;
    setCgiTimings(timings);
    requestAdmission() = defaultRequestAdmission();
    initThreadManager();
    gHandlerStarts.store(0);
    setCgiThreadStarter(countingStarter);
  }
  void TearDown() override {
    gHoldHandlers.store(false);
    stop(false, false);
    terminateAllThreads();
    closeThreadManager();
    setCgiThreadStarter(nullptr);
    requestAdmission() = defaultRequestAdmission();
    setCgiTimings(CgiTimings());
    fs::current_path(saved_);
    EXPECT_EQ(countSharedObjects(prefix_), 0) << "shared objects left behind";
    unsetenv("KESTROVA_SHM_PREFIX");
  }

  void start() {
    ServerControl& control = serverControl();
    control.restart.store(0);
    control.rescanRequested.store(0);
    control.serverRunning.store(1);
    communicator_ = std::thread(requestManager, 0);
    // The status area may exist before the communicator holds it (a kept or leftover one):
    // ready once it is held and no slot shows a stop state any more.
    ASSERT_TRUE(waitUntil([] {
      VariableTable rows = nullptr;
      addCgiDebugInfo(&rows);
      TableOwner owner(rows);
      for (int slot = 0; slot < kRequestSlots; ++slot) {
        const std::string key = "CgiRequestLoop" + std::to_string(slot) + "RequestStatus";
        const std::string value = getVariableOrMissing(rows, key.c_str());
        if (value == kMissing || value == "224" || value == "236" || value == "238") return false;
      }
      return true;
    }));
  }
  // Ends the pass as the shutdown does: the running word first, the release after the threads.
  void stop(bool restart, bool rescan) {
    if (!communicator_.joinable()) return;
    ServerControl& control = serverControl();
    control.restart.store(restart ? 1 : 0);
    control.rescanRequested.store(rescan ? 1 : 0);
    control.serverRunning.store(0);
    communicator_.join();
    reapThreads();
    ASSERT_TRUE(waitUntil([] { return liveThreadCount() == 0; }));
    releaseCgiCommunicator();
    control.restart.store(0);
    control.rescanRequested.store(0);
  }

  static uint8_t slotState(int slot) {
    SharedMemoryOwner area;
    if (openSharedMemory(area.address(), kStatusAreaName) != 0) return 0xAA;
    return loadSlotState(static_cast<uint8_t*>(area.get()->view) + slot);
  }

  // True once every slot but busySlot is free: their handler threads are back to waiting.
  static bool otherSlotsFree(int busySlot = -1) {
    return waitUntil([busySlot] {
      for (int slot = 0; slot < kRequestSlots; ++slot) {
        if (slot != busySlot && slotState(slot) != kSlotFree) return false;
      }
      return true;
    });
  }

  std::string prefix_;
  TestFolder folder_;
  fs::path saved_;
  std::thread communicator_;
};

TEST_F(CgiCommunicatorTest, SlotIsNotFreedWhileItsHandlerRuns) {
  start();
  requestAdmission().trackUser = holdingTrackUser;
  gHoldHandlers.store(true);
  CgiClientOptions options;
  CgiClientSlot slot(options);
  ASSERT_EQ(slot.claim(2), kCgiOk);
  TableOwner request(echoRequest());
  ASSERT_EQ(slot.submit(request.get()), kCgiOk);
  ASSERT_TRUE(waitUntil([] { return gHeldHandlers.load() == 1; }));
  slot.abandon();  // the front end stops waiting while the handler works
  EXPECT_EQ(slotState(2), kSlotFinished);
  // Several passes of the communicator: the slot stays 5 while the handler is still busy, so
  // no new request can be put into it underneath the handler.
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(slotState(2), kSlotFinished);
  CgiClientOptions noWait;
  noWait.slotWaitMs = 0;
  CgiClientSlot other(noWait);
  EXPECT_EQ(other.claim(2), kCgiBusy);

  gHoldHandlers.store(false);
  EXPECT_TRUE(waitUntil([] { return slotState(2) == kSlotFree; }, 2s));
  EXPECT_EQ(other.claim(2), kCgiOk);
}

// One round trip of the echo request (marked "hold" when asked) through any free slot.
int echoRoundTrip(bool hold = false) {
  TableOwner request(echoRequest());
  if (hold) addVariable(request.address(), "hold", "1");
  VariableTable reply = nullptr;
  const int result = cgiRoundTrip(request.get(), &reply, CgiClientOptions());
  TableOwner owner(reply);
  if (result == kCgiOk) {
    EXPECT_STREQ(getVariable(reply, "serverSet"), "Inside request handler");
  }
  return result;
}

TEST_F(CgiCommunicatorTest, HandlerThreadsAreReusedAndNeverOutnumberTheRequestsInFlight) {
  start();
  // One request after the other, each in the next slot: the first starts the one thread that
  // serves them all.
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(echoRoundTrip(), kCgiOk) << i;
    ASSERT_TRUE(otherSlotsFree());
  }
  EXPECT_EQ(gHandlerStarts.load(), 1);
  EXPECT_TRUE(waitUntil([] { return runningHandlerThreads() == 1; }));

  // Front ends in every slot at once: never more threads than slots.
  std::vector<std::thread> frontEnds;
  std::atomic<int> failures{0};
  for (int f = 0; f < kRequestSlots; ++f) {
    frontEnds.emplace_back([&failures] {
      for (int i = 0; i < 20; ++i) failures += echoRoundTrip() != kCgiOk;
    });
  }
  for (std::thread& frontEnd : frontEnds) frontEnd.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_LE(gHandlerStarts.load(), kRequestSlots);
  EXPECT_LE(runningHandlerThreads(), kRequestSlots);
}

TEST_F(CgiCommunicatorTest, SlowRequestDoesNotHoldUpAnotherSlots) {
  start();
  requestAdmission().trackUser = holdingMarkedTrackUser;
  gHoldHandlers.store(true);
  CgiClientSlot slow{CgiClientOptions()};
  ASSERT_EQ(slow.claim(3), kCgiOk);
  TableOwner request(echoRequest());
  addVariable(request.address(), "hold", "1");
  ASSERT_EQ(slow.submit(request.get()), kCgiOk);
  ASSERT_TRUE(waitUntil([] { return gHeldHandlers.load() == 1; }));
  // Answered while the slow one is held, by a thread of its own, which then serves the next.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(echoRoundTrip(), kCgiOk) << i;
    ASSERT_TRUE(otherSlotsFree(3));
  }
  EXPECT_EQ(gHeldHandlers.load(), 1);
  EXPECT_EQ(slow.state(), kSlotTaken);
  EXPECT_EQ(gHandlerStarts.load(), 2);
  gHoldHandlers.store(false);
  EXPECT_EQ(slow.awaitReply(), kCgiOk);
  VariableTable reply = nullptr;
  ASSERT_EQ(slow.takeReply(&reply), kCgiOk);
  TableOwner owner(reply);
  EXPECT_STREQ(getVariable(reply, "serverSet"), "Inside request handler");
}

TEST_F(CgiCommunicatorTest, IdleHandlerThreadsEndAndTheNextRequestStartsOne) {
  CgiTimings timings = cgiTimings();
  timings.handlerIdleMs = 50;
  setCgiTimings(timings);
  start();
  ASSERT_EQ(echoRoundTrip(), kCgiOk);
  EXPECT_TRUE(waitUntil([] { return runningHandlerThreads() == 0; }));
  ASSERT_EQ(echoRoundTrip(), kCgiOk);
  EXPECT_EQ(gHandlerStarts.load(), 2);
}

TEST_F(CgiCommunicatorTest, StopWhileRequestsAreUnderWayAnswersThemWithTheStopAndEndsEveryThread) {
  start();
  // Two threads in the pool, one of them idle at the stop.
  requestAdmission().trackUser = holdingMarkedTrackUser;
  gHoldHandlers.store(true);
  CgiClientSlot held{CgiClientOptions()};
  ASSERT_EQ(held.claim(7), kCgiOk);
  TableOwner request(echoRequest());
  addVariable(request.address(), "hold", "1");
  ASSERT_EQ(held.submit(request.get()), kCgiOk);
  ASSERT_TRUE(waitUntil([] { return gHeldHandlers.load() == 1; }));
  ASSERT_EQ(echoRoundTrip(), kCgiOk);
  // Listed once recorded, which a growth of the thread table delays.
  ASSERT_TRUE(waitUntil([] { return runningHandlerThreads() == 2; }));

  serverControl().serverRunning.store(0);
  communicator_.join();
  EXPECT_EQ(held.awaitReply(), kCgiServerStopped) << "the front end learns of the stop at once";
  EXPECT_TRUE(waitUntil([] { return runningHandlerThreads() == 1; })) << "the idle thread ends at the stop";
  gHoldHandlers.store(false);
  EXPECT_TRUE(waitUntil([] { return runningHandlerThreads() == 0; })) << "the busy one after its request";
  reapThreads();
  EXPECT_EQ(handlerThreads(false), 0) << "every handler thread joined";
  EXPECT_EQ(liveThreadCount(), 0);
  releaseCgiCommunicator();
}

TEST_F(CgiCommunicatorTest, UnwatchedStatesAreGivenUpAfterTheReplyTimeOut) {
  start();
  SharedMemoryOwner area;
  ASSERT_EQ(openSharedMemory(area.address(), kStatusAreaName), 0);
  uint8_t* states = static_cast<uint8_t*>(area.get()->view);
  storeSlotState(states + 1, kSlotClaimed);    // a front end died while filling its request
  storeSlotState(states + 8, kSlotNoHandler);  // a 255 nobody acknowledged
  std::this_thread::sleep_for(100ms);          // a few passes, well inside the reply time-out
  EXPECT_EQ(loadSlotState(states + 1), kSlotClaimed);
  EXPECT_TRUE(waitUntil([&] { return loadSlotState(states + 1) == kSlotFree; }, 3s));
  EXPECT_TRUE(waitUntil([&] { return loadSlotState(states + 8) == kSlotFree; }, 3s));
}

TEST_F(CgiCommunicatorTest, RequestAreaWithoutClosingNulIsReadWithinItsSize) {
  if (test_support::underWine()) {
    GTEST_SKIP() << "Wine tells the size of a section opened by name in whole pages only, so the server "
                    "reads the zeros past the writer's end, which end the last value";
  }
  start();
  CgiClientOptions options;
  CgiClientSlot slot(options);
  ASSERT_EQ(slot.claim(), kCgiOk);
  // The last value runs to the end of the area: the pair is dropped, nothing past it is read.
  const char bytes[] = {'m', 'e', 't', 'h', 'o', 'd', 0,   't', 'e', 's', 't', 'M',
                        'e', 't', 'h', 'o', 'd', 0,   'R', 'e', 'm', 'o', 't', 'e',
                        'A', 'd', 'd', 'r', 'e', 's', 's', 0,   '1', '2', '7'};
  ASSERT_EQ(slot.submitBytes(bytes, sizeof bytes), kCgiOk);
  EXPECT_EQ(slot.awaitReply(), kCgiNoReply) << "without its address the request is not admitted";
  slot.abandon();
}

TEST_F(CgiCommunicatorTest, StopStatesAtTheEndOfAPass) {
  start();
  const struct {
    bool restart;
    bool rescan;
    uint8_t state;
  } cases[] = {{true, false, kSlotRestarting}, {true, true, kSlotRescanning}, {false, false, kSlotStopped}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.state));
    CgiClientOptions options;
    CgiClientSlot waiting(options);
    ASSERT_EQ(waiting.claim(), kCgiOk);
    TableOwner request(echoRequest());
    ASSERT_EQ(waiting.submit(request.get()), kCgiOk);
    ASSERT_EQ(waiting.awaitReply(), kCgiOk);  // reply ready, not taken yet
    SharedMemoryOwner before;
    ASSERT_EQ(openSharedMemory(before.address(), kStatusAreaName), 0);

    testing::internal::CaptureStdout();
    stop(c.restart, c.rescan);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("CGI communicator ended\n"), std::string::npos);
    for (int slot = 0; slot < kRequestSlots; ++slot) {
      EXPECT_EQ(loadSlotState(static_cast<uint8_t*>(before.get()->view) + slot), c.state) << slot;
    }
    EXPECT_EQ(waiting.awaitReply(), c.state == kSlotStopped
                                        ? kCgiServerStopped
                                        : (c.rescan ? kCgiServerRescanning : kCgiServerRestarting));
    SharedMemoryOwner after;
    const bool kept = openSharedMemory(after.address(), kStatusAreaName) == 0;
#ifdef _WIN32
    // Windows removes a named object with its last handle only, and the front end of this
    // process (the client's connection cache) still maps the area: the removal cannot be seen.
    if (c.state == kSlotStopped) break;
#endif
    EXPECT_EQ(kept, c.state != kSlotStopped) << "kept over a restart, removed on a stop";
    if (!kept) break;
    start();  // the next pass reuses the kept area and frees every slot
    EXPECT_EQ(loadSlotState(static_cast<uint8_t*>(before.get()->view) + waiting.slot()), kSlotFree);
    VariableTable rows = nullptr;
    addCgiDebugInfo(&rows);
    TableOwner owner(rows);
    EXPECT_STREQ(getVariable(rows, "SharedMemoryIsCreator"), "true");
  }
}

TEST_F(CgiCommunicatorTest, LeftoverAreaOfAnEndedServerIsAdopted) {
  SharedMemoryRecord* left = nullptr;
  ASSERT_EQ(createSharedMemory(kRequestSlots, &left, kStatusAreaName), 0);
  uint8_t* states = static_cast<uint8_t*>(left->view);
  states[3] = kSlotReplyReady;  // the ended server's reply, never taken
  states[5] = kSlotClaimed;     // a front end already at work
  left->owner = 0;              // the server ended without removing its objects
  // Held open as the working front end holds it; on Windows, where an object goes with its last
  // handle, that is what keeps an ended server's area.
  SharedMemoryOwner frontEnd(left);
  SharedMemoryRecord* reply = nullptr;
  ASSERT_EQ(createSharedMemory(8, &reply, kReplyAreaBase + 3), 0);
  reply->owner = 0;
  closeSharedMemory(reply);

  start();
  EXPECT_EQ(slotState(5), kSlotClaimed) << "a front end's claim is not wiped at start";
  VariableTable rows = nullptr;
  addCgiDebugInfo(&rows);
  TableOwner owner(rows);
  EXPECT_STREQ(getVariable(rows, "SharedMemoryIsCreator"), "true") << "adopted: removed at the stop";
  SharedMemoryRecord* stale = nullptr;
  EXPECT_EQ(openSharedMemory(&stale, kReplyAreaBase + 3), 1) << "the ended server's reply area is removed";
  EXPECT_TRUE(waitUntil([] { return slotState(3) == kSlotFree && slotState(5) == kSlotFree; }, 3s));
}

TEST_F(CgiCommunicatorTest, WaitWhileSlotStateTimesOutToFinishedOrEndsWithTheServer) {
  start();
  uint8_t byte = 4;
  const auto start = std::chrono::steady_clock::now();
  waitWhileSlotState(&byte, 4);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 280ms);
  EXPECT_EQ(byte, kSlotFinished);

  byte = 253;
  std::thread changer([&byte] {
    std::this_thread::sleep_for(50ms);
    storeSlotState(&byte, kSlotFinished);
  });
  waitWhileSlotState(&byte, 253);
  changer.join();
  EXPECT_EQ(byte, kSlotFinished);

  serverControl().serverRunning.store(0);
  byte = 254;
  waitWhileSlotState(&byte, 254);
  EXPECT_EQ(byte, 254) << "no state change once the server stopped";
  serverControl().serverRunning.store(1);
  EXPECT_EQ(handleCGIRequest(nullptr), -1);
}

TEST_F(CgiCommunicatorTest, DebugRowsShowEverySlot) {
  start();
  CgiClientOptions options;
  CgiClientSlot slot(options);
  ASSERT_EQ(slot.claim(5), kCgiOk);
  VariableTable rows = nullptr;
  addCgiDebugInfo(&rows);
  TableOwner owner(rows);
  EXPECT_STREQ(getVariable(rows, "CgiRequestLoop"), "10");
  EXPECT_STREQ(getVariable(rows, "CgiRequestLoop5RequestStatus"), "1");
  EXPECT_STREQ(getVariable(rows, "CgiRequestLoop9RequestStatus"), "0");
  EXPECT_STREQ(getVariable(rows, "SharedMemoryId"), "9190");
  EXPECT_STREQ(getVariable(rows, "SharedMemoryIsCreator"), "true");
  const char* view = getVariable(rows, "MappedViewMemoryAddress");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(view).rfind("0x", 0), 0u);
  EXPECT_STRNE(view, "0x0");
}

// The same communicator with the server's notification channels running, so that the request
// side's events reach db/ServerLog.log in the test folder.
class CgiFailureTest : public CgiCommunicatorTest {
 protected:
  void SetUp() override {
    CgiCommunicatorTest::SetUp();
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "KESTROVA_SOURCE_DIR names the source tree (default db/ files)";
    for (const char* file : {"strings.db", "password.web"}) {
      fs::copy_file(fs::path(source) / "data/db" / file, folder_.path() + "/db/" + file);
    }
    setServerDeviceName("Test Server");
    setLastLogEntryNumber(0);
    serverControl().serverRunning.store(1);
    ASSERT_TRUE(startNotificationChannels());
  }
  void TearDown() override {
    for (const std::string& path : madeFolders_) fs::remove(path);
#ifdef _WIN32
    for (HANDLE blocker : blockers_) CloseHandle(blocker);
#endif
    serverControl().serverRunning.store(0);
    stopNotificationChannels();
    setServerDeviceName(nullptr);
    CgiCommunicatorTest::TearDown();
  }

  // Something else under a shared-memory object's name: neither created nor opened while it
  // stands. On Linux a folder in its place that only its owner may use, so the server takes it
  // for a leftover of its own that it cannot remove, not for another user's squatting (which it
  // would step around under a private name); on Windows a mutex of that name, as object names of
  // every type share one namespace.
  void blockSharedName(uint32_t name) {
#ifdef _WIN32
    const HANDLE blocker = CreateMutexA(nullptr, FALSE, sharedMemoryObjectName(name).c_str());
    ASSERT_NE(blocker, nullptr);
    blockers_.push_back(blocker);
#else
    const std::string path = "/dev/shm/" + prefix_ + std::to_string(name);
    ASSERT_TRUE(fs::create_directory(path));
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
    madeFolders_.push_back(path);
#endif
  }

  // How the event of a failed step names the object and, where the platform's text is known in
  // advance, the cause: "(open /<prefix><name>: <strerror>" on Linux, "(open Global\<prefix><name>:
  // " on Windows (whose causes are "not found" or a Windows error number).
  std::string failedStep(const char* step, uint32_t name, int posixError = 0) const {
#ifdef _WIN32
    (void)posixError;
    std::string object;  // as the log writes it: each backslash doubled
    for (char c : sharedMemoryObjectName(name)) object += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return std::string("(") + step + " " + object + ": ";
#else
    const std::string cause = posixError != 0 ? std::string(std::strerror(posixError)) + ")" : std::string();
    return std::string("(") + step + " /" + prefix_ + std::to_string(name) + ": " + cause;
#endif
  }

  // True once the event log holds a record with this event ID, concern level 2 (error) and the
  // server's device name, whose text names the cause when one is given.
  bool loggedError(const char* eventId, const std::string& cause = std::string()) {
    const std::string marker = std::string("(Event ID: ") + eventId + ")";
    return waitUntil(
        [&] {
          std::ifstream in(folder_.path() + "/db/ServerLog.log");
          std::string line;
          while (std::getline(in, line)) {
            if (line.find(marker) != std::string::npos && line.find("\",\"2\",\"") != std::string::npos &&
                line.find("\"Test Server\"") != std::string::npos && line.find(cause) != std::string::npos) {
              return true;
            }
          }
          return false;
        },
        30s);  // generous: the channel writes the log on its own thread
  }

  std::vector<std::string> madeFolders_;
#ifdef _WIN32
  std::vector<HANDLE> blockers_;
#endif
};

TEST_F(CgiFailureTest, NoStatusAreaRaisesItsEventAndEndsTheCommunicator) {
  blockSharedName(kStatusAreaName);
  // Returns at once: with no status area there is nothing to watch.
  requestManager(0);
  // The event says why: the step and the object (which the system refuses to map, a folder).
  EXPECT_TRUE(loggedError("0x301", failedStep("open", kStatusAreaName)));
  EXPECT_EQ(CgiClientSlot(CgiClientOptions()).connect(), kCgiServerNotRunning);
}

TEST_F(CgiFailureTest, MissingRequestAreaAnswers253AndRaisesItsEvent) {
  start();
  SharedMemoryOwner area;
  ASSERT_EQ(openSharedMemory(area.address(), kStatusAreaName), 0);
  uint8_t* states = static_cast<uint8_t*>(area.get()->view);
  // A front end that announced a request without making its area.
  storeSlotState(states + 4, kSlotRequestReady);
  ASSERT_TRUE(waitUntil([&] { return loadSlotState(states + 4) == kSlotNoReply; }));
  EXPECT_TRUE(loggedError("0x302", failedStep("open", kRequestAreaBase + 4, ENOENT)));
  storeSlotState(states + 4, kSlotFinished);  // the front end acknowledges
  EXPECT_TRUE(waitUntil([&] { return loadSlotState(states + 4) == kSlotFree; }));
}

TEST_F(CgiFailureTest, ReplyAreaThatCannotBeMadeAnswers253AndRaisesItsEvent) {
  start();
  blockSharedName(kReplyAreaBase + 6);
  CgiClientSlot slot{CgiClientOptions()};
  ASSERT_EQ(slot.claim(6), kCgiOk);
  TableOwner request(echoRequest());
  ASSERT_EQ(slot.submit(request.get()), kCgiOk);
  EXPECT_EQ(slot.awaitReply(), kCgiNoReply);
  EXPECT_EQ(slot.state(), kSlotNoReply);
  EXPECT_TRUE(loggedError("0x305", failedStep("create", kReplyAreaBase + 6, EEXIST)));
  slot.abandon();
  EXPECT_TRUE(waitUntil([] { return slotState(6) == kSlotFree; }));
}

TEST_F(CgiFailureTest, FrontEndThatStopsWaitingGetsNoReplyAndTheEventIsRaised) {
  start();
  requestAdmission().trackUser = holdingTrackUser;
  gHoldHandlers.store(true);
  CgiClientSlot slot{CgiClientOptions()};
  ASSERT_EQ(slot.claim(1), kCgiOk);
  TableOwner request(echoRequest());
  ASSERT_EQ(slot.submit(request.get()), kCgiOk);
  ASSERT_TRUE(waitUntil([] { return gHeldHandlers.load() == 1; }));
  slot.abandon();
  gHoldHandlers.store(false);
  EXPECT_TRUE(loggedError("0x306"));
  EXPECT_TRUE(waitUntil([] { return slotState(1) == kSlotFree; }));
  SharedMemoryRecord* reply = nullptr;
  EXPECT_EQ(openSharedMemory(&reply, kReplyAreaBase + 1), 1) << "the unwanted reply is not left behind";
}

TEST_F(CgiFailureTest, HandlerThatCannotStartAnswers255) {
  start();
  closeThreadManager();  // no thread can be started any more; the communicator is not one of them
  testing::internal::CaptureStdout();
  CgiClientSlot slot{CgiClientOptions()};
  ASSERT_EQ(slot.claim(9), kCgiOk);
  TableOwner request(echoRequest());
  ASSERT_EQ(slot.submit(request.get()), kCgiOk);
  const int result = slot.awaitReply();
  const std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, kCgiNoHandler);
  EXPECT_NE(output.find("logServerError: CGI Communicator failed to start request thread"), std::string::npos)
      << output;
  slot.abandon();
  EXPECT_TRUE(waitUntil([] { return slotState(9) == kSlotFree; }));
  initThreadManager();
}

TEST_F(CgiFailureTest, RescanUnderWayAnswersTheRescanPageInsteadOfTheMethod) {
  start();
  serverControl().rescanRequested.store(1);
  TableOwner request(echoRequest());
  VariableTable reply = nullptr;
  ASSERT_EQ(cgiRoundTrip(request.get(), &reply, CgiClientOptions()), kCgiOk);
  TableOwner owner(reply);
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "../Common/rescanning.htm");
  EXPECT_STREQ(getVariable(reply, "AfterMethod"), "testMethod");
  EXPECT_EQ(getVariable(reply, "serverSet"), nullptr) << "the method itself did not run";
  serverControl().rescanRequested.store(0);
  ASSERT_EQ(cgiRoundTrip(request.get(), &reply, CgiClientOptions()), kCgiOk);
  TableOwner answered(reply);
  EXPECT_STREQ(getVariable(reply, "serverSet"), "Inside request handler");
}

TEST_F(CgiFailureTest, WrongVerificationPasswordGetsTheErrorPageAndTheRightOneTheMethod) {
  start();
  requestAdmission().verifyPassword = verifyRequestPassword;
  TableOwner wrong(echoRequest());
  addVariable(wrong.address(), "VerificationPassword", "not the password");
  VariableTable reply = nullptr;
  ASSERT_EQ(cgiRoundTrip(wrong.get(), &reply, CgiClientOptions()), kCgiOk);
  TableOwner refused(reply);
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "../Common/MessagePopupPanel.htm");
  EXPECT_STREQ(getVariable(reply, "MessageIsSuccess"), "false");
  EXPECT_EQ(getVariable(reply, "serverSet"), nullptr) << "the method did not run";

  TableOwner right(echoRequest());
  addVariable(right.address(), "VerificationPassword", "pinecone");
  ASSERT_EQ(cgiRoundTrip(right.get(), &reply, CgiClientOptions()), kCgiOk);
  TableOwner answered(reply);
  EXPECT_STREQ(getVariable(reply, "serverSet"), "Inside request handler");
}

}  // namespace
