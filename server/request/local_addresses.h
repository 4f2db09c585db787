// This server's own IPv4 addresses and names, as the request side needs them: to tell local
// requests from remote ones (isLocalAddress) and to show this server on the network bar.
//
// The network communicator hands over the addresses it listens on with setLocalAddresses; until
// it has done so (or after clearLocalAddresses) the host's interface addresses are gathered once
// and used instead.
//
// Thread safety: any thread; the list is guarded by an internal lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kMaxLocalAddresses = 10;

// Replaces the list with the first kMaxLocalAddresses nonzero entries of addresses (host byte
// order). addresses is borrowed for the call. A count of 0 leaves an empty list (only the
// loopback texts are then local).
void setLocalAddresses(const uint32_t* addresses, int count);
// Forgets the list; the next query gathers the host's addresses again.
void clearLocalAddresses();
// Snapshot of the list (host byte order).
std::vector<uint32_t> localAddresses();

// Dotted text, most significant byte first.
std::string dottedAddress(uint32_t hostOrder);
// Parses a strict dotted IPv4 text (four decimal parts 0-255, no sign, no spaces). Returns false
// for anything else; *hostOrder is then unchanged.
bool parseStrictDottedAddress(const char* text, uint32_t* hostOrder);

// The first own address in dotted form, or "127.0.0.1" when the server knows none.
std::string serverIpText();
// The host name, or "localhost" when it cannot be read.
std::string serverHostName();
