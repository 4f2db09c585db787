// Wire protocol between the simulator back end of the SCSI layer (common/scsi/scsi_sim.cc) and the
// raidsim daemon: length-prefixed frames over a Unix stream socket, all integers little-endian.
//
//   header (16 bytes): u32 magic "KSIM" | u16 version | u16 op | u32 sequence | u32 payload length
//
// A request carries one of the ops below; its reply carries op | kSimReplyBit and the request's
// sequence. A request the daemon cannot decode is answered with kSimOpError (text payload) and the
// connection is closed. A connection carries any number of requests, one at a time.
//
//   LIST    request: empty
//           reply:   u16 hostCount, hostCount x {u16 host, u8 initiatorId, u8 flags,
//                    u32 maxPhysicalPages}, u16 deviceCount, deviceCount x {u16 host, u8 bus,
//                    u8 target, u8 lun, u8 claimed, u16 reserved, 96 bytes standard INQUIRY}
//                    flags bit 0: the host's transfer-limit query fails.
//   EXECUTE request: u16 host, u8 bus, u8 target, u8 lun, u8 direction (0 none, 1 in, 2 out),
//                    u8 cdbLength (1-16), u8 senseCapacity, u32 timeoutMs, u32 dataInLength,
//                    u32 dataOutLength, u8 cdb[16], dataOutLength bytes of data
//           reply:   u8 outcome (ScsiOutcome), u8 status, u8 senseLength, u8 reserved,
//                    u32 dataLength, senseLength bytes of sense, dataLength bytes of data
//   CONTROL request: command text (no terminator)
//           reply:   u32 result (0 = done), reply text
//
// This header is shared by both sides and holds only pure encoding and decoding; decoders check
// every length against the payload and the limits, so a truncated or oversized frame is rejected
// without reading past it.
//
// Thread safety: all functions are pure.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace simwire {

inline constexpr uint32_t kMagic = 0x4D49534B;  // "KSIM" read as little-endian bytes
inline constexpr uint16_t kVersion = 1;
inline constexpr size_t kHeaderSize = 16;
// Largest payload either side accepts: a 16 MiB data transfer plus the fixed fields.
inline constexpr uint32_t kMaxData = 16u * 1024 * 1024;
inline constexpr uint32_t kMaxPayload = kMaxData + 1024;
inline constexpr size_t kInquiryBytes = 96;
inline constexpr size_t kExecuteFixedSize = 36;
inline constexpr size_t kListHostSize = 8;
inline constexpr size_t kListDeviceSize = 104;

enum Op : uint16_t {
  kOpList = 1,
  kOpExecute = 2,
  kOpControl = 3,
  kOpError = 0x7FFF,
};
inline constexpr uint16_t kReplyBit = 0x8000;

struct Header {
  uint16_t op = 0;
  uint32_t sequence = 0;
  uint32_t payloadLength = 0;
};

struct ListHost {
  uint16_t host = 0;
  uint8_t initiatorId = 7;
  bool limitFails = false;
  uint32_t maxPhysicalPages = 0;
};

struct ListDevice {
  uint16_t host = 0;
  uint8_t bus = 0;
  uint8_t target = 0;
  uint8_t lun = 0;
  bool claimed = false;
  std::array<uint8_t, kInquiryBytes> inquiry{};
};

struct ListReply {
  std::vector<ListHost> hosts;
  std::vector<ListDevice> devices;
};

struct ExecuteRequest {
  uint16_t host = 0;
  uint8_t bus = 0;
  uint8_t target = 0;
  uint8_t lun = 0;
  uint8_t direction = 0;
  uint8_t cdbLength = 0;
  uint8_t senseCapacity = 0;
  uint32_t timeoutMs = 0;
  uint32_t dataInLength = 0;
  std::array<uint8_t, 16> cdb{};
  std::vector<uint8_t> dataOut;
};

struct ExecuteReply {
  uint8_t outcome = 0;
  uint8_t status = 0;
  std::vector<uint8_t> sense;
  std::vector<uint8_t> data;
};

struct ControlReply {
  uint32_t result = 0;
  std::string text;
};

// ---- little-endian helpers ----

inline void putU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline uint16_t getU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t getU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Bounds-checked reader over a payload.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  bool u8(uint8_t* v) {
    if (left_ < 1) return false;
    *v = *p_;
    advance(1);
    return true;
  }
  bool u16(uint16_t* v) {
    if (left_ < 2) return false;
    *v = getU16(p_);
    advance(2);
    return true;
  }
  bool u32(uint32_t* v) {
    if (left_ < 4) return false;
    *v = getU32(p_);
    advance(4);
    return true;
  }
  bool bytes(void* out, size_t n) {
    if (left_ < n) return false;
    if (n != 0) std::memcpy(out, p_, n);
    advance(n);
    return true;
  }
  size_t left() const { return left_; }

 private:
  void advance(size_t n) {
    p_ += n;
    left_ -= n;
  }
  const uint8_t* p_;
  size_t left_;
};

// ---- frames ----

inline std::vector<uint8_t> encodeFrame(uint16_t op, uint32_t sequence, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  out.reserve(kHeaderSize + payload.size());
  putU32(out, kMagic);
  putU16(out, kVersion);
  putU16(out, op);
  putU32(out, sequence);
  putU32(out, static_cast<uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// Decodes a 16-byte header. False (with a reason) for a wrong magic, version or a payload length
// above kMaxPayload.
inline bool decodeHeader(const uint8_t* bytes, Header* header, std::string* why) {
  if (getU32(bytes) != kMagic) {
    *why = "bad magic";
    return false;
  }
  if (getU16(bytes + 4) != kVersion) {
    *why = "unsupported version";
    return false;
  }
  header->op = getU16(bytes + 6);
  header->sequence = getU32(bytes + 8);
  header->payloadLength = getU32(bytes + 12);
  if (header->payloadLength > kMaxPayload) {
    *why = "payload too large";
    return false;
  }
  return true;
}

// ---- LIST ----

inline std::vector<uint8_t> encodeListReply(const ListReply& reply) {
  std::vector<uint8_t> out;
  putU16(out, static_cast<uint16_t>(reply.hosts.size()));
  for (const ListHost& h : reply.hosts) {
    putU16(out, h.host);
    out.push_back(h.initiatorId);
    out.push_back(h.limitFails ? 1 : 0);
    putU32(out, h.maxPhysicalPages);
  }
  putU16(out, static_cast<uint16_t>(reply.devices.size()));
  for (const ListDevice& d : reply.devices) {
    putU16(out, d.host);
    out.push_back(d.bus);
    out.push_back(d.target);
    out.push_back(d.lun);
    out.push_back(d.claimed ? 1 : 0);
    putU16(out, 0);
    out.insert(out.end(), d.inquiry.begin(), d.inquiry.end());
  }
  return out;
}

inline bool decodeListReply(const std::vector<uint8_t>& payload, ListReply* reply) {
  Reader r(payload.data(), payload.size());
  uint16_t count = 0;
  if (!r.u16(&count) || r.left() < count * kListHostSize) return false;
  reply->hosts.resize(count);
  for (ListHost& h : reply->hosts) {
    uint8_t flags = 0;
    r.u16(&h.host);
    r.u8(&h.initiatorId);
    r.u8(&flags);
    r.u32(&h.maxPhysicalPages);
    h.limitFails = (flags & 1) != 0;
  }
  if (!r.u16(&count) || r.left() != count * kListDeviceSize) return false;
  reply->devices.resize(count);
  for (ListDevice& d : reply->devices) {
    uint8_t claimed = 0;
    uint16_t reserved = 0;
    r.u16(&d.host);
    r.u8(&d.bus);
    r.u8(&d.target);
    r.u8(&d.lun);
    r.u8(&claimed);
    r.u16(&reserved);
    r.bytes(d.inquiry.data(), d.inquiry.size());
    d.claimed = claimed != 0;
  }
  return true;
}

// ---- EXECUTE ----

inline std::vector<uint8_t> encodeExecuteRequest(const ExecuteRequest& req) {
  std::vector<uint8_t> out;
  out.reserve(kExecuteFixedSize + req.dataOut.size());
  putU16(out, req.host);
  out.push_back(req.bus);
  out.push_back(req.target);
  out.push_back(req.lun);
  out.push_back(req.direction);
  out.push_back(req.cdbLength);
  out.push_back(req.senseCapacity);
  putU32(out, req.timeoutMs);
  putU32(out, req.dataInLength);
  putU32(out, static_cast<uint32_t>(req.dataOut.size()));
  out.insert(out.end(), req.cdb.begin(), req.cdb.end());
  out.insert(out.end(), req.dataOut.begin(), req.dataOut.end());
  return out;
}

inline bool decodeExecuteRequest(const std::vector<uint8_t>& payload, ExecuteRequest* req, std::string* why) {
  Reader r(payload.data(), payload.size());
  uint32_t outLength = 0;
  if (payload.size() < kExecuteFixedSize) {
    *why = "execute request truncated";
    return false;
  }
  r.u16(&req->host);
  r.u8(&req->bus);
  r.u8(&req->target);
  r.u8(&req->lun);
  r.u8(&req->direction);
  r.u8(&req->cdbLength);
  r.u8(&req->senseCapacity);
  r.u32(&req->timeoutMs);
  r.u32(&req->dataInLength);
  r.u32(&outLength);
  r.bytes(req->cdb.data(), req->cdb.size());
  if (req->direction > 2 || req->cdbLength == 0 || req->cdbLength > 16) {
    *why = "bad direction or CDB length";
    return false;
  }
  if (req->dataInLength > kMaxData || outLength != r.left()) {
    *why = "data length does not match";
    return false;
  }
  if ((req->direction != 1 && req->dataInLength != 0) || (req->direction != 2 && outLength != 0)) {
    *why = "data length does not fit the direction";
    return false;
  }
  req->dataOut.resize(outLength);
  r.bytes(req->dataOut.data(), outLength);
  return true;
}

inline std::vector<uint8_t> encodeExecuteReply(const ExecuteReply& reply) {
  std::vector<uint8_t> out;
  out.reserve(8 + reply.sense.size() + reply.data.size());
  out.push_back(reply.outcome);
  out.push_back(reply.status);
  out.push_back(static_cast<uint8_t>(reply.sense.size()));
  out.push_back(0);
  putU32(out, static_cast<uint32_t>(reply.data.size()));
  out.insert(out.end(), reply.sense.begin(), reply.sense.end());
  out.insert(out.end(), reply.data.begin(), reply.data.end());
  return out;
}

// Decodes into the caller's buffers: sense gets at most senseCapacity bytes (the rest is dropped),
// data at most dataCapacity bytes (more is an error: the daemon never sends more than asked).
inline bool decodeExecuteReply(const std::vector<uint8_t>& payload, uint8_t* outcome, uint8_t* status,
                               uint8_t* sense, uint8_t senseCapacity, uint8_t* senseLength, uint8_t* data,
                               uint32_t dataCapacity, uint32_t* dataLength) {
  Reader r(payload.data(), payload.size());
  uint8_t senseBytes = 0;
  uint8_t reserved = 0;
  uint32_t dataBytes = 0;
  if (!r.u8(outcome) || !r.u8(status) || !r.u8(&senseBytes) || !r.u8(&reserved) || !r.u32(&dataBytes)) {
    return false;
  }
  if (r.left() != static_cast<size_t>(senseBytes) + dataBytes || dataBytes > dataCapacity || *outcome > 5) {
    return false;
  }
  std::array<uint8_t, 255> senseCopy{};
  r.bytes(senseCopy.data(), senseBytes);
  uint8_t kept = senseBytes < senseCapacity ? senseBytes : senseCapacity;
  if (kept != 0) std::memcpy(sense, senseCopy.data(), kept);
  *senseLength = kept;
  if (dataBytes != 0) r.bytes(data, dataBytes);
  *dataLength = dataBytes;
  return true;
}

// ---- CONTROL ----

inline std::vector<uint8_t> encodeText(std::string_view text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> encodeControlReply(const ControlReply& reply) {
  std::vector<uint8_t> out;
  putU32(out, reply.result);
  out.insert(out.end(), reply.text.begin(), reply.text.end());
  return out;
}

inline bool decodeControlReply(const std::vector<uint8_t>& payload, ControlReply* reply) {
  if (payload.size() < 4) return false;
  reply->result = getU32(payload.data());
  reply->text.assign(payload.begin() + 4, payload.end());
  return true;
}

}  // namespace simwire
