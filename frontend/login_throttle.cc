// Login throttling; see login_throttle.h.
#include "frontend/login_throttle.h"

#include <algorithm>

#include "common/thread_annotations.h"

LoginThrottle::LoginThrottle(LoginThrottleSettings settings, Now now)
    : settings_(settings), now_(now ? std::move(now) : Now(Clock::now)) {}

std::chrono::milliseconds LoginThrottle::delayAfter(unsigned failures) const {
  if (failures < settings_.freeFailures) return std::chrono::milliseconds(0);
  const unsigned doublings = std::min(failures - settings_.freeFailures, 20u);
  const auto delay = settings_.firstDelay * (1LL << doublings);
  return std::min<std::chrono::milliseconds>(delay, settings_.maxDelay);
}

void LoginThrottle::forgetOld(Clock::time_point now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    const Entry& entry = it->second;
    const bool quiet =
        entry.pending == 0 && entry.unreported == 0 && now - entry.lastFailure >= settings_.burstGap;
    it = quiet ? entries_.erase(it) : std::next(it);
  }
}

LoginThrottle::Clock::time_point LoginThrottle::admit(const std::string& address) {
  MutexLock lock(mu_);
  const Clock::time_point now = now_();
  auto found = entries_.find(address);
  if (found == entries_.end()) {
    if (entries_.size() >= settings_.maxAddresses) forgetOld(now);
    // Still full: the oldest failures make room.
    while (entries_.size() >= settings_.maxAddresses) {
      auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.second.lastFailure < b.second.lastFailure;
      });
      entries_.erase(oldest);
    }
    found = entries_.emplace(address, Entry()).first;
  }
  Entry& entry = found->second;
  if (entry.pending == 0 && entry.failures > 0 && now - entry.lastFailure >= settings_.burstGap)
    entry.failures = 0;
  // Tries still running count as failures: parallel guesses wait like sequential ones.
  const auto delay = delayAfter(entry.failures + entry.pending);
  const Clock::time_point when = delay.count() == 0 ? now : std::max(now, entry.lastScheduled + delay);
  entry.lastScheduled = when;
  ++entry.pending;
  return when;
}

LoginReport LoginThrottle::reportOf(const std::string& address, Entry* entry, Clock::time_point now) {
  LoginReport report{address, entry->unreported, std::string()};
  for (const std::string& user : entry->users) report.users += (report.users.empty() ? "" : ", ") + user;
  entry->unreported = 0;
  entry->users.clear();
  entry->lastReport = now;
  return report;
}

std::optional<LoginReport> LoginThrottle::record(const std::string& address, const std::string& user,
                                                 bool accepted) {
  MutexLock lock(mu_);
  const Clock::time_point now = now_();
  auto found = entries_.find(address);
  if (found == entries_.end()) return std::nullopt;
  Entry& entry = found->second;
  if (entry.pending > 0) --entry.pending;
  if (accepted) {
    entry.failures = 0;
    return std::nullopt;
  }
  const bool newBurst =
      entry.lastFailure == Clock::time_point{} || now - entry.lastFailure >= settings_.burstGap;
  ++entry.failures;
  entry.lastFailure = now;
  ++entry.unreported;
  if (entry.users.size() < 16) entry.users.insert(user.substr(0, 64));
  if (newBurst || now - entry.lastReport >= settings_.reportInterval) return reportOf(address, &entry, now);
  return std::nullopt;
}

std::vector<LoginReport> LoginThrottle::due() {
  MutexLock lock(mu_);
  const Clock::time_point now = now_();
  std::vector<LoginReport> reports;
  for (auto& [address, entry] : entries_) {
    if (entry.unreported > 0 && now - entry.lastReport >= settings_.reportInterval) {
      reports.push_back(reportOf(address, &entry, now));
    }
  }
  forgetOld(now);
  return reports;
}
