// Simulated MegaRAID controllers and their control commands; see megaraid.h.
#include "sim/megaraid.h"

#include <cstdio>

#include "sim/sim_text.h"

namespace sim {

namespace {

constexpr uint32_t kMaxTransfer = 65536;

DiskConfig driveConfig(const std::string& controller, int controllerId, int deviceId, uint64_t blocks) {
  char serial[16];
  std::snprintf(serial, sizeof(serial), "MR%02dD%05d", controllerId % 100, deviceId);
  DiskConfig disk;
  disk.name = controller + ".pd" + std::to_string(deviceId);
  disk.identity = {0x00,   "KESTROVA", "SIM MR DISK",
                   "0200", serial,     0x5000C50A00000000ULL | static_cast<uint64_t>(deviceId),
                   false};
  disk.blocks = blocks;
  return disk;
}

std::string hexOrDash(const std::vector<uint8_t>& bytes) { return bytes.empty() ? "-" : hexEncode(bytes); }

const MegaRaidController* findController(const std::vector<std::unique_ptr<MegaRaidController>>& controllers,
                                         const std::string& word) {
  int id = 0;
  if (!parseInRange(word, 0, 0xFFFFFF, &id)) return nullptr;
  for (const auto& c : controllers) {
    if (c->id() == id) return c.get();
  }
  return nullptr;
}

int execute(const MegaRaidController& controller, const std::vector<std::string>& words, std::string* reply) {
  int device = 0;
  int allocation = 0;
  std::vector<uint8_t> cdb;
  std::vector<uint8_t> dataOut;
  const std::string& direction = words[4];
  if (!parseInRange(words[3], 0, 65535, &device) || !parseInRange(words[5], 0, kMaxTransfer, &allocation) ||
      !hexDecode(words[6], &cdb) || cdb.empty() || cdb.size() > 16 ||
      (words.size() > 7 && !hexDecode(words[7], &dataOut)) ||
      (direction != "in" && direction != "out" && direction != "none")) {
    *reply = "usage: megaraid exec CTRL DEV in|out|none ALLOC CDB [DATA]";
    return 1;
  }
  SimTarget* target = controller.find(device);
  if (target == nullptr) {
    *reply = "no device " + words[3];
    return 1;
  }
  SimCommand command;
  command.cdb = cdb;
  command.direction = direction == "in"    ? ScsiDirection::kIn
                      : direction == "out" ? ScsiDirection::kOut
                                           : ScsiDirection::kNone;
  command.dataInLength = direction == "in" ? static_cast<uint32_t>(allocation) : 0;
  command.dataOut = dataOut;
  SimReply answer = target->execute(command);
  if (answer.data.size() > command.dataInLength) answer.data.resize(command.dataInLength);
  int status = answer.outcome == ScsiOutcome::kGood             ? 0
               : answer.outcome == ScsiOutcome::kCheckCondition ? 2
                                                                : 0xFF;
  *reply = std::to_string(status) + " " + hexOrDash(answer.sense) + " " + hexOrDash(answer.data);
  return 0;
}

}  // namespace

MegaRaidController::MegaRaidController(const MegaRaidConfig& config, int id, SesEnclosure* enclosure)
    : id_(id), name_(config.name), sasItIr_(config.sasItIr) {
  uint16_t next = 0;
  if (enclosure != nullptr) {
    uint16_t enclosureId = next++;
    drives_.push_back(Drive{enclosureId, enclosureId, 0, 0xFF, 13, enclosure});
    for (int slot = 0; slot < config.enclosureDrives; ++slot) {
      disks_.push_back(std::make_unique<SimDisk>(driveConfig(config.name, id, next, config.driveBlocks)));
      drives_.push_back(Drive{next++, enclosureId, 0, static_cast<uint8_t>(slot), 0, disks_.back().get()});
    }
  }
  for (int i = 0; i < config.systemDrives; ++i) {
    disks_.push_back(std::make_unique<SimDisk>(driveConfig(config.name, id, next, config.driveBlocks)));
    drives_.push_back(Drive{next++, 0xFFFF, 0xFF, 0xFF, 0, disks_.back().get()});
  }
}

SimTarget* MegaRaidController::find(int deviceId) const {
  for (const Drive& d : drives_) {
    if (d.deviceId == deviceId) return d.target;
  }
  return nullptr;
}

int megaRaidCommand(const std::vector<std::unique_ptr<MegaRaidController>>& controllers,
                    const std::vector<std::string>& words, std::string* reply) {
  const std::string what = words.size() > 1 ? words[1] : "";
  if (what == "list" && words.size() == 2) {
    reply->clear();
    for (const auto& c : controllers)
      *reply += std::to_string(c->id()) + " " + std::to_string(c->type()) + " " + c->name() + "\n";
    return 0;
  }
  const MegaRaidController* controller = words.size() > 2 ? findController(controllers, words[2]) : nullptr;
  if ((what == "drives" && words.size() == 3) || (what == "exec" && words.size() >= 7 && words.size() <= 8)) {
    if (controller == nullptr) {
      *reply = "invalid controller";
      return 1;
    }
    if (what == "exec") return execute(*controller, words, reply);
    reply->clear();
    for (const MegaRaidController::Drive& d : controller->drives()) {
      *reply += std::to_string(d.deviceId) + " " + std::to_string(d.enclosureDeviceId) + " " +
                std::to_string(d.enclosureIndex) + " " + std::to_string(d.slot) + " " +
                std::to_string(d.type) + "\n";
    }
    return 0;
  }
  *reply =
      "usage: megaraid list | megaraid drives CTRL | megaraid exec CTRL DEV in|out|none ALLOC CDB [DATA]";
  return 1;
}

}  // namespace sim
