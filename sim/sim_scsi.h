// SCSI vocabulary of the simulator: the command as a simulated device receives it, its reply, and
// sense-data and big-endian helpers. Used by every simulated device and by the controller-pair
// models (sim/controller_model.h).
//
// Thread safety: plain values and pure functions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/scsi/scsi_transport.h"

namespace sim {

// Sense keys and the additional sense codes the simulator reports.
inline constexpr uint8_t kSenseNoSense = 0x00;
inline constexpr uint8_t kSenseNotReady = 0x02;
inline constexpr uint8_t kSenseHardwareError = 0x04;
inline constexpr uint8_t kSenseIllegalRequest = 0x05;
inline constexpr uint8_t kSenseUnitAttention = 0x06;
inline constexpr uint8_t kAscInvalidOpcode = 0x20;
inline constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
inline constexpr uint8_t kAscInvalidFieldInParameters = 0x26;
inline constexpr uint8_t kAscLogicalUnitFailure = 0x3E;

inline constexpr uint8_t kStatusGood = 0x00;
inline constexpr uint8_t kStatusCheckCondition = 0x02;

struct SenseCode {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};

struct SimCommand {
  std::span<const uint8_t> cdb;
  ScsiDirection direction = ScsiDirection::kNone;
  uint32_t dataInLength = 0;         // the most the initiator accepts
  std::span<const uint8_t> dataOut;  // data sent with the command
  int pathTag = 0;                   // which port of the device carried it (controller 0/1)
};

struct SimReply {
  ScsiOutcome outcome = ScsiOutcome::kGood;
  uint8_t status = kStatusGood;
  std::vector<uint8_t> sense;
  std::vector<uint8_t> data;
  // The bytes the command itself asked to move (in or out) when the device knows it, -1 when not:
  // a transport that can report residuals (iSCSI) compares it with the initiator's buffer.
  int64_t commandLength = -1;
};

// Fixed-format sense data, 18 bytes.
inline std::vector<uint8_t> fixedSense(SenseCode code) {
  std::vector<uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = code.key & 0x0F;
  sense[7] = 10;
  sense[12] = code.asc;
  sense[13] = code.ascq;
  return sense;
}

inline SimReply goodReply(std::vector<uint8_t> data = {}) {
  SimReply reply;
  reply.data = std::move(data);
  return reply;
}

inline SimReply checkCondition(SenseCode code) {
  SimReply reply;
  reply.outcome = ScsiOutcome::kCheckCondition;
  reply.status = kStatusCheckCondition;
  reply.sense = fixedSense(code);
  return reply;
}

inline SimReply illegalRequest(uint8_t asc = kAscInvalidFieldInCdb) {
  return checkCondition({kSenseIllegalRequest, asc, 0});
}

inline SimReply noAnswer() {
  SimReply reply;
  reply.outcome = ScsiOutcome::kNoAnswer;
  return reply;
}

inline uint32_t be16(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }
inline uint32_t be24(const uint8_t* p) { return (be16(p) << 8) | p[2]; }
inline uint32_t be32(const uint8_t* p) { return (be16(p) << 16) | be16(p + 2); }
inline void putBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void putBe32(uint8_t* p, uint32_t v) {
  putBe16(p, v >> 16);
  putBe16(p + 2, v);
}
inline void putBe64(uint8_t* p, uint64_t v) {
  putBe32(p, static_cast<uint32_t>(v >> 32));
  putBe32(p + 4, static_cast<uint32_t>(v));
}

// Copies text into a blank-padded field of width bytes.
inline void putPadded(uint8_t* field, size_t width, const std::string& text) {
  for (size_t i = 0; i < width; ++i) field[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

}  // namespace sim
