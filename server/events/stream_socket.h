// The socket controls that the notifiers' stream connections (SMTP, syslog over TCP and TLS) need
// beyond the socket layer: non-blocking mode, bounded waits for readiness, and single sends and
// receives that tell "would block" from failure. Kept apart so that the connection logic reads the
// same on every platform (stream_socket_posix.cc is the POSIX back end).
//
// Thread safety: stateless; any thread, on a socket that thread owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/net/socket_layer.h"

enum class SocketIo { kDone, kWouldBlock, kClosed, kFailed };

// Resolves host (a name or dotted address, first IPv4 address) and starts a TCP connection on a new
// non-blocking socket in *handle. kDone when connected at once, kWouldBlock while the connection is
// under way (wait for writing, then finishConnect), kFailed with *error set (and no socket).
SocketIo startConnect(const std::string& host, uint16_t port, SocketHandle* handle, std::string* error);
// After startConnect's kWouldBlock and a wait for writing: kDone when connected, kFailed with
// *error set (the socket stays the caller's to close).
SocketIo finishConnect(SocketHandle handle, std::string* error);
// Puts handle into non-blocking mode. False when that failed.
bool setSocketNonBlocking(SocketHandle handle);
// Waits up to timeoutMs until handle can be read (forWrite false) or written (true). kDone when
// ready (an error or hang-up counts as ready: the next call reports it), kWouldBlock on time-out.
SocketIo waitForSocket(SocketHandle handle, bool forWrite, int timeoutMs);
// One send of up to size bytes; *sent holds how many went. Never raises SIGPIPE.
SocketIo sendSome(SocketHandle handle, const char* data, size_t size, size_t* sent);
// One receive of up to size bytes; kClosed when the peer ended the stream.
SocketIo receiveSome(SocketHandle handle, char* buffer, size_t size, size_t* received);

// After a datagram was sent on a connected UDP socket: waits up to waitMs for the host's answer
// that nothing listens on the peer's port (ICMP port unreachable). True when that came; false
// when nothing came (which proves no delivery, only that no refusal arrived).
bool datagramRefused(SocketHandle handle, int waitMs);
