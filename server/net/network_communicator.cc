// Start-up and shutdown of the server network, the listeners and the check-in ambassador; see
// network_communicator.h.
#include "server/net/network_communicator.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/debug.h"
#include "common/property_file.h"
#include "common/thread_annotations.h"
#include "server/device_list_owner.h"
#include "server/events/dispatcher.h"
#include "server/net/network_key_store.h"
#include "server/net/network_runtime.h"
#include "server/net/packet_handlers.h"
#include "server/net/packet_receiver.h"
#include "server/net/packet_sender.h"
#include "server/net/socket_layer.h"
#include "server/request/host_addresses.h"
#include "server/request/local_addresses.h"
#include "server/request/module_manager.h"
#include "server/request/page_rows.h"
#include "server/server_state.h"

namespace {

constexpr char kListenerTag[] = "initializeKestrovaNetwork/listenForNetworkPackets";
constexpr char kAmbassadorTag[] = "initializeKestrovaNetwork/handler_CheckInAmbassador";
constexpr char kSilentSenderTag[] = "handler_CheckInAmbassador/handler_SendDeviceList";
constexpr size_t kHostNameLimit = 63;
constexpr size_t kShutdownNoticeSize = 100;
constexpr char kShutdownNoticeText[] = "focalpointShutdown";
// Longer than any network thread needs to notice the stop (claim-wait step, ambassador step,
// woken listeners, short handlers).
constexpr int kStopWaitMs = 8000;
// How often the stop wakes the listeners again while it waits for them.
constexpr int kWakeRepeatMs = 100;
// A listen socket that keeps failing is retried at this pace rather than in a busy loop.
constexpr int kReceiveErrorPauseMs = 50;

bool gStarted = false;  // main loop thread only
// Filled before the listeners start and closed after they have ended; each listener reads only
// its own slot. Two per address when the addresses are pinned (the address's own and the group's).
constexpr int kListenSlots = 2 * kMaxLocalAddresses;
std::array<SocketHandle, kListenSlots> gListenSockets;
LocalAddressSource gAddressSource = nullptr;  // main loop thread only

bool isMissing(const std::string& text) { return text.find("missing") != std::string::npos; }

std::vector<uint32_t> resolverAddresses() {
  uint32_t addresses[kMaxLocalAddresses] = {};
  std::vector<uint32_t> list;
  if (getLocalHostAddress(addresses, kMaxLocalAddresses) != 0) return list;
  for (uint32_t address : addresses) {
    if (address != 0) list.push_back(address);
  }
  return list;
}

// KESTROVA_NET_ADDRESSES (dotted addresses separated by commas) pins the addresses the server
// sends from and listens on, instead of every interface of the host: test instances use
// 127.0.0.1 so that their check-ins never leave the machine.
bool pinnedAddresses(LocalAddressCandidates* candidates) {
  const char* pinned = std::getenv("KESTROVA_NET_ADDRESSES");
  if (pinned == nullptr || pinned[0] == '\0') return false;
  std::string text(pinned);
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    uint32_t address = 0;
    if (parseDottedAddress(item.c_str(), &address) && address != 0 &&
        static_cast<int>(candidates->interfaces.size()) < kMaxLocalAddresses) {
      candidates->interfaces.push_back(address);
    }
    start = comma + 1;
  }
  candidates->resolver = candidates->interfaces;
  candidates->pinned = true;
  return true;
}

LocalAddressCandidates hostAddressCandidates() {
  LocalAddressCandidates candidates;
  if (pinnedAddresses(&candidates)) return candidates;
  candidates.resolver = resolverAddresses();
  candidates.interfaces = hostIpv4Addresses(kMaxLocalAddresses);
  return candidates;
}

std::shared_ptr<NetworkSetup> readSetup() {
  auto setup = std::make_shared<NetworkSetup>();
  setup->hostName = hostName().substr(0, kHostNameLimit);
  const LocalAddressCandidates candidates =
      gAddressSource != nullptr ? gAddressSource() : hostAddressCandidates();
  setup->localAddresses = chooseLocalAddresses(candidates.resolver, candidates.interfaces);
  setup->pinned = candidates.pinned;
  const uint32_t first = setup->localAddresses.empty() ? 0 : setup->localAddresses.front();
  setup->identity = senderIdentityText(serverSerialNumber(), first);
  setup->config = readNetworkConfig(&serverSettings().ip);
  return setup;
}

void listenForNetworkPackets(uintptr_t index) {
  const std::shared_ptr<const NetworkSetup> setup = networkSetup();
  const SocketHandle socket = gListenSockets[index];
  if (!setup) return;
  std::vector<uint8_t> buffer(kMaxDatagramSize);
  while (networkRunning()) {
    std::fill(buffer.begin(), buffer.end(), 0);
    size_t received = 0;
    uint32_t source = 0;
    if (receiveDatagram(socket, buffer.data(), buffer.size(), &received, &source) != 0) {
      if (networkRunning()) threadSleep(kReceiveErrorPauseMs);
      continue;
    }
    if (!networkRunning()) break;  // woken by the shutdown
    processDatagram(*setup, buffer.data(), received, source);
  }
}

// Marks the servers that stopped checking in; their units are released and our list is sent,
// so that the units get claimed again.
void releaseSilentServers() {
  int marked = 0;
  {
    MutexLock listLock(serverListLock());
    const auto now = std::chrono::steady_clock::now();
    const NetworkTimings timings = networkTimings();
    // Long-silent servers leave the list, so that the list of a long-running server holds the
    // servers of today and not every identity it ever heard.
    const int forgotten = serverList().forgetSilentServers(now, std::chrono::milliseconds(timings.forgetMs));
    countNetworkChanges(forgotten);
    marked = serverList().markSilentServers(now, std::chrono::milliseconds(timings.silenceMs));
    if (marked == 0) return;
    MutexLock claimLock(deviceClaimLock());
    if (DeviceRecord* list = claimableDeviceList()) releaseNotMineUnits(list);
  }
  countNetworkChanges(marked);
  startUnitListSender(kSilentSenderTag);
}

// Sleeps until deadline in short steps; false when the network stopped meanwhile.
bool sleepUntil(std::chrono::steady_clock::time_point deadline, int stepMs) {
  for (;;) {
    if (!networkRunning()) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    if (!threadSleep(static_cast<int>(std::min<long long>(left.count(), stepMs)))) return false;
  }
}

void checkInAmbassador(uintptr_t) {
  const std::shared_ptr<const NetworkSetup> setup = networkSetup();
  if (!setup) return;
  // Passes keep a fixed pace (no drift from the work of each pass).
  auto next = std::chrono::steady_clock::now();
  while (networkRunning()) {
    reloadNetworkKeysIfChanged();
    releaseSilentServers();
    sendCheckIn();
    const NetworkTimings timings = networkTimings();
    next += std::chrono::milliseconds(timings.checkInPeriodMs);
    if (!sleepUntil(next, timings.ambassadorStepMs)) break;
  }
  MutexLock lock(serverListLock());
  serverList().clear();
}

// The listen socket of one local address: unless the addresses are pinned, one socket that
// receives the group's datagrams on that interface and everything sent to the port; pinned, one
// bound to the address and one to the group (slot + kMaxLocalAddresses), so that nothing sent to
// the host's other addresses reaches this server.
void openListenSocket(int slot, uint32_t address, const NetworkSetup& setup) {
  debugPrint(kNetDebug1, "net: init: open loop: aulThisServerIPAddress[ %d. ] = %08xx\n", slot, address);
  const NetworkConfig& config = setup.config;
  const uint32_t status = setup.pinned ? createPinnedListenSockets(&gListenSockets[slot],
                                                                   &gListenSockets[slot + kMaxLocalAddresses],
                                                                   address, config.port, config.group.c_str())
                                       : createListenSocket(&gListenSockets[slot], address, config.port,
                                                            kMulticastListenSpecifier, config.group.c_str());
  if (status == kNetNoError) return;
  debugPrint(kNetDebug1, "net: init: Create socket failed. fStatus = %xx\n", status);
  const std::string format = networkText("KestrovaEvent_CreateMultSocketFailed", "");
  char* statusText = socketStatusText(status);
  const std::string reason = statusText != nullptr ? statusText : kMissing;
  std::free(statusText);
  const bool usable = !format.empty() && !isMissing(reason);
  const std::string message =
      usable ? fillNetworkEventFormat(format, reason) : "Create listen socket failed.";
  raiseNetworkEvent(message.c_str(), 1, kListenSocketCode);
}

void startListeners(const NetworkSetup& setup) {
  if (setup.config.group.empty()) {
    debugPrint(kNetDebug1, "net: init: No multicast address found.\n");
    const std::string text = networkText(
        "KestrovaEvent_GetMulticastFailed",
        "The multicast address is not configured. No communication will take place with other servers.");
    raiseNetworkEvent(text.c_str(), 1, kNoMulticastCode);
    return;
  }
  for (int slot = 0; slot < kMaxLocalAddresses; ++slot) {
    const uint32_t address =
        slot < static_cast<int>(setup.localAddresses.size()) ? setup.localAddresses[slot] : 0;
    if (address == 0) {
      debugPrint(kNetDebug1, "net: init: createListenSocket IP = 0 \n");
      continue;
    }
    openListenSocket(slot, address, setup);
  }
  for (int slot = 0; slot < kListenSlots; ++slot) {
    if (gListenSockets[slot] == kInvalidSocket) continue;
    if (startNetworkThread(listenForNetworkPackets, static_cast<uintptr_t>(slot), kListenerTag) == 0) {
      debugPrint(kNetDebug1, "net: init: listener %d did not start\n", slot);
    }
  }
}

// A deep copy of a device list in storage of its own.
class DeviceListCopy {
 public:
  const DeviceRecord* assign(const DeviceRecord* list) {
    records_.clear();
    infos_.clear();
    units_.clear();
    size_t unitCount = 0;
    size_t recordCount = 0;
    for (const DeviceRecord* r = list; r != nullptr; r = r->next, ++recordCount) {
      for (const ModDeviceItem* u = r->units; u != nullptr; u = u->next) ++unitCount;
    }
    records_.reserve(recordCount);  // no reallocation below: the links stay valid
    infos_.reserve(recordCount);
    units_.reserve(unitCount);
    for (const DeviceRecord* r = list; r != nullptr; r = r->next) {
      DeviceRecord& record = records_.emplace_back(*r);
      record.next = nullptr;
      if (records_.size() > 1) records_[records_.size() - 2].next = &record;
      if (r->info != nullptr) record.info = &infos_.emplace_back(*r->info);
      ModDeviceItem** tail = &record.units;
      for (const ModDeviceItem* u = r->units; u != nullptr; u = u->next) {
        ModDeviceItem& unit = units_.emplace_back(*u);
        unit.modState = nullptr;
        unit.next = nullptr;
        *tail = &unit;
        tail = &unit.next;
      }
    }
    return records_.empty() ? nullptr : records_.data();
  }

 private:
  std::vector<DeviceRecord> records_;
  std::vector<DeviceInfo> infos_;
  std::vector<ModDeviceItem> units_;
};

void sendShutdownNotice() {
  uint8_t notice[kShutdownNoticeSize] = {};
  std::memcpy(notice, kShutdownNoticeText, sizeof(kShutdownNoticeText));
  SendPacketOverNetwork(kShutdownNotice, sizeof(notice), notice);
}

}  // namespace

void initializeKestrovaNetwork() {
  if (gStarted) return;
  debugPrint(kNetDebug1, "net: init: Initializing Kestrova networking.\n");
  startSockets();
  gListenSockets.fill(kInvalidSocket);
  const std::shared_ptr<NetworkSetup> setup = readSetup();
  setLocalAddresses(setup->localAddresses.data(), static_cast<int>(setup->localAddresses.size()));
  {
    MutexLock lock(deviceClaimLock());
    claimState() = ClaimState();
  }
  {
    MutexLock lock(serverListLock());
    serverList().setCapacity(setup->config.maxServers);
  }
  resetReceiveState();
  resetGreetings();
  loadNetworkKeys(true);
  setNetworkSetup(setup);
  setNetworkActive(true);
  gStarted = true;
  setPageRowsWriter(PageRows::kServerList, addServerListRows);
  if (!setup->localAddresses.empty()) startListeners(*setup);
  if (startNetworkThread(checkInAmbassador, 0, kAmbassadorTag) == 0) {
    debugPrint(kNetDebug1, "net: init: the check-in ambassador did not start\n");
  }
}

void stopKestrovaNetwork() {
  if (!gStarted) return;
  setNetworkActive(false);
  // The sockets stay open until their listeners have ended, so no listener can be handed another
  // socket's handle value. A listener that looked at the running word just before it was cleared
  // may reach its receive only after the wake; on Windows the wake's cancel then misses it
  // (shutdownSocket), so the wake is repeated until every network thread has ended.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
  bool ended = false;
  while (!ended) {
    for (SocketHandle socket : gListenSockets) {
      if (socket != kInvalidSocket) shutdownSocket(socket);
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    ended = waitForNetworkThreads(static_cast<int>(std::min<long long>(left.count(), kWakeRepeatMs)));
  }
  if (!ended) {
    std::printf("net: stop: %d network threads did not end\n", liveNetworkThreads());
    std::fflush(stdout);
  }
  for (SocketHandle& socket : gListenSockets) closeSocket(&socket);
  sendShutdownNotice();
  setPageRowsWriter(PageRows::kServerList, nullptr);
  {
    MutexLock lock(serverListLock());
    serverList().clear();
  }
  setNetworkSetup(nullptr);
  unloadNetworkKeys();
  clearLocalAddresses();
  stopSockets();
  gStarted = false;
}

void handleReceivedDatagram(const uint8_t* data, size_t length, uint32_t source) {
  const std::shared_ptr<const NetworkSetup> setup = networkSetup();
  if (setup && data != nullptr) processDatagram(*setup, data, length, source);
}

void setLocalAddressSource(LocalAddressSource source) { gAddressSource = source; }

std::string serverIdentityText() {
  const std::shared_ptr<const NetworkSetup> setup = networkSetup();
  return setup ? setup->identity : std::string();
}

void publishDeviceListForNetwork() { publishClaimDeviceList(serverDeviceList()); }

void withdrawDeviceListForNetwork() { publishClaimDeviceList(nullptr); }

const DeviceRecord* deviceListSnapshot() {
  thread_local DeviceListCopy copy;
  MutexLock lock(deviceClaimLock());
  return copy.assign(publishedClaimDeviceList());
}

void addServerListRows(VariableTable* reply) {
  MutexLock lock(serverListLock());
  serverList().addPageRows(reply);
}

size_t listedServerCount() {
  MutexLock lock(serverListLock());
  return serverList().size();
}
