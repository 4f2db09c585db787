// raidsim's devices as iSCSI LUNs; see iscsi_sim_luns.h.
#include "sim/iscsi_sim_luns.h"

#include <algorithm>
#include <cctype>

namespace sim {

namespace {

constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpReportLuns = 0xA0;
constexpr uint8_t kAscLunNotSupported = 0x25;

iscsi::TaskReply fromSim(const SimReply& sim) {
  iscsi::TaskReply reply;
  switch (sim.outcome) {
    case ScsiOutcome::kGood:
    case ScsiOutcome::kCheckCondition:
    case ScsiOutcome::kStatus:
      reply.status = sim.status;
      if (sim.outcome == ScsiOutcome::kCheckCondition) reply.sense = sim.sense;
      if (sim.status == kStatusGood) reply.data = sim.data;
      reply.commandLength = sim.commandLength;
      return reply;
    case ScsiOutcome::kNoAnswer:
    case ScsiOutcome::kTimeout:
      reply.answered = false;
      return reply;
    case ScsiOutcome::kInvalid:
      break;
  }
  return fromSim(illegalRequest());
}

iscsi::TaskReply missingLun(const iscsi::TaskRequest& request) {
  const uint8_t* cdb = request.cdb.data();
  if (cdb[0] == kOpInquiry && (cdb[1] & 0x01) == 0 && request.cdb.size() >= 6) {
    // Peripheral qualifier 3: the target cannot have a logical unit here.
    std::vector<uint8_t> data(36, 0);
    data[0] = 0x7F;
    data[2] = 0x06;
    data[3] = 0x02;
    data[4] = 31;
    putPadded(&data[8], 8, "KESTROVA");
    putPadded(&data[16], 16, "NO LUN");
    putPadded(&data[32], 4, "0100");
    data.resize(std::min<size_t>(data.size(), be16(cdb + 3)));
    iscsi::TaskReply reply;
    reply.data = std::move(data);
    return reply;
  }
  if (cdb[0] == kOpRequestSense && request.cdb.size() >= 6) {
    std::vector<uint8_t> sense = fixedSense({kSenseIllegalRequest, kAscLunNotSupported, 0});
    sense.resize(std::min<size_t>(sense.size(), cdb[4]));
    iscsi::TaskReply reply;
    reply.data = std::move(sense);
    return reply;
  }
  return fromSim(checkCondition({kSenseIllegalRequest, kAscLunNotSupported, 0}));
}

}  // namespace

std::string defaultIscsiName(const std::string& configPath, int host) {
  std::string stem = configPath.substr(configPath.find_last_of('/') + 1);
  size_t dot = stem.find_last_of('.');
  if (dot != std::string::npos && dot > 0) stem.resize(dot);
  for (char& c : stem) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '-';
  }
  if (stem.empty()) stem = "raidsim";
  return "iqn.2024-01.org.kestrova.raidsim:" + stem.substr(0, 160) + ".host" + std::to_string(host);
}

SimLunBackend::SimLunBackend(SimWorld& world, const std::vector<HostConfig>& hosts, const std::string& configPath)
    : world_(world) {
  simwire::ListReply devices = world_.list();
  for (const HostConfig& h : hosts) {
    Target t;
    t.host = h.host;
    t.entry.name = h.iscsiName.empty() ? defaultIscsiName(configPath, h.host) : h.iscsiName;
    t.entry.auth = iscsi::TargetAuth{h.chapUser, h.chapSecret, h.chapTargetUser, h.chapTargetSecret};
    for (const simwire::ListDevice& d : devices.devices) {  // the world lists them in address order
      if (d.host == h.host) t.luns.push_back(SimAddress{d.host, d.bus, d.target, d.lun});
    }
    targets_.push_back(std::move(t));
  }
}

const SimLunBackend::Target* SimLunBackend::find(std::string_view name) const {
  for (const Target& t : targets_) {
    if (t.entry.name == name) return &t;
  }
  return nullptr;
}

const iscsi::TargetEntry* SimLunBackend::findTarget(std::string_view name) const {
  const Target* t = find(name);
  return t != nullptr ? &t->entry : nullptr;
}

std::vector<std::string> SimLunBackend::targetNames() const {
  std::vector<std::string> names;
  for (const Target& t : targets_) names.push_back(t.entry.name);
  return names;
}

bool SimLunBackend::hasLun(std::string_view target, uint64_t lun) const {
  const Target* t = find(target);
  return t != nullptr && lun < t->luns.size();
}

iscsi::TaskReply SimLunBackend::execute(const iscsi::TaskRequest& request) {
  if (request.cdb.empty()) return fromSim(illegalRequest(kAscInvalidOpcode));
  const Target* t = find(request.target);
  if (request.cdb[0] == kOpReportLuns) {
    if (request.cdb.size() < 12) return fromSim(illegalRequest());
    uint32_t allocation = be32(request.cdb.data() + 6);
    if (allocation < 16) return fromSim(illegalRequest());
    size_t count = t != nullptr ? t->luns.size() : 0;
    std::vector<uint8_t> data(8 + 8 * count, 0);
    putBe32(&data[0], static_cast<uint32_t>(8 * count));
    for (size_t i = 0; i < count; ++i) putBe64(&data[8 + 8 * i], iscsi::encodeLun(i));
    data.resize(std::min<size_t>(data.size(), allocation));
    iscsi::TaskReply reply;
    reply.data = std::move(data);
    return reply;
  }
  if (t == nullptr || request.lun >= t->luns.size()) return missingLun(request);
  const SimAddress& a = t->luns[request.lun];
  simwire::ExecuteRequest sim;
  sim.host = static_cast<uint16_t>(a.host);
  sim.bus = static_cast<uint8_t>(a.bus);
  sim.target = static_cast<uint8_t>(a.target);
  sim.lun = static_cast<uint8_t>(a.lun);
  bool out = !request.dataOut.empty();
  sim.direction = static_cast<uint8_t>(out ? ScsiDirection::kOut
                                           : request.expectedIn > 0 ? ScsiDirection::kIn : ScsiDirection::kNone);
  sim.cdbLength = static_cast<uint8_t>(std::min<size_t>(request.cdb.size(), sim.cdb.size()));
  std::copy(request.cdb.begin(), request.cdb.begin() + sim.cdbLength, sim.cdb.begin());
  sim.senseCapacity = 252;
  // Exactly the initiator's buffer, as SG_IO gives it: some commands (READ BUFFER of SES pages
  // through a controller) carry parameters where the length would be and take the buffer's.
  sim.dataInLength = request.expectedIn;
  sim.dataOut.assign(request.dataOut.begin(), request.dataOut.end());
  return fromSim(world_.execute(sim));
}

std::string SimLunBackend::describe() const {
  std::string text;
  for (const Target& t : targets_) {
    for (size_t i = 0; i < t.luns.size(); ++i)
      text += t.entry.name + " " + std::to_string(i) + " " + formatSimAddress(t.luns[i]) + "\n";
  }
  return text;
}

}  // namespace sim
