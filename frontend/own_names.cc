// The machine's names and addresses; see own_names.h. The interface addresses come from the
// platform halves (own_names_posix.cc, own_names_win.cc); the host names from the resolver, whose
// calls are the same in POSIX and Winsock.
#ifdef _WIN32
#include <winsock2.h>
// after winsock2.h
#include <ws2tcpip.h>

#include "common/winsock_init.h"
#else
#include <netdb.h>
#include <unistd.h>
#endif

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
#ifdef _WIN32
  if (!ensureWinsock()) return names;
#endif
  for (std::string& address : interfaceAddressTexts()) addName(std::move(address), &names);
  addHostNames(&names);
  return names;
}
