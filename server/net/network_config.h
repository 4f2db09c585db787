// What the server network is configured with and how it picks its own addresses: the multicast
// group and port and the unicast partners from db/IP.db, the periods of the protocol, and the
// choice of the local addresses the network sends from and listens on.
//
// Thread safety: readNetworkConfig reads the settings table through the VariableTable lock;
// the timings are atomics (set by tests before the network starts); the rest is pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/variable_table.h"

inline constexpr uint16_t kDefaultMulticastPort = 9191;
// The unicast partner slots of the preferences page ("IP1" to "IP10").
inline constexpr int kUnicastSlots = 10;

// Bounds of "MaxServers" (the server list's capacity).
inline constexpr long kMaxServersLimit = 4096;

struct NetworkConfig {
  uint16_t port = kDefaultMulticastPort;  // "MulticastPort"; absent, 0 or unreadable: 9191
  std::string group;                      // "IP0"; empty: no multicast
  std::vector<std::string> unicast;       // "IP1", "IP2", ... in order, dotted texts
  size_t maxServers = 256;                // "MaxServers": 1-4096; absent or unreadable: 256
};

// Reads the configuration from the IP settings table (*ipSettings may be null). "IP0" that is
// absent, empty or "(missing)" means no multicast. The unicast partners are "IP1" to "IP10"
// skipping empty slots (the preferences page removes a cleared field's key), then "IP11" on while
// present. "MaxServers" outside 1-4096 is reported on the console and the default is used.
NetworkConfig readNetworkConfig(const VariableTable* ipSettings);

// The periods of the protocol. Defaults as the protocol fixes them; tests shorten them.
struct NetworkTimings {
  int checkInPeriodMs = 10000;  // the ambassador's pass
  int ambassadorStepMs = 50;    // its sleep step
  int silenceMs = 20000;        // a server silent for longer is released
  int claimWaitMs = 5000;       // a list send claims still-unclaimed units after this
  int claimWaitStepMs = 100;
  int senderRetryMs = 50;  // between attempts to start the claim wait
  int forgetMs = 600000;   // a server silent for longer leaves the server list
};
NetworkTimings networkTimings();
// For tests only; takes effect for threads started afterwards.
void setNetworkTimings(const NetworkTimings& timings);

// The local addresses the network uses (at most 10, host order): the resolver's addresses of the
// host name that are configured on an interface that is up (loopback excluded), in resolver
// order; when none is left, the interfaces' addresses in their order; when there are none of
// those either, the resolver's list as it is.
std::vector<uint32_t> chooseLocalAddresses(const std::vector<uint32_t>& resolver,
                                           const std::vector<uint32_t>& interfaces);
