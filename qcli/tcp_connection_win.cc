// Winsock implementation of the client's TCP connection. Every blocking call waits in WSAPoll
// for at most the single-wait limit and never past the deadline, so neither a silent server nor
// one that trickles its answer can hang the client; the codes reported are Winsock's (WSAE...),
// which is what a Windows administrator looks up.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstring>

#include "common/winsock_init.h"
#include "qcli/tcp_connection.h"

namespace qcli {

namespace {

using Clock = std::chrono::steady_clock;

enum class Wait { kReady, kTimeOut, kDeadline, kError };

// Waits for events on s: at most kIoTimeoutSeconds, and never beyond the deadline.
Wait waitFor(SOCKET s, short events, Deadline deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Wait::kDeadline;
    const bool deadlineFirst = left <= kIoTimeoutSeconds * 1000LL;
    const int waitMs = deadlineFirst ? static_cast<int>(left) : kIoTimeoutSeconds * 1000;
    WSAPOLLFD p{s, events, 0};
    const int ready = WSAPoll(&p, 1, waitMs);
    if (ready > 0) return Wait::kReady;
    if (ready < 0) return Wait::kError;
    if (!deadlineFirst) return Wait::kTimeOut;
  }
}

class WinConnection : public Connection {
 public:
  WinConnection(SOCKET s, Deadline deadline) : socket_(s), deadline_(deadline) {}
  ~WinConnection() override { closesocket(socket_); }
  WinConnection(const WinConnection&) = delete;
  WinConnection& operator=(const WinConnection&) = delete;

  bool sendAll(std::string_view bytes, int* code) override {
    while (!bytes.empty()) {
      const Wait wait = waitFor(socket_, POLLWRNORM, deadline_);
      if (wait != Wait::kReady) {
        *code = wait == Wait::kError ? WSAGetLastError() : WSAETIMEDOUT;
        return false;
      }
      const int chunk = bytes.size() > 0x40000000u ? 0x40000000 : static_cast<int>(bytes.size());
      int n = send(socket_, bytes.data(), chunk, 0);
      if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      if (n <= 0) {
        *code = n < 0 ? WSAGetLastError() : WSAECONNRESET;
        return false;
      }
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  Recv receive(char* buffer, size_t size, size_t* received, int* code) override {
    *received = 0;
    for (;;) {
      switch (waitFor(socket_, POLLRDNORM, deadline_)) {
        case Wait::kReady:
          break;
        case Wait::kDeadline:
          return Recv::kDeadline;
        case Wait::kTimeOut:
          *code = WSAETIMEDOUT;  // what a receive time-out of the socket reports
          return Recv::kError;
        case Wait::kError:
          *code = WSAGetLastError();
          return Recv::kError;
      }
      const int chunk = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
      int n = recv(socket_, buffer, chunk, 0);
      if (n > 0) {
        *received = static_cast<size_t>(n);
        return Recv::kData;
      }
      if (n == 0) return Recv::kClosed;
      const int error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) continue;
      if (error == WSAECONNRESET) return Recv::kReset;
      *code = error;
      return Recv::kError;
    }
  }

 private:
  SOCKET socket_;
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

// Connects the non-blocking socket within the waits' limits. 0, or the Winsock error code.
int connectWithin(SOCKET s, const sockaddr_in& peer, Deadline deadline) {
  if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
  const int started = WSAGetLastError();
  if (started != WSAEWOULDBLOCK) return started;
  switch (waitFor(s, POLLWRNORM, deadline)) {
    case Wait::kReady:
      break;
    case Wait::kError:
      return WSAGetLastError();
    default:
      return WSAETIMEDOUT;
  }
  int error = 0;
  int length = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
    return WSAGetLastError();
  return error;
}

}  // namespace

std::unique_ptr<Connection> connectTcp(const std::string& host, long port, Deadline deadline,
                                       NetFailure* failure) {
  if (!ensureWinsock()) {
    *failure = NetFailure{NetStep::kSocket, WSASYSNOTREADY, {}};
    return nullptr;
  }
  in_addr address{};
  if (int rc = resolve(host, &address); rc != 0) {
    *failure = NetFailure{NetStep::kResolve, rc, {}};
    return nullptr;
  }
  NetFailure connectFailure{NetStep::kConnect, 0, {}};
  std::memcpy(connectFailure.address, &address, 4);
  if (port < 1 || port > 65535) {
    connectFailure.code = WSAEINVAL;
    *failure = connectFailure;
    return nullptr;
  }
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    *failure = NetFailure{NetStep::kSocket, WSAGetLastError(), {}};
    return nullptr;
  }
  auto connection = std::make_unique<WinConnection>(s, deadline);
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  peer.sin_addr = address;
  if (const int error = connectWithin(s, peer, deadline); error != 0) {
    connectFailure.code = error;
    *failure = connectFailure;
    return nullptr;
  }
  return connection;
}

}  // namespace qcli
