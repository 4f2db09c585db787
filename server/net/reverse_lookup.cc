// Reverse look-up through getnameinfo (POSIX and Winsock alike) on a helper thread that the
// caller waits for, bounded; see reverse_lookup.h.
#ifdef _WIN32
#include <winsock2.h>
// after winsock2.h
#include <ws2tcpip.h>

#include "common/winsock_init.h"
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <system_error>
#include <thread>

#include "common/thread_annotations.h"
#include "server/net/reverse_lookup.h"

namespace {

// The answer of one look-up, shared by the waiting caller and the helper thread, so that either
// may be the last to let go of it.
struct Lookup {
  Mutex lock;
  std::condition_variable done;
  bool finished GUARDED_BY(lock) = false;
  std::optional<std::string> hostName GUARDED_BY(lock);
};

std::atomic<int> gPending{0};

std::optional<std::string> resolve(const std::string& address) {
#ifdef _WIN32
  if (!ensureWinsock()) return std::nullopt;
#endif
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* parsed = nullptr;
  if (getaddrinfo(address.c_str(), nullptr, &hints, &parsed) != 0 || parsed == nullptr) return std::nullopt;
  char host[NI_MAXHOST] = {};
  const int result =
      getnameinfo(parsed->ai_addr, static_cast<socklen_t>(parsed->ai_addrlen), host, sizeof(host), nullptr, 0, NI_NAMEREQD);
  freeaddrinfo(parsed);
  if (result != 0 || host[0] == '\0') return std::nullopt;
  return std::string(host);
}

void runLookup(const std::shared_ptr<Lookup>& lookup, const std::string& address) {
  std::optional<std::string> name = resolve(address);
  {
    MutexLock guard(lookup->lock);
    lookup->hostName = std::move(name);
    lookup->finished = true;
  }
  lookup->done.notify_all();
  gPending.fetch_sub(1);
}

}  // namespace

std::optional<std::string> reverseLookup(const std::string& address, int timeoutMs) {
  if (address.empty() || timeoutMs <= 0) return std::nullopt;
  if (gPending.fetch_add(1) >= kMaxPendingReverseLookups) {
    gPending.fetch_sub(1);
    return std::nullopt;
  }
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread(runLookup, lookup, address).detach();
  } catch (const std::system_error&) {
    gPending.fetch_sub(1);
    return std::nullopt;
  }
  MutexLock guard(lookup->lock);
  if (!lookup->done.wait_for(guard.native(), std::chrono::milliseconds(timeoutMs),
                             [&]() REQUIRES(lookup->lock) { return lookup->finished; })) {
    return std::nullopt;
  }
  return lookup->hostName;
}
