// A simulated SES enclosure; see ses_enclosure.h.
#include "sim/ses_enclosure.h"

#include <algorithm>
#include <cstdio>

#include "sim/sim_text.h"

namespace sim {

namespace {

constexpr uint8_t kOpReceiveDiagnostic = 0x1C;
constexpr uint8_t kOpSendDiagnostic = 0x1D;

constexpr uint8_t kTypeSlot = 0x01;
constexpr uint8_t kTypePowerSupply = 0x02;
constexpr uint8_t kTypeCooling = 0x03;
constexpr uint8_t kTypeTemperature = 0x04;
constexpr uint8_t kTypeAlarm = 0x06;
constexpr uint8_t kTypeEnclosure = 0x0E;
constexpr uint8_t kTypeEsi = 0x07;
constexpr uint8_t kStatusNotInstalled = 5;

constexpr uint8_t kStatusOk = 1;
constexpr uint8_t kStatusCritical = 2;
constexpr uint8_t kStatusNonCritical = 3;

constexpr size_t kDescriptorLength = 64;  // page bytes 12-75
constexpr size_t kSlotCountOffset = 73;

struct TypeEntry {
  uint8_t type;
  int count;
  const char* text;
};

std::vector<TypeEntry> elementTypes(const SesConfig& c) {
  std::vector<TypeEntry> types = {{kTypeSlot, c.slots, "Drive Slots"},
                                  {kTypePowerSupply, c.powerSupplies, "Power Supplies"},
                                  {kTypeCooling, c.fans, "Cooling Fans"},
                                  {kTypeTemperature, c.temperatureSensors, "Temperature Sensors"},
                                  {kTypeAlarm, c.alarm ? 1 : 0, "Audible Alarm"},
                                  {kTypeEnclosure, 1, "Enclosure"},
                                  {kTypeEsi, c.esis > 0 ? 2 : 0, "ESI"}};
  types.erase(std::remove_if(types.begin(), types.end(), [](const TypeEntry& t) { return t.count <= 0; }),
              types.end());
  return types;
}

void finishPage(std::vector<uint8_t>* page) { putBe16(&(*page)[2], static_cast<uint32_t>(page->size() - 4)); }

}  // namespace

SesEnclosure::SesEnclosure(SesConfig config)
    : SimTarget(config.name),
      config_(std::move(config)),
      slots_(std::max(0, config_.slots)),
      fans_(std::max(0, config_.fans)),
      powerSupplies_(std::max(0, config_.powerSupplies)),
      temperatures_(std::max(0, config_.temperatureSensors), kDefaultTemperature) {}

std::vector<uint8_t> SesEnclosure::configurationPage() const {
  std::vector<TypeEntry> types = elementTypes(config_);
  std::vector<uint8_t> page(12 + kDescriptorLength, 0);
  page[0] = 0x01;
  putBe32(&page[4], generation_);
  page[8] = 0x11;  // process 1 of 1
  page[10] = static_cast<uint8_t>(types.size());
  page[11] = static_cast<uint8_t>(kDescriptorLength);
  putBe64(&page[12], config_.identity.wwn);
  putPadded(&page[20], 8, config_.identity.vendor);
  putPadded(&page[28], 16, config_.identity.product);
  putPadded(&page[44], 4, config_.identity.revision);
  page[kSlotCountOffset] = static_cast<uint8_t>(config_.slots);
  for (const TypeEntry& t : types) {
    page.insert(page.end(),
                {t.type, static_cast<uint8_t>(t.count), 0, static_cast<uint8_t>(std::string(t.text).size())});
  }
  for (const TypeEntry& t : types) page.insert(page.end(), t.text, t.text + std::string(t.text).size());
  finishPage(&page);
  return page;
}

uint8_t SesEnclosure::summaryFlags() const {
  bool critical = false;
  bool nonCritical = false;
  for (const Slot& s : slots_) critical = critical || s.deviceFailed;
  for (const Fan& f : fans_) critical = critical || f.failed;
  for (const PowerSupply& p : powerSupplies_) critical = critical || p.failed;
  for (int t : temperatures_) {
    critical = critical || t >= kTemperatureFailure;
    nonCritical = nonCritical || t >= kTemperatureWarning;
  }
  return static_cast<uint8_t>((critical ? 0x02 : 0) | (nonCritical ? 0x04 : 0));
}

void SesEnclosure::appendElements(std::vector<uint8_t>* page) const {
  uint8_t summary = summaryFlags();
  for (const TypeEntry& t : elementTypes(config_)) {
    page->insert(page->end(), {0, 0, 0, 0});  // overall element
    for (int i = 0; i < t.count; ++i) {
      uint8_t e[4] = {kStatusOk, 0, 0, 0};
      if (t.type == kTypeSlot) {
        const Slot& s = slots_[i];
        e[0] = s.deviceFailed ? kStatusCritical : kStatusOk;
        e[1] = static_cast<uint8_t>(i);
        e[2] = static_cast<uint8_t>((s.locate ? 0x02 : 0) | (i == config_.selfSlot ? 0x01 : 0));
        e[3] = static_cast<uint8_t>((s.fault ? 0x20 : 0) | (s.deviceFailed ? 0x40 : 0));
      } else if (t.type == kTypePowerSupply) {
        const PowerSupply& p = powerSupplies_[i];
        e[0] = p.failed ? kStatusCritical : kStatusOk;
        e[1] = p.identify ? 0x80 : 0;
        e[3] = p.failed ? 0x41 : 0x20;  // FAIL + DC FAIL, or requested on
      } else if (t.type == kTypeCooling) {
        const Fan& f = fans_[i];
        uint32_t rpm10 = f.failed ? 0 : 300u * f.speedCode;
        e[0] = f.failed ? kStatusCritical : kStatusOk;
        e[1] = static_cast<uint8_t>((f.identify ? 0x80 : 0) | ((rpm10 >> 8) & 0x07));
        e[2] = static_cast<uint8_t>(rpm10);
        e[3] = f.failed ? 0x40 : static_cast<uint8_t>(0x20 | (f.speedCode & 0x07));
      } else if (t.type == kTypeTemperature) {
        int c = temperatures_[i];
        e[0] = c >= kTemperatureFailure   ? kStatusCritical
               : c >= kTemperatureWarning ? kStatusNonCritical
                                          : kStatusOk;
        e[2] = static_cast<uint8_t>(std::clamp(c + 20, 0, 255));
        e[3] = c >= kTemperatureFailure ? 0x08 : c >= kTemperatureWarning ? 0x04 : 0;
      } else if (t.type == kTypeAlarm) {
        uint8_t tone = (summary & 0x02) != 0 ? 0x04 : (summary & 0x04) != 0 ? 0x02 : 0;
        e[3] = static_cast<uint8_t>((alarm_.muted ? 0x40 : tone) | (alarm_.remind ? 0x10 : 0));
      } else if (t.type == kTypeEnclosure) {
        e[1] = locate_ ? 0x80 : 0;
        e[3] = failureRequested_ ? 0x02 : 0;
      } else if (t.type == kTypeEsi) {
        bool installed = i < config_.esis;
        e[0] = installed ? kStatusOk : kStatusNotInstalled;
        e[2] = installed && i == reportingEsi_ ? 0x01 : 0;
      }
      page->insert(page->end(), e, e + 4);
    }
  }
}

std::vector<uint8_t> SesEnclosure::statusPage() const {
  std::vector<uint8_t> page(8, 0);
  page[0] = 0x02;
  page[1] = summaryFlags();
  putBe32(&page[4], generation_);
  appendElements(&page);
  finishPage(&page);
  return page;
}

std::vector<uint8_t> SesEnclosure::cliPage(uint8_t code) const {
  const std::string& text = cliReply_[code - 0x84];
  std::vector<uint8_t> page(12 + text.size() + 1, 0);  // header, text, terminator
  page[0] = code;
  putBe32(&page[4], generation_);
  std::copy(text.begin(), text.end(), page.begin() + 12);
  finishPage(&page);
  return page;
}

bool SesEnclosure::diagnosticPage(uint8_t code, std::vector<uint8_t>* data) const {
  switch (code) {
    case 0x00:
      *data = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x04, 0x84, 0x85};
      finishPage(data);
      return true;
    case 0x01:
      *data = configurationPage();
      return true;
    case 0x02:
      *data = statusPage();
      return true;
    case 0x04:
      *data = {0x04, 0x00, 0x00, 0x00};
      data->insert(data->end(), stringData_.begin(), stringData_.end());
      finishPage(data);
      return true;
    case 0x84:
    case 0x85:
      *data = cliPage(code);
      return true;
    default:
      return false;
  }
}

void SesEnclosure::applyControl(uint8_t type, int index, const uint8_t* e) {
  if (type == kTypeSlot) {
    slots_[index].locate = (e[2] & 0x02) != 0;
    slots_[index].fault = (e[3] & 0x20) != 0;
  } else if (type == kTypePowerSupply) {
    powerSupplies_[index].identify = (e[1] & 0x80) != 0;
  } else if (type == kTypeCooling) {
    fans_[index].identify = (e[1] & 0x80) != 0;
    if ((e[3] & 0x20) != 0 && (e[3] & 0x07) != 0) fans_[index].speedCode = e[3] & 0x07;
  } else if (type == kTypeAlarm) {
    alarm_.muted = (e[3] & 0x40) != 0;
    alarm_.remind = (e[3] & 0x10) != 0;
  } else if (type == kTypeEnclosure) {
    locate_ = (e[1] & 0x80) != 0;
    failureRequested_ = (e[3] & 0x02) != 0;
  }
}

SimReply SesEnclosure::applyControlPage(std::span<const uint8_t> page) {
  if (page.size() < 8 || be32(&page[4]) != generation_) return illegalRequest(kAscInvalidFieldInParameters);
  size_t offset = 8;
  for (const TypeEntry& t : elementTypes(config_)) {
    offset += 4;  // overall element: nothing to control
    for (int i = 0; i < t.count && offset + 4 <= page.size(); ++i, offset += 4) {
      if ((page[offset] & 0x80) != 0) applyControl(t.type, i, &page[offset]);  // SELECT
    }
  }
  return goodReply();
}

SimReply SesEnclosure::applyDiagnosticPage(std::span<const uint8_t> page) {
  if (page.size() < 4 || be16(&page[2]) + 4u > page.size())
    return illegalRequest(kAscInvalidFieldInParameters);
  page = page.first(be16(&page[2]) + 4u);
  switch (page[0]) {
    case 0x02:
      return applyControlPage(page);
    case 0x04:
      if (config_.esis > 0) return downloadChunk(page);
      stringData_.assign(page.begin() + 4, page.end());
      return goodReply();
    case 0x84:
    case 0x85: {
      if (page.size() < 12) return illegalRequest(kAscInvalidFieldInParameters);
      std::string command(page.begin() + 12, page.end());
      command = command.substr(0, command.find('\0'));
      cliReply_[page[0] - 0x84] = command + "\r\nOK\r\n";
      return goodReply();
    }
    default:
      return illegalRequest(kAscInvalidFieldInParameters);
  }
}

SimReply SesEnclosure::downloadChunk(std::span<const uint8_t> page) {
  if (page.size() < 8) return illegalRequest(kAscInvalidFieldInParameters);
  uint32_t offset = be32(&page[4]);
  if (offset == 0) download_.clear();
  if (offset != download_.size()) return illegalRequest(kAscInvalidFieldInParameters);  // out of order
  download_.insert(download_.end(), page.begin() + 8, page.end());
  chunks_.emplace_back(offset, static_cast<uint32_t>(page.size() - 8));
  downloadPending_ = true;
  lastChunk_ = std::chrono::steady_clock::now();
  return goodReply();
}

void SesEnclosure::settleDownload() {
  if (!downloadPending_ ||
      std::chrono::steady_clock::now() - lastChunk_ < std::chrono::milliseconds(config_.esiRestartMs))
    return;
  downloadPending_ = false;
  Esi& esi = esis_[reportingEsi_];
  esi.image = std::move(download_);
  download_.clear();
  ++esi.loads;
  if (config_.esis == 2) reportingEsi_ ^= 1;  // the peer takes over while this one restarts
}

std::string SesEnclosure::firmwareStatus() const {
  std::string text = "reporting " + std::to_string(reportingEsi_) + "\n";
  for (int i = 0; i < 2; ++i) {
    uint64_t hash = 1469598103934665603ULL;
    for (uint8_t b : esis_[i].image) hash = (hash ^ b) * 1099511628211ULL;
    char line[96];
    std::snprintf(line, sizeof(line), "esi%d loads %d bytes %zu hash %016llX\n", i, esis_[i].loads,
                  esis_[i].image.size(), static_cast<unsigned long long>(hash));
    text += line;
  }
  text += "chunks";
  for (const auto& [offset, length] : chunks_)
    text += " " + std::to_string(offset) + "+" + std::to_string(length);
  return text + "\n";
}

bool SesEnclosure::handle(const SimCommand& command, SimReply* reply) {
  const uint8_t* cdb = command.cdb.data();
  bool chunk = cdb[0] == kOpSendDiagnostic && command.cdb.size() >= 6 && !command.dataOut.empty() &&
               command.dataOut[0] == 0x04 && config_.esis > 0;
  if (!chunk) settleDownload();
  if (cdb[0] == kOpReceiveDiagnostic && command.cdb.size() >= 6) {
    std::vector<uint8_t> data;
    if ((cdb[1] & 0x01) == 0 || !diagnosticPage(cdb[2], &data)) {
      *reply = illegalRequest();
    } else {
      *reply = dataReply(std::move(data), be16(cdb + 3), command);
    }
    return true;
  }
  if (cdb[0] == kOpSendDiagnostic && command.cdb.size() >= 6) {
    uint32_t length = be16(cdb + 3);
    if ((cdb[1] & 0x04) != 0 && length == 0) {
      *reply = goodReply();  // default self-test
    } else if (length == 0 || command.dataOut.size() < length) {
      *reply = illegalRequest();
    } else {
      *reply = applyDiagnosticPage(command.dataOut.first(length));
    }
    return true;
  }
  return false;
}

bool SesEnclosure::setFanFailed(int index, bool failed) {
  if (index < 0 || index >= static_cast<int>(fans_.size())) return false;
  fans_[index].failed = failed;
  return true;
}

bool SesEnclosure::setPowerSupplyFailed(int index, bool failed) {
  if (index < 0 || index >= static_cast<int>(powerSupplies_.size())) return false;
  powerSupplies_[index].failed = failed;
  return true;
}

bool SesEnclosure::setTemperature(int index, int celsius) {
  if (index < 0 || index >= static_cast<int>(temperatures_.size()) || celsius < -20 || celsius > 235)
    return false;
  temperatures_[index] = celsius;
  return true;
}

bool SesEnclosure::setSlotFlag(int index, const std::string& flag, bool on) {
  if (index < 0 || index >= static_cast<int>(slots_.size())) return false;
  if (flag == "locate") {
    slots_[index].locate = on;
  } else if (flag == "fault") {
    slots_[index].fault = on;
  } else {
    return false;
  }
  return true;
}

bool SesEnclosure::setSlotDeviceFailed(int index, bool failed) {
  if (index < 0 || index >= static_cast<int>(slots_.size())) return false;
  slots_[index].deviceFailed = failed;
  return true;
}

bool SesEnclosure::setAlarm(const std::string& state) {
  if (state != "normal" && state != "muted" && state != "remind") return false;
  alarm_.muted = state == "muted";
  alarm_.remind = state == "remind";
  return true;
}

void SesEnclosure::saveState(std::vector<std::string>* lines) const {
  const std::string& n = name();
  for (size_t i = 0; i < fans_.size(); ++i) {
    if (fans_[i].failed) lines->push_back("fail fan " + n + " " + std::to_string(i));
  }
  for (size_t i = 0; i < powerSupplies_.size(); ++i) {
    if (powerSupplies_[i].failed) lines->push_back("fail psu " + n + " " + std::to_string(i));
  }
  for (size_t i = 0; i < temperatures_.size(); ++i) {
    if (temperatures_[i] != kDefaultTemperature) {
      lines->push_back("set temperature " + n + " " + std::to_string(i) + " " +
                       std::to_string(temperatures_[i]));
    }
  }
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].locate) lines->push_back("set slot " + n + " " + std::to_string(i) + " locate on");
    if (slots_[i].fault) lines->push_back("set slot " + n + " " + std::to_string(i) + " fault on");
  }
  if (locate_) lines->push_back("set locate " + n + " on");
  if (alarm_.muted || alarm_.remind)
    lines->push_back("set alarm " + n + (alarm_.muted ? " muted" : " remind"));
  if (!stringData_.empty()) lines->push_back("set string " + n + " " + hexEncode(stringData_));
}

std::string SesEnclosure::describe() const {
  int fansFailed = 0;
  int suppliesFailed = 0;
  for (const Fan& f : fans_) fansFailed += f.failed ? 1 : 0;
  for (const PowerSupply& p : powerSupplies_) suppliesFailed += p.failed ? 1 : 0;
  std::string located;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].locate) located += (located.empty() ? ", slots locating " : " ") + std::to_string(i);
  }
  return "slots " + std::to_string(slots_.size()) + ", fans failed " + std::to_string(fansFailed) + "/" +
         std::to_string(fans_.size()) + ", power supplies failed " + std::to_string(suppliesFailed) + "/" +
         std::to_string(powerSupplies_.size()) + (alarm_.muted ? ", alarm muted" : "") +
         (alarm_.remind ? ", alarm remind" : "") + (locate_ ? ", locating" : "") + located;
}

}  // namespace sim
