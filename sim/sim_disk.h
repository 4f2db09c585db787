// A simulated plain disk: INQUIRY (with VPD pages), TEST UNIT READY, REQUEST SENSE and the block
// commands of sim_block.h over a sparse store (what is written reads back until the daemon
// stops; the contents are not part of the saved state). A failed disk still answers INQUIRY and
// reports a logical unit failure to everything else.
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include "sim/sim_block.h"
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
  explicit SimDisk(DiskConfig config)
      : SimTarget(config.name), config_(std::move(config)), media_(config_.blocks, config_.blockSize) {}

  const char* kind() const override { return "disk"; }
  SimIdentity identity(int) const override { return config_.identity; }

  bool failed() const { return failed_; }
  void setFailed(bool failed) { failed_ = failed; }
  const DiskConfig& config() const { return config_; }

 protected:
  bool handle(const SimCommand& command, SimReply* reply) override;
  // Block limits (0xB0) and block device characteristics (0xB1), which a disk offers.
  std::vector<uint8_t> extraVpdPageCodes() const override { return {0xB0, 0xB1}; }
  bool extraVpdPage(uint8_t page, std::vector<uint8_t>* data) const override;
  SenseCode failure(int) const override {
    return failed_ ? SenseCode{kSenseHardwareError, kAscLogicalUnitFailure, 0x01} : SenseCode{};
  }

 private:
  DiskConfig config_;
  SparseBlocks media_;
  bool failed_ = false;
};

}  // namespace sim
