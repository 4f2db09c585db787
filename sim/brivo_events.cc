// The brivo model's event logs and its health scan: the circular logs of both controllers, the
// events injected by ctl, and the events a controller logs when its own state changes (partner
// failure, battery, temperatures, voltages, drives, enclosure elements); see brivo_model.h.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "sim/brivo_model.h"
#include "sim/ses_enclosure.h"
#include "sim/sim_text.h"

namespace sim {

namespace {

brivo::EventTime eventTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  brivo::EventTime time{};
  time.year = static_cast<uint16_t>(tm.tm_year + 1900);
  time.month = static_cast<uint8_t>(tm.tm_mon + 1);
  time.day = static_cast<uint8_t>(tm.tm_mday);
  time.weekday = static_cast<uint8_t>(tm.tm_wday);
  time.hour = static_cast<uint8_t>(tm.tm_hour);
  time.minute = static_cast<uint8_t>(tm.tm_min);
  time.second = static_cast<uint8_t>(tm.tm_sec);
  return time;
}

// SES element types whose changes the controller logs, with their event codes.
struct SesLogged {
  uint8_t type;
  uint8_t code;
};
constexpr SesLogged kSesLogged[] = {{0x02, brivo::kEvSesPowerSupply},
                                    {0x03, brivo::kEvSesCooling},
                                    {0x04, brivo::kEvSesTemperature},
                                    {0x06, brivo::kEvSesAlarm}};

// The part of an element's status that counts as a change worth an event.
uint32_t sesSignificant(uint8_t type, const uint8_t* e) {
  uint32_t code = e[0] & 0x0F;
  if (type == 0x04) return code << 8 | (e[3] & 0x0F);  // warning and failure bits
  if (type == 0x03) return code << 8 | (e[3] & 0x40);  // failed bit, not the speed
  if (type == 0x06) return code << 8 | (e[3] & 0x5F);  // tones, mute, remind
  return code << 8 | (e[3] & 0x4F);
}

}  // namespace

// ---- EventRing ----

void EventRing::append(const brivo::EventEntry& entry) {
  newest_ = started_ ? static_cast<uint16_t>((newest_ + 1) % brivo::kEventLogEntries) : 0;
  started_ = true;
  ring_[newest_] = entry;
  count_ = std::min(count_ + 1, brivo::kEventLogEntries);
}

const brivo::EventEntry& EventRing::at(int i) const {
  int oldest = (newest_ - count_ + 1 + brivo::kEventLogEntries) % brivo::kEventLogEntries;
  return ring_[(oldest + i) % brivo::kEventLogEntries];
}

void EventRing::build(const brivo::EventTime& now, std::vector<uint8_t>* out) const {
  out->assign(brivo::kEventLogLength, 0);
  auto* log = reinterpret_cast<brivo::EventLog*>(out->data());
  log->length = 16 + 24 * static_cast<uint32_t>(count_);
  log->time = now;
  log->count = static_cast<uint16_t>(count_);
  log->newest = newest_;
  for (int i = 0; i < count_; ++i) log->entries[i] = at(i);
}

std::string EventRing::meta() const {
  return std::to_string(newest_) + "," + std::to_string(count_) + "," + (started_ ? "1" : "0");
}

bool EventRing::setMeta(const std::string& text) {
  unsigned newest = 0;
  int count = 0;
  int started = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u,%d,%d%c", &newest, &count, &started, &tail) != 3 ||
      newest >= static_cast<unsigned>(brivo::kEventLogEntries) || count < 0 ||
      count > brivo::kEventLogEntries || (started != 0 && started != 1) || (started == 0 && count != 0)) {
    return false;
  }
  ring_.fill(brivo::EventEntry{});
  newest_ = static_cast<uint16_t>(newest);
  count_ = count;
  started_ = started == 1;
  return true;
}

std::vector<std::string> EventRing::chunks() const {
  std::vector<std::string> out;
  for (int first = 0; first < count_; first += kChunkEntries) {
    std::vector<uint8_t> bytes;
    for (int i = first; i < std::min(count_, first + kChunkEntries); ++i) {
      const auto* p = reinterpret_cast<const uint8_t*>(&at(i));
      bytes.insert(bytes.end(), p, p + sizeof(brivo::EventEntry));
    }
    out.push_back(hexEncode(bytes));
  }
  return out;
}

bool EventRing::setChunk(int index, const std::string& hex) {
  std::vector<uint8_t> bytes;
  int first = index * kChunkEntries;
  if (index < 0 || first >= count_ || !hexDecode(hex, &bytes) ||
      bytes.size() % sizeof(brivo::EventEntry) != 0 ||
      first + static_cast<int>(bytes.size() / sizeof(brivo::EventEntry)) > count_) {
    return false;
  }
  int oldest = (newest_ - count_ + 1 + brivo::kEventLogEntries) % brivo::kEventLogEntries;
  for (size_t k = 0; k < bytes.size() / sizeof(brivo::EventEntry); ++k) {
    std::memcpy(&ring_[(oldest + first + static_cast<int>(k)) % brivo::kEventLogEntries],
                &bytes[k * sizeof(brivo::EventEntry)], sizeof(brivo::EventEntry));
  }
  return true;
}

// ---- Logging ----

brivo::EventTime BrivoModel::controllerClock(const PairState& pair, int c) const {
  return eventTime(pair.controllerTime(c));
}

void BrivoModel::logEvent(PairState& pair, int c, uint8_t code, std::initializer_list<uint8_t> reason,
                          uint8_t eventClass) {
  logEvent(pair, c, code, std::vector<uint8_t>(reason), eventClass);
}

void BrivoModel::logEvent(PairState& pair, int c, uint8_t code, const std::vector<uint8_t>& reason,
                          uint8_t eventClass) {
  brivo::EventEntry entry{};
  entry.time = controllerClock(pair, c);
  entry.eventClass = eventClass;
  entry.code = code;
  std::copy_n(reason.begin(), std::min(reason.size(), sizeof(entry.reason)), entry.reason);
  logs_[c].append(entry);
}

void BrivoModel::logPairEvent(PairState& pair, uint8_t code, const std::vector<uint8_t>& reason,
                              uint8_t eventClass) {
  logEvent(pair, masterController(pair), code, reason, eventClass);
}

void BrivoModel::drainInjectedEvents(PairState& pair) {
  for (const PairEvent& injected : pair.events) {
    brivo::EventEntry entry{};
    entry.time = eventTime(injected.time);
    entry.eventClass = static_cast<uint8_t>(injected.code >> 8);
    entry.code = static_cast<uint8_t>(injected.code);
    std::copy_n(injected.data.begin(), std::min(injected.data.size(), sizeof(entry.reason)), entry.reason);
    logs_[injected.controller == 0 ? 0 : 1].append(entry);
  }
  pair.events.clear();
}

// ---- Health scan ----

uint8_t BrivoModel::controllerTypeCode() const {
  return brivo::controllerType(options_.family, 0, options_.driveInterface, options_.hostInterface);
}

void BrivoModel::scanHealth(PairState& pair) {
  for (int c = 0; c < 2; ++c) scanController(pair, c);
  for (size_t i = 0; i < pair.drives.size() && i < reported_.driveFailed.size(); ++i) {
    if (pair.drives[i].failed == reported_.driveFailed[i]) continue;
    reported_.driveFailed[i] = pair.drives[i].failed;
    const PairDrive& d = pair.drives[i];
    std::vector<uint8_t> reason = {static_cast<uint8_t>(i), static_cast<uint8_t>(d.slot)};
    if (d.failed) {
      memberLost(pair, static_cast<int>(i), brivo::kMemberFailed);
    } else {
      for (int k = 0; k < 8; ++k) reason.push_back(static_cast<uint8_t>(d.wwn >> (56 - 8 * k)));
      logPairEvent(pair, brivo::kEvDriveInserted, reason);
    }
  }
  scanEnclosure(pair);
}

void BrivoModel::scanController(PairState& pair, int c) {
  const ControllerState& cs = pair.controllers[c];
  uint8_t side = static_cast<uint8_t>(c);
  if (cs.failed != reported_.controllerFailed[c]) {
    reported_.controllerFailed[c] = cs.failed;
    if (cs.failed) {
      logEvent(pair, 1 - c, brivo::kEvPartner, {1, brivo::kPartnerFailed});
      logEvent(pair, 1 - c, brivo::kEvCacheDisabled, {2, static_cast<uint8_t>(1 - c)});
      edit_.reset();  // an open change does not survive the controller that held it
      pending_.clear();
    } else {
      logEvent(pair, c, brivo::kEvController, {brivo::kCtlStarted, side});
      logEvent(pair, 1 - c, brivo::kEvPartner, {1, brivo::kPartnerRestored});
    }
  }
  if (!controllerUp(pair, c)) return;  // a controller that is down reports nothing of its own
  uint8_t charge = static_cast<uint8_t>(std::clamp(cs.batteryCharge, 0, 100));
  if (cs.batteryFailed != reported_.batteryFailed[c]) {
    reported_.batteryFailed[c] = cs.batteryFailed;
    logEvent(pair, c, brivo::kEvBattery,
             {cs.batteryFailed ? brivo::kBatteryFailed : brivo::kBatteryGood, charge});
    if (cs.batteryFailed) logEvent(pair, c, brivo::kEvCacheDisabled, {1, side});
  }
  if (run_[c].batteryDisabled != reported_.batteryDisabled[c]) {
    reported_.batteryDisabled[c] = run_[c].batteryDisabled;
    logEvent(pair, c, brivo::kEvBattery,
             {run_[c].batteryDisabled ? brivo::kBatteryDisabled : brivo::kBatteryEnabled, charge});
  }
  bool low = !cs.batteryFailed && cs.batteryCharge < brivo::kBatteryLowPercent;
  if (low != reported_.batteryLow[c]) {
    reported_.batteryLow[c] = low;
    logEvent(pair, c, brivo::kEvBattery, {low ? brivo::kBatteryLow : brivo::kBatteryCharged, charge});
  }
  scanSensors(pair, c);
}

void BrivoModel::scanSensors(PairState& pair, int c) {
  const ControllerState& cs = pair.controllers[c];
  uint8_t type = controllerTypeCode();
  brivo::TemperatureTable temps = brivo::temperatureSensors(type);
  for (int s = 0; s < temps.count; ++s) {
    int index = temps.rows[s].offset == 152 ? 0 : temps.rows[s].offset == 178 ? 1 : 2;
    int value = index < static_cast<int>(cs.temperatures.size()) ? cs.temperatures[index] : 0;
    bool over = value > temps.rows[s].limit;
    uint8_t bit = static_cast<uint8_t>(1 << index);
    if (over == ((reported_.temperatureOver[c] & bit) != 0)) continue;
    reported_.temperatureOver[c] ^= bit;
    logEvent(
        pair, c, over ? brivo::kEvTemperatureHigh : brivo::kEvTemperatureNormal,
        {static_cast<uint8_t>(index), static_cast<uint8_t>(std::clamp(value, 0, 255)), temps.rows[s].limit});
  }
  brivo::VoltageTable volts = brivo::voltageSensors(type);
  for (int s = 0; s < volts.count; ++s) {
    const brivo::VoltageSensor& v = volts.rows[s];
    int index = brivo::voltageIndex(v.offset);
    if (v.lowMv == 0 && v.highMv == 0) continue;
    if (index < 0 || index >= static_cast<int>(cs.voltages.size())) continue;
    int mv = cs.voltages[index];
    bool out = mv < v.lowMv || mv > v.highMv;
    uint16_t bit = static_cast<uint16_t>(1 << index);
    if (out == ((reported_.voltageOut[c] & bit) != 0)) continue;
    reported_.voltageOut[c] ^= bit;
    logEvent(
        pair, c, brivo::kEvVoltage,
        {static_cast<uint8_t>(index), static_cast<uint8_t>(mv), static_cast<uint8_t>(mv >> 8),
         out ? brivo::kOff : brivo::kOn, static_cast<uint8_t>(v.lowMv), static_cast<uint8_t>(v.lowMv >> 8),
         static_cast<uint8_t>(v.highMv), static_cast<uint8_t>(v.highMv >> 8)});
  }
}

void BrivoModel::scanEnclosure(PairState& pair) {
  if (pair.enclosure == nullptr) return;
  std::vector<uint8_t> config;
  std::vector<uint8_t> status;
  if (!pair.enclosure->diagnosticPage(0x01, &config) || !pair.enclosure->diagnosticPage(0x02, &status))
    return;
  std::vector<uint8_t> before = std::move(reported_.sesPage);
  reported_.sesPage = status;
  if (live_->header.enclosureSupport != brivo::kOn || before.size() != status.size() || config.size() < 12)
    return;
  // Walk the type descriptors of page 1 (after the enclosure descriptor) beside page 2's elements.
  size_t types = config[10];
  size_t descriptor = 12 + config[11];
  size_t element = 8;
  uint64_t wwn = pair.enclosure->config().identity.wwn;
  for (size_t t = 0; t < types && descriptor + 4 <= config.size(); ++t, descriptor += 4) {
    uint8_t type = config[descriptor];
    int count = config[descriptor + 1];
    element += 4;  // the overall element
    for (int i = 0; i < count && element + 4 <= status.size(); ++i, element += 4) {
      for (const SesLogged& logged : kSesLogged) {
        if (logged.type != type ||
            sesSignificant(type, &before[element]) == sesSignificant(type, &status[element]))
          continue;
        std::vector<uint8_t> reason = {static_cast<uint8_t>(i), status[element],     status[element + 1],
                                       status[element + 2],     status[element + 3], 0};
        for (int k = 0; k < 8; ++k) reason.push_back(static_cast<uint8_t>(wwn >> (56 - 8 * k)));
        logPairEvent(pair, logged.code, reason);
      }
    }
  }
}

}  // namespace sim
