// The authentication trailer that servers with a site key append to every datagram they send,
// and its check on receipt.
//
// Trailer (56 bytes, after the complete packet; integers big-endian):
//   0  4  "KNA1"
//   4  4  key id of the signing key (network_key.h)
//   8  8  send time, milliseconds since 1970 (UTC)
//  16  8  random bytes, so that no two datagrams are alike (the same packet sent to the group and
//         to a partner gets two trailers)
//  24 32  HMAC-SHA256 under the key of the packet and the trailer's first 24 bytes
//
// A datagram passes when it ends in a trailer of an accepted key whose MAC matches, whose send
// time lies within the window around the receiver's clock, and which has not been seen before.
// Accepted trailers are remembered for as long as their send time lies within the window, so
// that a replayed datagram is refused whatever its timing.
//
// Thread safety: appendTrailer is pure; a TrailerVerifier may be used by any number of threads
// (its replay memory has a lock of its own).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "common/thread_annotations.h"
#include "server/net/network_key.h"

inline constexpr size_t kTrailerSize = 56;
inline constexpr char kTrailerMagic[4] = {'K', 'N', 'A', '1'};
// Accepted difference between the sender's and the receiver's clocks, each way.
inline constexpr int64_t kTrailerWindowMs = 30000;

// Appends a trailer signed with key and stamped sendTimeMs to *datagram. False (datagram
// unchanged) when the random source or the MAC library failed.
[[nodiscard]] bool appendTrailer(std::vector<uint8_t>* datagram, const NetworkKey& key, uint64_t sendTimeMs);

enum class TrailerCheck {
  kOk,
  kMissing,     // the datagram does not end in a trailer
  kUnknownKey,  // signed with a key this server does not accept
  kBadMac,      // the MAC does not match: forged or altered
  kStale,       // send time outside the window
  kReplay,      // the very same datagram was accepted before
};

class TrailerVerifier {
 public:
  // windowMs: accepted clock difference each way; capacity: trailers remembered at most (the
  // oldest are forgotten first when a flood of valid datagrams exceeds it).
  explicit TrailerVerifier(int64_t windowMs = kTrailerWindowMs, size_t capacity = 65536);

  // Checks the datagram's trailer against keys at the receiver's time nowMs. On kOk,
  // *packetLength is the length of the packet before the trailer and the trailer is remembered.
  TrailerCheck verify(const uint8_t* datagram, size_t length, const NetworkKeySet& keys, uint64_t nowMs,
                      size_t* packetLength);

  // Forgets every remembered trailer.
  void clear();
  size_t remembered();

 private:
  struct Seen {
    MacValue mac;
    uint64_t sendTimeMs;
  };
  struct MacHash {
    size_t operator()(const MacValue& mac) const;
  };
  void forgetOld(uint64_t nowMs) REQUIRES(mutex_);

  int64_t windowMs_;
  size_t capacity_;
  Mutex mutex_;
  std::deque<Seen> order_ GUARDED_BY(mutex_);                      // in order of acceptance
  std::unordered_set<MacValue, MacHash> macs_ GUARDED_BY(mutex_);  // the same MACs
};

// Milliseconds since 1970 of the system clock.
uint64_t wallClockMs();
