// A simulated plain disk; see sim_disk.h.
#include "sim/sim_disk.h"

namespace sim {

namespace {

constexpr uint8_t kOpReadCapacity10 = 0x25;
constexpr uint8_t kOpServiceActionIn16 = 0x9E;
constexpr uint8_t kReadCapacity16 = 0x10;

}  // namespace

bool SimDisk::handle(const SimCommand& command, SimReply* reply) {
  const uint8_t* cdb = command.cdb.data();
  uint64_t lastBlock = config_.blocks == 0 ? 0 : config_.blocks - 1;
  if (cdb[0] == kOpReadCapacity10 && command.cdb.size() >= 10) {
    std::vector<uint8_t> data(8);
    putBe32(&data[0], lastBlock > 0xFFFFFFFFULL ? 0xFFFFFFFFu : static_cast<uint32_t>(lastBlock));
    putBe32(&data[4], config_.blockSize);
    *reply = dataReply(std::move(data), 8, command);
    return true;
  }
  if (cdb[0] == kOpServiceActionIn16 && (cdb[1] & 0x1F) == kReadCapacity16 && command.cdb.size() >= 16) {
    std::vector<uint8_t> data(32, 0);
    putBe64(&data[0], lastBlock);
    putBe32(&data[8], config_.blockSize);
    *reply = dataReply(std::move(data), be32(cdb + 10), command);
    return true;
  }
  return false;
}

}  // namespace sim
