// Simulator back end of the SCSI layer; see scsi_sim.h.
#include "common/scsi/scsi_sim.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "common/scsi/sim_connection_pool.h"
#include "common/thread_annotations.h"

namespace {

bool parseNumber(std::string_view text, int max, int* value) {
  if (text.empty() || text.size() > 5) return false;
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > max) return false;
  *value = v;
  return true;
}

// Splits the last `count` ':'-separated fields off text; the rest (without its ':') goes to *head.
bool splitTail(std::string_view text, int count, std::string_view* head,
               std::vector<std::string_view>* tail) {
  tail->assign(count, std::string_view());
  for (int i = count - 1; i >= 0; --i) {
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    (*tail)[i] = text.substr(colon + 1);
    text = text.substr(0, colon);
  }
  *head = text;
  return !head->empty();
}

ScsiResult failed(ScsiOutcome outcome, int error) {
  ScsiResult result;
  result.outcome = outcome;
  result.error = error;
  return result;
}

}  // namespace

bool parseSimDeviceName(std::string_view name, SimDeviceName* out) {
  constexpr std::string_view kPrefix = "sim:";
  if (name.substr(0, kPrefix.size()) != kPrefix) return false;
  std::string_view rest = name.substr(kPrefix.size());
  std::string_view socket;
  std::vector<std::string_view> fields;
  SimDeviceName parsed;
  if (!rest.empty() && rest.back() == ':') {
    if (!splitTail(rest.substr(0, rest.size() - 1), 1, &socket, &fields)) return false;
    parsed.isAdapter = true;
    if (!parseNumber(fields[0], 65535, &parsed.host)) return false;
  } else {
    if (!splitTail(rest, 4, &socket, &fields)) return false;
    if (!parseNumber(fields[0], 65535, &parsed.host) || !parseNumber(fields[1], 255, &parsed.bus) ||
        !parseNumber(fields[2], 255, &parsed.target) || !parseNumber(fields[3], 255, &parsed.lun)) {
      return false;
    }
  }
  parsed.socket.assign(socket);
  *out = std::move(parsed);
  return true;
}

std::string simAdapterName(const std::string& socket, int host) {
  return "sim:" + socket + ":" + std::to_string(host) + ":";
}

std::string simDeviceName(const std::string& socket, int host, int bus, int target, int lun) {
  return "sim:" + socket + ":" + std::to_string(host) + ":" + std::to_string(bus) + ":" +
         std::to_string(target) + ":" + std::to_string(lun);
}

SimScsiTransport::SimScsiTransport(std::vector<std::string> sockets) : sockets_(std::move(sockets)) {}
SimScsiTransport::~SimScsiTransport() = default;

void SimScsiTransport::setSockets(std::vector<std::string> sockets) {
  MutexLock lock(mu_);
  sockets_ = std::move(sockets);
}

std::vector<std::string> SimScsiTransport::sockets() const {
  MutexLock lock(mu_);
  return sockets_;
}

std::vector<ScsiAdapter> SimScsiTransport::listAdapters() {
  std::vector<Adapter> found;
  for (const std::string& socket : sockets()) {
    simwire::ListReply reply;
    std::string error;
    if (!simList(socket, &reply, &error)) continue;  // a simulator that is not there has no adapters
    for (const simwire::ListHost& host : reply.hosts) {
      Adapter adapter{socket, host, {}};
      for (const simwire::ListDevice& device : reply.devices) {
        if (device.host == host.host) adapter.devices.push_back(device);
      }
      found.push_back(std::move(adapter));
    }
  }
  std::vector<ScsiAdapter> adapters;
  for (size_t i = 0; i < found.size(); ++i) {
    adapters.push_back(ScsiAdapter{static_cast<int>(i), simAdapterName(found[i].socket, found[i].host.host)});
  }
  MutexLock lock(mu_);
  adapters_ = std::move(found);
  return adapters;
}

bool SimScsiTransport::readBusTable(int port, std::vector<ScsiBusEntry>* entries) {
  MutexLock lock(mu_);
  if (port < 0 || static_cast<size_t>(port) >= adapters_.size()) return false;
  const Adapter& adapter = adapters_[port];
  entries->clear();
  for (const simwire::ListDevice& device : adapter.devices) {
    ScsiBusEntry entry;
    entry.initiatorBusId = adapter.host.initiatorId;
    entry.pathId = device.bus;
    entry.targetId = device.target;
    entry.lun = device.lun;
    entry.claimed = device.claimed;
    entry.inquiry = device.inquiry;
    entries->push_back(entry);
  }
  return true;
}

std::vector<ScsiDeviceName> SimScsiTransport::listDeviceNames() {
  MutexLock lock(mu_);
  std::vector<ScsiDeviceName> names;
  for (size_t port = 0; port < adapters_.size(); ++port) {
    const Adapter& adapter = adapters_[port];
    // Like a disk class driver's per-device names, only claimed devices have one of their own.
    for (const simwire::ListDevice& d : adapter.devices) {
      if (!d.claimed) continue;
      names.push_back({simDeviceName(adapter.socket, d.host, d.bus, d.target, d.lun), false, 0});
    }
    names.push_back({simAdapterName(adapter.socket, adapter.host.host), true, static_cast<int>(port)});
  }
  return names;
}

int SimScsiTransport::findPort(const std::string& socket, int host) const {
  for (size_t port = 0; port < adapters_.size(); ++port) {
    if (adapters_[port].socket == socket && adapters_[port].host.host == host) return static_cast<int>(port);
  }
  return -1;
}

bool SimScsiTransport::deviceAddress(std::string_view name, ScsiAddress* address) {
  SimDeviceName parsed;
  if (!parseSimDeviceName(name, &parsed) || parsed.isAdapter) return false;
  MutexLock lock(mu_);
  int port = findPort(parsed.socket, parsed.host);
  if (port < 0) return false;
  *address = ScsiAddress{port, parsed.bus, parsed.target, parsed.lun};
  return true;
}

ScsiLimitStatus SimScsiTransport::maxPhysicalPages(std::string_view name, uint32_t* pages) {
  SimDeviceName parsed;
  if (!parseSimDeviceName(name, &parsed)) return ScsiLimitStatus::kNotOpened;
  MutexLock lock(mu_);
  int port = findPort(parsed.socket, parsed.host);
  if (port < 0) return ScsiLimitStatus::kNotOpened;
  const simwire::ListHost& host = adapters_[port].host;
  if (host.limitFails) return ScsiLimitStatus::kFailed;
  *pages = host.maxPhysicalPages;
  return ScsiLimitStatus::kOk;
}

ScsiResult SimScsiTransport::execute(const ScsiCommand& command) {
  ScsiResult check = validateScsiCommand(command);
  if (check.outcome != ScsiOutcome::kGood) return check;
  SimDeviceName parsed;
  if (!parseSimDeviceName(command.device, &parsed)) return failed(ScsiOutcome::kInvalid, EINVAL);
  simwire::ExecuteRequest request;
  request.host = static_cast<uint16_t>(parsed.host);
  request.bus = static_cast<uint8_t>(parsed.isAdapter ? command.path : parsed.bus);
  request.target = static_cast<uint8_t>(parsed.isAdapter ? command.target : parsed.target);
  request.lun = static_cast<uint8_t>(parsed.isAdapter ? command.lun : parsed.lun);
  request.direction = static_cast<uint8_t>(command.direction);
  request.cdbLength = command.cdbLength;
  request.senseCapacity = command.senseCapacity;
  request.timeoutMs = command.timeoutMs == 0 ? kScsiDefaultTimeoutMs : command.timeoutMs;
  std::memcpy(request.cdb.data(), command.cdb, command.cdbLength);
  if (command.direction == ScsiDirection::kIn) request.dataInLength = command.dataLength;
  if (command.direction == ScsiDirection::kOut && command.dataLength != 0) {
    request.dataOut.assign(command.data, command.data + command.dataLength);
  }
  SimFrame reply;
  int error = 0;
  SimExchange exchange =
      simExchange(parsed.socket, simwire::kOpExecute, simwire::encodeExecuteRequest(request),
                  deadlineAfterMs(request.timeoutMs), &reply, &error);
  if (exchange == SimExchange::kTimeout) return failed(ScsiOutcome::kTimeout, ETIMEDOUT);
  if (exchange != SimExchange::kOk) return failed(ScsiOutcome::kNoAnswer, error != 0 ? error : EPROTO);
  if (reply.header.op != (simwire::kOpExecute | simwire::kReplyBit))
    return failed(ScsiOutcome::kNoAnswer, EPROTO);
  ScsiResult result;
  uint8_t outcome = 0;
  uint8_t* dataIn = command.direction == ScsiDirection::kIn ? command.data : nullptr;
  uint32_t dataCapacity = command.direction == ScsiDirection::kIn ? command.dataLength : 0;
  if (!simwire::decodeExecuteReply(reply.payload, &outcome, &result.status, command.sense,
                                   command.senseCapacity, &result.senseLength, dataIn, dataCapacity,
                                   &result.transferred)) {
    return failed(ScsiOutcome::kNoAnswer, EPROTO);
  }
  result.outcome = static_cast<ScsiOutcome>(outcome);
  if (command.direction == ScsiDirection::kOut && result.outcome == ScsiOutcome::kGood) {
    result.transferred = command.dataLength;
  }
  return result;
}

int simControl(const std::string& socket, std::string_view command, std::string* reply, uint32_t timeoutMs) {
  SimFrame frame;
  int error = 0;
  SimExchange exchange = simExchange(socket, simwire::kOpControl, simwire::encodeText(command),
                                     deadlineAfterMs(timeoutMs), &frame, &error);
  if (exchange != SimExchange::kOk) {
    *reply = "raidsim at " + socket + " did not answer: " + std::strerror(error != 0 ? error : EPROTO);
    return -1;
  }
  if (frame.header.op != (simwire::kOpControl | simwire::kReplyBit)) {
    *reply = "raidsim refused the request: " + std::string(frame.payload.begin(), frame.payload.end());
    return -1;
  }
  simwire::ControlReply decoded;
  if (!simwire::decodeControlReply(frame.payload, &decoded)) {
    *reply = "raidsim sent a malformed reply";
    return -1;
  }
  *reply = std::move(decoded.text);
  return static_cast<int>(decoded.result);
}

bool simList(const std::string& socket, simwire::ListReply* reply, std::string* error, uint32_t timeoutMs) {
  SimFrame frame;
  int code = 0;
  SimExchange exchange = simExchange(socket, simwire::kOpList, {}, deadlineAfterMs(timeoutMs), &frame, &code);
  if (exchange != SimExchange::kOk) {
    *error = "raidsim at " + socket + " did not answer: " + std::strerror(code != 0 ? code : EPROTO);
    return false;
  }
  if (frame.header.op != (simwire::kOpList | simwire::kReplyBit) ||
      !simwire::decodeListReply(frame.payload, reply)) {
    *error = "raidsim at " + socket + " sent a malformed device list";
    return false;
  }
  return true;
}

void closeSimConnections() { dropPooledSimConnections(); }
