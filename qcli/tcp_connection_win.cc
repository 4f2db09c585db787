// Winsock implementation of the client's TCP connection. Every blocking call has a time-out so
// a silent server cannot hang the client for ever; the codes reported are Winsock's (WSAE...),
// which is what a Windows administrator looks up.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "common/winsock_init.h"
#include "qcli/tcp_connection.h"

namespace qcli {

namespace {

// Long enough for the slowest server command (the server gives up on a request after 40 s).
constexpr DWORD kIoTimeoutMs = 120 * 1000;

class WinConnection : public Connection {
 public:
  explicit WinConnection(SOCKET s) : socket_(s) {}
  ~WinConnection() override { closesocket(socket_); }
  WinConnection(const WinConnection&) = delete;
  WinConnection& operator=(const WinConnection&) = delete;

  bool sendAll(std::string_view bytes, int* code) override {
    while (!bytes.empty()) {
      const int chunk = bytes.size() > 0x40000000u ? 0x40000000 : static_cast<int>(bytes.size());
      int n = send(socket_, bytes.data(), chunk, 0);
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
    const int chunk = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
    int n = recv(socket_, buffer, chunk, 0);
    if (n > 0) {
      *received = static_cast<size_t>(n);
      return Recv::kData;
    }
    if (n == 0) return Recv::kClosed;
    const int error = WSAGetLastError();
    if (error == WSAECONNRESET) return Recv::kReset;
    *code = error;
    return Recv::kError;
  }

 private:
  SOCKET socket_;
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

void setTimeouts(SOCKET s) {
  const DWORD timeout = kIoTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
}

}  // namespace

std::unique_ptr<Connection> connectTcp(const std::string& host, long port, NetFailure* failure) {
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
  auto connection = std::make_unique<WinConnection>(s);
  setTimeouts(s);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  peer.sin_addr = address;
  if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    connectFailure.code = WSAGetLastError();
    *failure = connectFailure;
    return nullptr;
  }
  return connection;
}

}  // namespace qcli
