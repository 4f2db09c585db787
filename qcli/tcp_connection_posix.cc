// BSD-socket implementation of the client's TCP connection. Sends never raise SIGPIPE, and every
// blocking call waits in poll() for at most the single-wait limit and never past the deadline, so
// neither a silent server nor one that trickles its answer a byte at a time can hang the client.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qcli/posix_socket.h"
#include "qcli/tcp_connection.h"

namespace qcli {

namespace {

using Clock = std::chrono::steady_clock;
using Wait = SocketWait;

class PosixConnection : public Connection {
 public:
  PosixConnection(int fd, Deadline deadline) : fd_(fd), deadline_(deadline) {}
  ~PosixConnection() override { ::close(fd_); }
  PosixConnection(const PosixConnection&) = delete;
  PosixConnection& operator=(const PosixConnection&) = delete;

  bool sendAll(std::string_view bytes, int* code) override {
    while (!bytes.empty()) {
      const Wait wait = waitForSocket(fd_, POLLOUT, deadline_);
      if (wait != Wait::kReady) {
        *code = wait == Wait::kError ? errno : (wait == Wait::kDeadline ? ETIMEDOUT : EAGAIN);
        return false;
      }
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) {
        *code = n < 0 ? errno : EPIPE;
        return false;
      }
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  Recv receive(char* buffer, size_t size, size_t* received, int* code) override {
    *received = 0;
    for (;;) {
      switch (waitForSocket(fd_, POLLIN, deadline_)) {
        case Wait::kReady:
          break;
        case Wait::kDeadline:
          return Recv::kDeadline;
        case Wait::kTimeOut:
          *code = EAGAIN;  // what a receive time-out of the socket reports
          return Recv::kError;
        case Wait::kError:
          *code = errno;
          return Recv::kError;
      }
      ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
      if (n > 0) {
        *received = static_cast<size_t>(n);
        return Recv::kData;
      }
      if (n == 0) return Recv::kClosed;
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      if (errno == ECONNRESET) return Recv::kReset;
      *code = errno;
      return Recv::kError;
    }
  }

 private:
  int fd_;
  Deadline deadline_;
};

// Dotted address first, then the resolver. Returns 0 or the resolver's code.
int resolve(const std::string& host, in_addr* address) {
  if (inet_pton(AF_INET, host.c_str(), address) == 1) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) return rc;
  *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return 0;
}

// Connects the non-blocking socket fd within the waits' limits. 0, or the error code.
int connectWithin(int fd, const sockaddr_in& peer, Deadline deadline) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  switch (waitForSocket(fd, POLLOUT, deadline)) {
    case Wait::kReady:
      break;
    case Wait::kError:
      return errno;
    default:
      return ETIMEDOUT;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace

SocketWait waitForSocket(int fd, short events, Deadline deadline) {
  for (;;) {
    // Rounded up: the deadline counts as passed only once it has, for every caller that looks at
    // the clock again afterwards (truncating left a part of a millisecond that others saw as time).
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Wait::kDeadline;
    const bool deadlineFirst = left <= kIoTimeoutSeconds * 1000LL;
    const int waitMs = deadlineFirst ? static_cast<int>(left) : kIoTimeoutSeconds * 1000;
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready > 0) return Wait::kReady;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Wait::kError;
    if (!deadlineFirst) return Wait::kTimeOut;
    // Woken a little early by the clock's rounding: look again.
  }
}

int openTcpSocket(const std::string& host, long port, Deadline deadline, NetFailure* failure) {
  in_addr address{};
  if (int rc = resolve(host, &address); rc != 0) {
    *failure = NetFailure{NetStep::kResolve, rc, {}, {}};
    return -1;
  }
  NetFailure connectFailure{NetStep::kConnect, 0, {}, {}};
  std::memcpy(connectFailure.address, &address, 4);
  if (port < 1 || port > 65535) {
    connectFailure.code = EINVAL;
    *failure = connectFailure;
    return -1;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *failure = NetFailure{NetStep::kSocket, errno, {}, {}};
    return -1;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  peer.sin_addr = address;
  if (const int error = connectWithin(fd, peer, deadline); error != 0) {
    ::close(fd);
    connectFailure.code = error;
    *failure = connectFailure;
    return -1;
  }
  return fd;
}

std::unique_ptr<Connection> connectTcp(const std::string& host, long port, Deadline deadline,
                                       NetFailure* failure) {
  const int fd = openTcpSocket(host, port, deadline, failure);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixConnection>(fd, deadline);
}

}  // namespace qcli
