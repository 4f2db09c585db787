// The per-source budget of received datagrams: a token bucket for each source address, checked
// by the listeners before any other work, so that one host flooding the network port costs this
// server next to nothing and cannot crowd out the other servers. A server sends a few packets
// every ten seconds and short bursts around start-up and claim conflicts; the default budget is
// far above that.
//
// The table of sources is bounded: when it is full, the source seen least recently is forgotten
// (a forgotten source starts again with a full bucket, which is what an idle source has anyway).
//
// Thread safety: any thread; one lock of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "common/thread_annotations.h"

struct SourceBudget {
  double burst = 100;     // datagrams a source may send at once
  double perSecond = 20;  // and then per second
  size_t sources = 1024;  // sources tracked at most
};

class SourceLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SourceLimiter(const SourceBudget& budget = SourceBudget()) : budget_(budget) {}

  // True when a datagram from source (host order) at now fits its budget (and takes a token).
  bool allow(uint32_t source, Clock::time_point now);
  // Replaces the budget and forgets every source.
  void reset(const SourceBudget& budget);
  size_t trackedSources();

 private:
  struct Bucket {
    double tokens;
    Clock::time_point updated;
  };
  void makeRoom() REQUIRES(mutex_);

  Mutex mutex_;
  SourceBudget budget_ GUARDED_BY(mutex_);
  std::unordered_map<uint32_t, Bucket> buckets_ GUARDED_BY(mutex_);
};
