// The admission gate of the RAID module: read requests (and the monitor's per-pair pass) run side
// by side; a data-altering request runs alone, after the readers that were running have left.
// Writers take tickets and are served in ticket order; while any writer waits or runs, new readers
// wait too, so a stream of reads can never starve a write.
//
// A mutex and a condition variable keep the counters; waiters sleep until a leave (or a stop)
// wakes them. When the module stops, waiters give up instead of entering: a reader at once, a
// writer once its turn has come (so the ticket order and the busy test stay exact).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "common/thread_annotations.h"

namespace brivo {

class AdmissionGate {
 public:
  // running: the module's running flag (borrowed; outlives the gate). Entering fails while it is
  // false.
  explicit AdmissionGate(const std::atomic<bool>* running) : running_(running) {}
  AdmissionGate(const AdmissionGate&) = delete;
  AdmissionGate& operator=(const AdmissionGate&) = delete;

  // Waits until no writer waits or runs, then counts the caller as a reader. False (not entered)
  // when the module stopped while waiting.
  [[nodiscard]] bool enterRead();
  // REQUIRES: a successful enterRead.
  void leaveRead();
  // Takes a ticket and waits until it is served and no reader runs. False (not entered, ticket
  // given back in order) when the module stopped while waiting.
  [[nodiscard]] bool enterWrite();
  // REQUIRES: a successful enterWrite.
  void leaveWrite();

  // True while a writer waits or runs, or a reader runs (shutdown waits for this to clear).
  bool busy() const;
  // Wakes every waiter so that it sees a changed running flag. Call after clearing the flag.
  void wakeAll();

  // Counters for tests and diagnostics.
  int32_t activeReaders() const;
  int32_t waitingOrActiveWriters() const;

 private:
  bool stopped() const { return !running_->load(std::memory_order_acquire); }

  const std::atomic<bool>* running_;
  mutable Mutex mu_;
  std::condition_variable changed_;
  uint32_t ticket_ GUARDED_BY(mu_) = 0;   // next ticket to hand out
  uint32_t serving_ GUARDED_BY(mu_) = 0;  // ticket now allowed in
  int32_t readers_ GUARDED_BY(mu_) = 0;   // readers inside
};

enum class GateMode { kRead, kWrite };

// Holds the gate for a scope: enters in the constructor, leaves in the destructor when entered.
class GatePass {
 public:
  GatePass(AdmissionGate& gate, GateMode mode)
      : gate_(gate), mode_(mode), entered_(mode == GateMode::kRead ? gate.enterRead() : gate.enterWrite()) {}
  ~GatePass() {
    if (!entered_) return;
    if (mode_ == GateMode::kRead) {
      gate_.leaveRead();
    } else {
      gate_.leaveWrite();
    }
  }
  GatePass(const GatePass&) = delete;
  GatePass& operator=(const GatePass&) = delete;

  bool entered() const { return entered_; }

 private:
  AdmissionGate& gate_;
  GateMode mode_;
  bool entered_;
};

}  // namespace brivo
