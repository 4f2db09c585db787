// Ring buffer of EventRecord pointers with one lock; see event_queue.h.
#include "server/events/event_queue.h"

#include <new>

#include "common/thread_annotations.h"

std::unique_ptr<EventQueue> EventQueue::create(int slotsLog2, int maxSlotsLog2) {
  if (slotsLog2 < 0 || slotsLog2 > 30) return nullptr;
  if (maxSlotsLog2 < slotsLog2) maxSlotsLog2 = slotsLog2;
  if (maxSlotsLog2 > 30) maxSlotsLog2 = 30;
  const uint32_t slotCount = 1u << slotsLog2;
  auto* slots = new (std::nothrow) EventRecord*[slotCount];
  if (slots == nullptr) return nullptr;
  return std::unique_ptr<EventQueue>(new (std::nothrow) EventQueue(slots, slotCount, 1u << maxSlotsLog2));
}

EventQueue::EventQueue(EventRecord** slots, uint32_t slotCount, uint32_t maxSlotCount)
    : slots_(slots), mask_(slotCount - 1), maxSlotCount_(maxSlotCount) {}

EventQueue::~EventQueue() {
  while (EventRecord* record = pop()) freeEventRecord(record);
  delete[] slots_;
}

bool EventQueue::push(EventRecord* record) {
  if (record == nullptr) return false;
  MutexLock lock(mutex_);
  if (read_ < 0) {
    read_ = 0;
    write_ = 0;
  } else if (write_ == static_cast<uint32_t>(read_) && !growLocked()) {
    return false;
  }
  slots_[write_] = record;
  write_ = (write_ + 1) & mask_;
  return true;
}

EventRecord* EventQueue::pop() {
  MutexLock lock(mutex_);
  if (read_ < 0) return nullptr;
  EventRecord* record = slots_[read_];
  read_ = (read_ + 1) & mask_;
  if (static_cast<uint32_t>(read_) == write_) read_ = -1;
  return record;
}

// Copies the full ring, oldest first, into one twice as large; afterwards the records occupy
// slots 0..old size-1 and the write index points behind them.
bool EventQueue::growLocked() {
  const uint32_t oldCount = mask_ + 1;
  if (oldCount >= maxSlotCount_) return false;
  auto* bigger = new (std::nothrow) EventRecord*[oldCount * 2];
  if (bigger == nullptr) return false;
  for (uint32_t i = 0; i < oldCount; ++i) bigger[i] = slots_[(read_ + i) & mask_];
  delete[] slots_;
  slots_ = bigger;
  mask_ = oldCount * 2 - 1;
  read_ = 0;
  write_ = oldCount;
  return true;
}

size_t EventQueue::size() const {
  MutexLock lock(mutex_);
  if (read_ < 0) return 0;
  const uint32_t count = (write_ - static_cast<uint32_t>(read_)) & mask_;
  return count == 0 ? mask_ + 1 : count;
}

size_t EventQueue::capacity() const {
  MutexLock lock(mutex_);
  return mask_ + 1;
}
