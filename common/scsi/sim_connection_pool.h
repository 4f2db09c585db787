// Pool of idle connections to raidsim daemons, keyed by socket path, and the one request/reply
// exchange that every simulator call goes through. Internal to the simulator back end.
//
// Thread safety: all functions may be called from any thread; a connection is used by one thread
// at a time (it is out of the pool while in use).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/scsi/sim_socket.h"

enum class SimExchange {
  kOk,
  kUnreachable,  // no daemon at the socket (connect failed) or the connection broke
  kTimeout,      // no whole reply before the deadline
  kBadReply,     // the reply is not a valid frame or belongs to another request
};

// Sends one request frame and reads its reply. A pooled connection that turns out to be closed
// before any reply byte arrives is replaced by a new one and the request is sent once more.
// On kOk *reply holds the reply frame (op checked to be op | reply bit, or the error op).
SimExchange simExchange(const std::string& socket, uint16_t op, const std::vector<uint8_t>& payload,
                        SimDeadline deadline, SimFrame* reply, int* error);

void dropPooledSimConnections();
// Frees the pool itself. Only for a plug-in library about to be unloaded; nothing may use the pool
// afterwards.
void releaseSimConnectionPoolStorage();
