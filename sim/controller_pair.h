// A simulated RAID controller pair as the host sees it: controllers A and B, each through one or
// more paths (host, bus, target, LUN), answering INQUIRY with the pair's identity and the
// controller's own serial and WWN, and passing READ BUFFER / WRITE BUFFER to its model.
//
// A failed controller does not answer on its paths (kNoAnswer), as a dead controller would not.
// A direct-access path (type 0) also answers the block commands of a small read-only access
// volume (sim_block.h), as such a path must for the initiators that ask a disk its capacity.
// The path tag of a command is the index of the path in the pair's configuration.
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <memory>

#include "sim/controller_model.h"
#include "sim/sim_block.h"
#include "sim/sim_target.h"

namespace sim {

class ControllerPair : public SimTarget {
 public:
  // REQUIRES: model != null. enclosure may be null; it must outlive the pair.
  ControllerPair(PairConfig config, std::unique_ptr<ControllerPairModel> model, SesEnclosure* enclosure);

  const char* kind() const override { return "pair"; }
  SimIdentity identity(int pathTag) const override;
  bool answers(int pathTag) const override;

  const PairConfig& config() const { return config_; }
  PairState& state() { return state_; }
  const PairState& state() const { return state_; }
  ControllerPairModel& model() { return *model_; }
  const ControllerPairModel& model() const { return *model_; }
  int controllerOfPath(int pathTag) const;

 protected:
  bool handle(const SimCommand& command, SimReply* reply) override;

 private:
  PairConfig config_;
  PairState state_;
  std::unique_ptr<ControllerPairModel> model_;
  ZeroBlocks accessVolume_{2048, 512};
};

}  // namespace sim
