// Commands common to every simulated device; see sim_target.h.
#include "sim/sim_target.h"

#include <algorithm>

namespace sim {

namespace {

constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpInquiry = 0x12;

}  // namespace

SimReply dataReply(std::vector<uint8_t> data, uint32_t allocation, const SimCommand& command) {
  size_t wanted = std::min<size_t>(data.size(), allocation);
  data.resize(std::min<size_t>(wanted, command.dataInLength));
  SimReply reply = goodReply(std::move(data));
  reply.commandLength = static_cast<int64_t>(wanted);
  return reply;
}

std::array<uint8_t, kInquiryLength> SimTarget::standardInquiry(int pathTag) const {
  SimIdentity id = identity(pathTag);
  std::array<uint8_t, kInquiryLength> data{};
  data[0] = id.peripheralType & 0x1F;
  data[2] = 0x06;  // SPC-4
  data[3] = 0x12;  // HiSup, response data format 2
  data[4] = kInquiryLength - 5;
  data[6] = id.enclosureServices ? 0x40 : 0x00;
  data[7] = 0x02;  // command queuing
  putPadded(&data[8], 8, id.vendor);
  putPadded(&data[16], 16, id.product);
  putPadded(&data[32], 4, id.revision);
  putPadded(&data[36], 12, id.serial);
  // Version descriptors: SAM-5 and SPC-4, and SBC-3 for a direct-access device (which answers
  // the block commands), so initiators know which standards to hold the answers to.
  putBe16(&data[58], 0x00A0);
  putBe16(&data[60], 0x0460);
  if (id.peripheralType == 0) putBe16(&data[62], 0x04C0);
  return data;
}

SimReply SimTarget::vpdPage(uint8_t page, const SimIdentity& id) const {
  std::vector<uint8_t> data(4, 0);
  data[0] = id.peripheralType & 0x1F;
  data[1] = page;
  // The pages answered here are put together apart and copied behind the header in one piece:
  // GCC 12 at -O2 takes an insert into the 4-byte header vector for a copy out of its bounds.
  std::vector<uint8_t> body;
  switch (page) {
    case 0x00: {
      const std::vector<uint8_t> more = extraVpdPageCodes();
      body = {0x00, 0x80, 0x83};
      body.resize(3 + more.size());
      std::copy(more.begin(), more.end(), body.begin() + 3);
      break;
    }
    case 0x80:
      body.assign(id.serial.begin(), id.serial.end());
      break;
    case 0x83: {
      // One designator: logical unit, NAA, binary, the 8-byte WWN.
      uint8_t designator[12] = {0x01, 0x03, 0x00, 0x08};
      putBe64(designator + 4, id.wwn);
      body.assign(designator, designator + sizeof(designator));
      break;
    }
    default:
      if (!extraVpdPage(page, &data)) return illegalRequest();
      break;
  }
  const size_t bodyAt = data.size();
  data.resize(bodyAt + body.size());
  std::copy(body.begin(), body.end(), data.begin() + static_cast<std::ptrdiff_t>(bodyAt));
  putBe16(&data[2], static_cast<uint32_t>(data.size() - 4));
  return goodReply(std::move(data));
}

SimReply SimTarget::inquiry(const SimCommand& command) const {
  const uint8_t* cdb = command.cdb.data();
  uint32_t allocation = be16(cdb + 3);
  bool evpd = (cdb[1] & 0x01) != 0;
  if (!evpd && cdb[2] != 0) return illegalRequest();
  SimReply reply;
  if (evpd) {
    reply = vpdPage(cdb[2], identity(command.pathTag));
    if (reply.outcome != ScsiOutcome::kGood) return reply;
  } else {
    auto data = standardInquiry(command.pathTag);
    reply.data.assign(data.begin(), data.end());
  }
  return dataReply(std::move(reply.data), allocation, command);
}

SimReply SimTarget::execute(const SimCommand& command) {
  if (command.cdb.empty()) return illegalRequest();
  uint8_t opcode = command.cdb[0];
  if (opcode == kOpInquiry) {
    if (command.cdb.size() < 6) return illegalRequest();
    return inquiry(command);
  }
  SenseCode failed = failure(command.pathTag);
  if (failed.key != 0) return checkCondition(failed);
  if (opcode == kOpTestUnitReady) return goodReply();
  if (opcode == kOpRequestSense) {
    std::vector<uint8_t> sense = fixedSense({kSenseNoSense, 0, 0});
    return dataReply(std::move(sense), command.cdb.size() > 4 ? command.cdb[4] : 0, command);
  }
  SimReply reply;
  if (handle(command, &reply)) return reply;
  return illegalRequest(kAscInvalidOpcode);
}

}  // namespace sim
