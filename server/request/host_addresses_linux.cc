// Linux implementation of host_addresses.h: getifaddrs and gethostname.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "server/request/host_addresses.h"

std::vector<uint32_t> hostIpv4Addresses(int max) {
  std::vector<uint32_t> addresses;
  ifaddrs* list = nullptr;
  if (max <= 0 || getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (static_cast<int>(addresses.size()) >= max) break;
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    if (address == 0) continue;
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
      addresses.push_back(address);
  }
  freeifaddrs(list);
  return addresses;
}

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return std::string();
  return name;
}
