// Network configuration and address choice; see network_config.h.
#include "server/net/network_config.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server/events/notifier_settings.h"
#include "server/request/local_addresses.h"

namespace {

struct AtomicTimings {
  std::atomic<int> checkInPeriodMs{10000};
  std::atomic<int> ambassadorStepMs{50};
  std::atomic<int> silenceMs{20000};
  std::atomic<int> claimWaitMs{5000};
  std::atomic<int> claimWaitStepMs{100};
  std::atomic<int> senderRetryMs{50};
  std::atomic<int> forgetMs{600000};
};

AtomicTimings& timings() {
  static AtomicTimings t;
  return t;
}

// Value of key as a text, empty when absent.
std::string setting(const VariableTable* table, const std::string& key) {
  if (table == nullptr) return std::string();
  char* value = getVariableCopyShared(table, key.c_str());
  std::string text = value != nullptr ? value : "";
  std::free(value);
  return std::string(trimBlanks(text));
}

bool present(const VariableTable* table, const std::string& key) {
  if (table == nullptr) return false;
  char* value = getVariableCopyShared(table, key.c_str());
  const bool found = value != nullptr;
  std::free(value);
  return found;
}

}  // namespace

NetworkConfig readNetworkConfig(const VariableTable* ipSettings) {
  NetworkConfig config;
  uint16_t port = 0;
  if (parsePortText(setting(ipSettings, "MulticastPort"), &port) && port != 0) config.port = port;
  const std::string group = setting(ipSettings, "IP0");
  if (group != kMissing) config.group = group;
  const std::string maxServers = setting(ipSettings, "MaxServers");
  if (!maxServers.empty()) {
    char* end = nullptr;
    const long value = std::strtol(maxServers.c_str(), &end, 10);
    if (*end == '\0' && value >= 1 && value <= kMaxServersLimit) {
      config.maxServers = static_cast<size_t>(value);
    } else {
      std::printf("net: MaxServers = %s in db/IP.db is not a number from 1 to %ld; using %zu\n",
                  maxServers.c_str(), kMaxServersLimit, config.maxServers);
    }
  }
  for (int i = 1;; ++i) {
    const std::string key = "IP" + std::to_string(i);
    if (i > kUnicastSlots && !present(ipSettings, key)) break;
    const std::string address = setting(ipSettings, key);
    if (!address.empty() && address != kMissing) config.unicast.push_back(address);
  }
  return config;
}

NetworkTimings networkTimings() {
  AtomicTimings& t = timings();
  NetworkTimings copy;
  copy.checkInPeriodMs = t.checkInPeriodMs.load();
  copy.ambassadorStepMs = t.ambassadorStepMs.load();
  copy.silenceMs = t.silenceMs.load();
  copy.claimWaitMs = t.claimWaitMs.load();
  copy.claimWaitStepMs = t.claimWaitStepMs.load();
  copy.senderRetryMs = t.senderRetryMs.load();
  copy.forgetMs = t.forgetMs.load();
  return copy;
}

void setNetworkTimings(const NetworkTimings& value) {
  AtomicTimings& t = timings();
  t.checkInPeriodMs.store(std::max(1, value.checkInPeriodMs));
  t.ambassadorStepMs.store(std::max(1, value.ambassadorStepMs));
  t.silenceMs.store(std::max(0, value.silenceMs));
  t.claimWaitMs.store(std::max(0, value.claimWaitMs));
  t.claimWaitStepMs.store(std::max(1, value.claimWaitStepMs));
  t.senderRetryMs.store(std::max(1, value.senderRetryMs));
  t.forgetMs.store(std::max(1, value.forgetMs));
}

std::vector<uint32_t> chooseLocalAddresses(const std::vector<uint32_t>& resolver,
                                           const std::vector<uint32_t>& interfaces) {
  std::vector<uint32_t> chosen;
  for (uint32_t address : resolver) {
    if (static_cast<int>(chosen.size()) == kMaxLocalAddresses) break;
    const bool configured = std::find(interfaces.begin(), interfaces.end(), address) != interfaces.end();
    if (address != 0 && configured && std::find(chosen.begin(), chosen.end(), address) == chosen.end()) {
      chosen.push_back(address);
    }
  }
  const std::vector<uint32_t>& fallback = chosen.empty() && !interfaces.empty() ? interfaces : resolver;
  if (!chosen.empty()) return chosen;
  for (uint32_t address : fallback) {
    if (static_cast<int>(chosen.size()) == kMaxLocalAddresses) break;
    if (address != 0 && std::find(chosen.begin(), chosen.end(), address) == chosen.end())
      chosen.push_back(address);
  }
  return chosen;
}
