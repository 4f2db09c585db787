// The brute-force delay of the logins and the failure reports for the event log, on a clock the
// test moves.
#include "frontend/login_throttle.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = LoginThrottle::Clock;

class LoginThrottleTest : public ::testing::Test {
 protected:
  Clock::time_point now_ = Clock::time_point() + 1000h;
  LoginThrottle throttle_{LoginThrottleSettings(), [this] { return now_; }};

  // One try from address that the clock waits out; returns how long it waited.
  Clock::duration tryOnce(const std::string& address, bool accepted,
                          std::optional<LoginReport>* report = nullptr) {
    const Clock::time_point when = throttle_.admit(address);
    const Clock::duration waited = when > now_ ? when - now_ : Clock::duration(0);
    if (when > now_) now_ = when;
    auto outcome = throttle_.record(address, "admin", accepted);
    if (report != nullptr) *report = outcome;
    return waited;
  }
};

TEST_F(LoginThrottleTest, FiveFailuresAreFreeThenEachTryWaitsLongerUpToTheCap) {
  std::vector<Clock::duration> waits;
  for (int i = 0; i < 12; ++i) waits.push_back(tryOnce("10.0.0.9", false));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(waits[i], 0s) << i;
  EXPECT_EQ(waits[5], 1s);
  EXPECT_EQ(waits[6], 2s);
  EXPECT_EQ(waits[7], 4s);
  EXPECT_EQ(waits[8], 8s);
  EXPECT_EQ(waits[9], 16s);
  EXPECT_EQ(waits[10], 30s);
  EXPECT_EQ(waits[11], 30s);
}

TEST_F(LoginThrottleTest, TwentyWrongPasswordsTakeAtLeastTwentySecondsInAll) {
  const Clock::time_point start = now_;
  for (int i = 0; i < 20; ++i) tryOnce("10.0.0.9", false);
  EXPECT_GE(now_ - start, 20s);
}

TEST_F(LoginThrottleTest, ParallelGuessesWaitOneAfterAnotherAndOtherAddressesNotAtAll) {
  std::vector<Clock::time_point> slots;
  for (int i = 0; i < 8; ++i) slots.push_back(throttle_.admit("10.0.0.9"));
  EXPECT_EQ(slots[4], now_);
  EXPECT_EQ(slots[5], now_ + 1s);
  EXPECT_EQ(slots[6], now_ + 3s);
  EXPECT_EQ(slots[7], now_ + 7s);
  EXPECT_EQ(throttle_.admit("10.0.0.10"), now_);
  for (int i = 0; i < 8; ++i) throttle_.record("10.0.0.9", "admin", false);
  throttle_.record("10.0.0.10", "admin", true);
}

TEST_F(LoginThrottleTest, ASuccessOrAQuietSpellStartsTheCountAnew) {
  for (int i = 0; i < 7; ++i) tryOnce("10.0.0.9", false);
  EXPECT_GT(tryOnce("10.0.0.9", true), 0s);  // the right password waits like any try
  EXPECT_EQ(tryOnce("10.0.0.9", false), 0s);
  for (int i = 0; i < 6; ++i) tryOnce("10.0.0.9", false);
  now_ += 301s;
  EXPECT_EQ(tryOnce("10.0.0.9", false), 0s);
}

TEST_F(LoginThrottleTest, FailuresAreReportedOncePerBurstAndThenEveryMinute) {
  std::optional<LoginReport> report;
  tryOnce("10.0.0.9", false, &report);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->address, "10.0.0.9");
  EXPECT_EQ(report->count, 1u);
  EXPECT_EQ(report->users, "admin");
  for (int i = 0; i < 4; ++i) {
    tryOnce("10.0.0.9", false, &report);
    EXPECT_FALSE(report) << i;
  }
  EXPECT_TRUE(throttle_.due().empty());
  now_ += 61s;
  const auto due = throttle_.due();
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].count, 4u);
  EXPECT_TRUE(throttle_.due().empty());
  // A try after the minute reports by itself.
  now_ += 61s;
  tryOnce("10.0.0.9", false, &report);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->count, 1u);
}

TEST(LoginThrottleMemory, AFloodOfAddressesStaysWithinTheLimit) {
  LoginThrottleSettings settings;
  settings.maxAddresses = 100;
  Clock::time_point now = Clock::time_point() + 10h;
  LoginThrottle throttle(settings, [&now] { return now; });
  for (int i = 0; i < 1000; ++i) {
    const std::string address = "10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256);
    throttle.admit(address);
    throttle.record(address, "x", false);
    now += 1ms;
  }
  // The newest address is still counted: its sixth failure waits.
  for (int i = 0; i < 4; ++i) {
    throttle.admit("10.1.3.231");
    throttle.record("10.1.3.231", "x", false);
  }
  EXPECT_GT(throttle.admit("10.1.3.231"), now);
}

}  // namespace
