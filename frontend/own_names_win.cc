// The addresses of the network interfaces under Windows (GetAdaptersAddresses); see own_names.h.
#include <winsock2.h>
// after winsock2.h
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include "frontend/own_names.h"

std::vector<std::string> interfaceAddressTexts() {
  std::vector<std::string> texts;
  // The list grows between the size query and the call when an adapter comes up: ask again.
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return texts;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
      const sockaddr* raw = unicast->Address.lpSockaddr;
      if (raw == nullptr) continue;
      char text[INET6_ADDRSTRLEN] = {};
      if (raw->sa_family == AF_INET) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(raw);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) texts.emplace_back(text);
      } else if (raw->sa_family == AF_INET6) {
        // Without the zone ("%12"), as on POSIX: a Host header cannot carry one usefully.
        const auto* address = reinterpret_cast<const sockaddr_in6*>(raw);
        if (inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text) != nullptr) texts.emplace_back(text);
      }
    }
  }
  return texts;
}
