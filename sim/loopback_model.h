// The "loopback" controller-pair model (see pair_models.h): stores what WRITE BUFFER sends and
// returns it on READ BUFFER, so transport code can be tested and measured without the controller
// protocol.
//
// Thread safety: none; used under the simulated world's lock.
#pragma once

#include <map>

#include "sim/controller_model.h"

namespace sim {

inline constexpr uint32_t kLoopbackDefaultSize = 940032;

class LoopbackModel : public ControllerPairModel {
 public:
  const char* name() const override { return "loopback"; }
  void attach(PairState& pair) override;
  ModelResult readBuffer(PairState& pair, const BufferCommand& command, std::vector<uint8_t>* data) override;
  ModelResult writeBuffer(PairState& pair, const BufferCommand& command,
                          std::span<const uint8_t> data) override;
  void saveState(const PairState& pair, std::vector<std::pair<std::string, std::string>>* out) const override;
  bool loadState(PairState& pair, const std::string& key, const std::string& value) override;
  std::string describe(const PairState& pair) const override;

  // Byte i of a never-written buffer.
  static uint8_t patternByte(uint8_t bufferId, uint32_t size, uint32_t i);

 private:
  uint32_t size_ = kLoopbackDefaultSize;
  std::map<uint8_t, std::vector<uint8_t>> buffers_;
};

}  // namespace sim
