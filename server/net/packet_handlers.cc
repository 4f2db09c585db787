// The packet handlers, the unit-list send and the claim wait; see packet_handlers.h.
#include "server/net/packet_handlers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "common/debug.h"
#include "common/scsi/device_scan.h"
#include "common/thread_annotations.h"
#include "server/net/device_claims.h"
#include "server/net/network_runtime.h"
#include "server/net/packet_sender.h"
#include "server/net/packet_trailer.h"
#include "server/request/module_manager.h"

namespace {

constexpr char kClaimWaitTag[] = "WaitToClaimDevices";
constexpr int kClaimWaitStartAttempts = 3;

std::atomic<int> gActiveHandlers{0};
// When this server last greeted a new server (steady clock, ms). One greeting a second serves any
// number of newcomers: it asks every server for its list anyway, and forged newcomers can't make
// this server flood the network with greetings.
std::atomic<int64_t> gLastGreetingMs{INT64_MIN / 2};
constexpr int64_t kGreetingIntervalMs = 1000;
// Counts list sends; a claim wait claims only when no newer send came meanwhile.
std::atomic<uint32_t> gClaimRequest{0};

using Handler = void (*)(std::unique_ptr<NetworkPacket>);

struct HandlerJob {
  Handler handler;
  NetworkPacket* packet;
};

void handlerThread(uintptr_t context) {
  HandlerJob* job = reinterpret_cast<HandlerJob*>(context);
  job->handler(std::unique_ptr<NetworkPacket>(job->packet));
  delete job;
  gActiveHandlers.fetch_sub(1);
}

Handler handlerFor(uint32_t type) {
  switch (type) {
    case kAcceptDeviceListRequest:
      return handleAcceptDeviceList;
    case kSendDeviceListRequest:
      return handleSendDeviceList;
    case kTakeDeviceControlRequest:
      return handleTakeDeviceControl;
    default:
      return nullptr;
  }
}

void printAddressLine(const char* format, const std::string& mine, const NetworkPacket& packet) {
  const uint32_t a = packet.senderAddress;
  debugPrint(kNetDebug1, format, mine.c_str(), packet.identity.c_str(), (a >> 24) & 0xFF, (a >> 16) & 0xFF,
             (a >> 8) & 0xFF, a & 0xFF);
}

void unitListSenderThread(uintptr_t) { sendUnitList(); }

// True when this call may greet (no greeting in the last second), which it then claims.
bool claimGreeting() {
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  int64_t last = gLastGreetingMs.load();
  if (now - last < kGreetingIntervalMs) return false;
  return gLastGreetingMs.compare_exchange_strong(last, now);
}

void greetNewServer(uintptr_t) {
  sendCheckIn();
  SendPacketOverNetwork(kSendDeviceListRequest, 0, nullptr);
}
void claimWaitThread(uintptr_t request) { waitToClaimDevices(static_cast<uint32_t>(request)); }

void startClaimWait(uint32_t request) {
  const int retryMs = networkTimings().senderRetryMs;
  for (int attempt = 0; attempt < kClaimWaitStartAttempts; ++attempt) {
    if (attempt > 0) threadSleep(retryMs);
    if (startNetworkThread(claimWaitThread, request, kClaimWaitTag) != 0) return;
  }
  debugPrint(kNetDebug1, "net: sendDeviceList: could not start %s\n", kClaimWaitTag);
}

// Room for the unit list text in one datagram that every receiver accepts, authentication
// trailer included.
size_t unitListCapacity(const NetworkSetup& setup) {
  const size_t header = kPacketOverhead + setup.identity.size() + 1 + kTrailerSize;
  return std::min(kUnitListBufferSize, kMaxDatagramSize - header);
}

}  // namespace

DispatchResult dispatchNetworkPacket(std::unique_ptr<NetworkPacket> packet) {
  if (packet->requestType == kCheckInRequest) {
    handleCheckIn(std::move(packet));
    return DispatchResult::kStarted;
  }
  const Handler handler = handlerFor(packet->requestType);
  if (handler == nullptr) {
    debugPrint(kNetDebug1, "net: listen: Unsupport network request %.2X", packet->requestType);
    return DispatchResult::kUnsupported;
  }
  debugPrint(kNetDebug1, "net: listenForNetworkPackets  net req = %d. -------------\n",
             static_cast<int>(packet->requestType));
  if (gActiveHandlers.fetch_add(1) >= kMaxPacketHandlers) {
    gActiveHandlers.fetch_sub(1);
    debugPrint(kNetDebug1, "net: listenForNetworkPackets  too many handlers, packet dropped\n");
    return DispatchResult::kBusy;
  }
  const char* tag = requestTypeName(packet->requestType);
  HandlerJob* job = new HandlerJob{handler, packet.release()};
  if (startNetworkThread(handlerThread, reinterpret_cast<uintptr_t>(job), tag) == 0) {
    delete job->packet;
    delete job;
    gActiveHandlers.fetch_sub(1);
    return DispatchResult::kBusy;
  }
  return DispatchResult::kStarted;
}

bool handleCheckIn(std::unique_ptr<NetworkPacket> packet) {
  if (packet->dataLength < kCheckInDataSize || !networkRunning()) return true;
  CheckInOutcome outcome;
  {
    MutexLock lock(serverListLock());
    outcome = serverList().recordCheckIn(packet->identity, packet->data.data(), packet->senderAddress,
                                         std::time(nullptr), std::chrono::steady_clock::now());
  }
  countNetworkChanges(outcome.changes);
  if (outcome.wasSilent) startUnitListSender("netcheckin_UpdateHostInfo/handler_SendDeviceList");
  if (outcome.isNew && claimGreeting() &&
      startNetworkThread(greetNewServer, 0, requestTypeName(kCheckInRequest)) == 0) {
    debugPrint(kNetDebug1, "net: handler_Checkin: could not greet the new server\n");
  }
  return !outcome.refused;
}

void resetGreetings() { gLastGreetingMs.store(INT64_MIN / 2); }

void sendCheckIn() {
  const std::shared_ptr<const NetworkSetup> setup = networkSetup();
  if (!setup) return;
  CheckInData data;
  data.hostName = setup->hostName;
  data.status = getGlobalStatus(false);
  const std::vector<uint8_t> bytes = encodeCheckInData(data);
  SendPacketOverNetwork(kCheckInRequest, static_cast<uint32_t>(bytes.size()), bytes.data());
}

void handleAcceptDeviceList(std::unique_ptr<NetworkPacket> packet) {
  if (packet->dataLength == 0) {
    debugPrint(kNetDebug1, "net: accept: No packet data length. Exiting.\n");
    return;
  }
  const std::shared_ptr<const NetworkSetup> setup = networkSetup();
  if (!setup || !networkRunning()) return;
  printAddressLine("AcceptDeviceList: mySerial = %s otherSerial = %s (ip=%d.%d.%d.%d)\n", setup->identity,
                   *packet);
  debugPrint(kNetDebug1, "AcceptDeviceList: deviceList = %s\n", packet->dataText());
  ReceivedUnitList received;
  received.text = packet->dataText();
  received.senderAddress = packet->senderAddress;
  received.identityComparison = compareIdentities(setup->identity.c_str(), packet->identity.c_str());
  received.now = std::time(nullptr);
  {
    MutexLock lock(serverListLock());
    received.senderAddresses = serverList().addressesOf(packet->identity);
  }
  bool resend = false;
  {
    MutexLock lock(deviceClaimLock());
    DeviceRecord* list = claimableDeviceList();
    if (list == nullptr) {
      debugPrint(kNetDebug1, "net: accept: Scan system in progress... ignoring request. (pDevice=%X)\n", 0u);
      return;
    }
    resend = applyUnitList(list, received, &claimState());
  }
  packet.reset();
  if (resend) {
    debugPrint(kNetDebug1, "\n\nSENDING DEVICE LIST AGAIN!!!!!!!\n\n");
    startUnitListSender("handler_AcceptDeviceList/handler_SendDeviceList");
  }
}

void handleSendDeviceList(std::unique_ptr<NetworkPacket> packet) {
  packet.reset();
  sendUnitList();
}

void handleTakeDeviceControl(std::unique_ptr<NetworkPacket> packet) {
  // The unit name must be a whole text within the data.
  if (packet->dataLength == 0 || packet->data[packet->dataLength - 1] != 0) return;
  MutexLock lock(deviceClaimLock());
  DeviceRecord* list = claimableDeviceList();
  if (list != nullptr) yieldUnitsNamed(list, packet->dataText(), packet->senderAddress);
}

void sendUnitList() {
  const bool scanning = isScanningSystem();
  debugPrint(kNetDebug1, "net: sendDeviceList: isScanningSystem = %d\n", scanning ? 1 : 0);
  if (scanning) {
    debugPrint(kNetDebug1, "net: sendDeviceList: Scan system in progress... ignoring request.\n");
    return;
  }
  const std::shared_ptr<const NetworkSetup> setup = networkSetup();
  if (!setup || !networkRunning()) return;
  uint32_t request = 0;
  {
    MutexLock lock(deviceClaimLock());
    int omitted = 0;
    const std::string text = buildUnitListText(claimableDeviceList(), unitListCapacity(*setup), &omitted);
    if (omitted > 0) debugPrint(kNetDebug1, "net: sendDeviceList: %d units do not fit the packet\n", omitted);
    debugPrint(kNetDebug1, "SendDeviceList: sending our list: %s\n", text.c_str());
    claimState().lastListSendTime = std::time(nullptr);
    // Sent under the lock, so that lists leave in the order in which they were built.
    SendPacketOverNetwork(kAcceptDeviceListRequest, static_cast<uint32_t>(text.size() + 1), text.c_str());
    request = gClaimRequest.fetch_add(1) + 1;
  }
  startClaimWait(request);
}

void waitToClaimDevices(uint32_t request) {
  const NetworkTimings timings = networkTimings();
  for (int waited = 0; waited < timings.claimWaitMs; waited += timings.claimWaitStepMs) {
    if (gClaimRequest.load() != request || !networkRunning()) break;
    if (!threadSleep(timings.claimWaitStepMs)) return;
  }
  if (!networkRunning()) return;
  if (gClaimRequest.load() != request) {
    debugPrint(kNetDebug1,
               "net: sendDeviceList: newer request to send device list (req#%d)..we will let newer request "
               "handle\n",
               static_cast<int>(request));
    return;
  }
  debugPrint(
      kNetDebug1,
      "net: sendDeviceList: we are the latest request to send device list (req#%d)..we will update our "
      "list now\n",
      static_cast<int>(request));
  int claimed = 0;
  {
    MutexLock lock(deviceClaimLock());
    DeviceRecord* list = claimableDeviceList();
    if (list != nullptr) claimed = claimUnclaimedUnits(list);
  }
  // Announce the claims: a server that yielded to us while the units were still unclaimed, or
  // that followed another server meanwhile, learns who monitors them now.
  if (claimed > 0) sendUnitList();
}

ThreadHandle startUnitListSender(const char* tag) {
  if (!networkRunning()) return 0;
  return startNetworkThread(unitListSenderThread, 0, tag);
}
