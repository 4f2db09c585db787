// Sending a NetworkPacket to the other servers: one copy out of every local interface to the
// multicast group, and one copy to each configured unicast partner (sent once, from the first
// local address, to which its socket is bound so that the packet's sender address is the
// datagram's source), all with the same packet number. With a site key every copy carries its
// own authentication trailer (packet_trailer.h); with a key file that can't be used nothing is
// sent at all.
//
// The sockets are reached through a PacketTransport so that tests can record what would be sent;
// the default transport opens one UDP socket per copy.
//
// Thread safety: SendPacketOverNetwork may be called from any thread; each call opens its own
// sockets. setPacketTransport is for tests, while no packet is being sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PacketTransport {
 public:
  virtual ~PacketTransport() = default;
  // One datagram to a partner's dotted address at port, from localAddress (host order).
  virtual void sendUnicast(const std::string& address, uint16_t port, uint32_t localAddress,
                           const std::vector<uint8_t>& datagram) = 0;
  // One datagram to the multicast group at port, out of the interface of localAddress.
  virtual void sendMulticast(const std::string& group, uint16_t port, uint32_t localAddress,
                             const std::vector<uint8_t>& datagram) = 0;
};

// Replaces the transport (borrowed; it must outlive its use); null restores the sockets.
void setPacketTransport(PacketTransport* transport);

// Sends one packet as described above, with the setup of the running network (identity, local
// addresses, group, partners). Returns 0 when done (failures of single sends are not reported),
// 1 when the packet can't be built (no network setup, it would be too large, no usable key or
// the trailer could not be made), 2 when dataLength is nonzero and data is null.
int SendPacketOverNetwork(uint32_t requestType, uint32_t dataLength, const void* data);
