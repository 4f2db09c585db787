// The CGI communicator loop, its start and release in the server's life cycle, and its timings;
// see cgi_communicator.h. The handler of one slot is in cgi_request_handler.cc.
#include "server/request/cgi_communicator.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "common/cgi_protocol.h"
#include "common/debug.h"
#include "common/shared_memory.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/main_loop.h"
#include "server/request/cgi_events.h"
#include "server/request/cgi_status_area.h"
#include "server/server_state.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kCgiDebug = 0x200014;
constexpr int kPollStepMs = 10;
constexpr int kMaxTimingMs = 3600000;

Mutex gTimingsLock;
CgiTimings gTimings GUARDED_BY(gTimingsLock);
std::atomic<bool> gCommunicatorRunning{false};

// Since when a slot has stood in a state that no thread watches (see expireUnwatched); only the
// communicator thread uses it.
struct UnwatchedSince {
  uint8_t state = kSlotFree;
  Clock::time_point since;
};

// The handler threads of one communicator pass: a pool that grows on demand, never beyond one
// thread per request in flight (so at most one per slot), whose idle threads end after the idle
// time. A thread is started only when every idle thread is already spoken for, so a slow request
// (a save, an export of up to 40 s) never holds up another slot's request. Starts are few: a
// thread per request cost more than most requests, and a start that must grow the thread table
// holds the communicator, and with it every slot, for 200 ms (thread_manager.h); a thread kept
// per slot made every slot's first request pay that after each start of the server. Threads
// serve only the pass they started in: a request still under way when its pass ends finishes
// there, and its thread ends with it.
//
// Thread safety: the lock guards the queue and the counts; a thread counts itself idle before it
// reports its slot's handler finished, so that the communicator, which frees the slot on that
// report, never starts a thread for the slot's next request while this one is about to wait.
class HandlerPool : public std::enable_shared_from_this<HandlerPool> {
 public:
  // Hands the request (its one-byte slot block) to an idle thread, or starts a thread for it.
  // False when no thread could be started (the block stays the caller's).
  bool submit(uint8_t* block);
  // The pass ends: idle threads end now, busy ones after their request.
  void close();

 private:
  struct Start {
    std::shared_ptr<HandlerPool> pool;
    uint8_t* block;
  };
  static void threadMain(uintptr_t context);
  // Waits for the next request; null when the pool closed or the idle time ran out first.
  uint8_t* nextRequest();

  Mutex lock_;
  std::condition_variable work_;
  uint8_t* queue_[kRequestSlots] GUARDED_BY(lock_) = {};  // at most one request per slot waits
  int head_ GUARDED_BY(lock_) = 0;
  int queued_ GUARDED_BY(lock_) = 0;
  int idle_ GUARDED_BY(lock_) = 0;  // counted before the slot is reported
  bool closed_ GUARDED_BY(lock_) = false;
};

std::atomic<CgiThreadStarter> gThreadStarter{nullptr};
std::shared_ptr<HandlerPool> gPool;  // the current pass's; only the communicator thread uses it

bool HandlerPool::submit(uint8_t* block) {
  {
    MutexLock guard(lock_);
    if (idle_ > queued_ && queued_ < kRequestSlots) {
      queue_[(head_ + queued_++) % kRequestSlots] = block;
      work_.notify_one();
      return true;
    }
  }
  Start* start = new (std::nothrow) Start{shared_from_this(), block};
  if (start == nullptr) return false;
  const CgiThreadStarter starter = gThreadStarter.load();
  const ThreadHandle handle = (starter != nullptr ? starter : startThread)(
      threadMain, reinterpret_cast<uintptr_t>(start), 0, "requestManager/handleCGIRequest");
  if (handle == 0) delete start;
  return handle != 0;
}

void HandlerPool::close() {
  MutexLock guard(lock_);
  closed_ = true;
  work_.notify_all();
}

uint8_t* HandlerPool::nextRequest() {
  const auto idleTime = std::chrono::milliseconds(cgiTimings().handlerIdleMs);
  MutexLock guard(lock_);
  // A request handed over before the close is still served.
  work_.wait_for(guard.native(), idleTime, [this]() REQUIRES(lock_) { return queued_ > 0 || closed_; });
  --idle_;
  if (queued_ == 0) return nullptr;
  uint8_t* block = queue_[head_];
  head_ = (head_ + 1) % kRequestSlots;
  --queued_;
  return block;
}

void HandlerPool::threadMain(uintptr_t context) {
  std::unique_ptr<Start> start(reinterpret_cast<Start*>(context));
  HandlerPool& pool = *start->pool;
  for (uint8_t* block = start->block; block != nullptr; block = pool.nextRequest()) {
    const int slot = *block;
    cgi::setHandlerThread(slot, currentThreadHandle());
    handleCGIRequest(block);
    {
      MutexLock guard(pool.lock_);
      ++pool.idle_;
    }
    cgi::handlerFinished(slot);
  }
}

// A request is ready in slot (state already 3): hands it to a handler thread, or sets 255.
void startHandler(int slot, uint8_t* state) {
  uint8_t* block = static_cast<uint8_t*>(std::malloc(1));
  if (block == nullptr) {
    changeSlotState(state, kSlotTaken, kSlotNoHandler);
    cgi::postReplySemaphore(slot);
    logServerError("CGI Communicator failed to allcoate memory for process identication");
    return;
  }
  *block = static_cast<uint8_t>(slot);
  cgi::handlerStarting(slot);
  if (!gPool->submit(block)) {
    std::free(block);
    cgi::handlerFinished(slot);
    // Logged before the front end is answered, so whoever sees the 255 also finds its cause.
    logServerError("CGI Communicator failed to start request thread");
    changeSlotState(state, kSlotTaken, kSlotNoHandler);
    cgi::postReplySemaphore(slot);
  }
}

// A slot left in a state nobody watches is given up after the reply time-out, as a handler
// gives up a reply, so that a front end that died, or a server that ended without cleaning up
// an area this one opened, never holds a slot for good: a claim (1), a 255, and a 3, 4 or an
// error state without a handler thread.
void expireUnwatched(int slot, uint8_t* state, uint8_t value, UnwatchedSince* watch, int timeoutMs) {
  const bool handled = cgi::handlerRunning(slot);
  const bool unwatched =
      value == kSlotClaimed || value == kSlotNoHandler ||
      (!handled && (value == kSlotTaken || value == kSlotReplyReady || isSlotErrorState(value)));
  if (!unwatched || value != watch->state) {
    watch->state = unwatched ? value : kSlotFree;
    watch->since = Clock::now();
    return;
  }
  if (Clock::now() - watch->since < std::chrono::milliseconds(timeoutMs)) return;
  if (changeSlotState(state, value, kSlotFinished)) {
    debugPrint(kCgiDebug, "cgi: slot %d given up in state %d\n", slot, value);
  }
  watch->state = kSlotFree;
}

// One pass over the slots. Returns true when a slot was freed (its handler has ended).
bool servePass(UnwatchedSince* watch, int timeoutMs) {
  bool freed = false;
  for (int slot = 0; slot < kRequestSlots && isServerRunning(); ++slot) {
    uint8_t* state = cgi::slotStateByte(slot);
    const uint8_t value = loadSlotState(state);
    if (value == kSlotRequestReady) {
      if (changeSlotState(state, kSlotRequestReady, kSlotTaken)) startHandler(slot, state);
    } else if ((value == kSlotFinished || isSlotStopState(value)) && !cgi::handlerRunning(slot)) {
      // Never while the handler runs: it still reads the state, and a new request in the slot
      // would be taken for its own.
      cgi::forgetHandlerThread(slot);
      // The names go before the slot does: the next front end in it writes its own.
      cgi::clearSlotNames(slot);
      freed = changeSlotState(state, value, kSlotFree) || freed;
    }
    expireUnwatched(slot, state, loadSlotState(state), &watch[slot], timeoutMs);
  }
  return freed;
}

// The pass interval in 10 ms steps, ended early by a front end's wake-up or the server's stop;
// while a rescan is under way only one step is waited.
void waitForNextPass(int intervalMs) {
  const ServerControl& control = serverControl();
  for (int waited = 0; waited < intervalMs; waited += kPollStepMs) {
    if (!isServerRunning() || threadStopRequested()) return;
    if (cgi::waitWakeSemaphore(kPollStepMs)) return;
    if (control.rescanRequested.load() != 0) return;
  }
}

uint8_t stopState() {
  const ServerControl& control = serverControl();
  if (control.rescanRequested.load() != 0) return kSlotRescanning;
  if (control.restart.load() != 0) return kSlotRestarting;
  return kSlotStopped;
}

bool parseTiming(const char* name, int* out) {
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value <= 0 || value > kMaxTimingMs) {
    debugPrint(kCgiDebug, "cgi: ignoring %s=%s\n", name, text);
    return false;
  }
  *out = static_cast<int>(value);
  return true;
}

bool startRequestManager() {
  applyCgiTimingsFromEnvironment();
  return startThread(requestManager, 0, 0, "startAllThreads/requestManager") != 0;
}

}  // namespace

void setCgiTimings(const CgiTimings& timings) {
  MutexLock guard(gTimingsLock);
  gTimings = timings;
}

CgiTimings cgiTimings() {
  MutexLock guard(gTimingsLock);
  return gTimings;
}

void applyCgiTimingsFromEnvironment() {
  CgiTimings timings = cgiTimings();
  parseTiming("KESTROVA_CGI_REPLY_TIMEOUT_MS", &timings.replyTimeoutMs);
  parseTiming("KESTROVA_CGI_POLL_MS", &timings.pollIntervalMs);
  parseTiming("KESTROVA_CGI_WAIT_STEP_MS", &timings.waitStepMs);
  parseTiming("KESTROVA_CGI_HANDLER_IDLE_MS", &timings.handlerIdleMs);
  setCgiTimings(timings);
}

void requestManager(uintptr_t) {
  gCommunicatorRunning.store(true);
  if (!cgi::acquireStatusArea()) {
    raiseCgiEvent("KestrovaEvent_CGIMemNotFound", kEventCgiMemNotFound, sharedMemoryError());
    gCommunicatorRunning.store(false);
    return;
  }
  for (int slot = 0; slot < kRequestSlots; ++slot) {
    // A handler of the previous pass that still runs keeps its slot until it ends. A front end
    // may already be at work in a new area (1 or 2): its request is served, not wiped.
    uint8_t* state = cgi::slotStateByte(slot);
    const uint8_t value = loadSlotState(state);
    if (cgi::handlerRunning(slot) || value == kSlotClaimed || value == kSlotRequestReady) continue;
    cgi::clearSlotNames(slot);
    changeSlotState(state, value, kSlotFree);
    cgi::forgetHandlerThread(slot);
  }
  gPool = std::make_shared<HandlerPool>();
  UnwatchedSince watch[kRequestSlots];
  while (isServerRunning() && !threadStopRequested()) {
    const CgiTimings timings = cgiTimings();
    if (servePass(watch, timings.replyTimeoutMs)) reapThreads();
    waitForNextPass(timings.pollIntervalMs);
  }
  gPool->close();
  gPool.reset();
  const uint8_t stop = stopState();
  for (int slot = 0; slot < kRequestSlots; ++slot) {
    storeSlotState(cgi::slotStateByte(slot), stop);
    cgi::postReplySemaphore(slot);
  }
  if (stop == kSlotStopped) cgi::releaseStatusArea();
  gCommunicatorRunning.store(false);
  std::printf("CGI communicator ended\n");
  std::fflush(stdout);
}

bool startCgiCommunicator() { return startRequestManager(); }

void setCgiThreadStarter(CgiThreadStarter starter) { gThreadStarter.store(starter); }

void releaseCgiCommunicator() {
  const ServerControl& control = serverControl();
  const bool restarting = control.restart.load() != 0 || control.rescanRequested.load() != 0;
  if (!restarting && !gCommunicatorRunning.load()) cgi::releaseStatusArea();
}

void addCgiDebugInfo(VariableTable* reply) { cgi::addStatusAreaRows(reply); }
