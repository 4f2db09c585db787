// BSD-socket implementation of the client's TCP connection. Sends never raise SIGPIPE, and every
// blocking call has a time-out so a silent server cannot hang the client for ever.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "qcli/tcp_connection.h"

namespace qcli {

namespace {

// Long enough for the slowest server command (the server gives up on a request after 40 s).
constexpr int kIoTimeoutSeconds = 120;

class PosixConnection : public Connection {
 public:
  explicit PosixConnection(int fd) : fd_(fd) {}
  ~PosixConnection() override { ::close(fd_); }
  PosixConnection(const PosixConnection&) = delete;
  PosixConnection& operator=(const PosixConnection&) = delete;

  bool sendAll(std::string_view bytes, int* code) override {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
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
      ssize_t n = ::recv(fd_, buffer, size, 0);
      if (n > 0) {
        *received = static_cast<size_t>(n);
        return Recv::kData;
      }
      if (n == 0) return Recv::kClosed;
      if (errno == EINTR) continue;
      if (errno == ECONNRESET) return Recv::kReset;
      *code = errno;
      return Recv::kError;
    }
  }

 private:
  int fd_;
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

void setTimeouts(int fd) {
  timeval tv{};
  tv.tv_sec = kIoTimeoutSeconds;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

std::unique_ptr<Connection> connectTcp(const std::string& host, long port, NetFailure* failure) {
  in_addr address{};
  if (int rc = resolve(host, &address); rc != 0) {
    *failure = NetFailure{NetStep::kResolve, rc, {}};
    return nullptr;
  }
  NetFailure connectFailure{NetStep::kConnect, 0, {}};
  std::memcpy(connectFailure.address, &address, 4);
  if (port < 1 || port > 65535) {
    connectFailure.code = EINVAL;
    *failure = connectFailure;
    return nullptr;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *failure = NetFailure{NetStep::kSocket, errno, {}};
    return nullptr;
  }
  auto connection = std::make_unique<PosixConnection>(fd);
  setTimeouts(fd);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  peer.sin_addr = address;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    connectFailure.code = errno;
    *failure = connectFailure;
    return nullptr;
  }
  return connection;
}

}  // namespace qcli
