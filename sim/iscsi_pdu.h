// iSCSI protocol data units as raidsim's iSCSI target reads and writes them: the 48-byte basic
// header segment (BHS), the additional header segments (AHS) and the data segment, padded to
// four bytes. No digests: the target negotiates HeaderDigest and DataDigest to None.
//
// decodeIscsiPdu takes bytes as they come off the wire and says whether a whole PDU is there, how
// long it is, or why the bytes can never be one (the connection is then closed). The field
// accessors read and write the BHS in network byte order.
//
// Thread safety: plain values and pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace iscsi {

inline constexpr size_t kBhsLength = 48;
inline constexpr uint32_t kReservedTag = 0xFFFFFFFFu;
// The data segment length field is 24 bits.
inline constexpr uint32_t kMaxDataSegment = 0xFFFFFF;

// Operation codes (BHS byte 0, low six bits).
enum Opcode : uint8_t {
  kNopOut = 0x00,
  kScsiCommand = 0x01,
  kTaskManagement = 0x02,
  kLoginRequest = 0x03,
  kTextRequest = 0x04,
  kDataOut = 0x05,
  kLogoutRequest = 0x06,
  kSnackRequest = 0x10,
  kNopIn = 0x20,
  kScsiResponse = 0x21,
  kTaskManagementResponse = 0x22,
  kLoginResponse = 0x23,
  kTextResponse = 0x24,
  kDataIn = 0x25,
  kLogoutResponse = 0x26,
  kReadyToTransfer = 0x31,
  kAsyncMessage = 0x32,
  kReject = 0x3F,
};

// Flag bits of BHS byte 1.
inline constexpr uint8_t kFinalBit = 0x80;
inline constexpr uint8_t kReadBit = 0x40;          // SCSI command: data in expected
inline constexpr uint8_t kWriteBit = 0x20;         // SCSI command: data out expected
inline constexpr uint8_t kContinueBit = 0x40;      // login and text: more text follows
inline constexpr uint8_t kTransitBit = 0x80;       // login: move to the next stage
inline constexpr uint8_t kAckBit = 0x40;           // Data-In: acknowledge wanted
inline constexpr uint8_t kOverflowBit = 0x04;      // Data-In and response: residual overflow
inline constexpr uint8_t kUnderflowBit = 0x02;     // Data-In and response: residual underflow
inline constexpr uint8_t kStatusBit = 0x01;        // Data-In: carries the status
inline constexpr uint8_t kImmediateBit = 0x40;     // BHS byte 0

// Reject reasons.
inline constexpr uint8_t kRejectProtocolError = 0x04;
inline constexpr uint8_t kRejectNotSupported = 0x05;
inline constexpr uint8_t kRejectInvalidField = 0x09;

struct Pdu {
  std::array<uint8_t, kBhsLength> bhs{};
  std::vector<uint8_t> ahs;   // a whole number of 4-byte words
  std::vector<uint8_t> data;  // unpadded

  uint8_t opcode() const { return bhs[0] & 0x3F; }
  bool immediate() const { return (bhs[0] & kImmediateBit) != 0; }
  uint8_t flags() const { return bhs[1]; }
  uint32_t initiatorTaskTag() const { return u32(16); }

  uint16_t u16(size_t offset) const;
  uint32_t u24(size_t offset) const;
  uint32_t u32(size_t offset) const;
  uint64_t u64(size_t offset) const;
  void setU16(size_t offset, uint16_t value);
  void setU32(size_t offset, uint32_t value);
  void setU64(size_t offset, uint64_t value);
};

// A fresh PDU with byte 0 = opcode and byte 1 = flags.
Pdu makePdu(uint8_t opcode, uint8_t flags);

enum class DecodeStatus { kComplete, kNeedMore, kBad };

struct DecodeResult {
  DecodeStatus status = DecodeStatus::kNeedMore;
  size_t consumed = 0;  // bytes of the whole PDU (with padding) when kComplete
  std::string why;      // when kBad
};

// Decodes one PDU from the front of bytes. maxData is the longest data segment this side accepts
// (the negotiated MaxRecvDataSegmentLength); a longer one is kBad, so no peer can make the
// target buffer more than it agreed to.
DecodeResult decodeIscsiPdu(std::span<const uint8_t> bytes, uint32_t maxData, Pdu* pdu);

// The PDU on the wire: BHS with the AHS and data lengths filled in, AHS, data, padding.
// REQUIRES: ahs.size() a multiple of 4 and at most 1020; data.size() <= kMaxDataSegment.
std::vector<uint8_t> encodeIscsiPdu(const Pdu& pdu);

// Serial number arithmetic (RFC 1982) on 32-bit sequence numbers: a < b.
inline bool serialLess(uint32_t a, uint32_t b) {
  return a != b && static_cast<int32_t>(b - a) > 0;
}

// Name of an opcode for messages.
const char* opcodeName(uint8_t opcode);

}  // namespace iscsi
