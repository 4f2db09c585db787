// Delivery counts of the notification channels, for /metrics and the debug page. Each channel
// counts per receiver: what it handed over (sent), what a receiver refused or could not be reached
// for (failed), what it lost after taking it (dropped: a full backlog or on-disk queue; the
// dispatcher counts records its full queues refused on its own), what waits in its own backlog or
// on-disk queue (waiting), and the notices that de-duplication held back (suppressed).
//
// The counts are kept from the program's start, over restarts of the main loop, for the channels
// of the server's table ("kvlog", "oslog", "email", "snmp", "syslog", "webhook"); other names are
// ignored, so test dispatchers with their own channels count nothing.
//
// Thread safety: every function may be called from any thread (atomics).
#pragma once

#include <cstdint>

struct NotifierCounts {
  uint64_t sent = 0;
  uint64_t failed = 0;
  uint64_t dropped = 0;
  uint64_t suppressed = 0;
  uint64_t waiting = 0;
};

void countNotifierSent(const char* channel, uint64_t count = 1);
void countNotifierFailed(const char* channel, uint64_t count = 1);
void countNotifierDropped(const char* channel, uint64_t count = 1);
void countNotifierSuppressed(const char* channel, uint64_t count = 1);
// The number of notices waiting in the channel's own backlog (beyond its dispatcher queue).
void setNotifierWaiting(const char* channel, uint64_t waiting);

// Zeros for an unknown channel.
NotifierCounts notifierCounts(const char* channel);
// Back to zero (tests).
void resetNotifierCounts();
