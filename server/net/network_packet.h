// The datagram that servers exchange: its wire format, the sender identity text, the check-in
// data, and the decoder that turns a received datagram into a NetworkPacket.
//
// Wire format (32-bit integers unsigned, big-endian): 12-byte signature "nKestNetPac\0", request
// type, version, sender address, sender identity (NUL-terminated), send time, data length L, L
// bytes of data, and from version 2 on a packet number. Total 36 + n + L bytes for version 2.
//
// The decoder trusts nothing in the datagram: every length is checked against the bytes actually
// received before it is used, and the decoded data always carries one extra NUL beyond its L
// bytes, so that handlers reading it as text can never run past it.
//
// Thread safety: pure functions and plain values; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

inline constexpr char kPacketSignature[12] = "nKestNetPac";  // 11 characters and the NUL
inline constexpr size_t kPacketSignatureSize = sizeof(kPacketSignature);
inline constexpr uint32_t kPacketVersion = 2;
// The receive buffer of the listeners: a longer datagram is cut and fails the length check.
inline constexpr size_t kMaxDatagramSize = 5120;
// Fixed part of a version-2 packet besides the identity text (with its NUL) and the data.
inline constexpr size_t kPacketOverhead = 36;
// Longest identity text a packet may carry (without its NUL).
inline constexpr size_t kMaxIdentityLength = 99;

enum NetworkRequestType : uint32_t {
  kCheckInRequest = 1,
  kAcceptDeviceListRequest = 2,
  kSendDeviceListRequest = 3,
  kTakeDeviceControlRequest = 4,
  kShutdownNotice = 255,
};

// "CheckIn", "AcceptDeviceList", "SendDeviceList", "TakeDeviceControl" for types 1-4, "" for
// any other type. Also the tags of the handler threads. Never null; static text.
const char* requestTypeName(uint32_t type);

// A received datagram, decoded. Handlers own it.
struct NetworkPacket {
  char signature[kPacketSignatureSize] = {};
  uint32_t requestType = 0;
  uint32_t version = 0;
  uint32_t senderAddress = 0;  // host order
  std::string identity;        // the sender identity text
  uint32_t sendTime = 0;       // the sender's clock, seconds since 1970
  time_t receiveTime = 0;      // this server's clock
  uint32_t dataLength = 0;
  // dataLength bytes of data followed by one NUL that is not part of the data.
  std::vector<uint8_t> data;
  bool hasPacketNumber = false;  // versions 2 and up
  uint32_t packetNumber = 0;

  // The data as a NUL-terminated text (it may end earlier, at a NUL inside the data).
  const char* dataText() const { return reinterpret_cast<const char*>(data.data()); }
};

enum class PacketDecodeResult {
  kOk,
  kForeign,        // shorter than the signature, or another signature
  kInvalidLength,  // a field does not fit, or the total length disagrees with the fields
};

// Decodes length bytes of buffer into *packet (receive time = now). On kInvalidLength,
// *totalLength and *excess (bytes received minus bytes the fields ask for, negative when the
// datagram is short) say why. *packet is untouched unless the result is kOk.
PacketDecodeResult decodeNetworkPacket(const uint8_t* buffer, size_t length,
                                       std::unique_ptr<NetworkPacket>* packet, long long* excess = nullptr);

// The decoder of the listeners: decodeNetworkPacket, printing the invalid-length message on the
// console and the debug lines, and the packet block (code 0x1011) for a decoded packet. Null
// when the datagram does not decode.
std::unique_ptr<NetworkPacket> CreateKestrovaNetworkPacket(const uint8_t* buffer, size_t length);

// Builds a version-2 datagram into *datagram. identity must have at most kMaxIdentityLength
// characters. Returns 1 when the packet can't be built (identity too long, or the packet would
// not fit a receiver's buffer), 2 when dataLength is nonzero and data is null, else 0. The
// data is copied unchanged (check-in data comes already in network order, encodeCheckInData).
int buildNetworkPacket(uint32_t requestType, uint32_t dataLength, uint32_t packetNumber,
                       uint32_t interfaceAddress, const void* data, const std::string& identity,
                       uint32_t sendTime, std::vector<uint8_t>* datagram);

// "|--------------[ Net Packet ]--------------\n" ... the block the decoder prints.
std::string packetDebugText(const NetworkPacket& packet);

// The sender identity: serial (or "N/A" when null or empty), "--" and firstAddress as 8
// upper-case hexadecimal digits; the serial is cut so that the text stays within
// kMaxIdentityLength characters.
std::string senderIdentityText(const char* serial, uint32_t firstAddress);

// Check-in data (type 1): 64 bytes of host name (NUL-padded), global status and user count.
inline constexpr size_t kCheckInDataSize = 72;
inline constexpr size_t kCheckInHostNameSize = 64;
struct CheckInData {
  std::string hostName;  // at most 63 characters
  uint32_t status = 0;
  uint32_t userCount = 0;
};
// The 72 bytes as sent (integers big-endian). A longer host name is cut to 63 characters.
std::vector<uint8_t> encodeCheckInData(const CheckInData& data);
// Reads the first kCheckInDataSize bytes. REQUIRES: bytes holds at least that many. A host name
// field without a NUL gives its first 63 characters.
CheckInData decodeCheckInData(const uint8_t* bytes);

// Big-endian helpers of the wire format.
inline uint32_t readBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline void writeBigEndian32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}
