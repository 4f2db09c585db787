// The annotated lock types behave as the std ones they wrap: a held lock keeps other threads out,
// unlock() inside a scope lets them in, a condition variable waits through native(), readers
// share a SharedMutex and a writer waits for them. (That clang refuses broken promises is tested
// by tests/thread_safety.)
#include "common/thread_annotations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

bool triedFromOtherThread(Mutex& mu) {
  bool got = false;
  std::thread other([&] {
    if (mu.try_lock()) {
      got = true;
      mu.unlock();
    }
  });
  other.join();
  return got;
}

TEST(MutexLockTest, HoldsForItsScopeAndGivesUpOnUnlock) {
  Mutex mu;
  {
    MutexLock lock(mu);
    EXPECT_FALSE(triedFromOtherThread(mu));
    lock.unlock();
    EXPECT_TRUE(triedFromOtherThread(mu));
    lock.lock();
    EXPECT_FALSE(triedFromOtherThread(mu));
  }
  EXPECT_TRUE(triedFromOtherThread(mu));
}

struct Box {
  Mutex mu;
  std::condition_variable changed;
  int value GUARDED_BY(mu) = 0;
};

TEST(MutexLockTest, ConditionVariableWaitsThroughNative) {
  Box box;
  std::atomic<bool> seen{false};
  std::thread waiter([&] {
    MutexLock lock(box.mu);
    box.changed.wait(lock.native(), [&]() REQUIRES(box.mu) { return box.value == 2; });
    // The wait returns with the lock held again.
    EXPECT_FALSE(triedFromOtherThread(box.mu));
    seen = true;
  });
  for (int next = 1; next <= 2; ++next) {
    MutexLock lock(box.mu);
    box.value = next;
    box.changed.notify_all();
  }
  EXPECT_TRUE(waitUntil("the waiter to see the value", [&] { return seen.load(); }));
  waiter.join();
}

TEST(SharedMutexTest, ReadersShareAndAWriterWaitsForThem) {
  SharedMutex mu;
  std::atomic<bool> readerIn{false};
  std::atomic<bool> writerIn{false};
  std::thread writer;
  {
    ReaderMutexLock reading(mu);
    std::thread reader([&] {
      ReaderMutexLock alsoReading(mu);
      readerIn = true;
    });
    EXPECT_TRUE(waitUntil("a second reader beside the first", [&] { return readerIn.load(); }));
    reader.join();
    writer = std::thread([&] {
      WriterMutexLock writing(mu);
      writerIn = true;
    });
    // A writer that got in now would be a fault; the short wait is the point of this check.
    EXPECT_FALSE(waitUntil([&] { return writerIn.load(); }, std::chrono::milliseconds(50)));
  }
  EXPECT_TRUE(waitUntil("the writer once the reader left", [&] { return writerIn.load(); }));
  writer.join();
}

}  // namespace
