// The machine's names and addresses under POSIX (getifaddrs, gethostname, getaddrinfo); see
// own_names.h.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "frontend/own_names.h"

namespace {

void addName(std::string name, std::vector<std::string>* names) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty() || std::find(names->begin(), names->end(), name) != names->end()) return;
  names->push_back(std::move(name));
}

void addInterfaceAddresses(std::vector<std::string>* names) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (entry->ifa_addr->sa_family == AF_INET) {
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) addName(text, names);
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      if (inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text) != nullptr) addName(text, names);
    }
  }
  freeifaddrs(list);
}

void addHostNames(std::vector<std::string>* names) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return;
  const std::string name(host);
  addName(name, names);
  addName(name.substr(0, name.find('.')), names);
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) == 0) {
    if (found != nullptr && found->ai_canonname != nullptr) addName(found->ai_canonname, names);
    freeaddrinfo(found);
  }
}

}  // namespace

std::vector<std::string> ownHostNames() {
  std::vector<std::string> names;
  addName("localhost", &names);
  addName("127.0.0.1", &names);
  addName("::1", &names);
  addInterfaceAddresses(&names);
  addHostNames(&names);
  return names;
}
