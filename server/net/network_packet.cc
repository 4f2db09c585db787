// The network packet's wire format; see network_packet.h.
#include "server/net/network_packet.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/debug.h"

namespace {

constexpr uint32_t kPacketDebugCode = 0x1011;
constexpr size_t kIdentityOffset = 24;
constexpr uint32_t kBigTypeNumber = 99999999;

size_t boundedLength(const uint8_t* text, size_t size) {
  const void* end = std::memchr(text, '\0', size);
  return end == nullptr ? size : static_cast<size_t>(static_cast<const uint8_t*>(end) - text);
}

// Bytes the fields of a packet ask for: header, identity with its NUL, time, length, data and
// the packet number from version 2 on. 64-bit so that no data length can wrap it.
unsigned long long expectedLength(size_t identitySize, uint32_t dataLength, uint32_t version) {
  return kIdentityOffset + identitySize + 8ULL + dataLength + (version >= 2 ? 4ULL : 0ULL);
}

void appendLine(std::string* text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendLine(std::string* text, const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  *text += line;
}

std::string typeText(uint32_t type) {
  if (type <= kTakeDeviceControlRequest) return requestTypeName(type);
  if (type >= kBigTypeNumber) return "BIGNUM";
  return std::to_string(type);
}

}  // namespace

const char* requestTypeName(uint32_t type) {
  switch (type) {
    case kCheckInRequest:
      return "CheckIn";
    case kAcceptDeviceListRequest:
      return "AcceptDeviceList";
    case kSendDeviceListRequest:
      return "SendDeviceList";
    case kTakeDeviceControlRequest:
      return "TakeDeviceControl";
    default:
      return "";
  }
}

PacketDecodeResult decodeNetworkPacket(const uint8_t* buffer, size_t length,
                                       std::unique_ptr<NetworkPacket>* packet, long long* excess) {
  if (excess != nullptr) *excess = 0;
  if (buffer == nullptr || length < kPacketSignatureSize ||
      std::memcmp(buffer, kPacketSignature, kPacketSignatureSize) != 0) {
    return PacketDecodeResult::kForeign;
  }
  // The identity must end inside the datagram before anything behind it can be located.
  if (length <= kIdentityOffset) return PacketDecodeResult::kInvalidLength;
  const size_t identityLength = boundedLength(buffer + kIdentityOffset, length - kIdentityOffset);
  if (identityLength == length - kIdentityOffset || identityLength > kMaxIdentityLength) {
    return PacketDecodeResult::kInvalidLength;
  }
  const size_t timeOffset = kIdentityOffset + identityLength + 1;
  if (timeOffset + 8 > length) return PacketDecodeResult::kInvalidLength;
  const uint32_t version = readBigEndian32(buffer + 16);
  const uint32_t dataLength = readBigEndian32(buffer + timeOffset + 4);
  const unsigned long long expected = expectedLength(identityLength + 1, dataLength, version);
  if (expected != length) {
    if (excess != nullptr) *excess = static_cast<long long>(length) - static_cast<long long>(expected);
    return PacketDecodeResult::kInvalidLength;
  }
  auto decoded = std::make_unique<NetworkPacket>();
  std::memcpy(decoded->signature, buffer, kPacketSignatureSize);
  decoded->requestType = readBigEndian32(buffer + 12);
  decoded->version = version;
  decoded->senderAddress = readBigEndian32(buffer + 20);
  decoded->identity.assign(reinterpret_cast<const char*>(buffer + kIdentityOffset), identityLength);
  decoded->sendTime = readBigEndian32(buffer + timeOffset);
  decoded->receiveTime = std::time(nullptr);
  decoded->dataLength = dataLength;
  const uint8_t* data = buffer + timeOffset + 8;
  decoded->data.assign(data, data + dataLength);
  decoded->data.push_back(0);
  if (version >= 2) {
    decoded->hasPacketNumber = true;
    decoded->packetNumber = readBigEndian32(data + dataLength);
  }
  *packet = std::move(decoded);
  return PacketDecodeResult::kOk;
}

std::unique_ptr<NetworkPacket> CreateKestrovaNetworkPacket(const uint8_t* buffer, size_t length) {
  std::unique_ptr<NetworkPacket> packet;
  long long excess = 0;
  const PacketDecodeResult result = decodeNetworkPacket(buffer, length, &packet, &excess);
  if (result == PacketDecodeResult::kInvalidLength) {
    std::printf("\n\n ERROR ERROR **** INVALID LENGTH PACKET len = %d, rem = %lld x\n\n\n",
                static_cast<int>(length), excess);
    std::fflush(stdout);
    debugPrint(kPacketDebugCode, "net: verify packet len: Invalid length packet");
    return nullptr;
  }
  if (result != PacketDecodeResult::kOk) return nullptr;
  debugPrint(kPacketDebugCode, "%s", packetDebugText(*packet).c_str());
  return packet;
}

int buildNetworkPacket(uint32_t requestType, uint32_t dataLength, uint32_t packetNumber,
                       uint32_t interfaceAddress, const void* data, const std::string& identity,
                       uint32_t sendTime, std::vector<uint8_t>* datagram) {
  if (dataLength != 0 && data == nullptr) return 2;
  if (identity.size() > kMaxIdentityLength || identity.find('\0') != std::string::npos) return 1;
  const size_t total = kPacketOverhead + identity.size() + 1 + dataLength;
  if (datagram == nullptr || total > kMaxDatagramSize) return 1;
  datagram->assign(total, 0);
  uint8_t* p = datagram->data();
  std::memcpy(p, kPacketSignature, kPacketSignatureSize);
  writeBigEndian32(p + 12, requestType);
  writeBigEndian32(p + 16, kPacketVersion);
  writeBigEndian32(p + 20, interfaceAddress);
  std::memcpy(p + kIdentityOffset, identity.data(), identity.size());  // the NUL is already there
  uint8_t* q = p + kIdentityOffset + identity.size() + 1;
  writeBigEndian32(q, sendTime);
  writeBigEndian32(q + 4, dataLength);
  if (dataLength != 0) std::memcpy(q + 8, data, dataLength);
  writeBigEndian32(q + 8 + dataLength, packetNumber);
  return 0;
}

std::string packetDebugText(const NetworkPacket& packet) {
  std::string text = "|--------------[ Net Packet ]--------------\n";
  const std::string signature(
      packet.signature,
      boundedLength(reinterpret_cast<const uint8_t*>(packet.signature), sizeof(packet.signature)));
  appendLine(&text, "| Sig.Ver.ReqType = %s.%d.%s\n", signature.c_str(), static_cast<int>(packet.version),
             typeText(packet.requestType).c_str());
  const uint32_t a = packet.senderAddress;
  appendLine(&text, "| SerNum-Ip       = %s - %d.%d.%d.%d\n", packet.identity.c_str(), (a >> 24) & 0xFF,
             (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  appendLine(&text, "| LenOfData       = %d\n", static_cast<int>(packet.dataLength));
  if (packet.hasPacketNumber) appendLine(&text, "| PacNum          = %u \n", packet.packetNumber);
  text += "|------------------------------------------\n";
  return text;
}

std::string senderIdentityText(const char* serial, uint32_t firstAddress) {
  const std::string serialText = serial != nullptr && serial[0] != '\0' ? serial : "N/A";
  char ending[16];
  std::snprintf(ending, sizeof(ending), "--%.2X%.2X%.2X%.2X", (firstAddress >> 24) & 0xFF,
                (firstAddress >> 16) & 0xFF, (firstAddress >> 8) & 0xFF, firstAddress & 0xFF);
  const size_t room = kMaxIdentityLength - std::strlen(ending);
  return serialText.substr(0, room) + ending;
}

std::vector<uint8_t> encodeCheckInData(const CheckInData& data) {
  std::vector<uint8_t> bytes(kCheckInDataSize, 0);
  const size_t nameLength = std::min(data.hostName.size(), kCheckInHostNameSize - 1);
  std::memcpy(bytes.data(), data.hostName.data(), nameLength);
  writeBigEndian32(bytes.data() + 64, data.status);
  writeBigEndian32(bytes.data() + 68, data.userCount);
  return bytes;
}

CheckInData decodeCheckInData(const uint8_t* bytes) {
  CheckInData data;
  data.hostName.assign(reinterpret_cast<const char*>(bytes), boundedLength(bytes, kCheckInHostNameSize - 1));
  data.status = readBigEndian32(bytes + 64);
  data.userCount = readBigEndian32(bytes + 68);
  return data;
}
