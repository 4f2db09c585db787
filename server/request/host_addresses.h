// The host's own network identity as the operating system reports it: its IPv4 interface
// addresses and its host name. The one place that asks the platform; everything else goes
// through local_addresses.h.
//
// Thread safety: any thread; no state is kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Up to max IPv4 addresses of the host's interfaces that are up, in the order the system lists
// them, host byte order, without duplicates, loopback and 0.0.0.0. Empty when they cannot be read.
std::vector<uint32_t> hostIpv4Addresses(int max);
// The host name, or an empty text when it cannot be read.
std::string hostName();
