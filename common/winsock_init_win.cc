// Winsock start-up; see winsock_init.h.
#include <winsock2.h>

#include "common/winsock_init.h"

bool ensureWinsock() {
  // WSAStartup counts its calls; one that is never matched by WSACleanup keeps Winsock up until
  // the process ends, which is what every thread that may open a socket late needs.
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
