// The registry of controller-pair models and the loopback model; see pair_models.h.
#include "sim/pair_models.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sim/brivo_model.h"
#include "sim/loopback_model.h"
#include "sim/sim_text.h"

namespace sim {

std::unique_ptr<ControllerPairModel> makePairModel(const std::string& name) {
  if (name == "default") return std::make_unique<ControllerPairModel>();
  if (name == "loopback") return std::make_unique<LoopbackModel>();
  if (name == "brivo") return std::make_unique<BrivoModel>();
  return nullptr;
}

void LoopbackModel::attach(PairState& pair) {
  auto it = pair.config->modelOptions.find("size");
  uint64_t size = 0;
  if (it != pair.config->modelOptions.end() && parseUnsigned(it->second, &size) && size >= 4 &&
      size <= 16 * 1024 * 1024) {
    size_ = static_cast<uint32_t>(size);
  }
}

uint8_t LoopbackModel::patternByte(uint8_t bufferId, uint32_t size, uint32_t i) {
  if (i < 4) return static_cast<uint8_t>(size >> (8 * i));
  return static_cast<uint8_t>(i * 7 + bufferId);
}

ModelResult LoopbackModel::readBuffer(PairState&, const BufferCommand& command, std::vector<uint8_t>* data) {
  if (command.mode != 2) {
    data->resize(command.length);
    for (uint32_t i = 0; i < command.length; ++i)
      (*data)[i] = patternByte(command.bufferId, command.length, i + 4);
    return ModelResult::good();
  }
  auto it = buffers_.find(command.bufferId);
  uint32_t size = it != buffers_.end() ? static_cast<uint32_t>(it->second.size()) : size_;
  if (command.offset >= size) return ModelResult::good();
  uint32_t length = std::min(command.length, size - command.offset);
  data->resize(length);
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t at = command.offset + i;
    (*data)[i] = it != buffers_.end() ? it->second[at] : patternByte(command.bufferId, size, at);
  }
  return ModelResult::good();
}

ModelResult LoopbackModel::writeBuffer(PairState&, const BufferCommand& command,
                                       std::span<const uint8_t> data) {
  if (command.mode != 2) return ModelResult::good();
  std::vector<uint8_t>& buffer = buffers_[command.bufferId];
  size_t end = static_cast<size_t>(command.offset) + data.size();
  if (end > 16u * 1024 * 1024) return ModelResult::check({kSenseIllegalRequest, kAscInvalidFieldInCdb, 0});
  if (buffer.size() < end) buffer.resize(end);
  std::copy(data.begin(), data.end(), buffer.begin() + command.offset);
  return ModelResult::good();
}

void LoopbackModel::saveState(const PairState&, std::vector<std::pair<std::string, std::string>>* out) const {
  for (const auto& [id, bytes] : buffers_) {
    char key[16];
    std::snprintf(key, sizeof(key), "buffer.%02X", id);
    out->emplace_back(key, hexEncode(bytes));
  }
}

bool LoopbackModel::loadState(PairState&, const std::string& key, const std::string& value) {
  unsigned id = 0;
  char tail = 0;
  std::vector<uint8_t> bytes;
  if (std::sscanf(key.c_str(), "buffer.%2X%c", &id, &tail) != 1 || !hexDecode(value, &bytes)) return false;
  buffers_[static_cast<uint8_t>(id)] = std::move(bytes);
  return true;
}

std::string LoopbackModel::describe(const PairState&) const {
  return "loopback model, " + std::to_string(buffers_.size()) + " stored buffers";
}

}  // namespace sim
