// Base of every simulated SCSI device (disk, SES enclosure, controller pair): its identity and the
// commands all of them answer the same way (standard INQUIRY, the VPD pages 0x00, 0x80 and 0x83,
// TEST UNIT READY, REQUEST SENSE). A subclass adds its own commands in handle().
//
// Thread safety: none of its own; the simulated world (sim_world.h) serializes every call.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/sim_scsi.h"

namespace sim {

inline constexpr size_t kInquiryLength = 96;

struct SimIdentity {
  uint8_t peripheralType = 0;
  std::string vendor;    // 8
  std::string product;   // 16
  std::string revision;  // 4
  std::string serial;    // INQUIRY bytes 36-47 and VPD page 0x80
  uint64_t wwn = 0;      // NAA designator of VPD page 0x83
  bool enclosureServices = false;
};

class SimTarget {
 public:
  explicit SimTarget(std::string name) : name_(std::move(name)) {}
  virtual ~SimTarget() = default;
  SimTarget(const SimTarget&) = delete;
  SimTarget& operator=(const SimTarget&) = delete;

  const std::string& name() const { return name_; }
  virtual const char* kind() const = 0;
  // The identity shown through one path (a pair may answer differently on each path).
  virtual SimIdentity identity(int pathTag) const = 0;

  // False when the device does not answer on that path at all (a failed controller).
  virtual bool answers(int pathTag) const {
    (void)pathTag;
    return true;
  }

  std::array<uint8_t, kInquiryLength> standardInquiry(int pathTag) const;
  SimReply execute(const SimCommand& command);

 protected:
  // Device-specific commands. Return true when the opcode was handled (reply filled).
  virtual bool handle(const SimCommand& command, SimReply* reply) = 0;
  // Device-specific VPD pages: their codes for page 0x00, and their bodies appended after the
  // 4-byte header (false for a page the device does not have).
  virtual std::vector<uint8_t> extraVpdPageCodes() const { return {}; }
  virtual bool extraVpdPage(uint8_t page, std::vector<uint8_t>* data) const {
    (void)page;
    (void)data;
    return false;
  }
  // A sense to return for every command but INQUIRY (a failed device), or key 0 for none.
  virtual SenseCode failure(int pathTag) const {
    (void)pathTag;
    return {};
  }

 private:
  SimReply inquiry(const SimCommand& command) const;
  SimReply vpdPage(uint8_t page, const SimIdentity& id) const;

  std::string name_;
};

// Truncates data to the initiator's allocation and buffer lengths.
SimReply dataReply(std::vector<uint8_t> data, uint32_t allocation, const SimCommand& command);

}  // namespace sim
