// Brute-force protection of the logins: after a few failed tries from one address, each further
// try from it is checked only after a growing delay (1 s, then doubling, at most maxDelay), one
// after another, so that guessing from one address becomes slow whatever the number of parallel
// connections; tries from other addresses are not held up. An address's count starts anew after
// a successful login or burstGap without failures.
//
// Failures are reported for the event log once per burst: the first failure at once, then what
// followed at most every reportInterval (due() hands out what is left over when a burst falls
// quiet).
//
// Thread safety: every function may be called from any thread; one internal lock.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/thread_annotations.h"

struct LoginThrottleSettings {
  unsigned freeFailures = 5;  // failures before tries are delayed
  std::chrono::milliseconds firstDelay{1000};
  std::chrono::milliseconds maxDelay{30000};
  std::chrono::seconds burstGap{300};
  std::chrono::seconds reportInterval{60};
  size_t maxAddresses = 10000;  // addresses remembered; the oldest are forgotten beyond it
};

// Failed logins of one address for the event log.
struct LoginReport {
  std::string address;
  unsigned count = 0;
  std::string users;  // the user names tried, comma separated
};

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  explicit LoginThrottle(LoginThrottleSettings settings = {}, Now now = nullptr);

  // Reserves the moment at which the next try from address may be checked: now, or later while
  // the address has failed too often. REQUIRES: record() follows for every admit().
  Clock::time_point admit(const std::string& address);
  // The outcome of a try admitted before. A failure may start or continue a burst that is due
  // for the event log (returned).
  std::optional<LoginReport> record(const std::string& address, const std::string& user, bool accepted);
  // Bursts with failures not reported yet whose last report is reportInterval old.
  std::vector<LoginReport> due();

  const LoginThrottleSettings& settings() const { return settings_; }

 private:
  struct Entry {
    unsigned failures = 0;
    unsigned pending = 0;
    Clock::time_point lastScheduled{};
    Clock::time_point lastFailure{};
    Clock::time_point lastReport{};
    unsigned unreported = 0;
    std::set<std::string> users;
  };
  std::chrono::milliseconds delayAfter(unsigned failures) const;
  void forgetOld(Clock::time_point now) REQUIRES(mu_);
  LoginReport reportOf(const std::string& address, Entry* entry, Clock::time_point now);

  const LoginThrottleSettings settings_;
  const Now now_;
  Mutex mu_;
  std::map<std::string, Entry> entries_ GUARDED_BY(mu_);
};
