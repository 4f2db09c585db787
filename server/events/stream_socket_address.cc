// Address resolution of the stream notifiers (getaddrinfo: POSIX and Winsock alike); see
// stream_socket_address.h.
#ifdef _WIN32
#include <winsock2.h>
// after winsock2.h
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "server/events/stream_socket_address.h"

bool resolveStreamAddress(const std::string& host, uint16_t port, sockaddr_in* address, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    *error = "the name " + host + " could not be resolved";
    return false;
  }
  *address = *reinterpret_cast<const sockaddr_in*>(list->ai_addr);
  freeaddrinfo(list);
  address->sin_port = htons(port);
  return true;
}
