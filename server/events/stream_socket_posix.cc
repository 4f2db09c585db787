// POSIX back end of stream_socket.h: fcntl, poll(2), send(2) with MSG_NOSIGNAL, recv(2).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "server/events/stream_socket.h"

bool setSocketNonBlocking(SocketHandle handle) {
  const int flags = fcntl(handle, F_GETFL, 0);
  return flags >= 0 && fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}

SocketIo waitForSocket(SocketHandle handle, bool forWrite, int timeoutMs) {
  if (handle == kInvalidSocket) return SocketIo::kFailed;
  pollfd entry{handle, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  int ready;
  do {
    ready = poll(&entry, 1, timeoutMs < 0 ? 0 : timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0 || (entry.revents & POLLNVAL) != 0) return SocketIo::kFailed;
  return ready == 0 ? SocketIo::kWouldBlock : SocketIo::kDone;
}

SocketIo sendSome(SocketHandle handle, const char* data, size_t size, size_t* sent) {
  *sent = 0;
  ssize_t n;
  do {
    n = send(handle, data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? SocketIo::kWouldBlock : SocketIo::kFailed;
  *sent = static_cast<size_t>(n);
  return SocketIo::kDone;
}

SocketIo receiveSome(SocketHandle handle, char* buffer, size_t size, size_t* received) {
  *received = 0;
  ssize_t n;
  do {
    n = recv(handle, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? SocketIo::kWouldBlock : SocketIo::kFailed;
  if (n == 0) return SocketIo::kClosed;
  *received = static_cast<size_t>(n);
  return SocketIo::kDone;
}

bool datagramRefused(SocketHandle handle, int waitMs) {
  if (waitForSocket(handle, false, waitMs) != SocketIo::kDone) return false;
  char byte;
  const ssize_t n = recv(handle, &byte, 1, MSG_DONTWAIT);
  return n < 0 && errno == ECONNREFUSED;
}
