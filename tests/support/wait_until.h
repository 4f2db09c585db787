// The one way tests wait for something another thread or process does: poll a condition until it
// holds or a deadline passes. Every test that waits includes this rather than sleeping a fixed time,
// so a loaded machine only makes a test slower, never wrong, and an idle one never waits longer
// than the condition needs.
//
// The result is a gtest AssertionResult: it converts to bool for callers that branch on it, and in
// EXPECT_TRUE/ASSERT_TRUE its failure message says how long was waited and, when the caller names
// it, what for. A test that must see that something does NOT happen keeps its own short limit and
// expects false; that wait is the point of such a test and lasts its whole limit.
//
// Thread safety: the condition runs on the caller's thread only; it must itself read shared state
// safely (atomics, a lock). Portable: steady_clock and sleep_for only, so the Windows build of a
// test uses it unchanged.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>

namespace test_support {

// Generous because CI runs the suite on two cores shared with compilers; a wait that is met early
// costs nothing, and only a wait that fails lasts this long.
inline constexpr std::chrono::milliseconds kWaitLimit{20000};
// Short enough that a met condition is noticed at once; conditions that are expensive to test (a
// process started, an HTTP request) pass a longer step.
inline constexpr std::chrono::milliseconds kPollStep{5};

// Polls condition() every step until it returns true (success) or limit has passed (failure). The
// condition is tested once more at the deadline, so a slow last step never loses a result that
// arrived in time.
template <typename Condition, typename = std::enable_if_t<std::is_invocable_r_v<bool, Condition&>>>
::testing::AssertionResult waitUntil(std::string_view what, Condition&& condition,
                                     std::chrono::milliseconds limit = kWaitLimit,
                                     std::chrono::milliseconds step = kPollStep) {
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + limit;
  for (;;) {
    if (condition()) return ::testing::AssertionSuccess();
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(step, deadline - now));
  }
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "waited " << limit.count() << " ms";
  if (!what.empty()) failure << " for " << what;
  failure << ", in vain";
  return failure;
}

// The same without a description, for conditions the surrounding assertion already explains.
template <typename Condition, typename = std::enable_if_t<std::is_invocable_r_v<bool, Condition&>>>
::testing::AssertionResult waitUntil(Condition&& condition, std::chrono::milliseconds limit = kWaitLimit,
                                     std::chrono::milliseconds step = kPollStep) {
  return waitUntil(std::string_view(), std::forward<Condition>(condition), limit, step);
}

}  // namespace test_support
