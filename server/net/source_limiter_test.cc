// The per-source budget: a burst, then the steady rate; sources don't share budgets; the table
// stays bounded and forgets the quietest source first.
#include "server/net/source_limiter.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = SourceLimiter::Clock;

int allowedOf(SourceLimiter* limiter, uint32_t source, int attempts, Clock::time_point at) {
  int allowed = 0;
  for (int i = 0; i < attempts; ++i) allowed += limiter->allow(source, at) ? 1 : 0;
  return allowed;
}

TEST(SourceLimiter, BurstThenSteadyRatePerSource) {
  SourceLimiter limiter({10, 5, 16});
  const Clock::time_point t0 = Clock::now();
  EXPECT_EQ(allowedOf(&limiter, 1, 50, t0), 10) << "the burst";
  EXPECT_EQ(allowedOf(&limiter, 2, 50, t0), 10) << "another source has a budget of its own";
  EXPECT_EQ(allowedOf(&limiter, 1, 50, t0 + 1s), 5) << "five a second after that";
  EXPECT_EQ(allowedOf(&limiter, 1, 50, t0 + 1200ms), 1);
  EXPECT_EQ(allowedOf(&limiter, 1, 50, t0 + 60s), 10) << "an idle source gets its burst back, no more";
}

TEST(SourceLimiter, TableIsBoundedAndForgetsTheQuietestSource) {
  SourceLimiter limiter({2, 1, 3});
  const Clock::time_point t0 = Clock::now();
  EXPECT_EQ(allowedOf(&limiter, 1, 5, t0), 2);
  EXPECT_EQ(allowedOf(&limiter, 2, 5, t0 + 1ms), 2);
  EXPECT_EQ(allowedOf(&limiter, 3, 5, t0 + 2ms), 2);
  EXPECT_EQ(limiter.trackedSources(), 3u);
  // A fourth source pushes out source 1, the one heard from least recently.
  EXPECT_EQ(allowedOf(&limiter, 4, 5, t0 + 3ms), 2);
  EXPECT_EQ(limiter.trackedSources(), 3u);
  EXPECT_EQ(allowedOf(&limiter, 3, 1, t0 + 4ms), 0) << "source 3 is still tracked and spent";
  EXPECT_EQ(allowedOf(&limiter, 1, 5, t0 + 5ms), 2) << "source 1 starts over";
  // A flood of new sources never grows the table.
  for (uint32_t source = 100; source < 20100; ++source) limiter.allow(source, t0 + 10ms);
  EXPECT_EQ(limiter.trackedSources(), 3u);
  limiter.reset({1, 1, 0});
  EXPECT_EQ(limiter.trackedSources(), 0u);
  EXPECT_EQ(allowedOf(&limiter, 7, 3, t0), 1);
  EXPECT_EQ(limiter.trackedSources(), 1u) << "a table of at least one";
}

}  // namespace
