// Windows implementation of host_addresses.h: GetAdaptersAddresses and gethostname.
#include <winsock2.h>
// after winsock2.h
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <vector>

#include "common/winsock_init.h"
#include "server/request/host_addresses.h"

std::vector<uint32_t> hostIpv4Addresses(int max) {
  std::vector<uint32_t> addresses;
  if (max <= 0) return addresses;
  // The list grows between the size query and the call when an adapter comes up: ask again.
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return addresses;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
      if (static_cast<int>(addresses.size()) >= max) return addresses;
      const sockaddr* raw = unicast->Address.lpSockaddr;
      if (raw == nullptr || raw->sa_family != AF_INET) continue;
      const uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(raw)->sin_addr.s_addr);
      if (address == 0 || (address >> 24) == 127) continue;
      if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
    }
  }
  return addresses;
}

std::string hostName() {
  char name[256] = {};
  if (!ensureWinsock() || gethostname(name, sizeof(name) - 1) != 0) return std::string();
  return name;
}
