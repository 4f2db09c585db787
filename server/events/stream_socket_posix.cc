// POSIX back end of stream_socket.h: fcntl, poll(2), send(2) with MSG_NOSIGNAL, recv(2).
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "server/events/stream_socket.h"
#include "server/events/stream_socket_address.h"

SocketIo startConnect(const std::string& host, uint16_t port, SocketHandle* handle, std::string* error) {
  *handle = kInvalidSocket;
  sockaddr_in address{};
  if (!resolveStreamAddress(host, port, &address, error)) return SocketIo::kFailed;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = std::string("no socket: ") + std::strerror(errno);
    return SocketIo::kFailed;
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    *handle = fd;
    return SocketIo::kDone;
  }
  if (errno == EINPROGRESS) {
    *handle = fd;
    return SocketIo::kWouldBlock;
  }
  *error =
      std::string("connection to ") + host + " port " + std::to_string(port) + ": " + std::strerror(errno);
  close(fd);
  return SocketIo::kFailed;
}

SocketIo finishConnect(SocketHandle handle, std::string* error) {
  int code = 0;
  socklen_t length = sizeof code;
  if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &code, &length) != 0) code = errno;
  if (code == 0) return SocketIo::kDone;
  *error = std::string("connection failed: ") + std::strerror(code);
  return SocketIo::kFailed;
}

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
