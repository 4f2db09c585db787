// A receive time-out on a test's socket, so that a datagram that never comes fails the test
// instead of blocking it. SO_RCVTIMEO takes a timeval on POSIX and a DWORD of milliseconds in
// Winsock; handed a timeval, Winsock reads its seconds as milliseconds, and a time-out under one
// second as 0, which means "wait for ever".
//
// Thread safety: as setsockopt.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <sys/time.h>
#endif

namespace test_support {

// False when the system refused the option.
template <typename Handle>
bool setReceiveTimeout(Handle handle, int ms) {
#ifdef _WIN32
  const DWORD limit = static_cast<DWORD>(ms);
  return ::setsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_RCVTIMEO,
                      reinterpret_cast<const char*>(&limit), sizeof(limit)) == 0;
#else
  const timeval limit{ms / 1000, (ms % 1000) * 1000};
  return ::setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) == 0;
#endif
}

}  // namespace test_support
