// The checks of every received datagram; see packet_receiver.h.
#include "server/net/packet_receiver.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>

#include "common/debug.h"
#include "common/thread_annotations.h"
#include "server/net/network_key_store.h"
#include "server/net/packet_drops.h"
#include "server/net/packet_handlers.h"
#include "server/net/packet_trailer.h"

namespace {

Mutex gBudgetLock;
SourceBudget gBudget GUARDED_BY(gBudgetLock);

SourceLimiter& sourceLimiter() {
  static SourceLimiter limiter;
  return limiter;
}

TrailerVerifier& trailerVerifier() {
  static TrailerVerifier verifier;
  return verifier;
}

DropReason reasonOf(TrailerCheck check) {
  switch (check) {
    case TrailerCheck::kMissing:
      return DropReason::kUnauthenticated;
    case TrailerCheck::kUnknownKey:
      return DropReason::kUnknownKey;
    case TrailerCheck::kBadMac:
      return DropReason::kBadMac;
    case TrailerCheck::kStale:
      return DropReason::kStale;
    case TrailerCheck::kReplay:
    case TrailerCheck::kOk:
      break;
  }
  return DropReason::kReplay;
}

bool isOwnAddress(const NetworkSetup& setup, uint32_t address) {
  return std::find(setup.localAddresses.begin(), setup.localAddresses.end(), address) !=
         setup.localAddresses.end();
}

// Unit lists and take-overs decide who monitors what: they count only from a server that has
// checked in from the address they come from.
bool needsCheckIn(uint32_t type) {
  return type == kAcceptDeviceListRequest || type == kTakeDeviceControlRequest;
}

void drop(DropReason reason, uint32_t source) {
  debugPrint(kNetDebug1, "net: listenForNetworkPackets  dropped (%s)  -------------\n",
             dropReasonName(reason));
  countPacketDrop(reason, source);
}

enum class ListVerdict { kGoOn, kStopped, kUnknownSender, kDuplicate };

// Steps 6 and 7 under the server-list lock.
ListVerdict checkAgainstServerList(const NetworkPacket& packet, uint32_t source, int* changes) {
  MutexLock lock(serverListLock());
  // Every packet is dropped here while the server isn't running.
  if (!networkRunning()) return ListVerdict::kStopped;
  if (needsCheckIn(packet.requestType) && !serverList().hasCheckedInFrom(packet.identity, source)) {
    return ListVerdict::kUnknownSender;
  }
  if (serverList().isDuplicate(packet, std::time(nullptr), changes)) return ListVerdict::kDuplicate;
  return ListVerdict::kGoOn;
}

}  // namespace

void processDatagram(const NetworkSetup& setup, const uint8_t* data, size_t length, uint32_t source) {
  debugPrint(kNetDebug1, "net: listen: Rxd packet from %d.%d.%d.%d\n", (source >> 24) & 0xFF,
             (source >> 16) & 0xFF, (source >> 8) & 0xFF, source & 0xFF);
  if (isOwnAddress(setup, source)) {
    debugPrint(kNetDebug1, "net: listenForNetworkPackets  packet from self  -------------\n");
    return;
  }
  if (!sourceLimiter().allow(source, std::chrono::steady_clock::now())) {
    drop(DropReason::kRateLimited, source);
    return;
  }
  size_t packetLength = length;
  const std::shared_ptr<const NetworkKeySet> keys = activeNetworkKeys();
  if (keys->required) {
    const TrailerCheck check = trailerVerifier().verify(data, length, *keys, wallClockMs(), &packetLength);
    if (check != TrailerCheck::kOk) {
      drop(reasonOf(check), source);
      return;
    }
  }
  std::unique_ptr<NetworkPacket> packet = CreateKestrovaNetworkPacket(data, packetLength);
  if (!packet) {
    debugPrint(kNetDebug1, "net: listenForNetworkPackets  packet conversion err  -------------\n");
    countPacketDrop(DropReason::kMalformed, source);
    return;
  }
  if (packet->senderAddress != source) {
    drop(DropReason::kAddressMismatch, source);
    return;
  }
  int changes = 0;
  const ListVerdict verdict = checkAgainstServerList(*packet, source, &changes);
  countNetworkChanges(changes);
  if (verdict != ListVerdict::kGoOn) {
    debugPrint(kNetDebug1, "net: listenForNetworkPackets  net check err  -------------\n");
    if (verdict == ListVerdict::kUnknownSender) countPacketDrop(DropReason::kUnknownSender, source);
    if (verdict == ListVerdict::kDuplicate) countPacketDrop(DropReason::kDuplicate, source);
    return;
  }
  if (packet->requestType == kCheckInRequest) {
    debugPrint(kNetDebug1, "net: listenForNetworkPackets  net req = %d. -------------\n",
               static_cast<int>(kCheckInRequest));
    if (!handleCheckIn(std::move(packet))) countPacketDrop(DropReason::kServerListFull, source);
    return;
  }
  switch (dispatchNetworkPacket(std::move(packet))) {
    case DispatchResult::kStarted:
      break;
    case DispatchResult::kUnsupported:
      countPacketDrop(DropReason::kUnsupported, source);
      break;
    case DispatchResult::kBusy:
      countPacketDrop(DropReason::kBusy, source);
      break;
  }
}

void resetReceiveState() {
  MutexLock lock(gBudgetLock);
  sourceLimiter().reset(gBudget);
  trailerVerifier().clear();
}

void setSourceBudget(const SourceBudget& budget) {
  MutexLock lock(gBudgetLock);
  gBudget = budget;
  sourceLimiter().reset(budget);
}
