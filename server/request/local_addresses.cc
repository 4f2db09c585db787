// The server's own addresses; see local_addresses.h.
#include "server/request/local_addresses.h"

#include <cstdio>

#include "common/thread_annotations.h"
#include "server/request/host_addresses.h"

namespace {

Mutex gLock;
std::vector<uint32_t> gAddresses GUARDED_BY(gLock);
bool gKnown GUARDED_BY(gLock) = false;  // gAddresses holds a list

void gatherIfUnknown() REQUIRES(gLock) {
  if (gKnown) return;
  gAddresses = hostIpv4Addresses(kMaxLocalAddresses);
  gKnown = true;
}

}  // namespace

void setLocalAddresses(const uint32_t* addresses, int count) {
  std::vector<uint32_t> list;
  for (int i = 0; addresses != nullptr && i < count && static_cast<int>(list.size()) < kMaxLocalAddresses;
       ++i) {
    if (addresses[i] != 0) list.push_back(addresses[i]);
  }
  MutexLock lock(gLock);
  gAddresses = std::move(list);
  gKnown = true;
}

void clearLocalAddresses() {
  MutexLock lock(gLock);
  gAddresses.clear();
  gKnown = false;
}

std::vector<uint32_t> localAddresses() {
  MutexLock lock(gLock);
  gatherIfUnknown();
  return gAddresses;
}

std::string dottedAddress(uint32_t hostOrder) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", (hostOrder >> 24) & 0xFF, (hostOrder >> 16) & 0xFF,
                (hostOrder >> 8) & 0xFF, hostOrder & 0xFF);
  return text;
}

bool parseStrictDottedAddress(const char* text, uint32_t* hostOrder) {
  if (text == nullptr) return false;
  uint32_t value = 0;
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return false;
    int digits = 0;
    unsigned number = 0;
    while (*p >= '0' && *p <= '9' && digits < 4) {
      number = number * 10 + static_cast<unsigned>(*p - '0');
      ++p;
      ++digits;
    }
    // One to three digits, no leading zero (which some parsers would read as octal).
    if (digits == 0 || digits > 3 || number > 255) return false;
    if (digits > 1 && p[-digits] == '0') return false;
    value = (value << 8) | number;
  }
  if (*p != '\0') return false;
  *hostOrder = value;
  return true;
}

std::string serverIpText() {
  const std::vector<uint32_t> list = localAddresses();
  return list.empty() ? std::string("127.0.0.1") : dottedAddress(list.front());
}

std::string serverHostName() {
  std::string name = hostName();
  return name.empty() ? std::string("localhost") : name;
}
