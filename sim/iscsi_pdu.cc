// iSCSI PDU codec; see iscsi_pdu.h.
#include "sim/iscsi_pdu.h"

#include <algorithm>

namespace iscsi {

namespace {

constexpr size_t kMaxAhsLength = 255 * 4;

size_t padded(size_t length) { return (length + 3) & ~static_cast<size_t>(3); }

}  // namespace

uint16_t Pdu::u16(size_t offset) const {
  return static_cast<uint16_t>((bhs[offset] << 8) | bhs[offset + 1]);
}

uint32_t Pdu::u24(size_t offset) const {
  return (static_cast<uint32_t>(bhs[offset]) << 16) | (static_cast<uint32_t>(bhs[offset + 1]) << 8) |
         bhs[offset + 2];
}

uint32_t Pdu::u32(size_t offset) const {
  return (static_cast<uint32_t>(u16(offset)) << 16) | u16(offset + 2);
}

uint64_t Pdu::u64(size_t offset) const { return (static_cast<uint64_t>(u32(offset)) << 32) | u32(offset + 4); }

void Pdu::setU16(size_t offset, uint16_t value) {
  bhs[offset] = static_cast<uint8_t>(value >> 8);
  bhs[offset + 1] = static_cast<uint8_t>(value);
}

void Pdu::setU32(size_t offset, uint32_t value) {
  setU16(offset, static_cast<uint16_t>(value >> 16));
  setU16(offset + 2, static_cast<uint16_t>(value));
}

void Pdu::setU64(size_t offset, uint64_t value) {
  setU32(offset, static_cast<uint32_t>(value >> 32));
  setU32(offset + 4, static_cast<uint32_t>(value));
}

Pdu makePdu(uint8_t opcode, uint8_t flags) {
  Pdu pdu;
  pdu.bhs[0] = opcode;
  pdu.bhs[1] = flags;
  return pdu;
}

DecodeResult decodeIscsiPdu(std::span<const uint8_t> bytes, uint32_t maxData, Pdu* pdu) {
  DecodeResult result;
  if (bytes.size() < kBhsLength) return result;
  size_t ahsLength = static_cast<size_t>(bytes[4]) * 4;
  uint32_t dataLength = (static_cast<uint32_t>(bytes[5]) << 16) | (static_cast<uint32_t>(bytes[6]) << 8) | bytes[7];
  if (dataLength > maxData) {
    result.status = DecodeStatus::kBad;
    result.why = "data segment of " + std::to_string(dataLength) + " bytes exceeds the agreed " +
                 std::to_string(maxData);
    return result;
  }
  size_t total = kBhsLength + ahsLength + padded(dataLength);
  if (bytes.size() < total) return result;
  std::copy(bytes.begin(), bytes.begin() + kBhsLength, pdu->bhs.begin());
  pdu->ahs.assign(bytes.begin() + kBhsLength, bytes.begin() + static_cast<std::ptrdiff_t>(kBhsLength + ahsLength));
  auto dataStart = bytes.begin() + static_cast<std::ptrdiff_t>(kBhsLength + ahsLength);
  pdu->data.assign(dataStart, dataStart + dataLength);
  // Every AHS names its own length; together they must fill the AHS area exactly.
  size_t at = 0;
  while (at < pdu->ahs.size()) {
    if (pdu->ahs.size() - at < 4) break;
    size_t length = (static_cast<size_t>(pdu->ahs[at]) << 8) | pdu->ahs[at + 1];
    at += padded(3 + length);
  }
  if (at != pdu->ahs.size()) {
    result.status = DecodeStatus::kBad;
    result.why = "additional header segments do not fill their declared length";
    return result;
  }
  result.status = DecodeStatus::kComplete;
  result.consumed = total;
  return result;
}

std::vector<uint8_t> encodeIscsiPdu(const Pdu& pdu) {
  Pdu header = pdu;
  size_t ahsLength = std::min(pdu.ahs.size() & ~static_cast<size_t>(3), kMaxAhsLength);
  uint32_t dataLength = static_cast<uint32_t>(std::min<size_t>(pdu.data.size(), kMaxDataSegment));
  header.bhs[4] = static_cast<uint8_t>(ahsLength / 4);
  header.bhs[5] = static_cast<uint8_t>(dataLength >> 16);
  header.bhs[6] = static_cast<uint8_t>(dataLength >> 8);
  header.bhs[7] = static_cast<uint8_t>(dataLength);
  std::vector<uint8_t> out(header.bhs.begin(), header.bhs.end());
  out.insert(out.end(), pdu.ahs.begin(), pdu.ahs.begin() + static_cast<std::ptrdiff_t>(ahsLength));
  out.insert(out.end(), pdu.data.begin(), pdu.data.begin() + dataLength);
  out.resize(out.size() + (padded(dataLength) - dataLength), 0);
  return out;
}

const char* opcodeName(uint8_t opcode) {
  switch (opcode) {
    case kNopOut: return "NOP-Out";
    case kScsiCommand: return "SCSI Command";
    case kTaskManagement: return "Task Management";
    case kLoginRequest: return "Login";
    case kTextRequest: return "Text";
    case kDataOut: return "Data-Out";
    case kLogoutRequest: return "Logout";
    case kSnackRequest: return "SNACK";
    case kNopIn: return "NOP-In";
    case kScsiResponse: return "SCSI Response";
    case kTaskManagementResponse: return "Task Management Response";
    case kLoginResponse: return "Login Response";
    case kTextResponse: return "Text Response";
    case kDataIn: return "Data-In";
    case kLogoutResponse: return "Logout Response";
    case kReadyToTransfer: return "R2T";
    case kAsyncMessage: return "Async Message";
    case kReject: return "Reject";
    default: return "unknown";
  }
}

}  // namespace iscsi
