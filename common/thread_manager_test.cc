// Tests of the thread manager: recording and reaping, cooperative stop and suspension, the keep
// bit, the full-table retry rule and restart cycles that must leave no OS thread behind.
// Timings are only ever checked against generous deadlines.
#include "common/thread_manager.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using test_support::waitUntil;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int osThreadCount() {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++n;
  }
  return n;
}

bool isListed(ThreadHandle handle) {
  const std::vector<ThreadListing> list = listThreads();
  return std::any_of(list.begin(), list.end(),
                     [handle](const ThreadListing& l) { return l.handle == handle; });
}

// A worker loop as the server's loops are written: sleep in steps until asked to stop.
struct Worker {
  std::atomic<int> rounds{0};
  std::atomic<bool> sawStop{false};
  std::atomic<bool> ended{false};
};

void workerLoop(uintptr_t context) {
  Worker* w = reinterpret_cast<Worker*>(context);
  while (threadSleep(5)) w->rounds.fetch_add(1);
  w->sawStop = threadStopRequested();
  w->ended = true;
}

void countOnce(uintptr_t context) { reinterpret_cast<std::atomic<int>*>(context)->fetch_add(1); }

struct RestartScenario {
  Worker worker;
  std::atomic<bool> workerEndedBeforeReturn{false};
  std::atomic<bool> keptSleepCompleted{false};
  std::atomic<bool> keptStillListed{false};
  std::atomic<ThreadHandle> restarted{0};
  std::atomic<bool> done{false};
};

// A thread runs before its slot is recorded, and recording waits 200 ms whenever the table has
// to grow (always so in a fresh process); scenarios that inspect their own slot wait for it.
void awaitOwnSlot(const char* tag) {
  const auto listed = [tag] {
    const std::vector<ThreadListing> list = listThreads();
    return std::any_of(list.begin(), list.end(), [tag](const ThreadListing& l) { return l.tag == tag; });
  };
  if (!waitUntil(listed, test_support::kWaitLimit, 1ms)) ADD_FAILURE() << "no slot recorded for " << tag;
}

// What the restart thread does: end everything else, then bring the manager back up.
void restartThread(uintptr_t context) {
  RestartScenario* s = reinterpret_cast<RestartScenario*>(context);
  awaitOwnSlot("test/restartThread");
  while (s->worker.rounds.load() == 0) threadSleep(1);
  terminateAllThreads();
  s->workerEndedBeforeReturn = s->worker.ended.load();
  const std::vector<ThreadListing> list = listThreads();
  s->keptStillListed = std::any_of(list.begin(), list.end(),
                                   [](const ThreadListing& l) { return (l.options & kThreadKeep) != 0; });
  s->keptSleepCompleted = threadSleep(20) && !threadStopRequested();
  closeThreadManager();
  initThreadManager();
  s->restarted =
      startThread(countOnce, reinterpret_cast<uintptr_t>(&s->worker.rounds), 0, "test/afterRestart");
  s->done = true;
}

// Everything a started thread touches is owned by the fixture, so it outlives the thread: the
// threads are only ended in TearDown.
class ThreadManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(initThreadManager()); }
  void TearDown() override {
    terminateAllThreads();
    closeThreadManager();
    EXPECT_TRUE(waitUntil([] { return liveThreadCount() == 0; }, 5000ms));
  }
  Worker& newWorker() { return workers_.emplace_back(); }
  std::atomic<bool>& newFlag() { return flags_.emplace_back(false); }
  uintptr_t callsContext() { return reinterpret_cast<uintptr_t>(&calls_); }

  std::deque<Worker> workers_;
  std::deque<std::atomic<bool>> flags_;
  std::atomic<int> calls_{0};
  std::vector<std::unique_ptr<RestartScenario>> scenarios_;
};

TEST_F(ThreadManagerTest, RecordsTagAndOptionsAndReapsEndedThreads) {
  Worker& w = newWorker();
  ThreadHandle looping = startThread(workerLoop, reinterpret_cast<uintptr_t>(&w), 0x4, "test/workerLoop");
  ASSERT_NE(looping, 0u);
  std::vector<ThreadListing> list = listThreads();
  auto it = std::find_if(list.begin(), list.end(),
                         [looping](const ThreadListing& l) { return l.handle == looping; });
  ASSERT_NE(it, list.end());
  EXPECT_EQ(it->tag, "test/workerLoop");
  EXPECT_EQ(it->options, 0x4u);
  EXPECT_TRUE(it->running);
  EXPECT_LT(it->index, threadSlotsSeen());

  // Routines that return at once, even before they were recorded, leave the table by themselves.
  std::vector<ThreadHandle> quick;
  for (int i = 0; i < 5; ++i) {
    quick.push_back(i % 2 ? startThreadNoTag(countOnce, callsContext())
                          : startThread(countOnce, callsContext(), 0, nullptr));
    ASSERT_NE(quick.back(), 0u);
  }
  EXPECT_TRUE(waitUntil([&] { return std::none_of(quick.begin(), quick.end(), isListed); }, 1000ms));
  EXPECT_EQ(calls_.load(), 5);
  EXPECT_TRUE(isListed(looping));
  EXPECT_EQ(liveThreadCount(), 1);

  std::sort(quick.begin(), quick.end());
  EXPECT_EQ(std::adjacent_find(quick.begin(), quick.end()), quick.end()) << "handles must be unique";
}

TEST_F(ThreadManagerTest, StartWhileClosedStartsNothing) {
  closeThreadManager();
  EXPECT_EQ(startThread(countOnce, callsContext(), 0, "test/closed"), 0u);
  EXPECT_EQ(startThreadNoTag(countOnce, callsContext()), 0u);
  EXPECT_EQ(liveThreadCount(), 0);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(calls_.load(), 0);

  ASSERT_TRUE(initThreadManager());
  EXPECT_EQ(startThread(nullptr, 0, 0, "test/null"), 0u);
  EXPECT_NE(startThread(countOnce, callsContext(), 0, "test/open"), 0u);
  EXPECT_TRUE(waitUntil([&] { return calls_.load() == 1; }));
}

TEST_F(ThreadManagerTest, TerminateInterruptsSleepersPromptly) {
  Worker& w = newWorker();
  ASSERT_NE(startThread(
                [](uintptr_t c) {
                  Worker* w = reinterpret_cast<Worker*>(c);
                  w->rounds = threadSleep(60000) ? 1 : -1;
                  w->sawStop = threadStopRequested();
                  w->ended = true;
                },
                reinterpret_cast<uintptr_t>(&w), 0, "test/longSleep"),
            0u);
  ASSERT_TRUE(waitUntil([] { return !listThreads().empty(); }));
  const auto start = Clock::now();
  terminateAllThreads();
  EXPECT_LT(Clock::now() - start, 10s);
  EXPECT_TRUE(w.ended.load()) << "a stopped thread is waited for";
  EXPECT_EQ(w.rounds.load(), -1);
  EXPECT_TRUE(w.sawStop.load());
  EXPECT_TRUE(listThreads().empty());
  EXPECT_EQ(liveThreadCount(), 0);

  // Threads the manager did not start just sleep.
  EXPECT_TRUE(threadSleep(1));
  EXPECT_FALSE(threadStopRequested());
}

TEST_F(ThreadManagerTest, KeepBitThreadSurvivesTerminateAndFinishesRestart) {
  auto owned = std::make_unique<RestartScenario>();  // outlives the threads even when an assertion fails
  RestartScenario& s = *owned;
  scenarios_.push_back(std::move(owned));
  ASSERT_NE(startThread(workerLoop, reinterpret_cast<uintptr_t>(&s.worker), 0, "test/workerLoop"), 0u);
  ASSERT_NE(startThread(restartThread, reinterpret_cast<uintptr_t>(&s), kThreadKeep, "test/restartThread"),
            0u);
  ASSERT_TRUE(waitUntil([&] { return s.done.load(); }, 10000ms));
  EXPECT_TRUE(s.workerEndedBeforeReturn.load());
  EXPECT_TRUE(s.worker.sawStop.load());
  EXPECT_TRUE(s.keptStillListed.load());
  EXPECT_TRUE(s.keptSleepCompleted.load());
  EXPECT_NE(s.restarted.load(), 0u);
  // The keep thread's slot is reaped by the reaper started with the new thread.
  EXPECT_TRUE(waitUntil([] { return listThreads().empty(); }, 1000ms));
}

TEST_F(ThreadManagerTest, TerminateCalledByUnkeptThreadDoesNotWaitForItself) {
  std::atomic<bool>& returned = newFlag();
  const auto start = Clock::now();
  ASSERT_NE(startThread(
                [](uintptr_t c) {
                  awaitOwnSlot("test/selfTerminate");
                  terminateAllThreads();
                  reinterpret_cast<std::atomic<bool>*>(c)->store(threadStopRequested());
                },
                reinterpret_cast<uintptr_t>(&returned), 0, "test/selfTerminate"),
            0u);
  ASSERT_TRUE(waitUntil([] { return liveThreadCount() == 0; }, 5000ms));
  EXPECT_LT(Clock::now() - start, 1900ms) << "it must not wait out the stop time for itself";
  EXPECT_TRUE(returned.load());
  EXPECT_TRUE(listThreads().empty());
}

TEST_F(ThreadManagerTest, ThreadIgnoringStopIsLeftRunningUntracked) {
  std::atomic<bool>& release = newFlag();
  ThreadHandle stubborn = startThread(
      [](uintptr_t c) {
        while (!reinterpret_cast<std::atomic<bool>*>(c)->load()) std::this_thread::sleep_for(5ms);
      },
      reinterpret_cast<uintptr_t>(&release), 0, "test/stubborn");
  ASSERT_NE(stubborn, 0u);
  terminateAllThreads();
  EXPECT_FALSE(isListed(stubborn));
  EXPECT_EQ(liveThreadCount(), 1);
  release = true;
  EXPECT_TRUE(waitUntil([] { return liveThreadCount() == 0; }));
}

TEST_F(ThreadManagerTest, SuspendedThreadsPauseInSleepUntilResumed) {
  Worker& w = newWorker();
  ASSERT_NE(startThread(workerLoop, reinterpret_cast<uintptr_t>(&w), 0, "test/workerLoop"), 0u);
  ASSERT_TRUE(waitUntil([&] { return w.rounds.load() > 0; }));
  suspendAllThreads();
  suspendAllThreads();
  std::this_thread::sleep_for(100ms);  // lets a sleep already under way run out
  const int paused = w.rounds.load();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(w.rounds.load(), paused);

  resumeAllThreads();  // one resume clears any number of suspends
  EXPECT_TRUE(waitUntil([&] { return w.rounds.load() > paused + 2; }));

  // A stop reaches a suspended thread.
  suspendAllThreads();
  std::this_thread::sleep_for(50ms);
  terminateAllThreads();
  EXPECT_TRUE(w.ended.load());
  EXPECT_TRUE(w.sawStop.load());
}

TEST_F(ThreadManagerTest, RestartCyclesLeaveNoThreadBehind) {
  // Sanitizer runtimes start a helper thread of their own at the first thread creation; take the
  // baseline after one plain thread has come and gone so only our threads are counted.
  std::thread([] {}).join();
  const int baseline = osThreadCount();
  for (int cycle = 0; cycle < 20; ++cycle) {
    ASSERT_TRUE(initThreadManager());
    Worker* workers[3] = {&newWorker(), &newWorker(), &newWorker()};
    for (Worker* w : workers)
      ASSERT_NE(startThread(workerLoop, reinterpret_cast<uintptr_t>(w), 0, "test/w"), 0u);
    ASSERT_NE(startThreadNoTag(countOnce, callsContext()), 0u);
    const int seen = threadSlotsSeen();
    terminateAllThreads();
    closeThreadManager();
    for (Worker* w : workers) ASSERT_TRUE(w->ended.load()) << "cycle " << cycle;
    EXPECT_EQ(threadSlotsSeen(), seen) << "the table keeps its size across restarts";
    EXPECT_TRUE(listThreads().empty());
  }
  EXPECT_EQ(calls_.load(), 20);
  EXPECT_EQ(liveThreadCount(), 0);
  EXPECT_TRUE(waitUntil([&] { return osThreadCount() <= baseline; })) << osThreadCount() << " > " << baseline;
}

// Fills the table from many starters at once (so the growth waits overlap), then starts one more
// thread, which waits out all its attempts and runs untracked. About 20 seconds.
TEST_F(ThreadManagerTest, FullTableRetriesThenRunsTheThreadUntracked) {
  std::vector<Worker*> workers;
  for (int i = 0; i < kThreadSlots; ++i) workers.push_back(&newWorker());
  {
    std::vector<std::thread> starters;
    for (Worker* w : workers) {
      starters.emplace_back(
          [w] { EXPECT_NE(startThread(workerLoop, reinterpret_cast<uintptr_t>(w), 0, "test/w"), 0u); });
    }
    for (std::thread& s : starters) s.join();
  }
  ASSERT_EQ(static_cast<int>(listThreads().size()), kThreadSlots);
  EXPECT_EQ(threadSlotsSeen(), kThreadSlots);

  Worker& extra = newWorker();
  const auto start = Clock::now();
  ThreadHandle untracked = startThread(workerLoop, reinterpret_cast<uintptr_t>(&extra), 0, "test/extra");
  EXPECT_GT(Clock::now() - start, 15s) << "100 attempts 200 ms apart";
  ASSERT_NE(untracked, 0u);
  EXPECT_FALSE(isListed(untracked));
  EXPECT_TRUE(waitUntil([&] { return extra.rounds.load() > 0; }));
  EXPECT_EQ(liveThreadCount(), kThreadSlots + 1);

  // Shutdown waits for the recorded threads and still asks the untracked one to stop.
  terminateAllThreads();
  for (const Worker* w : workers) EXPECT_TRUE(w->ended.load());
  EXPECT_TRUE(waitUntil([&] { return extra.ended.load(); }));
  EXPECT_TRUE(extra.sawStop.load());
}

}  // namespace
