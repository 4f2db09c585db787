// EventQueue: the bounded ring of EventRecord pointers between the raisers of events and one
// notification channel's thread. 2^k slots; the read index -1 marks an empty ring, and a ring
// whose write index has caught up with its read index is full.
//
// A queue may be allowed to grow: when full it doubles its ring (keeping the order) until it
// reaches its largest size, and only then refuses a record. The event log's channel uses this so
// that a burst of events is never lost there; every other channel keeps its fixed size.
//
// Ownership: a pushed record belongs to the queue until popped; records still queued when the
// queue is destroyed are freed with it.
//
// Thread safety: every operation may be called from any thread; one lock per queue, held only
// for one push or pop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "common/thread_annotations.h"
#include "server/events/event_record.h"

class EventQueue {
 public:
  // New queue of 2^slotsLog2 slots that may grow to 2^maxSlotsLog2 (no growth when maxSlotsLog2
  // <= slotsLog2). Null when memory runs out or slotsLog2 is outside 0..30.
  static std::unique_ptr<EventQueue> create(int slotsLog2, int maxSlotsLog2 = 0);
  ~EventQueue();
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // Takes the record on success. False when the ring is full (and may not grow) or the record
  // is null; the record then stays the caller's.
  [[nodiscard]] bool push(EventRecord* record);
  // Oldest record (caller frees), or null when empty.
  EventRecord* pop();

  size_t size() const;
  size_t capacity() const;

 private:
  EventQueue(EventRecord** slots, uint32_t slotCount, uint32_t maxSlotCount);
  bool growLocked() REQUIRES(mutex_);  // REQUIRES: the ring is full

  mutable Mutex mutex_;
  EventRecord** slots_ GUARDED_BY(mutex_);
  uint32_t mask_ GUARDED_BY(mutex_);  // slot count - 1
  uint32_t maxSlotCount_;
  int64_t read_ GUARDED_BY(mutex_) = -1;  // -1 = empty
  uint32_t write_ GUARDED_BY(mutex_) = 0;
};
