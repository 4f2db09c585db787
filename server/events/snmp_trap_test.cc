// Byte-exact tests of the hand-made BER encoding of the SNMP trap: a whole trap, the length forms,
// the TimeTicks and integer forms, and the cutting that keeps every length within its rule.
#include "server/events/snmp_trap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

ByteString bytesOf(std::initializer_list<int> values) {
  ByteString bytes;
  for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
  return bytes;
}

void append(ByteString* bytes, const std::string& text) {
  bytes->insert(bytes->end(), text.begin(), text.end());
}

void append(ByteString* bytes, const ByteString& more) {
  bytes->insert(bytes->end(), more.begin(), more.end());
}

// Reads one element's tag and length at *at and moves *at to its content.
struct Element {
  uint8_t tag;
  size_t length;
};
Element readElement(const ByteString& bytes, size_t* at) {
  Element element{bytes.at(*at), 0};
  size_t first = bytes.at(*at + 1);
  *at += 2;
  if (first < 0x80) {
    element.length = first;
  } else {
    for (size_t i = 0; i < (first & 0x7F); ++i) element.length = (element.length << 8) | bytes.at((*at)++);
  }
  return element;
}

TEST(SnmpTrap, WholeTrapWithOneByteLengths) {
  SnmpTrapFields fields;
  fields.community = "public";
  fields.agentAddress = 0xC0A80105;  // 192.168.1.5
  fields.specificTrap = 2;
  fields.timeStamp = 200;
  fields.device = "Ctl A";
  fields.message = "Fan failed";
  ByteString expected = bytesOf({0x30, 0x47, 0x02, 0x01, 0x00, 0x04, 0x06});
  append(&expected, "public");
  append(&expected, bytesOf({0xA4, 0x3A, 0x06, 0x07, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x8E, 0x01,  // enterprise
                             0x40, 0x04, 0xC0, 0xA8, 0x01, 0x05,                                // agent-addr
                             0x02, 0x01, 0x06, 0x02, 0x01, 0x02,  // generic and specific trap
                             0x43, 0x02, 0x00, 0xC8,              // time-stamp
                             0x30, 0x1F, 0x30, 0x1D,              // binding list, binding
                             0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00,  // sysDescr.0
                             0x04, 0x11}));
  append(&expected, "Ctl A: Fan failed");
  EXPECT_EQ(encodeSnmpTrap(fields), expected);
}

TEST(SnmpTrap, TwoHundredByteValueUsesTheLongForms) {
  SnmpTrapFields fields;
  fields.community = "public";
  fields.agentAddress = 0x7F000001;
  fields.specificTrap = 1;
  fields.timeStamp = 65536;
  const std::string message(200 - 5, 'm');
  fields.device = "Dev";
  fields.message = message;
  const ByteString trap = encodeSnmpTrap(fields);

  size_t at = 0;
  Element outer = readElement(trap, &at);
  EXPECT_EQ(outer.tag, 0x30);
  EXPECT_EQ(ByteString(trap.begin(), trap.begin() + 4), bytesOf({0x30, 0x82, 0x01, 0x03}));
  EXPECT_EQ(outer.length, trap.size() - 4);
  at += 3 + 8;  // version and community
  Element pdu = readElement(trap, &at);
  EXPECT_EQ(pdu.tag, 0xA4);
  EXPECT_EQ(pdu.length, 245u);
  EXPECT_EQ(trap[at - 2], 0x81);  // 128..254: 0x81 and one byte
  at += 9 + 6 + 3;
  EXPECT_EQ(ByteString(trap.begin() + at, trap.begin() + at + 3), bytesOf({0x02, 0x01, 0x01}));
  at += 3;
  EXPECT_EQ(ByteString(trap.begin() + at, trap.begin() + at + 5), bytesOf({0x43, 0x03, 0x01, 0x00, 0x00}));
  at += 5;
  EXPECT_EQ(readElement(trap, &at).length, 216u);  // binding list
  EXPECT_EQ(readElement(trap, &at).length, 213u);  // binding
  at += 10;                                        // sysDescr.0
  EXPECT_EQ(ByteString(trap.begin() + at, trap.begin() + at + 3), bytesOf({0x04, 0x81, 0xC8}));
  Element value = readElement(trap, &at);
  EXPECT_EQ(value.length, 200u);
  EXPECT_EQ(at + value.length, trap.size());
  EXPECT_EQ(std::string(trap.begin() + at, trap.begin() + at + 5), "Dev: ");
}

TEST(SnmpTrap, LengthForms) {
  const std::pair<size_t, ByteString> cases[] = {
      {0, bytesOf({0x00})},
      {127, bytesOf({0x7F})},
      {128, bytesOf({0x81, 0x80})},
      {254, bytesOf({0x81, 0xFE})},
      {255, bytesOf({0x82, 0x00, 0xFF})},
      {65534, bytesOf({0x82, 0xFF, 0xFE})},
  };
  for (const auto& [length, expected] : cases) {
    ByteString out;
    EXPECT_TRUE(appendBerLength(&out, length));
    EXPECT_EQ(out, expected) << length;
  }
  ByteString out;
  EXPECT_FALSE(appendBerLength(&out, 65535));
  EXPECT_TRUE(out.empty());
}

TEST(SnmpTrap, UnsignedNumbersAreMinimalAndNeverNegative) {
  const std::pair<uint32_t, ByteString> cases[] = {
      {0, bytesOf({0x43, 0x01, 0x00})},
      {127, bytesOf({0x43, 0x01, 0x7F})},
      {200, bytesOf({0x43, 0x02, 0x00, 0xC8})},
      {256, bytesOf({0x43, 0x02, 0x01, 0x00})},
      {65536, bytesOf({0x43, 0x03, 0x01, 0x00, 0x00})},
      {0x80000000u, bytesOf({0x43, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00})},
      {0xFFFFFFFFu, bytesOf({0x43, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const auto& [value, expected] : cases) {
    ByteString out;
    appendBerUnsigned(&out, 0x43, value);
    EXPECT_EQ(out, expected) << value;
  }
}

TEST(SnmpTrap, OversizedTextsAreCutToFitTheLengthRule) {
  const std::string community(300, 'c');
  const std::string message(70000, 'x');
  SnmpTrapFields fields;
  fields.community = community;
  fields.device = "D";
  fields.message = message;
  const ByteString trap = encodeSnmpTrap(fields);
  size_t at = 0;
  const Element outer = readElement(trap, &at);
  EXPECT_EQ(outer.length + at, trap.size());
  EXPECT_LE(trap.size(), 65507u);  // one UDP datagram
  at += 3;
  const Element communityElement = readElement(trap, &at);
  EXPECT_EQ(communityElement.length, kMaxTrapCommunityBytes);
  at += communityElement.length;
  readElement(trap, &at);  // PDU
  at += 9 + 6 + 3 + 3 + 3;
  readElement(trap, &at);  // binding list
  readElement(trap, &at);  // binding
  at += 10;
  const Element value = readElement(trap, &at);
  EXPECT_EQ(value.length, kMaxTrapValueBytes);
  EXPECT_EQ(at + value.length, trap.size());
}

TEST(SnmpTrap, UptimeCountsHundredthsForward) {
  const uint32_t first = programUptimeHundredths();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const uint32_t second = programUptimeHundredths();
  EXPECT_GE(second - first, 4u);
  EXPECT_LT(second - first, 500u);
}

}  // namespace
