// Frame transport over Winsock TCP connections; see sim_socket.h. Windows has no Unix sockets
// for our purpose, so a Windows server reaches raidsim through its TCP listener only.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>

#include "common/scsi/sim_address.h"
#include "common/scsi/sim_socket.h"
#include "common/winsock_init.h"

namespace {

SOCKET asSocket(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

// A TCP connect waits at most this long: the daemon is on the loopback or the LAN.
constexpr uint32_t kTcpConnectTimeoutMs = 5000;

int pollTimeout(SimDeadline deadline) {
  if (deadline == SimDeadline::max()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SimClock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left) + 1;
}

// The errno value closest to a Winsock error, for callers that print or classify errno.
int errnoFromWsa(int wsa) {
  switch (wsa) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
      return ECONNRESET;
    case WSAECONNREFUSED:
      return ECONNREFUSED;
    case WSAETIMEDOUT:
      return ETIMEDOUT;
    case WSAEWOULDBLOCK:
      return EAGAIN;
    case WSAEINVAL:
      return EINVAL;
    default:
      return EIO;
  }
}

SimIo waitFor(int fd, short events, SimDeadline deadline, int* error) {
  for (;;) {
    int timeout = pollTimeout(deadline);
    if (timeout == 0 && SimClock::now() >= deadline) return SimIo::kTimeout;
    WSAPOLLFD p{asSocket(fd), events, 0};
    int rc = WSAPoll(&p, 1, timeout);
    if (rc > 0) return SimIo::kOk;
    if (rc == 0) {
      if (SimClock::now() >= deadline) return SimIo::kTimeout;
      continue;
    }
    *error = errnoFromWsa(WSAGetLastError());
    return SimIo::kError;
  }
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) closesocket(asSocket(fd_));
  fd_ = fd;
}

UniqueFd connectSimSocket(const std::string& path, int* error) {
  std::string host;
  uint16_t port = 0;
  sockaddr_in peer{};
  if (!ensureWinsock() || !parseSimTcpAddress(path, &host, &port) ||
      inet_pton(AF_INET, host.c_str(), &peer.sin_addr) != 1) {
    *error = EINVAL;
    return UniqueFd();
  }
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    *error = errnoFromWsa(WSAGetLastError());
    return UniqueFd();
  }
  UniqueFd fd(static_cast<int>(s));
  u_long nonBlocking = 1;
  BOOL one = TRUE;
  (void)ioctlsocket(s, FIONBIO, &nonBlocking);
  (void)setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  if (connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) != 0) {
    const int wsa = WSAGetLastError();
    if (wsa != WSAEWOULDBLOCK && wsa != WSAEINPROGRESS) {
      *error = errnoFromWsa(wsa);
      return UniqueFd();
    }
    SimIo waited = waitFor(fd.get(), POLLWRNORM, deadlineAfterMs(kTcpConnectTimeoutMs), error);
    int soError = 0;
    int length = sizeof(soError);
    if (waited == SimIo::kTimeout) {
      *error = ETIMEDOUT;
      return UniqueFd();
    }
    if (waited != SimIo::kOk ||
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0 || soError != 0) {
      if (waited == SimIo::kOk) *error = soError != 0 ? errnoFromWsa(soError) : EIO;
      return UniqueFd();
    }
  }
  return fd;
}

SimIo writeAllBytes(int fd, const uint8_t* data, size_t length, SimDeadline deadline, int* error) {
  size_t done = 0;
  while (done < length) {
    const size_t left = length - done;
    const int chunk = left > 0x40000000u ? 0x40000000 : static_cast<int>(left);
    int n = send(asSocket(fd), reinterpret_cast<const char*>(data + done), chunk, 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    const int wsa = n < 0 ? WSAGetLastError() : WSAECONNRESET;
    if (wsa == WSAEWOULDBLOCK) {
      SimIo waited = waitFor(fd, POLLWRNORM, deadline, error);
      if (waited != SimIo::kOk) return waited;
      continue;
    }
    *error = errnoFromWsa(wsa);
    return *error == ECONNRESET ? SimIo::kClosed : SimIo::kError;
  }
  return SimIo::kOk;
}

SimIo readAllBytes(int fd, uint8_t* data, size_t length, SimDeadline deadline, size_t* got, int* error) {
  *got = 0;
  while (*got < length) {
    const size_t left = length - *got;
    const int chunk = left > 0x40000000u ? 0x40000000 : static_cast<int>(left);
    int n = recv(asSocket(fd), reinterpret_cast<char*>(data + *got), chunk, 0);
    if (n > 0) {
      *got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return SimIo::kClosed;
    const int wsa = WSAGetLastError();
    if (wsa == WSAEWOULDBLOCK) {
      SimIo waited = waitFor(fd, POLLRDNORM, deadline, error);
      if (waited != SimIo::kOk) return waited;
      continue;
    }
    *error = errnoFromWsa(wsa);
    return *error == ECONNRESET ? SimIo::kClosed : SimIo::kError;
  }
  return SimIo::kOk;
}

SimIo writeSimFrame(int fd, uint16_t op, uint32_t sequence, const std::vector<uint8_t>& payload,
                    SimDeadline deadline, int* error) {
  std::vector<uint8_t> frame = simwire::encodeFrame(op, sequence, {});
  const uint32_t length = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) frame[12 + i] = static_cast<uint8_t>(length >> (8 * i));
  // One buffer, one send: the peer wakes once (Winsock has no gathered send on a plain socket
  // call that keeps the non-blocking semantics simple).
  frame.insert(frame.end(), payload.begin(), payload.end());
  return writeAllBytes(fd, frame.data(), frame.size(), deadline, error);
}

bool simConnectionIsStale(int fd) {
  WSAPOLLFD p{asSocket(fd), POLLRDNORM, 0};
  int rc = WSAPoll(&p, 1, 0);
  return rc != 0;  // readable (EOF or stray bytes), hung up, or poll failed
}
