// POSIX back end of email_socket_wait.h: poll(2) and SO_SNDTIMEO.
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

#include "server/events/email_socket_wait.h"

SocketWait waitForSocketData(SocketHandle handle, int timeoutMs) {
  if (handle == kInvalidSocket) return SocketWait::kFailed;
  pollfd entry{handle, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, timeoutMs < 0 ? 0 : timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return SocketWait::kFailed;
  if (ready == 0) return SocketWait::kTimedOut;
  // POLLHUP and POLLERR count as ready: the receive that follows reports the end or the error.
  return (entry.revents & POLLNVAL) != 0 ? SocketWait::kFailed : SocketWait::kReady;
}

bool setSocketSendTimeout(SocketHandle handle, int timeoutMs) {
  if (handle == kInvalidSocket) return false;
  const int ms = timeoutMs > 0 ? timeoutMs : 1;
  timeval limit{ms / 1000, static_cast<suseconds_t>((ms % 1000) * 1000)};
  return setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}
