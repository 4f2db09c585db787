// The admission gate; see admission_gate.h.
#include "modules/brivo/admission_gate.h"

#include "common/thread_annotations.h"

namespace brivo {

bool AdmissionGate::enterRead() {
  MutexLock lock(mu_);
  changed_.wait(lock.native(), [this]() REQUIRES(mu_) { return ticket_ == serving_ || stopped(); });
  if (stopped()) return false;
  ++readers_;
  return true;
}

void AdmissionGate::leaveRead() {
  {
    MutexLock lock(mu_);
    --readers_;
  }
  changed_.notify_all();
}

bool AdmissionGate::enterWrite() {
  MutexLock lock(mu_);
  const uint32_t ticket = ticket_++;
  changed_.wait(lock.native(), [this, ticket]() REQUIRES(mu_) {
    return (serving_ == ticket && readers_ == 0) || stopped();
  });
  if (!stopped()) return true;
  // Stopping: the ticket is still handed back in its turn, so that the writers ahead of it keep
  // running alone and the counters meet again once everyone has left.
  changed_.wait(lock.native(), [this, ticket]() REQUIRES(mu_) { return serving_ == ticket; });
  ++serving_;
  lock.unlock();
  changed_.notify_all();
  return false;
}

void AdmissionGate::leaveWrite() {
  {
    MutexLock lock(mu_);
    ++serving_;
  }
  changed_.notify_all();
}

bool AdmissionGate::busy() const {
  MutexLock lock(mu_);
  return ticket_ != serving_ || readers_ != 0;
}

void AdmissionGate::wakeAll() {
  // Taking the lock orders the flag change before any waiter's next look at it.
  { MutexLock lock(mu_); }
  changed_.notify_all();
}

int32_t AdmissionGate::activeReaders() const {
  MutexLock lock(mu_);
  return readers_;
}

int32_t AdmissionGate::waitingOrActiveWriters() const {
  MutexLock lock(mu_);
  return static_cast<int32_t>(ticket_ - serving_);
}

}  // namespace brivo
