// The admission gate; see admission_gate.h.
#include "modules/brivo/admission_gate.h"

namespace brivo {

bool AdmissionGate::enterRead() {
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait(lock, [this] { return ticket_ == serving_ || stopped(); });
  if (stopped()) return false;
  ++readers_;
  return true;
}

void AdmissionGate::leaveRead() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    --readers_;
  }
  changed_.notify_all();
}

bool AdmissionGate::enterWrite() {
  std::unique_lock<std::mutex> lock(mu_);
  const uint32_t ticket = ticket_++;
  changed_.wait(lock, [this, ticket] { return (serving_ == ticket && readers_ == 0) || stopped(); });
  if (!stopped()) return true;
  // Stopping: the ticket is still handed back in its turn, so that the writers ahead of it keep
  // running alone and the counters meet again once everyone has left.
  changed_.wait(lock, [this, ticket] { return serving_ == ticket; });
  ++serving_;
  lock.unlock();
  changed_.notify_all();
  return false;
}

void AdmissionGate::leaveWrite() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++serving_;
  }
  changed_.notify_all();
}

bool AdmissionGate::busy() const {
  std::lock_guard<std::mutex> lock(mu_);
  return ticket_ != serving_ || readers_ != 0;
}

void AdmissionGate::wakeAll() {
  // Taking the lock orders the flag change before any waiter's next look at it.
  { std::lock_guard<std::mutex> lock(mu_); }
  changed_.notify_all();
}

int32_t AdmissionGate::activeReaders() const {
  std::lock_guard<std::mutex> lock(mu_);
  return readers_;
}

int32_t AdmissionGate::waitingOrActiveWriters() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int32_t>(ticket_ - serving_);
}

}  // namespace brivo
