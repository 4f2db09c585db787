// Winsock back end of stream_socket.h: non-blocking connect, ioctlsocket(FIONBIO), WSAPoll, send, recv.
#include <winsock2.h>
// after winsock2.h
#include <ws2tcpip.h>

#include <string>

#include "server/events/stream_socket.h"
#include "server/events/stream_socket_address.h"

namespace {

SOCKET native(SocketHandle handle) { return static_cast<SOCKET>(static_cast<uintptr_t>(handle)); }

int chunkOf(size_t size) { return size > 0x40000000u ? 0x40000000 : static_cast<int>(size); }

std::string winsockText(int code) { return "Winsock error " + std::to_string(code); }

}  // namespace

SocketIo startConnect(const std::string& host, uint16_t port, SocketHandle* handle, std::string* error) {
  *handle = kInvalidSocket;
  sockaddr_in address{};
  if (!resolveStreamAddress(host, port, &address, error)) return SocketIo::kFailed;
  // Not inherited by the programs the server starts, as SOCK_CLOEXEC does on POSIX.
  const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    *error = "no socket: " + winsockText(WSAGetLastError());
    return SocketIo::kFailed;
  }
  const SocketHandle fd = static_cast<SocketHandle>(s);
  if (!setSocketNonBlocking(fd)) {
    *error = "no socket: " + winsockText(WSAGetLastError());
    closesocket(s);
    return SocketIo::kFailed;
  }
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    *handle = fd;
    return SocketIo::kDone;
  }
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) {
    *handle = fd;
    return SocketIo::kWouldBlock;
  }
  *error = "connection to " + host + " port " + std::to_string(port) + ": " + winsockText(code);
  closesocket(s);
  return SocketIo::kFailed;
}

SocketIo finishConnect(SocketHandle handle, std::string* error) {
  int code = 0;
  int length = sizeof code;
  if (getsockopt(native(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length) != 0) {
    code = WSAGetLastError();
  }
  if (code == 0) return SocketIo::kDone;
  *error = "connection failed: " + winsockText(code);
  return SocketIo::kFailed;
}

bool setSocketNonBlocking(SocketHandle handle) {
  u_long on = 1;
  return ioctlsocket(native(handle), FIONBIO, &on) == 0;
}

SocketIo waitForSocket(SocketHandle handle, bool forWrite, int timeoutMs) {
  if (handle == kInvalidSocket) return SocketIo::kFailed;
  WSAPOLLFD entry{};
  entry.fd = native(handle);
  entry.events = static_cast<short>(forWrite ? POLLWRNORM : POLLRDNORM);
  const int ready = WSAPoll(&entry, 1, timeoutMs < 0 ? 0 : timeoutMs);
  if (ready == SOCKET_ERROR || (entry.revents & POLLNVAL) != 0) return SocketIo::kFailed;
  return ready == 0 ? SocketIo::kWouldBlock : SocketIo::kDone;
}

SocketIo sendSome(SocketHandle handle, const char* data, size_t size, size_t* sent) {
  *sent = 0;
  const int n = send(native(handle), data, chunkOf(size), 0);
  if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? SocketIo::kWouldBlock : SocketIo::kFailed;
  *sent = static_cast<size_t>(n);
  return SocketIo::kDone;
}

SocketIo receiveSome(SocketHandle handle, char* buffer, size_t size, size_t* received) {
  *received = 0;
  const int n = recv(native(handle), buffer, chunkOf(size), 0);
  if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? SocketIo::kWouldBlock : SocketIo::kFailed;
  if (n == 0) return SocketIo::kClosed;
  *received = static_cast<size_t>(n);
  return SocketIo::kDone;
}

// Windows reports the ICMP refusal of a connected datagram socket's send as WSAECONNRESET on the
// next receive.
bool datagramRefused(SocketHandle handle, int waitMs) {
  if (waitForSocket(handle, false, waitMs) != SocketIo::kDone) return false;
  u_long on = 1;
  u_long off = 0;
  ioctlsocket(native(handle), FIONBIO, &on);
  char byte;
  const int n = recv(native(handle), &byte, 1, 0);
  const int error = WSAGetLastError();
  ioctlsocket(native(handle), FIONBIO, &off);
  return n == SOCKET_ERROR && (error == WSAECONNRESET || error == WSAECONNREFUSED);
}
