// The user bookkeeping's place in the life cycle and its session thread; see user_session.h.
#include "server/net/user_session.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "common/debug.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/net/password_change.h"
#include "server/net/users.h"
#include "server/request/page_rows.h"
#include "server/request/request_admission.h"
#include "server/server_state.h"

namespace {

constexpr const char kSessionThreadTag[] = "initializeKestrovaNetwork/handler_WaitForUserResponse";

// The session thread's life, so that stop can wait for it without the thread manager.
Mutex gSessionLock;
std::condition_variable gSessionEnded;
bool gSessionRunning GUARDED_BY(gSessionLock) = false;
std::atomic<bool> gSessionStop{false};  // asks the thread to end before the server stops
std::once_flag gAdmissionInstalled;

bool keepRunning() { return isServerRunning() && !gSessionStop.load() && !threadStopRequested(); }

void sessionThread(uintptr_t) {
  const UserTrackingTimings timings = userTrackingTimings();
  while (keepRunning()) {
    expireSilentUsers();
    for (int step = 0; step < timings.sessionSteps && keepRunning(); ++step) {
      if (!threadSleep(timings.sessionStepMs)) break;
    }
  }
  MutexLock guard(gSessionLock);
  gSessionRunning = false;
  gSessionEnded.notify_all();
}

// The handler reads the admission hooks without a lock, so they are written once, before the
// first request side starts, and stay for the life of the process (the tracking itself does
// nothing while the list is closed).
void installAdmission() {
  std::call_once(gAdmissionInstalled, [] {
    RequestAdmission& admission = requestAdmission();
    admission.trackUser = trackUserRequest;
    admission.verifyPassword = verifyRequestPassword;
  });
}

}  // namespace

bool startUserTracking() {
  installAdmission();
  openUserList();
  setPageRowsWriter(PageRows::kLoggedInUsers, addLoggedInUserRows);
  setPageRowsWriter(PageRows::kUserList, addUserListRows);
  {
    // A thread of an earlier start normally ended with that run; give a late one its last step.
    MutexLock guard(gSessionLock);
    gSessionStop.store(true);
    gSessionEnded.wait_for(guard.native(),
                           std::chrono::milliseconds(2 * userTrackingTimings().sessionStepMs + 100),
                           []() REQUIRES(gSessionLock) { return !gSessionRunning; });
    gSessionStop.store(false);
    if (gSessionRunning) return true;  // still there: it goes on as this run's thread
    gSessionRunning = true;
  }
  if (startThread(sessionThread, 0, 0, kSessionThreadTag) == 0) {
    MutexLock guard(gSessionLock);
    gSessionRunning = false;
    return false;
  }
  return true;
}

void stopUserTracking() {
  gSessionStop.store(true);
  const UserTrackingTimings timings = userTrackingTimings();
  {
    MutexLock guard(gSessionLock);
    gSessionEnded.wait_for(guard.native(), std::chrono::milliseconds(2 * timings.sessionStepMs + 100),
                           []() REQUIRES(gSessionLock) { return !gSessionRunning; });
  }
  setPageRowsWriter(PageRows::kLoggedInUsers, nullptr);
  setPageRowsWriter(PageRows::kUserList, nullptr);
  closeUserList();
}
