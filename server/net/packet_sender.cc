// Sending packets to the other servers; see packet_sender.h.
#include "server/net/packet_sender.h"

#include <atomic>
#include <ctime>
#include <random>

#include "common/debug.h"
#include "server/net/network_key_store.h"
#include "server/net/network_packet.h"
#include "server/net/network_runtime.h"
#include "server/net/packet_trailer.h"
#include "server/net/socket_layer.h"
#include "server/request/local_addresses.h"

namespace {

// A restarted process must not reuse the numbers of its previous run: its peers still remember
// the last ones and would drop its first packets as duplicates. So the counter starts at a random
// value; it lives as long as the process (a restart of the main loop does not reset it).
uint32_t randomStart() {
  std::random_device random;
  return static_cast<uint32_t>(random());
}

std::atomic<uint32_t> gPacketCounter{randomStart()};

class SocketTransport : public PacketTransport {
 public:
  void sendUnicast(const std::string& address, uint16_t port, uint32_t localAddress,
                   const std::vector<uint8_t>& datagram) override {
    SocketOwner socket;
    if (connectToHostThroughBind(nullptr, address.c_str(), port, socket.address(), localAddress,
                                 kUdpSpecifier) != kNetNoError) {
      debugPrint(kNetDebug2, "net: SendPacketOverNetwork: can't reach %s\n", address.c_str());
      return;
    }
    if (writeToSocket(socket.get(), datagram.data(), datagram.size()) != 0) {
      debugPrint(kNetDebug2, "net: SendPacketOverNetwork: send to %s failed\n", address.c_str());
    }
  }
  void sendMulticast(const std::string& group, uint16_t port, uint32_t localAddress,
                     const std::vector<uint8_t>& datagram) override {
    SocketOwner socket;
    if (connectToHostThroughBind(nullptr, group.c_str(), port, socket.address(), localAddress,
                                 kUdpSpecifier) != kNetNoError) {
      debugPrint(kNetDebug2, "net: SendPacketOverNetwork: no multicast out of %s\n",
                 dottedAddress(localAddress).c_str());
      return;
    }
    if (writeToSocket(socket.get(), datagram.data(), datagram.size()) != 0) {
      debugPrint(kNetDebug2, "net: SendPacketOverNetwork: multicast out of %s failed\n",
                 dottedAddress(localAddress).c_str());
    }
  }
};

SocketTransport gSocketTransport;
std::atomic<PacketTransport*> gTransport{&gSocketTransport};

}  // namespace

void setPacketTransport(PacketTransport* transport) {
  gTransport.store(transport != nullptr ? transport : &gSocketTransport);
}

int SendPacketOverNetwork(uint32_t requestType, uint32_t dataLength, const void* data) {
  if (dataLength != 0 && data == nullptr) return 2;
  const std::shared_ptr<const NetworkSetup> setup = networkSetup();
  if (!setup) return 1;
  uint32_t number = gPacketCounter.fetch_add(1) + 1;
  if (number == 0) number = gPacketCounter.fetch_add(1) + 1;  // 0 fills the receivers' empty slots
  debugPrint(kNetDebug2, "net: SendPacketOverNetwork  req=%s (0x%.2X) ---------------\n",
             requestTypeName(requestType), number);
  const std::shared_ptr<const NetworkKeySet> keys = activeNetworkKeys();
  if (keys->required && !keys->send) {
    debugPrint(kNetDebug2, "net: SendPacketOverNetwork: no usable network key, nothing sent\n");
    return 1;
  }
  PacketTransport* transport = gTransport.load();
  const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
  bool first = true;
  for (uint32_t address : setup->localAddresses) {
    if (address == 0) continue;
    std::vector<uint8_t> packet;
    const int built =
        buildNetworkPacket(requestType, dataLength, number, address, data, setup->identity, now, &packet);
    if (built != 0) return built;
    // Every copy gets a trailer of its own, so that no two datagrams on the network are alike.
    auto copy = [&](std::vector<uint8_t>* datagram) {
      *datagram = packet;
      if (!keys->send) return true;
      return appendTrailer(datagram, *keys->send, wallClockMs()) && datagram->size() <= kMaxDatagramSize;
    };
    std::vector<uint8_t> datagram;
    if (first) {
      for (const std::string& partner : setup->config.unicast) {
        if (!copy(&datagram)) return 1;
        transport->sendUnicast(partner, setup->config.port, address, datagram);
      }
      first = false;
    }
    if (!setup->config.group.empty()) {
      if (!copy(&datagram)) return 1;
      transport->sendMulticast(setup->config.group, setup->config.port, address, datagram);
    }
  }
  return 0;
}

