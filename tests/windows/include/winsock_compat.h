// Winsock under the names of the POSIX socket headers, for the test programs of the Windows
// build only (their include path; cmake/KestrovaWindows.cmake). The tests' loopback peers are
// written against the BSD calls; this maps the handful they use. Sockets are closed with
// closesocket, never close().
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/winsock_init.h"

#ifndef SOCK_CLOEXEC
#define SOCK_CLOEXEC 0
#endif
#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif

// The BSD pollfd holds an int descriptor; Winsock's a SOCKET. The tests' sockets are small
// handle values, so they are kept in ints as the BSD code expects.
struct kestrova_test_pollfd {
  int fd;
  short events;
  short revents;
};
#define pollfd kestrova_test_pollfd

inline int poll(kestrova_test_pollfd* fds, unsigned long count, int timeoutMs) {
  WSAPOLLFD polled[16];
  if (count > 16) return -1;
  for (unsigned long i = 0; i < count; ++i) {
    polled[i].fd = fds[i].fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fds[i].fd);
    polled[i].events = fds[i].events;
    polled[i].revents = 0;
  }
  const int rc = WSAPoll(polled, count, timeoutMs);
  for (unsigned long i = 0; i < count; ++i) fds[i].revents = polled[i].revents;
  return rc;
}

// The BSD forms take int descriptors and void pointers; Winsock's SOCKETs and char pointers.
inline int setsockopt(int s, int level, int name, const void* value, int length) {
  return ::setsockopt(static_cast<SOCKET>(s), level, name, static_cast<const char*>(value), length);
}
inline int send(int s, const void* data, size_t length, int flags) {
  return ::send(static_cast<SOCKET>(s), static_cast<const char*>(data), static_cast<int>(length), flags);
}
inline int recv(int s, void* data, size_t length, int flags) {
  return ::recv(static_cast<SOCKET>(s), static_cast<char*>(data), static_cast<int>(length), flags);
}
inline int send(int s, const char* data, size_t length, int flags) {
  return ::send(static_cast<SOCKET>(s), data, static_cast<int>(length), flags);
}
inline int recv(int s, char* data, size_t length, int flags) {
  return ::recv(static_cast<SOCKET>(s), data, static_cast<int>(length), flags);
}
inline int bind(int s, const sockaddr* address, int length) { return ::bind(static_cast<SOCKET>(s), address, length); }
inline int listen(int s, int backlog) { return ::listen(static_cast<SOCKET>(s), backlog); }
inline int accept(int s, sockaddr* address, int* length) {
  return static_cast<int>(::accept(static_cast<SOCKET>(s), address, length));
}
inline int getsockname(int s, sockaddr* address, int* length) {
  return ::getsockname(static_cast<SOCKET>(s), address, length);
}
inline int connect(int s, const sockaddr* address, int length) {
  return ::connect(static_cast<SOCKET>(s), address, length);
}
inline int shutdown(int s, int how) { return ::shutdown(static_cast<SOCKET>(s), how); }
#ifndef SHUT_RDWR
#define SHUT_RDWR SD_BOTH
#endif

// Winsock must be started before the first socket call of a test program.
inline const bool kWinsockStartedForTests = ensureWinsock();
