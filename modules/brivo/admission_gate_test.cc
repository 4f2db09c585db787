// The admission gate's ordering: a write waits for running reads, a read waits for a waiting
// write, writers go in ticket order, and a stop releases every waiter with the counters intact.
#include "modules/brivo/admission_gate.h"
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brivo {
namespace {

using test_support::waitUntil;

using namespace std::chrono_literals;

class GateTest : public ::testing::Test {
 protected:
  void note(const std::string& step) {
    std::lock_guard<std::mutex> lock(mu_);
    steps_.push_back(step);
  }
  std::vector<std::string> steps() {
    std::lock_guard<std::mutex> lock(mu_);
    return steps_;
  }

  std::atomic<bool> running_{true};
  AdmissionGate gate_{&running_};
  std::mutex mu_;
  std::vector<std::string> steps_;
};

TEST_F(GateTest, ReadersShareAndAWriteWaitsForThemToLeave) {
  ASSERT_TRUE(gate_.enterRead());
  ASSERT_TRUE(gate_.enterRead());
  EXPECT_EQ(gate_.activeReaders(), 2);
  std::thread writer([this] {
    ASSERT_TRUE(gate_.enterWrite());
    note("write");
    gate_.leaveWrite();
  });
  ASSERT_TRUE(waitUntil([this] { return gate_.waitingOrActiveWriters() == 1; }));
  note("first read leaves");
  gate_.leaveRead();
  std::this_thread::sleep_for(20ms);  // room for a wrong early entry of the writer to show
  note("second read leaves");
  gate_.leaveRead();
  writer.join();
  EXPECT_EQ(steps(), (std::vector<std::string>{"first read leaves", "second read leaves", "write"}));
  EXPECT_FALSE(gate_.busy());
}

TEST_F(GateTest, AReadIssuedWhileAWriteWaitsStartsAfterTheWrite) {
  ASSERT_TRUE(gate_.enterRead());
  std::thread writer([this] {
    ASSERT_TRUE(gate_.enterWrite());
    note("write enters");
    std::this_thread::sleep_for(20ms);  // room for a wrong entry of the late reader to show
    note("write leaves");
    gate_.leaveWrite();
  });
  ASSERT_TRUE(waitUntil([this] { return gate_.waitingOrActiveWriters() == 1; }));
  std::thread lateReader([this] {
    ASSERT_TRUE(gate_.enterRead());
    note("late read enters");
    gate_.leaveRead();
  });
  // A waiting reader leaves no mark to wait for; this gives it time to reach the gate.
  std::this_thread::sleep_for(20ms);
  note("first read leaves");
  gate_.leaveRead();
  writer.join();
  lateReader.join();
  EXPECT_EQ(steps(), (std::vector<std::string>{"first read leaves", "write enters", "write leaves",
                                               "late read enters"}));
}

TEST_F(GateTest, WritersAreServedInTicketOrder) {
  ASSERT_TRUE(gate_.enterWrite());
  std::vector<std::thread> writers;
  for (int i = 1; i <= 3; ++i) {
    writers.emplace_back([this, i] {
      ASSERT_TRUE(gate_.enterWrite());
      note("writer " + std::to_string(i));
      gate_.leaveWrite();
    });
    // The next writer starts only once this one holds its ticket.
    ASSERT_TRUE(waitUntil([this, i] { return gate_.waitingOrActiveWriters() == i + 1; }));
  }
  note("first writer leaves");
  gate_.leaveWrite();
  for (std::thread& t : writers) t.join();
  EXPECT_EQ(steps(), (std::vector<std::string>{"first writer leaves", "writer 1", "writer 2", "writer 3"}));
  EXPECT_FALSE(gate_.busy());
}

TEST_F(GateTest, StoppingReleasesEveryWaiterAndTheCountersMeetAgain) {
  ASSERT_TRUE(gate_.enterWrite());
  std::atomic<int> refused{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([this, &refused] { refused += gate_.enterWrite() ? 0 : 1; });
    ASSERT_TRUE(waitUntil([this, i] { return gate_.waitingOrActiveWriters() == i + 2; }));
  }
  waiters.emplace_back([this, &refused] { refused += gate_.enterRead() ? 0 : 1; });
  std::this_thread::sleep_for(10ms);  // a waiting reader leaves no mark; time to reach the gate
  EXPECT_TRUE(gate_.busy());

  running_.store(false);
  gate_.wakeAll();
  waiters.back().join();  // the reader gives up at once
  EXPECT_TRUE(gate_.busy()) << "the active writer still holds the gate";
  gate_.leaveWrite();
  for (std::thread& t : waiters) {
    if (t.joinable()) t.join();
  }
  EXPECT_EQ(refused.load(), 3);
  EXPECT_FALSE(gate_.busy());

  running_.store(true);
  EXPECT_TRUE(gate_.enterWrite()) << "tickets still line up after the stop";
  gate_.leaveWrite();
  EXPECT_TRUE(gate_.enterRead());
  gate_.leaveRead();
}

TEST_F(GateTest, GatePassLeavesWhatItEntered) {
  {
    GatePass read(gate_, GateMode::kRead);
    EXPECT_TRUE(read.entered());
    EXPECT_EQ(gate_.activeReaders(), 1);
  }
  {
    GatePass write(gate_, GateMode::kWrite);
    EXPECT_TRUE(write.entered());
    EXPECT_TRUE(gate_.busy());
  }
  EXPECT_FALSE(gate_.busy());
  running_.store(false);
  GatePass refused(gate_, GateMode::kWrite);
  EXPECT_FALSE(refused.entered());
  EXPECT_FALSE(gate_.busy());
}

}  // namespace
}  // namespace brivo
