// A simulated RAID controller pair; see controller_pair.h.
#include "sim/controller_pair.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "sim/ses_enclosure.h"

namespace sim {

namespace {

constexpr uint8_t kOpReadBuffer = 0x3C;
constexpr uint8_t kOpWriteBuffer = 0x3B;

std::string serialOf(const PairConfig& config, int controller) {
  char text[20];
  std::snprintf(text, sizeof(text), "%c%010llX", controller == 0 ? 'A' : 'B',
                static_cast<unsigned long long>(config.wwn & 0xFFFFFFFFFFULL));
  return text;
}

}  // namespace

ControllerPair::ControllerPair(PairConfig config, std::unique_ptr<ControllerPairModel> model,
                               SesEnclosure* enclosure)
    : SimTarget(config.name), config_(std::move(config)), model_(std::move(model)) {
  state_.config = &config_;
  state_.enclosure = enclosure;
  state_.startTime = static_cast<int64_t>(std::time(nullptr));
  for (int c = 0; c < 2; ++c) {
    state_.controllers[c].batteryCharge = config_.batteryCharge;
    state_.controllers[c].wwn = config_.wwn + 1 + static_cast<uint64_t>(c);
    state_.controllers[c].serial = serialOf(config_, c);
  }
  for (int i = 0; i < config_.drives; ++i) {
    PairDrive drive;
    drive.wwn = 0x5000C50000000000ULL + ((config_.wwn & 0xFFFFFF) << 8) + static_cast<uint64_t>(i);
    drive.blocks = config_.driveBlocks;
    drive.slot = config_.firstSlot + i;
    char serial[24];
    std::snprintf(serial, sizeof(serial), "SIM%06llX%02X",
                  static_cast<unsigned long long>(config_.wwn & 0xFFFFFF), static_cast<unsigned>(i & 0xFF));
    drive.serial = serial;
    state_.drives.push_back(drive);
  }
  model_->attach(state_);
}

int ControllerPair::controllerOfPath(int pathTag) const {
  if (pathTag < 0 || static_cast<size_t>(pathTag) >= config_.paths.size()) return 0;
  return config_.paths[pathTag].controller;
}

SimIdentity ControllerPair::identity(int pathTag) const {
  int controller = controllerOfPath(pathTag);
  SimIdentity id;
  id.peripheralType = static_cast<uint8_t>(pathTag >= 0 && static_cast<size_t>(pathTag) < config_.paths.size()
                                               ? config_.paths[pathTag].peripheralType
                                               : config_.peripheralType);
  id.vendor = config_.vendor;
  id.product = config_.product;
  id.revision = config_.revision;
  id.serial = state_.controllers[controller].serial;
  id.wwn = state_.controllers[controller].wwn;
  return id;
}

bool ControllerPair::answers(int pathTag) const {
  return !state_.controllers[controllerOfPath(pathTag)].failed;
}

bool ControllerPair::handle(const SimCommand& command, SimReply* reply) {
  const uint8_t* cdb = command.cdb.data();
  if (cdb[0] != kOpReadBuffer && cdb[0] != kOpWriteBuffer) {
    return identity(command.pathTag).peripheralType == 0 && handleBlockCommand(accessVolume_, command, reply);
  }
  if (command.cdb.size() < 10) return false;
  BufferCommand buffer;
  buffer.controller = controllerOfPath(command.pathTag);
  buffer.mode = cdb[1] & 0x1F;
  buffer.bufferId = cdb[2];
  buffer.offset = be24(cdb + 3);
  buffer.length = be24(cdb + 6);
  buffer.cdb = command.cdb;
  buffer.dataInLength = command.dataInLength;
  ModelResult result;
  std::vector<uint8_t> data;
  if (cdb[0] == kOpReadBuffer) {
    result = model_->readBuffer(state_, buffer, &data);
  } else {
    result = model_->writeBuffer(state_, buffer, command.dataOut);
  }
  if (result.noAnswer) {
    *reply = noAnswer();
  } else if (result.sense.key != 0) {
    *reply = checkCondition(result.sense);
  } else {
    // The allocation length is in bytes 6-8, except for the SES pass-through IDs, whose bytes
    // 6-8 carry parameters and whose length is the initiator's buffer.
    bool parameters = buffer.bufferId >= 0xF0 && buffer.bufferId <= 0xF2;
    uint32_t allocation = parameters ? command.dataInLength : buffer.length;
    *reply = cdb[0] == kOpReadBuffer ? dataReply(std::move(data), allocation, command) : goodReply();
  }
  return true;
}

}  // namespace sim
