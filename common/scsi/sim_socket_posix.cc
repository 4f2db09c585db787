// Frame transport over Unix stream sockets and TCP (POSIX); see sim_socket.h.
#include "common/scsi/sim_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/scsi/sim_address.h"

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

// Milliseconds left until deadline for poll(): -1 for no deadline, 0 once it passed.
int pollTimeout(SimDeadline deadline) {
  if (deadline == SimDeadline::max()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SimClock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left) + 1;
}

// Waits for events on fd; kOk when ready.
SimIo waitFor(int fd, short events, SimDeadline deadline, int* error) {
  for (;;) {
    int timeout = pollTimeout(deadline);
    if (timeout == 0 && SimClock::now() >= deadline) return SimIo::kTimeout;
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, timeout);
    if (rc > 0) return SimIo::kOk;
    if (rc == 0) {
      if (SimClock::now() >= deadline) return SimIo::kTimeout;
      continue;
    }
    if (errno == EINTR) continue;
    *error = errno;
    return SimIo::kError;
  }
}

}  // namespace

namespace {

// A TCP connect waits at most this long: the daemon is on the loopback or the LAN.
constexpr uint32_t kTcpConnectTimeoutMs = 5000;

UniqueFd connectTcp(const std::string& address, int* error) {
  std::string host;
  uint16_t port = 0;
  sockaddr_in peer{};
  if (!parseSimTcpAddress(address, &host, &port) || inet_pton(AF_INET, host.c_str(), &peer.sin_addr) != 1) {
    *error = EINVAL;
    return UniqueFd();
  }
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    *error = errno;
    return UniqueFd();
  }
  // Commands are small request/answer frames: no waiting for more bytes to fill a segment.
  int one = 1;
  (void)::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) != 0) {
    if (errno != EINPROGRESS) {
      *error = errno;
      return UniqueFd();
    }
    SimIo waited = waitFor(fd.get(), POLLOUT, deadlineAfterMs(kTcpConnectTimeoutMs), error);
    int soError = 0;
    socklen_t length = sizeof(soError);
    if (waited == SimIo::kTimeout) {
      *error = ETIMEDOUT;
      return UniqueFd();
    }
    if (waited != SimIo::kOk || ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0) {
      if (waited == SimIo::kOk) *error = soError != 0 ? soError : errno;
      return UniqueFd();
    }
  }
  return fd;
}

}  // namespace

UniqueFd connectSimSocket(const std::string& path, int* error) {
  if (isSimTcpAddress(path)) return connectTcp(path, error);
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof(address.sun_path)) {
    *error = ENAMETOOLONG;
    return UniqueFd();
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    *error = errno;
    return UniqueFd();
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  // A Unix-socket connect completes or fails at once (EAGAIN when the backlog is full).
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    *error = errno;
    return UniqueFd();
  }
  return fd;
}

SimIo writeAllBytes(int fd, const uint8_t* data, size_t length, SimDeadline deadline, int* error) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::send(fd, data + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      SimIo waited = waitFor(fd, POLLOUT, deadline, error);
      if (waited != SimIo::kOk) return waited;
      continue;
    }
    *error = n < 0 ? errno : EPIPE;
    return (*error == EPIPE || *error == ECONNRESET) ? SimIo::kClosed : SimIo::kError;
  }
  return SimIo::kOk;
}

SimIo readAllBytes(int fd, uint8_t* data, size_t length, SimDeadline deadline, size_t* got, int* error) {
  *got = 0;
  while (*got < length) {
    ssize_t n = ::recv(fd, data + *got, length - *got, MSG_DONTWAIT);
    if (n > 0) {
      *got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return SimIo::kClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      SimIo waited = waitFor(fd, POLLIN, deadline, error);
      if (waited != SimIo::kOk) return waited;
      continue;
    }
    *error = errno;
    return errno == ECONNRESET ? SimIo::kClosed : SimIo::kError;
  }
  return SimIo::kOk;
}

SimIo writeSimFrame(int fd, uint16_t op, uint32_t sequence, const std::vector<uint8_t>& payload,
                    SimDeadline deadline, int* error) {
  // Header and payload go out in one gathered send, so a large payload is not copied once more
  // and the peer wakes once.
  std::vector<uint8_t> header = simwire::encodeFrame(op, sequence, {});
  uint32_t length = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) header[12 + i] = static_cast<uint8_t>(length >> (8 * i));
  size_t total = header.size() + payload.size();
  size_t done = 0;
  while (done < total) {
    iovec parts[2];
    int count = 0;
    if (done < header.size()) parts[count++] = {header.data() + done, header.size() - done};
    size_t payloadDone = done > header.size() ? done - header.size() : 0;
    if (payloadDone < payload.size()) {
      parts[count++] = {const_cast<uint8_t*>(payload.data()) + payloadDone, payload.size() - payloadDone};
    }
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<size_t>(count);
    ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      SimIo waited = waitFor(fd, POLLOUT, deadline, error);
      if (waited != SimIo::kOk) return waited;
      continue;
    }
    *error = n < 0 ? errno : EPIPE;
    return (*error == EPIPE || *error == ECONNRESET) ? SimIo::kClosed : SimIo::kError;
  }
  return SimIo::kOk;
}

bool simConnectionIsStale(int fd) {
  pollfd p{fd, POLLIN, 0};
  int rc = ::poll(&p, 1, 0);
  return rc != 0;  // readable (EOF or stray bytes), hung up, or poll failed
}
