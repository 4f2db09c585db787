// The SNMP version 1 trap message, encoded by hand in the Basic Encoding Rules: enterprise
// 1.3.6.1.4.1.1793, generic trap 6 (enterpriseSpecific), the event's concern level as the
// specific trap, and one binding sysDescr.0 = "<device>: <message>".
//
// Lengths follow the notifier's fixed rule: below 128 one byte; 128 to 254 the byte 0x81 and one
// byte; 255 to 65534 the byte 0x82 and two bytes, most significant first. The community and the
// value text are cut so that every length stays within that rule and the message fits one UDP
// datagram.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

using ByteString = std::vector<uint8_t>;

inline constexpr size_t kMaxTrapCommunityBytes = 255;
inline constexpr size_t kMaxTrapValueBytes = 65000;

struct SnmpTrapFields {
  std::string_view community;
  uint32_t agentAddress = 0;  // IPv4, host order
  uint32_t specificTrap = 0;  // the record's concern level
  uint32_t timeStamp = 0;     // hundredths of a second since the program started
  std::string_view device;
  std::string_view message;
};

// Appends the length bytes of a content length up to 65534. False (nothing appended) beyond.
bool appendBerLength(ByteString* out, size_t length);
// Appends tag, length and the minimal big-endian bytes of value, with a leading 00 byte when the
// first byte is 0x80 or more (an unsigned number as a non-negative BER integer).
void appendBerUnsigned(ByteString* out, uint8_t tag, uint32_t value);

// The whole trap message.
ByteString encodeSnmpTrap(const SnmpTrapFields& fields);

// Hundredths of a second since this program started (not reset by restarts of the main loop),
// modulo 2^32.
uint32_t programUptimeHundredths();
