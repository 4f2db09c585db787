// The IPv4 address a stream notifier connects to, for both socket back ends.
#pragma once

#include <cstdint>
#include <string>

struct sockaddr_in;

// Resolves host (a name or a dotted address) to its first IPv4 address with port set. False with
// the reason in *error when it cannot be resolved.
bool resolveStreamAddress(const std::string& host, uint16_t port, sockaddr_in* address, std::string* error);
