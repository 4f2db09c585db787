// What the listeners do with each received datagram, cheapest check first, so that a datagram
// that is to be dropped costs as little as possible:
//  1. from one of this server's own addresses: dropped (not counted; multicast loops back);
//  2. over its source's budget (source_limiter.h): dropped;
//  3. with a site key: without a valid, fresh, first-seen trailer (packet_trailer.h): dropped;
//  4. not a packet: dropped;
//  5. the sender address inside differs from the datagram's real source: dropped; from here on
//     every decision uses an address that the datagram really came from;
//  6. a unit list or take-over from a server that has not checked in from that address: dropped;
//  7. a packet number already handled: dropped;
//  8. a check-in is recorded at once (a full server list refuses a new server); any other type
//     goes to its handler thread (unsupported types and a full handler table drop it).
// Every drop but the first is counted by reason (packet_drops.h).
//
// Thread safety: any number of listener threads at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "server/net/network_runtime.h"
#include "server/net/source_limiter.h"

void processDatagram(const NetworkSetup& setup, const uint8_t* data, size_t length, uint32_t source);

// Forgets the sources' budgets and the trailers seen (network start-up).
void resetReceiveState();
// The per-source budget (default SourceBudget()). For tests; takes effect at once.
void setSourceBudget(const SourceBudget& budget);
