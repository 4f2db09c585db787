// Reverse name look-up of a remote user's address, bounded in time: the first request of a new
// web user waits for it, so a slow or unreachable name service must not hold the request long.
//
// The platform's resolver cannot be interrupted; a look-up that outlives its time limit goes on
// in the background and its answer is dropped. Only a few such look-ups run at once; beyond that
// the answer is "no name" at once.
//
// Thread safety: any thread.
#pragma once

#include <optional>
#include <string>

inline constexpr int kMaxPendingReverseLookups = 4;

// The host name registered for address (a numeric IPv4 or IPv6 text), or nothing when there is
// none, address is not numeric, or no answer came within timeoutMs.
std::optional<std::string> reverseLookup(const std::string& address, int timeoutMs);
