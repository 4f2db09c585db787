// Thread manager: the table of recorded threads, the reaper ("grand master"), cooperative stop
// and suspension. Used by every part of the server that starts a thread.
//
// Thread safety: two locks. The table lock guards the slots, slots seen and the reaper's handle;
// the wake lock guards each thread's stop, suspend and finished state and pairs with the
// condition variables that sleepers and terminateAllThreads wait on. A third, the master lock,
// serialises starting and stopping the reaper (it is held while the reaper is created or joined).
// Order: master lock, then table lock, then wake lock. The table lock is never held while a
// thread is created, joined or sleeps.
#include "common/thread_manager.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "common/debug.h"
#include "common/thread_annotations.h"

namespace {

constexpr uint32_t kThreadDebug = 0x2012;
constexpr int kRecordAttempts = 100;
constexpr auto kRecordRetryWait = std::chrono::milliseconds(200);
constexpr int kReapIntervalMs = 250;
constexpr int kMasterChecks = 10;
constexpr auto kMasterCheckWait = std::chrono::milliseconds(50);
constexpr auto kStopWait = std::chrono::seconds(2);
constexpr const char* kNoTag = "nofrom";

// Shared between a running thread and the table; lives as long as either needs it.
struct ThreadControl {
  ThreadControl(ThreadHandle h, uint32_t opts, uint64_t epoch)
      : handle(h), options(opts), startEpoch(epoch) {}
  const ThreadHandle handle;
  const uint32_t options;
  const uint64_t startEpoch;          // global stops raised after this reach the thread
  std::atomic<bool> stop{false};      // written under the wake lock
  std::atomic<bool> finished{false};  // written under the wake lock
  int suspendCount = 0;               // guarded by the wake lock
};

struct Slot {
  ThreadHandle handle = 0;
  uint32_t options = 0;
  const char* tag = nullptr;
  std::shared_ptr<ThreadControl> control;
  std::thread thread;
};

// One per process, never destroyed: detached threads may still touch it while the process exits.
struct ThreadTable {
  Mutex masterLock ACQUIRED_BEFORE(lock);  // serialises starting and stopping the grand master
  std::thread masterThread GUARDED_BY(masterLock);
  std::shared_ptr<ThreadControl> masterControl GUARDED_BY(masterLock);

  Mutex lock ACQUIRED_BEFORE(wakeLock);  // the table lock
  Slot slots[kThreadSlots] GUARDED_BY(lock);
  int slotsSeen GUARDED_BY(lock) = 0;
  ThreadHandle grandMaster GUARDED_BY(lock) = 0;

  Mutex wakeLock;
  std::condition_variable wakeCv;      // stop, resume
  std::condition_variable finishedCv;  // a routine returned
  std::atomic<uint64_t> stopEpoch{0};  // raised under wakeLock

  std::atomic<bool> enabled{false};
  std::atomic<ThreadHandle> nextHandle{1};
  std::atomic<int> live{0};
};

ThreadTable* gTable = nullptr;

ThreadTable& table() {
  static ThreadTable* const t = (gTable = new ThreadTable);
  return *t;
}

thread_local ThreadControl* tlsCurrent = nullptr;

bool stopRequested(const ThreadControl& c) {
  if (c.stop.load()) return true;
  return (c.options & kThreadKeep) == 0 && c.startEpoch < table().stopEpoch.load();
}

void requestStop(ThreadControl& c) {
  ThreadTable& t = table();
  {
    MutexLock g(t.wakeLock);
    c.stop.store(true);
  }
  t.wakeCv.notify_all();
}

// Body of every managed thread: runs the routine, then tells the reaper and any waiter.
void runManaged(ThreadRoutine routine, uintptr_t context, std::shared_ptr<ThreadControl> control,
                bool counted) {
  tlsCurrent = control.get();
  routine(context);
  tlsCurrent = nullptr;
  ThreadTable& t = table();
  if (counted) t.live.fetch_sub(1);
  {
    MutexLock g(t.wakeLock);
    control->finished.store(true);
  }
  t.finishedCv.notify_all();
}

// Creates the OS thread. Returns false (printing why) when it could not.
bool launch(ThreadRoutine routine, uintptr_t context, const std::shared_ptr<ThreadControl>& control,
            bool counted, std::thread* out) {
  ThreadTable& t = table();
  if (counted) t.live.fetch_add(1);
  try {
    *out = std::thread(runManaged, routine, context, control, counted);
    return true;
  } catch (const std::system_error& e) {
    debugPrint(kThreadDebug, "thread: could not create thread: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    debugPrint(kThreadDebug, "thread: could not create thread: out of memory\n");
  }
  if (counted) t.live.fetch_sub(1);
  return false;
}

std::shared_ptr<ThreadControl> newControl(uint32_t options) {
  ThreadTable& t = table();
  try {
    return std::make_shared<ThreadControl>(t.nextHandle.fetch_add(1), options, t.stopEpoch.load());
  } catch (const std::bad_alloc&) {
    debugPrint(kThreadDebug, "thread: out of memory for a thread record\n");
    return nullptr;
  }
}

bool masterWanted(ThreadHandle self) {
  ThreadTable& t = table();
  MutexLock g(t.lock);
  return t.grandMaster == self;
}

void grandMasterLoop(uintptr_t) {
  const ThreadHandle self = tlsCurrent->handle;
  while (masterWanted(self)) {
    if (!threadSleep(kReapIntervalMs)) break;
    reapThreads();
  }
}

void setGrandMaster(ThreadHandle handle) {
  ThreadTable& t = table();
  MutexLock g(t.lock);
  t.grandMaster = handle;
}

// A reaper that ended by itself (it never should) is replaced.
bool grandMasterRunning(ThreadTable& t) REQUIRES(t.masterLock) {
  if (!t.masterControl) return false;
  if (!t.masterControl->finished.load()) return true;
  t.masterThread.join();
  t.masterControl.reset();
  setGrandMaster(0);
  return false;
}

void ensureGrandMaster() {
  ThreadTable& t = table();
  MutexLock m(t.masterLock);
  if (grandMasterRunning(t)) return;
  std::shared_ptr<ThreadControl> control = newControl(kThreadKeep);
  if (!control) return;
  // Published before the thread runs: the reaper loops only while the table names it.
  setGrandMaster(control->handle);
  std::thread thread;
  if (!launch(grandMasterLoop, 0, control, false, &thread)) {
    setGrandMaster(0);
    return;
  }
  t.masterThread = std::move(thread);
  t.masterControl = std::move(control);
  debugPrint(kThreadDebug, "thread: Start: grandMasterThread=%d\n",
             static_cast<int>(t.masterControl->handle));
}

// Tells the grand master to stop and waits briefly for it; one that does not end is abandoned.
void stopGrandMaster() {
  ThreadTable& t = table();
  MutexLock m(t.masterLock);
  if (!t.masterControl) return;
  {
    MutexLock g(t.lock);
    t.grandMaster = 0;
    debugPrint(kThreadDebug, "ending grand master thread\n");
  }
  requestStop(*t.masterControl);
  // Up to ten checks 50 ms apart; a wait on the condition ends early once the reaper is done.
  bool ended = false;
  {
    ThreadControl& master = *t.masterControl;
    MutexLock lk(t.wakeLock);
    for (int check = 0; check < kMasterChecks && !ended; ++check) {
      ended =
          t.finishedCv.wait_for(lk.native(), kMasterCheckWait, [&master] { return master.finished.load(); });
    }
  }
  if (ended) {
    t.masterThread.join();
    debugPrint(kThreadDebug, "thread: masterThread closed\n");
  } else {
    debugPrint(kThreadDebug, "@@@@@@@@forcing masterThread to DIE (could cause memory leak)\n");
    t.masterThread.detach();
  }
  t.masterControl.reset();
}

// One attempt to put the thread into a free slot; grows slots seen when none is free.
bool tryRecord(std::shared_ptr<ThreadControl>& control, std::thread& thread, const char* tag) {
  ThreadTable& t = table();
  MutexLock g(t.lock);
  for (int i = 0; i < t.slotsSeen; ++i) {
    Slot& s = t.slots[i];
    if (s.handle != 0) continue;
    s.handle = control->handle;
    s.options = control->options;
    s.tag = tag;
    s.control = std::move(control);
    s.thread = std::move(thread);
    debugPrint(kThreadDebug, "thread: Add: index=%d thread=%d opt=%d from=<%s>\n", i,
               static_cast<int>(s.handle), static_cast<int>(s.options), tag);
    return true;
  }
  if (t.slotsSeen >= kThreadSlots) {
    debugPrint(kThreadDebug, "thread: Error, thread list exceeded. Thread not added to list. List max=%d.\n",
               kThreadSlots);
  } else {
    ++t.slotsSeen;
    debugPrint(kThreadDebug, "thread: Error, current thread list seen exceeded. adding another thread=%d.\n",
               t.slotsSeen);
  }
  return false;
}

bool recordThread(std::shared_ptr<ThreadControl>& control, std::thread& thread, const char* tag) {
  for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
    if (tryRecord(control, thread, tag)) return true;
    const int remaining = kRecordAttempts - attempt - 1;
    debugPrint(kThreadDebug, "thread: could not add thread, retries remaining: %d (sleep 200)\n", remaining);
    if (remaining > 0) std::this_thread::sleep_for(kRecordRetryWait);
  }
  return false;
}

struct Pending {
  int index;
  ThreadHandle handle;
  std::shared_ptr<ThreadControl> control;
  std::thread thread;
};

// Under the table lock: marks every recorded thread without the keep bit to stop.
std::vector<Pending> requestStopOfUnkept() {
  ThreadTable& t = table();
  std::vector<Pending> pending;
  MutexLock g(t.lock);
  debugPrint(kThreadDebug, "thread: List locked, terminateAllThreads\n");
  for (int i = 0; i < t.slotsSeen; ++i) {
    Slot& s = t.slots[i];
    if (s.handle == 0 || (s.options & kThreadKeep) != 0) continue;
    debugPrint(kThreadDebug, "thread: index %d still present\n", i);
    requestStop(*s.control);
    pending.push_back(Pending{i, s.handle, s.control, std::thread()});
  }
  return pending;
}

// Waits until every pending thread finished or the time is up. The caller's own thread, if it
// is among them, cannot finish while it waits here and is not waited for.
void awaitFinished(const std::vector<Pending>& pending) {
  ThreadTable& t = table();
  const auto deadline = std::chrono::steady_clock::now() + kStopWait;
  MutexLock lk(t.wakeLock);
  t.finishedCv.wait_until(lk.native(), deadline, [&pending] {
    for (const Pending& p : pending) {
      if (p.control.get() != tlsCurrent && !p.control->finished.load()) return false;
    }
    return true;
  });
}

// Takes the pending threads out of their slots (unless a reap freed them meanwhile).
void releaseSlots(std::vector<Pending>& pending) {
  ThreadTable& t = table();
  MutexLock g(t.lock);
  for (Pending& p : pending) {
    Slot& s = t.slots[p.index];
    if (s.handle != p.handle) continue;
    p.thread = std::move(s.thread);
    s = Slot();
  }
}

}  // namespace

bool initThreadManager() {
  table().enabled.store(true);
  return true;
}

ThreadHandle startThread(ThreadRoutine routine, uintptr_t context, uint32_t options, const char* tag) {
  ThreadTable& t = table();
  if (!t.enabled.load() || routine == nullptr) return 0;
  if (tag == nullptr) tag = kNoTag;
  ensureGrandMaster();
  std::shared_ptr<ThreadControl> control = newControl(options);
  if (!control) return 0;
  const ThreadHandle handle = control->handle;
  std::thread thread;
  if (!launch(routine, context, control, true, &thread)) return 0;
  if (!recordThread(control, thread, tag)) {
    debugPrint(kThreadDebug, "thread: MEMORYLEAK\n");
    thread.detach();
  }
  return handle;
}

ThreadHandle startThreadNoTag(ThreadRoutine routine, uintptr_t context) {
  return startThread(routine, context, 0, kNoTag);
}

void reapThreads() {
  ThreadTable& t = table();
  std::vector<std::thread> ended;
  {
    MutexLock g(t.lock);
    for (int i = 0; i < t.slotsSeen; ++i) {
      Slot& s = t.slots[i];
      if (s.handle == 0 || !s.control->finished.load()) continue;
      ended.push_back(std::move(s.thread));
      s = Slot();
    }
  }
  for (std::thread& th : ended) {
    if (th.joinable()) th.join();
  }
}

void terminateAllThreads() {
  ThreadTable& t = table();
  reapThreads();
  stopGrandMaster();
  std::vector<Pending> pending = requestStopOfUnkept();
  {
    // Threads started before this point but not recorded (table full) are asked to stop too.
    MutexLock g(t.wakeLock);
    t.stopEpoch.fetch_add(1);
  }
  t.wakeCv.notify_all();
  awaitFinished(pending);
  releaseSlots(pending);
  for (Pending& p : pending) {
    if (!p.thread.joinable()) continue;  // reaped meanwhile
    const int handle = static_cast<int>(p.handle);
    if (p.control->finished.load()) {
      debugPrint(kThreadDebug, "thread: thread %d ended\n", handle);
      p.thread.join();
    } else {
      debugPrint(kThreadDebug, "thread: attempting to end thread %d\n", handle);
      debugPrint(kThreadDebug, "thread: thread %d did not end, left running untracked\n", handle);
      p.thread.detach();
    }
  }
}

void suspendAllThreads() {
  ThreadTable& t = table();
  MutexLock g(t.lock);
  MutexLock w(t.wakeLock);
  for (int i = 0; i < t.slotsSeen; ++i) {
    Slot& s = t.slots[i];
    if (s.handle != 0 && s.control.get() != tlsCurrent) ++s.control->suspendCount;
  }
}

void resumeAllThreads() {
  ThreadTable& t = table();
  {
    MutexLock g(t.lock);
    MutexLock w(t.wakeLock);
    for (int i = 0; i < t.slotsSeen; ++i) {
      Slot& s = t.slots[i];
      if (s.handle != 0) s.control->suspendCount = 0;
    }
  }
  t.wakeCv.notify_all();
}

void closeThreadManager() {
  table().enabled.store(false);
  stopGrandMaster();
  reapThreads();
}

bool threadSleep(int milliseconds) {
  ThreadControl* self = tlsCurrent;
  const auto duration = std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
  if (self == nullptr) {
    std::this_thread::sleep_for(duration);
    return true;
  }
  ThreadTable& t = table();
  const auto deadline = std::chrono::steady_clock::now() + duration;
  MutexLock lk(t.wakeLock);
  for (;;) {
    if (stopRequested(*self)) return false;
    if (self->suspendCount > 0) {
      t.wakeCv.wait(lk.native());
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) return true;
    t.wakeCv.wait_until(lk.native(), deadline);
  }
}

bool threadStopRequested() { return tlsCurrent != nullptr && stopRequested(*tlsCurrent); }

ThreadHandle currentThreadHandle() { return tlsCurrent != nullptr ? tlsCurrent->handle : 0; }

std::vector<ThreadListing> listThreads() {
  ThreadTable& t = table();
  std::vector<ThreadListing> out;
  MutexLock g(t.lock);
  for (int i = 0; i < t.slotsSeen; ++i) {
    const Slot& s = t.slots[i];
    if (s.handle == 0) continue;
    out.push_back(ThreadListing{i, s.handle, s.options, s.tag, !s.control->finished.load()});
  }
  return out;
}

int threadSlotsSeen() {
  ThreadTable& t = table();
  MutexLock g(t.lock);
  return t.slotsSeen;
}

int liveThreadCount() { return table().live.load(); }

// Outside the analysis: it runs when no other thread may touch the table, so it takes no lock.
void releaseThreadManagerStorage() NO_THREAD_SAFETY_ANALYSIS {
  ThreadTable* t = gTable;
  gTable = nullptr;
  if (t == nullptr) return;
  // Nothing may run any more; a thread object still joinable here is let go rather than joined.
  if (t->masterThread.joinable()) t->masterThread.detach();
  for (Slot& s : t->slots) {
    if (s.thread.joinable()) s.thread.detach();
  }
  delete t;
}
