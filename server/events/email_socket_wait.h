// The two socket controls the SMTP client needs beyond the socket layer: waiting a bounded time
// for data to read, and bounding how long one send may block. Kept apart so that the client's
// logic reads the same on every platform (email_socket_wait_posix.cc is the POSIX back end).
//
// Thread safety: stateless; any thread, on a socket that thread owns.
#pragma once

#include "server/net/socket_layer.h"

enum class SocketWait { kReady, kTimedOut, kFailed };

// Waits up to timeoutMs (at least 0) until handle has data to read or the peer closed it.
SocketWait waitForSocketData(SocketHandle handle, int timeoutMs);

// Makes a send on handle that cannot go on within timeoutMs fail instead of blocking. Returns
// false when the option could not be set.
bool setSocketSendTimeout(SocketHandle handle, int timeoutMs);
