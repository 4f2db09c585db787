// Dropped-packet counters and the warning event; see packet_drops.h.
#include "server/net/packet_drops.h"

#include <array>
#include <atomic>

#include "common/thread_annotations.h"
#include "server/net/network_events.h"
#include "server/request/local_addresses.h"

namespace {

struct ReasonInfo {
  const char* name;
  bool rejection;
  const char* textKey;
  const char* text;  // when the string table has none
};

// In the order of DropReason.
constexpr ReasonInfo kReasons[kDropReasonCount] = {
    {"rate_limited", true, "NetDropRateLimited", "the address sent more packets than any server sends"},
    {"malformed", false, "", ""},
    {"unauthenticated", true, "NetDropUnauthenticated",
     "they carry no authentication trailer although a network key is set"},
    {"unknown_key", true, "NetDropUnknownKey",
     "they were signed with a network key this server does not accept"},
    {"bad_mac", true, "NetDropBadMac", "their authentication code does not match (forged or altered)"},
    {"stale", true, "NetDropStale",
     "their send time differs from this server's clock by more than 30 seconds (replayed, or the clocks "
     "differ)"},
    {"replay", true, "NetDropReplay", "they had been received before (replayed)"},
    {"address_mismatch", true, "NetDropAddressMismatch",
     "the sender address inside differs from the address they came from"},
    {"unknown_sender", true, "NetDropUnknownSender",
     "they claim or take over units for a server that has not checked in from that address"},
    {"server_list_full", true, "NetDropServerListFull", "the list of servers is full"},
    {"duplicate", false, "", ""},
    {"unsupported", false, "", ""},
    {"busy", false, "", ""},
};

std::array<std::atomic<uint64_t>, kDropReasonCount> gCounts{};
EventLimiter gEventLimiter(std::chrono::minutes(1));

const ReasonInfo& info(DropReason reason) { return kReasons[static_cast<int>(reason)]; }

void raiseRejectionEvent(DropReason reason, uint32_t source) {
  const ReasonInfo& what = info(reason);
  const std::string message = networkMessage(
      "KestrovaEvent_NetworkPacketsRejected",
      "Network packets from %s were dropped: %s. Further drops within the next minute are only counted.",
      {dottedAddress(source).c_str(), networkText(what.textKey, what.text).c_str()});
  raiseNetworkEvent(message.c_str(), 1, kPacketsRejectedCode);
}

}  // namespace

const char* dropReasonName(DropReason reason) {
  const int index = static_cast<int>(reason);
  return index >= 0 && index < kDropReasonCount ? kReasons[index].name : "";
}

bool isRejection(DropReason reason) {
  const int index = static_cast<int>(reason);
  return index >= 0 && index < kDropReasonCount && kReasons[index].rejection;
}

void countPacketDrop(DropReason reason, uint32_t source) {
  const int index = static_cast<int>(reason);
  if (index < 0 || index >= kDropReasonCount) return;
  gCounts[index].fetch_add(1, std::memory_order_relaxed);
  if (isRejection(reason) && gEventLimiter.allow(std::chrono::steady_clock::now())) {
    raiseRejectionEvent(reason, source);
  }
}

uint64_t packetDropCount(DropReason reason) {
  const int index = static_cast<int>(reason);
  return index >= 0 && index < kDropReasonCount ? gCounts[index].load(std::memory_order_relaxed) : 0;
}

void resetPacketDrops() {
  for (auto& count : gCounts) count.store(0);
  gEventLimiter.reset();
}

void addPacketDropRows(VariableTable* reply) {
  for (int i = 0; i < kDropReasonCount; ++i) {
    const std::string row = "NetDropLoop" + std::to_string(i);
    addVariable(reply, (row + "Reason").c_str(), kReasons[i].name);
    addVariable(reply, (row + "Count").c_str(), std::to_string(gCounts[i].load()).c_str());
  }
  addVariable(reply, "NetDropLoop", std::to_string(kDropReasonCount).c_str());
}

bool EventLimiter::allow(std::chrono::steady_clock::time_point now) {
  MutexLock lock(mutex_);
  if (raised_ && now - last_ < period_) return false;
  raised_ = true;
  last_ = now;
  return true;
}

void EventLimiter::reset() {
  MutexLock lock(mutex_);
  raised_ = false;
}
