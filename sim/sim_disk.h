// A simulated plain disk: INQUIRY (with VPD pages), READ CAPACITY(10) and (16), TEST UNIT READY,
// REQUEST SENSE. A failed disk still answers INQUIRY and reports a logical unit failure to
// everything else.
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include "sim/sim_target.h"

namespace sim {

struct DiskConfig {
  std::string name;
  SimIdentity identity;  // peripheral type 0
  uint64_t blocks = 7814037168ULL;
  uint32_t blockSize = 512;
};

class SimDisk : public SimTarget {
 public:
  explicit SimDisk(DiskConfig config) : SimTarget(config.name), config_(std::move(config)) {}

  const char* kind() const override { return "disk"; }
  SimIdentity identity(int) const override { return config_.identity; }

  bool failed() const { return failed_; }
  void setFailed(bool failed) { failed_ = failed; }
  const DiskConfig& config() const { return config_; }

 protected:
  bool handle(const SimCommand& command, SimReply* reply) override;
  SenseCode failure(int) const override {
    return failed_ ? SenseCode{kSenseHardwareError, kAscLogicalUnitFailure, 0x01} : SenseCode{};
  }

 private:
  DiskConfig config_;
  bool failed_ = false;
};

}  // namespace sim
