// Per-source budget of received datagrams; see source_limiter.h.
#include "server/net/source_limiter.h"

#include <algorithm>

#include "common/thread_annotations.h"

bool SourceLimiter::allow(uint32_t source, Clock::time_point now) {
  MutexLock lock(mutex_);
  auto found = buckets_.find(source);
  if (found == buckets_.end()) {
    if (buckets_.size() >= budget_.sources) makeRoom();
    found = buckets_.emplace(source, Bucket{budget_.burst, now}).first;
  }
  Bucket& bucket = found->second;
  const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
  if (elapsed > 0) {
    bucket.tokens = std::min(budget_.burst, bucket.tokens + elapsed * budget_.perSecond);
    bucket.updated = now;
  }
  if (bucket.tokens < 1) return false;
  bucket.tokens -= 1;
  return true;
}

void SourceLimiter::makeRoom() {
  auto oldest = buckets_.begin();
  for (auto it = buckets_.begin(); it != buckets_.end(); ++it) {
    if (it->second.updated < oldest->second.updated) oldest = it;
  }
  if (oldest != buckets_.end()) buckets_.erase(oldest);
}

void SourceLimiter::reset(const SourceBudget& budget) {
  MutexLock lock(mutex_);
  budget_ = budget;
  budget_.sources = std::max<size_t>(1, budget_.sources);
  buckets_.clear();
}

size_t SourceLimiter::trackedSources() {
  MutexLock lock(mutex_);
  return buckets_.size();
}
