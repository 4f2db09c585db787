// Delivery counts of the notification channels; see notifier_stats.h.
#include "server/events/notifier_stats.h"

#include <atomic>
#include <cstring>

namespace {

constexpr const char* kChannels[] = {"kvlog", "oslog", "email", "snmp", "syslog", "webhook"};
constexpr int kChannelCount = sizeof(kChannels) / sizeof(kChannels[0]);

struct Counters {
  std::atomic<uint64_t> sent{0};
  std::atomic<uint64_t> failed{0};
  std::atomic<uint64_t> dropped{0};
  std::atomic<uint64_t> suppressed{0};
  std::atomic<uint64_t> waiting{0};
};

Counters gCounters[kChannelCount];

Counters* countersOf(const char* channel) {
  if (channel == nullptr) return nullptr;
  for (int i = 0; i < kChannelCount; ++i) {
    if (std::strcmp(kChannels[i], channel) == 0) return &gCounters[i];
  }
  return nullptr;
}

}  // namespace

void countNotifierSent(const char* channel, uint64_t count) {
  if (Counters* c = countersOf(channel)) c->sent.fetch_add(count);
}

void countNotifierFailed(const char* channel, uint64_t count) {
  if (Counters* c = countersOf(channel)) c->failed.fetch_add(count);
}

void countNotifierDropped(const char* channel, uint64_t count) {
  if (Counters* c = countersOf(channel)) c->dropped.fetch_add(count);
}

void countNotifierSuppressed(const char* channel, uint64_t count) {
  if (Counters* c = countersOf(channel)) c->suppressed.fetch_add(count);
}

void setNotifierWaiting(const char* channel, uint64_t waiting) {
  if (Counters* c = countersOf(channel)) c->waiting.store(waiting);
}

NotifierCounts notifierCounts(const char* channel) {
  NotifierCounts counts;
  if (const Counters* c = countersOf(channel)) {
    counts.sent = c->sent.load();
    counts.failed = c->failed.load();
    counts.dropped = c->dropped.load();
    counts.suppressed = c->suppressed.load();
    counts.waiting = c->waiting.load();
  }
  return counts;
}

void resetNotifierCounts() {
  for (Counters& c : gCounters) {
    c.sent.store(0);
    c.failed.store(0);
    c.dropped.store(0);
    c.suppressed.store(0);
    c.waiting.store(0);
  }
}
