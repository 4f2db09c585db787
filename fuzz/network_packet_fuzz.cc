// Fuzz target: the datagrams other servers send (UDP port 9191, anyone on the network can send
// one). A fuzz input is a burst of datagrams, each given as a 16-bit little-endian length and its
// bytes; they go through the decoder and then through what the handlers do with the decoded
// data, on a server list and a unit list of the target's own: the duplicate check, the check-in
// record (on a list of a few servers, so that it fills), the received unit list and the
// take-over (both only from a server that checked in from the packet's address, as the
// listeners require).
//
// Checks: a decoded version-2 packet rebuilds to the very bytes received; the data text always
// ends within the decoded data; the lists stay consistent (pages render, units keep a known
// status).
//
// Thread safety: one input at a time.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/device_list.h"
#include "fuzz/fuzz_support.h"
#include "server/net/device_claims.h"
#include "server/net/network_packet.h"
#include "server/net/server_list.h"

namespace {

// Two records of units, as a scan with two controller pairs and an enclosure would leave them.
class UnitList {
 public:
  UnitList() {
    add({"Brivo0123456789ABCDEF", "BrivoFEDCBA9876543210"});
    add({"Enclosure500A0B8000123456"});
  }
  ~UnitList() {
    while (head_ != nullptr) {
      DeviceRecord* next = head_->next;
      for (ModDeviceItem* unit = head_->units; unit != nullptr;) {
        ModDeviceItem* following = unit->next;
        std::free(unit);
        unit = following;
      }
      std::free(head_);
      head_ = next;
    }
  }
  UnitList(const UnitList&) = delete;
  UnitList& operator=(const UnitList&) = delete;

  DeviceRecord* head() { return head_; }

 private:
  void add(std::initializer_list<const char*> names) {
    auto* record = static_cast<DeviceRecord*>(std::calloc(1, sizeof(DeviceRecord)));
    record->valid = DEVICE_RECORD_VALID;
    ModDeviceItem** tail = &record->units;
    for (const char* name : names) {
      auto* unit = static_cast<ModDeviceItem*>(std::calloc(1, sizeof(ModDeviceItem)));
      unit->modStatus = UNCLAIMED;
      std::snprintf(unit->name, sizeof(unit->name), "%s", name);
      *tail = unit;
      tail = &unit->next;
    }
    DeviceRecord** end = &head_;
    while (*end != nullptr) end = &(*end)->next;
    *end = record;
  }

  DeviceRecord* head_ = nullptr;
};

void checkRebuild(const NetworkPacket& packet, const uint8_t* bytes, size_t length) {
  if (packet.version != kPacketVersion) return;
  std::vector<uint8_t> rebuilt;
  const int built =
      buildNetworkPacket(packet.requestType, packet.dataLength, packet.packetNumber, packet.senderAddress,
                         packet.data.data(), packet.identity, packet.sendTime, &rebuilt);
  if (length > kMaxDatagramSize) {
    FUZZ_CHECK(built != 0);
    return;
  }
  FUZZ_CHECK(built == 0);
  FUZZ_CHECK(rebuilt.size() == length && std::memcmp(rebuilt.data(), bytes, length) == 0);
}

void handle(const NetworkPacket& packet, ServerList* servers, DeviceRecord* units, ClaimState* claims,
            time_t now) {
  FUZZ_CHECK(packet.data.size() == packet.dataLength + 1 && packet.data.back() == 0);
  FUZZ_CHECK(std::strlen(packet.dataText()) <= packet.dataLength);
  (void)packetDebugText(packet);
  int changes = 0;
  const bool movesUnits =
      packet.requestType == kAcceptDeviceListRequest || packet.requestType == kTakeDeviceControlRequest;
  if (movesUnits && !servers->hasCheckedInFrom(packet.identity, packet.senderAddress)) return;
  if (servers->isDuplicate(packet, now, &changes)) return;
  switch (packet.requestType) {
    case kCheckInRequest:
      if (packet.dataLength >= kCheckInDataSize) {
        servers->recordCheckIn(packet.identity, packet.data.data(), packet.senderAddress, now,
                               std::chrono::steady_clock::now());
      }
      break;
    case kAcceptDeviceListRequest: {
      if (packet.dataLength == 0) break;
      ReceivedUnitList received;
      received.text = packet.dataText();
      received.senderAddress = packet.senderAddress;
      received.identityComparison = compareIdentities("SERIAL--7F000001", packet.identity.c_str());
      received.senderAddresses = servers->addressesOf(packet.identity);
      received.now = now;
      applyUnitList(units, received, claims);
      break;
    }
    case kTakeDeviceControlRequest:
      if (packet.dataLength != 0 && packet.data[packet.dataLength - 1] == 0) {
        yieldUnitsNamed(units, packet.dataText(), packet.senderAddress);
      }
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  ServerList servers;
  servers.setCapacity(4);
  UnitList units;
  ClaimState claims;
  time_t now = 1700000000;
  for (int datagrams = 0; datagrams < 64 && !input.empty(); ++datagrams) {
    const size_t length = input.u16() % (kMaxDatagramSize + 64);
    const std::string_view piece = input.bytes(length);
    // Exact-size copy: a read past the datagram is caught by ASan.
    std::vector<uint8_t> datagram(piece.begin(), piece.end());
    std::unique_ptr<NetworkPacket> packet;
    long long excess = 0;
    if (decodeNetworkPacket(datagram.data(), datagram.size(), &packet, &excess) != PacketDecodeResult::kOk) {
      FUZZ_CHECK(packet == nullptr);
      continue;
    }
    FUZZ_CHECK(packet != nullptr && packet->identity.size() <= kMaxIdentityLength);
    checkRebuild(*packet, datagram.data(), datagram.size());
    handle(*packet, &servers, units.head(), &claims, now);
    now += input.byte() % 4;
  }
  servers.markSilentServers(std::chrono::steady_clock::now() + std::chrono::seconds(30),
                            std::chrono::milliseconds(20000));
  FUZZ_CHECK(servers.size() <= servers.capacity());
  servers.forgetSilentServers(std::chrono::steady_clock::now() + std::chrono::minutes(11),
                              std::chrono::minutes(10));
  FUZZ_CHECK(servers.size() == 0);
  TableOwner page;
  servers.addPageRows(page.address());
  for (DeviceRecord* record = units.head(); record != nullptr; record = record->next) {
    for (ModDeviceItem* unit = record->units; unit != nullptr; unit = unit->next) {
      FUZZ_CHECK(unit->modStatus == MINE || unit->modStatus == NOT_MINE || unit->modStatus == UNCLAIMED);
    }
  }
  (void)buildUnitListText(units.head(), kUnitListBufferSize);
  return 0;
}
