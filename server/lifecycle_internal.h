// State shared by the files of the server's life cycle (main_loop.cc, shutdown.cc); not for other
// users.
//
// Thread safety: `lock` is held for a whole start-up pass and a whole shutdown; `runActive` is
// guarded by it. The stop word is set under `stopLock` so that the main loop's wait on `stopCv`
// cannot miss it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "common/thread_annotations.h"

namespace lifecycle {

struct State {
  Mutex lock;
  bool runActive GUARDED_BY(lock) = false;  // a start-up pass began and its shutdown has not run yet
  Mutex stopLock;
  std::condition_variable stopCv;
  std::atomic<bool> exitRequested{false};  // a signal asked for the process to end
};

// Never destroyed: detached threads may still use it while the process exits.
State& state();

// The shutdown steps. s is state(). REQUIRES: s.runActive.
void shutdownLocked(State& s) REQUIRES(s.lock);

// Sets the stop word and wakes the main loop.
void setStopWord();

// Raises one of the server's own events under its device name, severity 0. The message is the
// text of key in db/strings.db, or the key itself when the table has none.
void raiseServerEvent(const char* key, uint32_t eventId);

}  // namespace lifecycle
