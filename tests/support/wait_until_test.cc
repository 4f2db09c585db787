// The shared wait: met conditions end the wait at once, unmet ones fail after the limit with a
// message that says what was awaited, and a result that arrives during the last step still counts.
#include "tests/support/wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using test_support::waitUntil;
using Clock = std::chrono::steady_clock;

TEST(WaitUntil, MetConditionEndsTheWaitAtOnceAndIsTestedOnce) {
  int calls = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(waitUntil([&] {
    ++calls;
    return true;
  }));
  EXPECT_EQ(calls, 1);
  // Far below the 20 s default: the wait did not run out its limit.
  EXPECT_LT(Clock::now() - start, 10s);
}

TEST(WaitUntil, ConditionMetByAnotherThreadEndsTheWait) {
  std::atomic<bool> done{false};
  std::thread setter([&] {
    std::this_thread::sleep_for(30ms);  // the waiter must poll more than once
    done.store(true);
  });
  int calls = 0;
  EXPECT_TRUE(waitUntil("the other thread", [&] {
    ++calls;
    return done.load();
  }));
  setter.join();
  EXPECT_GT(calls, 1);
}

TEST(WaitUntil, UnmetConditionFailsAfterTheLimitAndSaysWhatWasAwaited) {
  int calls = 0;
  const auto start = Clock::now();
  const ::testing::AssertionResult named = waitUntil(
      "the moon to turn blue",
      [&] {
        ++calls;
        return false;
      },
      60ms, 10ms);
  EXPECT_FALSE(named);
  EXPECT_GE(Clock::now() - start, 60ms) << "a failed wait lasts its whole limit";
  EXPECT_GE(calls, 2);
  const std::string message = named.message();
  EXPECT_NE(message.find("the moon to turn blue"), std::string::npos) << message;
  EXPECT_NE(message.find("60 ms"), std::string::npos) << message;

  const ::testing::AssertionResult unnamed = waitUntil([] { return false; }, 20ms);
  EXPECT_FALSE(unnamed);
  EXPECT_NE(std::string(unnamed.message()).find("20 ms"), std::string::npos) << unnamed.message();
}

TEST(WaitUntil, ResultArrivingDuringTheLastStepStillCounts) {
  // The condition turns true only after the deadline has passed: a step longer than the limit
  // must not skip the final look.
  const auto start = Clock::now();
  EXPECT_TRUE(waitUntil([&] { return Clock::now() - start >= 50ms; }, 50ms, 10s));
  EXPECT_LT(Clock::now() - start, 5s) << "the step is cut to the time left";
}

TEST(WaitUntil, ZeroLimitStillLooksOnce) {
  EXPECT_TRUE(waitUntil([] { return true; }, 0ms));
  EXPECT_FALSE(waitUntil([] { return false; }, 0ms));
}

}  // namespace
