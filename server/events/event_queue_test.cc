// Tests of EventQueue: ring order across the wrap, full and empty states, growth, and many
// producers against one consumer.
#include "server/events/event_queue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

EventRecord* makeRecord(uint32_t id) {
  EventRecord source{const_cast<char*>("message"), const_cast<char*>("device"), 0, 0, 0, id, 0};
  return copyEventRecord(&source);
}

TEST(EventQueueTest, KeepsOrderAcrossTheWrapAndRefusesWhenFull) {
  auto queue = EventQueue::create(2);  // 4 slots
  ASSERT_TRUE(queue);
  EXPECT_EQ(queue->pop(), nullptr);
  uint32_t next = 0;
  uint32_t expected = 0;
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(queue->push(makeRecord(next++)));
    EXPECT_EQ(queue->size(), 4u);
    EventRecord* extra = makeRecord(999);
    EXPECT_FALSE(queue->push(extra));
    freeEventRecord(extra);
    // Take three, leaving one behind so that the next round wraps around the ring.
    for (int i = 0; i < 3; ++i) {
      EventRecord* record = queue->pop();
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(record->eventId, expected++);
      freeEventRecord(record);
    }
    EventRecord* last = queue->pop();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->eventId, expected++);
    freeEventRecord(last);
    EXPECT_EQ(queue->pop(), nullptr);
    EXPECT_EQ(queue->size(), 0u);
  }
  EXPECT_EQ(queue->capacity(), 4u);
}

TEST(EventQueueTest, SingleSlotRingAndNullRecord) {
  auto queue = EventQueue::create(0);
  ASSERT_TRUE(queue);
  EXPECT_FALSE(queue->push(nullptr));
  ASSERT_TRUE(queue->push(makeRecord(1)));
  EventRecord* refused = makeRecord(2);
  EXPECT_FALSE(queue->push(refused));
  freeEventRecord(refused);
  EventRecord* record = queue->pop();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->eventId, 1u);
  freeEventRecord(record);
  EXPECT_EQ(queue->pop(), nullptr);
  EXPECT_FALSE(EventQueue::create(31));
  EXPECT_FALSE(EventQueue::create(-1));
}

TEST(EventQueueTest, GrowingRingKeepsOrderUpToItsLimit) {
  auto queue = EventQueue::create(1, 4);  // 2 slots, may grow to 16
  ASSERT_TRUE(queue);
  // Start the ring mid-way so that the first growth copies a wrapped ring.
  ASSERT_TRUE(queue->push(makeRecord(100)));
  freeEventRecord(queue->pop());
  for (uint32_t i = 0; i < 16; ++i) ASSERT_TRUE(queue->push(makeRecord(i))) << i;
  EXPECT_EQ(queue->capacity(), 16u);
  EXPECT_EQ(queue->size(), 16u);
  EventRecord* refused = makeRecord(16);
  EXPECT_FALSE(queue->push(refused));
  freeEventRecord(refused);
  for (uint32_t i = 0; i < 16; ++i) {
    EventRecord* record = queue->pop();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->eventId, i);
    freeEventRecord(record);
  }
  EXPECT_EQ(queue->pop(), nullptr);
}

TEST(EventQueueTest, ManyProducersOneConsumerLoseAndReorderNothing) {
  constexpr int kProducers = 4;
  constexpr uint32_t kEach = 5000;
  auto queue = EventQueue::create(3, 20);
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (uint32_t i = 0; i < kEach; ++i) ASSERT_TRUE(queue->push(makeRecord(p * kEach + i)));
    });
  }
  std::vector<uint32_t> lastSeen(kProducers, 0);
  std::vector<uint32_t> counts(kProducers, 0);
  uint32_t total = 0;
  while (total < kProducers * kEach) {
    EventRecord* record = queue->pop();
    if (record == nullptr) {
      std::this_thread::yield();
      continue;
    }
    const uint32_t producer = record->eventId / kEach;
    const uint32_t sequence = record->eventId % kEach;
    if (counts[producer] > 0) {
      EXPECT_GT(sequence, lastSeen[producer]);
    }
    lastSeen[producer] = sequence;
    ++counts[producer];
    ++total;
    freeEventRecord(record);
  }
  for (auto& t : producers) t.join();
  for (uint32_t count : counts) EXPECT_EQ(count, kEach);
}

}  // namespace
