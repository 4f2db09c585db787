// The brivo model's logging and its health scan: the events a controller logs when its own state
// changes (partner failure, battery, temperatures, voltages, drives, enclosure elements); the logs
// themselves are brivo_event_logs.h. See brivo_model.h.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "sim/brivo_model.h"
#include "sim/ses_enclosure.h"
#include "sim/sim_text.h"

namespace sim {

namespace {

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

// ---- Logging ----

brivo::EventTime BrivoModel::controllerClock(const PairState& pair, int c) const {
  return eventTime(pair.controllerTime(c));
}

void BrivoModel::logEvent(PairState& pair, int c, uint8_t code, const std::vector<uint8_t>& reason,
                          uint8_t eventClass) {
  logs_.append(c, controllerClock(pair, c), code, reason, eventClass);
}

void BrivoModel::logPairEvent(PairState& pair, uint8_t code, const std::vector<uint8_t>& reason,
                              uint8_t eventClass) {
  logEvent(pair, masterController(pair), code, reason, eventClass);
}

// ---- Health scan ----

uint8_t BrivoModel::controllerTypeCode() const {
  return brivo::controllerType(options_.family, 0, options_.driveInterface, options_.hostInterface);
}

void BrivoModel::scanHealth(PairState& pair) {
  for (int c = 0; c < 2; ++c) scanController(pair, c);
  for (size_t i = 0; i < pair.drives.size() && i < controllers_.reported().driveFailed.size(); ++i) {
    if (pair.drives[i].failed == controllers_.reported().driveFailed[i]) continue;
    controllers_.reported().driveFailed[i] = pair.drives[i].failed;
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
  if (cs.failed != controllers_.reported().controllerFailed[c]) {
    controllers_.reported().controllerFailed[c] = cs.failed;
    if (cs.failed) {
      logEvent(pair, 1 - c, brivo::kEvPartner, {1, brivo::kPartnerFailed});
      logEvent(pair, 1 - c, brivo::kEvCacheDisabled, {2, static_cast<uint8_t>(1 - c)});
      config_.dropChange();  // an open change does not survive the controller that held it
    } else {
      logEvent(pair, c, brivo::kEvController, {brivo::kCtlStarted, side});
      logEvent(pair, 1 - c, brivo::kEvPartner, {1, brivo::kPartnerRestored});
    }
  }
  if (!controllerUp(pair, c)) return;  // a controller that is down reports nothing of its own
  uint8_t charge = static_cast<uint8_t>(std::clamp(cs.batteryCharge, 0, 100));
  if (cs.batteryFailed != controllers_.reported().batteryFailed[c]) {
    controllers_.reported().batteryFailed[c] = cs.batteryFailed;
    logEvent(pair, c, brivo::kEvBattery,
             {cs.batteryFailed ? brivo::kBatteryFailed : brivo::kBatteryGood, charge});
    if (cs.batteryFailed) logEvent(pair, c, brivo::kEvCacheDisabled, {1, side});
  }
  if (controllers_.run(c).batteryDisabled != controllers_.reported().batteryDisabled[c]) {
    controllers_.reported().batteryDisabled[c] = controllers_.run(c).batteryDisabled;
    logEvent(
        pair, c, brivo::kEvBattery,
        {controllers_.run(c).batteryDisabled ? brivo::kBatteryDisabled : brivo::kBatteryEnabled, charge});
  }
  bool low = !cs.batteryFailed && cs.batteryCharge < brivo::kBatteryLowPercent;
  if (low != controllers_.reported().batteryLow[c]) {
    controllers_.reported().batteryLow[c] = low;
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
    if (over == ((controllers_.reported().temperatureOver[c] & bit) != 0)) continue;
    controllers_.reported().temperatureOver[c] ^= bit;
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
    if (out == ((controllers_.reported().voltageOut[c] & bit) != 0)) continue;
    controllers_.reported().voltageOut[c] ^= bit;
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
  std::vector<uint8_t> before = std::move(controllers_.reported().sesPage);
  controllers_.reported().sesPage = status;
  if (config_.live().header.enclosureSupport != brivo::kOn || before.size() != status.size() ||
      config.size() < 12)
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
