// The addresses of the network interfaces under POSIX (getifaddrs); see own_names.h.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include "frontend/own_names.h"

std::vector<std::string> interfaceAddressTexts() {
  std::vector<std::string> texts;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return texts;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (entry->ifa_addr->sa_family == AF_INET) {
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) texts.emplace_back(text);
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      if (inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text) != nullptr) texts.emplace_back(text);
    }
  }
  freeifaddrs(list);
  return texts;
}
