// Why received datagrams were dropped: one counter per reason for the diagnostic page and the
// metrics, and the warning event that tells the administrator that someone on the network sends
// packets this server refuses (at most one a minute, naming the source address).
//
// Reasons that only mean normal traffic (a copy that arrived twice, a type this server doesn't
// handle, all handlers busy, junk that isn't a packet) are counted but raise no event; the
// others ("rejected" reasons) point at a forger, a replay, a wrong key or a wrong clock.
//
// Thread safety: counting and reading may happen on any thread at any time (atomics; the event
// limit has a lock of its own).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "common/thread_annotations.h"
#include "common/variable_table.h"

enum class DropReason : int {
  kRateLimited,      // the source sent more than its share
  kMalformed,        // not a packet, or its lengths disagree
  kUnauthenticated,  // a site key is set and the datagram carries no trailer
  kUnknownKey,       // the trailer names a key this server does not accept
  kBadMac,           // the trailer's MAC does not match: forged or altered
  kStale,            // the trailer's send time is outside the window (or the clocks differ)
  kReplay,           // the datagram was accepted before
  kAddressMismatch,  // the sender address inside differs from the datagram's source
  kUnknownSender,    // a unit list or take-over from a server that has not checked in from there
  kServerListFull,   // a check-in from a new server while the server list is full
  kDuplicate,        // a packet number already handled (a copy out of another interface)
  kUnsupported,      // a request type this server does not handle
  kBusy,             // every packet handler was busy
  kCount
};
inline constexpr int kDropReasonCount = static_cast<int>(DropReason::kCount);

// The reason's label in the metrics and on the diagnostic page ("rate_limited", "malformed",
// "unauthenticated", "unknown_key", "bad_mac", "stale", "replay", "address_mismatch",
// "unknown_sender", "server_list_full", "duplicate", "unsupported", "busy"). Static text.
const char* dropReasonName(DropReason reason);
// True for the reasons that raise the warning event.
bool isRejection(DropReason reason);

// Counts one drop of a datagram from source (host order); for a rejection, raises the warning
// event unless one was raised in the last minute.
void countPacketDrop(DropReason reason, uint32_t source);
uint64_t packetDropCount(DropReason reason);
// Sets every counter to zero and allows the next event at once (network start-up, tests).
void resetPacketDrops();

// Rows "NetDropLoop%dReason" and "NetDropLoop%dCount" with "NetDropLoop" (diagnostic page).
void addPacketDropRows(VariableTable* reply);

// The event's limit: the first call and then the first call after each period say yes.
class EventLimiter {
 public:
  explicit EventLimiter(std::chrono::steady_clock::duration period) : period_(period) {}
  bool allow(std::chrono::steady_clock::time_point now);
  void reset();

 private:
  std::chrono::steady_clock::duration period_;
  Mutex mutex_;
  bool raised_ GUARDED_BY(mutex_) = false;
  std::chrono::steady_clock::time_point last_ GUARDED_BY(mutex_);
};
