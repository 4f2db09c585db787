// The packet's wire format without a network: datagrams built and decoded again, the identity
// text, the check-in data, and every way a received datagram can be malformed.
#include "server/net/network_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> built(uint32_t type, const std::string& data, uint32_t number = 7,
                           const std::string& identity = "SN42--0A000007") {
  std::vector<uint8_t> datagram;
  EXPECT_EQ(buildNetworkPacket(type, static_cast<uint32_t>(data.size()), number, 0x0A000007, data.data(),
                               identity, 1700000000, &datagram),
            0);
  return datagram;
}

std::unique_ptr<NetworkPacket> decoded(const std::vector<uint8_t>& datagram, PacketDecodeResult expected,
                                       long long* excess = nullptr) {
  std::unique_ptr<NetworkPacket> packet;
  EXPECT_EQ(decodeNetworkPacket(datagram.data(), datagram.size(), &packet, excess), expected);
  return packet;
}

// Offset of the data-length field of a datagram built with identity.
size_t lengthOffset(const std::string& identity) { return 24 + identity.size() + 1 + 4; }

TEST(NetworkPacket, BuiltDatagramHasTheWireLayoutAndDecodesBack) {
  const std::string data("\nTest01 1\nTest02 4", 18);
  const std::vector<uint8_t> datagram =
      built(kAcceptDeviceListRequest, std::string(data.c_str(), data.size() + 1));
  const std::string identity = "SN42--0A000007";
  ASSERT_EQ(datagram.size(), 36 + identity.size() + 1 + data.size() + 1);
  EXPECT_EQ(std::memcmp(datagram.data(), "nKestNetPac\0", 12), 0);
  EXPECT_EQ(readBigEndian32(datagram.data() + 12), 2u);
  EXPECT_EQ(readBigEndian32(datagram.data() + 16), 2u);
  EXPECT_EQ(readBigEndian32(datagram.data() + 20), 0x0A000007u);
  EXPECT_STREQ(reinterpret_cast<const char*>(datagram.data() + 24), identity.c_str());
  EXPECT_EQ(readBigEndian32(datagram.data() + 24 + identity.size() + 1), 1700000000u);
  EXPECT_EQ(readBigEndian32(datagram.data() + datagram.size() - 4), 7u);

  auto packet = decoded(datagram, PacketDecodeResult::kOk);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->requestType, kAcceptDeviceListRequest);
  EXPECT_EQ(packet->version, 2u);
  EXPECT_EQ(packet->senderAddress, 0x0A000007u);
  EXPECT_EQ(packet->identity, identity);
  EXPECT_EQ(packet->sendTime, 1700000000u);
  EXPECT_EQ(packet->dataLength, data.size() + 1);
  EXPECT_STREQ(packet->dataText(), data.c_str());
  EXPECT_TRUE(packet->hasPacketNumber);
  EXPECT_EQ(packet->packetNumber, 7u);
  EXPECT_NE(packet->receiveTime, 0);
}

TEST(NetworkPacket, EmptyDataAndTheLargestPacketRoundTrip) {
  auto empty = decoded(built(kSendDeviceListRequest, ""), PacketDecodeResult::kOk);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->dataLength, 0u);
  EXPECT_STREQ(empty->dataText(), "") << "the data always ends in a NUL";

  const std::string identity(kMaxIdentityLength, 'I');
  const std::string data(kMaxDatagramSize - kPacketOverhead - identity.size() - 1, 'd');
  const std::vector<uint8_t> largest = built(kTakeDeviceControlRequest, data, 1, identity);
  EXPECT_EQ(largest.size(), kMaxDatagramSize);
  auto packet = decoded(largest, PacketDecodeResult::kOk);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->identity, identity);
  EXPECT_EQ(std::string(packet->dataText()), data) << "data without a NUL still reads as a bounded text";

  std::vector<uint8_t> tooLarge;
  const std::string more = data + "x";
  EXPECT_EQ(
      buildNetworkPacket(4, static_cast<uint32_t>(more.size()), 1, 1, more.data(), identity, 0, &tooLarge),
      1);
  EXPECT_EQ(buildNetworkPacket(4, 5, 1, 1, nullptr, identity, 0, &tooLarge), 2);
  EXPECT_EQ(buildNetworkPacket(4, 0, 1, 1, nullptr, identity + "I", 0, &tooLarge), 1);
}

TEST(NetworkPacket, OlderVersionsHaveNoPacketNumber) {
  std::vector<uint8_t> datagram = built(kCheckInRequest, std::string(72, 'h'));
  for (uint32_t version : {0u, 1u}) {
    std::vector<uint8_t> old(datagram.begin(), datagram.end() - 4);
    writeBigEndian32(old.data() + 16, version);
    auto packet = decoded(old, PacketDecodeResult::kOk);
    ASSERT_TRUE(packet) << version;
    EXPECT_FALSE(packet->hasPacketNumber);
    EXPECT_EQ(packet->dataLength, 72u);
    // With the packet number still attached, an old version is 4 bytes too long.
    writeBigEndian32(datagram.data() + 16, version);
    long long excess = 0;
    EXPECT_FALSE(decoded(datagram, PacketDecodeResult::kInvalidLength, &excess));
    EXPECT_EQ(excess, 4);
  }
}

TEST(NetworkPacket, ForeignDatagramsAreNotDecoded) {
  std::vector<uint8_t> datagram = built(kCheckInRequest, std::string(72, 'h'));
  EXPECT_FALSE(decoded({}, PacketDecodeResult::kForeign));
  EXPECT_FALSE(
      decoded(std::vector<uint8_t>(datagram.begin(), datagram.begin() + 11), PacketDecodeResult::kForeign));
  std::vector<uint8_t> otherSignature = datagram;
  otherSignature[3] = 'x';
  EXPECT_FALSE(decoded(otherSignature, PacketDecodeResult::kForeign));
  std::vector<uint8_t> noSignatureNul = datagram;
  noSignatureNul[11] = 'c';  // compared in full, terminator included
  EXPECT_FALSE(decoded(noSignatureNul, PacketDecodeResult::kForeign));
  std::unique_ptr<NetworkPacket> untouched;
  EXPECT_EQ(decodeNetworkPacket(nullptr, 40, &untouched), PacketDecodeResult::kForeign);
}

TEST(NetworkPacket, LengthsThatDisagreeWithTheDatagramAreRefused) {
  const std::string identity = "SN42--0A000007";
  const std::vector<uint8_t> good = built(kAcceptDeviceListRequest, std::string("\nA 1", 5));
  long long excess = 0;

  std::vector<uint8_t> oneTooLarge = good;
  writeBigEndian32(oneTooLarge.data() + lengthOffset(identity), 6);
  EXPECT_FALSE(decoded(oneTooLarge, PacketDecodeResult::kInvalidLength, &excess));
  EXPECT_EQ(excess, -1);

  std::vector<uint8_t> oneTooSmall = good;
  writeBigEndian32(oneTooSmall.data() + lengthOffset(identity), 4);
  EXPECT_FALSE(decoded(oneTooSmall, PacketDecodeResult::kInvalidLength, &excess));
  EXPECT_EQ(excess, 1);

  // A length near 2^32 must not wrap the expected total back onto the datagram's size.
  for (uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFFFu - 40u, 0x80000000u}) {
    std::vector<uint8_t> wrapped = good;
    writeBigEndian32(wrapped.data() + lengthOffset(identity), huge);
    EXPECT_FALSE(decoded(wrapped, PacketDecodeResult::kInvalidLength)) << huge;
  }

  std::vector<uint8_t> trailing = good;
  trailing.push_back(0);
  EXPECT_FALSE(decoded(trailing, PacketDecodeResult::kInvalidLength, &excess));
  EXPECT_EQ(excess, 1);
}

TEST(NetworkPacket, TruncatedHeadersAndUnterminatedIdentitiesAreRefused) {
  const std::string identity = "SN42--0A000007";
  const std::vector<uint8_t> good = built(kCheckInRequest, std::string(72, 'h'));
  // Every cut of a valid datagram past its signature is refused, none reads past the end.
  for (size_t cut = 12; cut < good.size(); ++cut) {
    EXPECT_FALSE(
        decoded(std::vector<uint8_t>(good.begin(), good.begin() + cut), PacketDecodeResult::kInvalidLength))
        << cut;
  }
  std::vector<uint8_t> noTerminator(good.begin(), good.begin() + 24);
  noTerminator.insert(noTerminator.end(), 200, 'S');
  EXPECT_FALSE(decoded(noTerminator, PacketDecodeResult::kInvalidLength));

  std::vector<uint8_t> longIdentity(good.begin(), good.begin() + 24);
  longIdentity.insert(longIdentity.end(), kMaxIdentityLength + 1, 'S');
  longIdentity.push_back(0);
  longIdentity.insert(longIdentity.end(), 12, 0);  // time, length 0, packet number
  EXPECT_FALSE(decoded(longIdentity, PacketDecodeResult::kInvalidLength));
}

TEST(NetworkPacket, RandomDamageNeverDecodesPastTheDatagram) {
  const std::vector<uint8_t> good = built(kAcceptDeviceListRequest, std::string("\nTest01 1\nTest02 4", 19));
  std::mt19937 random(12345);
  int decodedCount = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> damaged = good;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c)
      damaged[12 + random() % (damaged.size() - 12)] = static_cast<uint8_t>(random());
    damaged.resize(12 + random() % (damaged.size() - 11));
    std::unique_ptr<NetworkPacket> packet;
    if (decodeNetworkPacket(damaged.data(), damaged.size(), &packet) != PacketDecodeResult::kOk) continue;
    ++decodedCount;
    ASSERT_EQ(packet->data.size(), packet->dataLength + 1u);
    ASSERT_EQ(packet->data.back(), 0);
    ASSERT_LE(packet->identity.size(), kMaxIdentityLength);
  }
  EXPECT_GT(decodedCount, 0) << "some damage (sender address, type, time) leaves a valid packet";
}

TEST(NetworkPacket, DebugBlockNamesTheRequest) {
  auto packet =
      decoded(built(kTakeDeviceControlRequest, std::string("Test01", 7), 12), PacketDecodeResult::kOk);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packetDebugText(*packet),
            "|--------------[ Net Packet ]--------------\n"
            "| Sig.Ver.ReqType = nKestNetPac.2.TakeDeviceControl\n"
            "| SerNum-Ip       = SN42--0A000007 - 10.0.0.7\n"
            "| LenOfData       = 7\n"
            "| PacNum          = 12 \n"
            "|------------------------------------------\n");
  packet->requestType = 5;
  EXPECT_NE(packetDebugText(*packet).find("nKestNetPac.2.5\n"), std::string::npos);
  packet->requestType = 99999999;
  EXPECT_NE(packetDebugText(*packet).find("nKestNetPac.2.BIGNUM\n"), std::string::npos);
  packet->requestType = 0;
  packet->hasPacketNumber = false;
  const std::string text = packetDebugText(*packet);
  EXPECT_NE(text.find("nKestNetPac.2.\n"), std::string::npos);
  EXPECT_EQ(text.find("PacNum"), std::string::npos);
  EXPECT_STREQ(requestTypeName(255), "");
  EXPECT_STREQ(requestTypeName(1), "CheckIn");
}

TEST(NetworkPacket, IdentityTextEndsWithTheFirstAddressInHex) {
  EXPECT_EQ(senderIdentityText(nullptr, 0x0A000007), "N/A--0A000007");
  EXPECT_EQ(senderIdentityText("", 0xC0A80105), "N/A--C0A80105");
  EXPECT_EQ(senderIdentityText("KV-1234", 0xC0A80105), "KV-1234--C0A80105");
  const std::string longSerial(150, 'S');
  const std::string identity = senderIdentityText(longSerial.c_str(), 0xC0A80105);
  EXPECT_EQ(identity.size(), kMaxIdentityLength);
  EXPECT_EQ(identity.substr(identity.size() - 10), "--C0A80105");
}

TEST(NetworkPacket, CheckInDataIsBigEndianWithABoundedHostName) {
  CheckInData data;
  data.hostName = "storage-host-01";
  data.status = 0x01020304;
  data.userCount = 0;
  const std::vector<uint8_t> bytes = encodeCheckInData(data);
  ASSERT_EQ(bytes.size(), kCheckInDataSize);
  EXPECT_EQ(bytes[64], 0x01);
  EXPECT_EQ(bytes[67], 0x04);
  const CheckInData back = decodeCheckInData(bytes.data());
  EXPECT_EQ(back.hostName, "storage-host-01");
  EXPECT_EQ(back.status, 0x01020304u);

  data.hostName = std::string(80, 'h');
  EXPECT_EQ(decodeCheckInData(encodeCheckInData(data).data()).hostName, std::string(63, 'h'));
  std::vector<uint8_t> unterminated(kCheckInDataSize, 'z');
  EXPECT_EQ(decodeCheckInData(unterminated.data()).hostName, std::string(63, 'z'));
}

}  // namespace
