// BER encoding of the SNMP trap; see snmp_trap.h.
#include "server/events/snmp_trap.h"

#include <algorithm>
#include <chrono>

namespace {

// Set when the program's static data is initialized, before main runs.
const std::chrono::steady_clock::time_point kProgramStart = std::chrono::steady_clock::now();

constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagOctetString = 0x04;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagIpAddress = 0x40;
constexpr uint8_t kTagTimeTicks = 0x43;
constexpr uint8_t kTagTrapPdu = 0xA4;

constexpr uint8_t kVersion1[] = {0x02, 0x01, 0x00};
// 1.3.6.1.4.1.1793
constexpr uint8_t kEnterprise[] = {0x06, 0x07, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x8E, 0x01};
constexpr uint8_t kEnterpriseSpecific[] = {0x02, 0x01, 0x06};
// 1.3.6.1.2.1.1.1.0 (sysDescr.0)
constexpr uint8_t kSysDescr[] = {0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00};

template <size_t N>
void appendBytes(ByteString* out, const uint8_t (&bytes)[N]) {
  out->insert(out->end(), bytes, bytes + N);
}

void appendText(ByteString* out, std::string_view text) { out->insert(out->end(), text.begin(), text.end()); }

// Tag, length and content. The callers' limits keep every length within the rule.
void appendElement(ByteString* out, uint8_t tag, const ByteString& content) {
  out->push_back(tag);
  appendBerLength(out, content.size());
  out->insert(out->end(), content.begin(), content.end());
}

void appendOctetString(ByteString* out, std::string_view text) {
  out->push_back(kTagOctetString);
  appendBerLength(out, text.size());
  appendText(out, text);
}

ByteString encodeBinding(const SnmpTrapFields& fields) {
  std::string value;
  value.reserve(fields.device.size() + 2 + fields.message.size());
  value.append(fields.device).append(": ").append(fields.message);
  if (value.size() > kMaxTrapValueBytes) value.resize(kMaxTrapValueBytes);
  ByteString binding;
  appendBytes(&binding, kSysDescr);
  appendOctetString(&binding, value);
  return binding;
}

ByteString encodePdu(const SnmpTrapFields& fields) {
  ByteString pdu;
  appendBytes(&pdu, kEnterprise);
  pdu.push_back(kTagIpAddress);
  pdu.push_back(4);
  for (int shift = 24; shift >= 0; shift -= 8)
    pdu.push_back(static_cast<uint8_t>(fields.agentAddress >> shift));
  appendBytes(&pdu, kEnterpriseSpecific);
  appendBerUnsigned(&pdu, kTagInteger, fields.specificTrap);
  appendBerUnsigned(&pdu, kTagTimeTicks, fields.timeStamp);
  ByteString binding;
  appendElement(&binding, kTagSequence, encodeBinding(fields));
  appendElement(&pdu, kTagSequence, binding);
  return pdu;
}

}  // namespace

bool appendBerLength(ByteString* out, size_t length) {
  if (length < 128) {
    out->push_back(static_cast<uint8_t>(length));
  } else if (length <= 254) {
    out->push_back(0x81);
    out->push_back(static_cast<uint8_t>(length));
  } else if (length <= 65534) {
    out->push_back(0x82);
    out->push_back(static_cast<uint8_t>(length >> 8));
    out->push_back(static_cast<uint8_t>(length & 0xFF));
  } else {
    return false;
  }
  return true;
}

void appendBerUnsigned(ByteString* out, uint8_t tag, uint32_t value) {
  uint8_t bytes[5];
  size_t count = 0;
  int shift = 24;
  while (shift > 0 && ((value >> shift) & 0xFF) == 0) shift -= 8;  // minimal: drop leading zero bytes
  if (((value >> shift) & 0x80) != 0) bytes[count++] = 0x00;       // keep the number non-negative
  for (; shift >= 0; shift -= 8) bytes[count++] = static_cast<uint8_t>(value >> shift);
  out->push_back(tag);
  out->push_back(static_cast<uint8_t>(count));
  out->insert(out->end(), bytes, bytes + count);
}

ByteString encodeSnmpTrap(const SnmpTrapFields& fields) {
  ByteString content;
  appendBytes(&content, kVersion1);
  appendOctetString(&content,
                    fields.community.substr(0, std::min(fields.community.size(), kMaxTrapCommunityBytes)));
  appendElement(&content, kTagTrapPdu, encodePdu(fields));
  ByteString message;
  appendElement(&message, kTagSequence, content);
  return message;
}

uint32_t programUptimeHundredths() {
  const auto elapsed = std::chrono::steady_clock::now() - kProgramStart;
  const auto hundredths = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 10;
  return static_cast<uint32_t>(static_cast<uint64_t>(hundredths));
}
