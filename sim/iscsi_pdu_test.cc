// The iSCSI PDU and text codecs: whole PDUs out of a byte stream that arrives in pieces, padding,
// refusal of data segments beyond the agreed length and of malformed header segments, key=value
// text limits, and the binary value forms CHAP uses.
#include "sim/iscsi_pdu.h"

#include <gtest/gtest.h>

#include "sim/iscsi_text.h"

namespace iscsi {
namespace {

TEST(IscsiPdu, EncodesWithPaddingAndDecodesFromPieces) {
  Pdu out = makePdu(kScsiCommand, kFinalBit | kWriteBit);
  out.setU32(16, 0x11223344);
  out.setU64(8, 0x0001000000000000ULL);
  out.data = {1, 2, 3, 4, 5};
  std::vector<uint8_t> wire = encodeIscsiPdu(out);
  ASSERT_EQ(wire.size(), kBhsLength + 8u);  // 5 data bytes padded to 8
  EXPECT_EQ(wire[7], 5);                    // the length field holds the unpadded length
  Pdu in;
  for (size_t cut = 0; cut < wire.size(); ++cut) {
    DecodeResult partial = decodeIscsiPdu(std::span(wire).first(cut), 8192, &in);
    ASSERT_EQ(partial.status, DecodeStatus::kNeedMore) << cut;
  }
  std::vector<uint8_t> two = wire;
  two.insert(two.end(), wire.begin(), wire.end());
  DecodeResult whole = decodeIscsiPdu(two, 8192, &in);
  ASSERT_EQ(whole.status, DecodeStatus::kComplete);
  EXPECT_EQ(whole.consumed, wire.size());
  EXPECT_EQ(in.opcode(), kScsiCommand);
  EXPECT_EQ(in.initiatorTaskTag(), 0x11223344u);
  EXPECT_EQ(in.u64(8), 0x0001000000000000ULL);
  EXPECT_EQ(in.data, out.data);
}

TEST(IscsiPdu, RefusesOversizedDataAndBrokenHeaderSegments) {
  Pdu big = makePdu(kDataOut, kFinalBit);
  big.data.assign(9000, 0xAB);
  std::vector<uint8_t> wire = encodeIscsiPdu(big);
  Pdu in;
  // Refused from the header alone, before the peer has sent (or the target buffered) the data.
  DecodeResult refused = decodeIscsiPdu(std::span(wire).first(kBhsLength), 8192, &in);
  EXPECT_EQ(refused.status, DecodeStatus::kBad);
  EXPECT_NE(refused.why.find("9000"), std::string::npos);
  EXPECT_EQ(decodeIscsiPdu(wire, 9000, &in).status, DecodeStatus::kComplete);

  // An AHS whose own length runs past the declared AHS area.
  Pdu withAhs = makePdu(kScsiCommand, kFinalBit);
  withAhs.ahs = {0x00, 0x09, 0x01, 0x00, 0, 0, 0, 0};  // claims 9 bytes + 3 in an 8-byte area
  EXPECT_EQ(decodeIscsiPdu(encodeIscsiPdu(withAhs), 8192, &in).status, DecodeStatus::kBad);
  withAhs.ahs = {0x00, 0x05, 0x01, 0x00, 1, 2, 3, 4};  // 3 + 5 = 8: fits exactly
  EXPECT_EQ(decodeIscsiPdu(encodeIscsiPdu(withAhs), 8192, &in).status, DecodeStatus::kComplete);
}

TEST(IscsiPdu, SerialNumbersWrapAround) {
  EXPECT_TRUE(serialLess(1, 2));
  EXPECT_FALSE(serialLess(2, 2));
  EXPECT_TRUE(serialLess(0xFFFFFFF0u, 5));  // 5 comes after the wrap
  EXPECT_FALSE(serialLess(5, 0xFFFFFFF0u));
}

TEST(IscsiText, ParsesPairsAndRefusesWhatTheProtocolForbids) {
  std::string text("InitiatorName=iqn.2024-01.test:a\0SessionType=Normal\0\0", 52);
  TextPairs pairs;
  std::string why;
  ASSERT_TRUE(parseText(text, &pairs, &why)) << why;
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(*findKey(pairs, "SessionType"), "Normal");
  EXPECT_EQ(findKey(pairs, "TargetName"), nullptr);
  EXPECT_EQ(encodeText(pairs).size(), std::string("InitiatorName=iqn.2024-01.test:a").size() + 1 + 19);

  EXPECT_FALSE(parseText(std::string("NoEquals\0", 9), &pairs, &why));
  EXPECT_FALSE(parseText(std::string("A=1\0A=2\0", 8), &pairs, &why));
  EXPECT_NE(why.find("twice"), std::string::npos);
  EXPECT_FALSE(parseText(std::string("bad key=1\0", 10), &pairs, &why));
  EXPECT_FALSE(parseText(std::string(64, 'K') + "=1", &pairs, &why));
  EXPECT_FALSE(parseText("K=" + std::string(8193, 'v'), &pairs, &why));
}

TEST(IscsiText, NumbersBooleansAndBinaryValues) {
  EXPECT_EQ(parseNumber("262144"), 262144u);
  EXPECT_EQ(parseNumber("0x10"), 16u);
  EXPECT_FALSE(parseNumber("12a"));
  EXPECT_FALSE(parseNumber("99999999999999999999"));  // beyond 64 bits
  EXPECT_FALSE(parseNumber(""));
  EXPECT_EQ(parseBoolean("Yes"), true);
  EXPECT_FALSE(parseBoolean("yes"));
  EXPECT_EQ(splitList("CHAP,None"), (std::vector<std::string>{"CHAP", "None"}));

  EXPECT_EQ(decodeBinary("0x0aFF", 16), (std::vector<uint8_t>{0x0A, 0xFF}));
  EXPECT_EQ(decodeBinary("0xabc", 16), (std::vector<uint8_t>{0x0A, 0xBC}));  // odd count: leading 0
  EXPECT_EQ(decodeBinary("0bAQID", 16), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(decodeBinary("0bAQI=", 16), (std::vector<uint8_t>{1, 2}));
  EXPECT_FALSE(decodeBinary("0x0g", 16));
  EXPECT_FALSE(decodeBinary("0x" + std::string(40, 'a'), 16));  // longer than allowed
  EXPECT_FALSE(decodeBinary("0bA=QI", 16));                     // '=' inside
  EXPECT_FALSE(decodeBinary("12", 16));
  EXPECT_EQ(encodeHex({0x00, 0xA5}), "0x00a5");
}

}  // namespace
}  // namespace iscsi
