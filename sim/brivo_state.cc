// Saving and loading the brivo model's state as key/value texts (the "model PAIR KEY VALUE" lines
// of raidsim's state file), and the run-time keys that ctl may set; see brivo_model.h.
//
// Saved keys, in this order (the load order): shift; config.header, config.array.N, config.ld.N,
// config.spares, config.mapping, config.reference (records as hexadecimal bytes); eventlog.A|B
// ("newest,count,started") with eventlog.A|B.K (entries oldest first, 512 per chunk); job.K;
// ctl.A|B; poweron.A|B; drive.N; reported, reported.drives, reported.ses; alarm; stats.A|B.P and
// stats.A|B.P.DRIVE; snap.DRIVE. An open configuration change is not saved: it would not survive
// a controller restart either.
#include <cstdio>
#include <cstring>

#include "sim/brivo_model.h"
#include "sim/sim_text.h"

namespace sim {

namespace {

template <typename T>
std::string hexOf(const T& value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  return hexEncode(std::vector<uint8_t>(p, p + sizeof(T)));
}

template <typename T>
bool fromHex(const std::string& text, T* value) {
  std::vector<uint8_t> bytes;
  if (!hexDecode(text, &bytes) || bytes.size() != sizeof(T)) return false;
  std::memcpy(static_cast<void*>(value), bytes.data(), sizeof(T));
  return true;
}

// "PREFIX.A", "PREFIX.B" or with a further ".N": the controller and the rest.
bool sideKey(const std::string& key, const std::string& prefix, int* c, std::string* rest) {
  if (key.size() < prefix.size() + 2 || key.compare(0, prefix.size(), prefix) != 0 ||
      key[prefix.size()] != '.')
    return false;
  char side = key[prefix.size() + 1];
  if (side != 'A' && side != 'B') return false;
  *c = side == 'A' ? 0 : 1;
  *rest = key.substr(prefix.size() + 2);
  return rest->empty() || (*rest)[0] == '.';
}

bool numberAfter(const std::string& key, const std::string& prefix, int high, int* n) {
  if (key.compare(0, prefix.size(), prefix) != 0) return false;
  return parseInRange(key.substr(prefix.size()), 0, high, n);
}

bool upOrFailed(const std::string& value, uint8_t* state) {
  if (value != "up" && value != "failed") return false;
  *state = value == "up" ? brivo::kOn : brivo::kOff;
  return true;
}

}  // namespace

void BrivoModel::saveState(const PairState& pair,
                           std::vector<std::pair<std::string, std::string>>* out) const {
  (void)pair;
  if (shift_ != 0) out->emplace_back("shift", std::to_string(shift_));
  saveConfiguration(out);
  saveRuntime(out);
}

void BrivoModel::saveConfiguration(std::vector<std::pair<std::string, std::string>>* out) const {
  auto put = [out](std::string key, std::string value) {
    out->emplace_back(std::move(key), std::move(value));
  };
  put("config.header", hexOf(live_->header));
  for (int n = 0; n < brivo::kMaxArrays; ++n) {
    if (live_->arrays[n].valid == brivo::kOn)
      put("config.array." + std::to_string(n), hexOf(live_->arrays[n]));
  }
  for (int d = 0; d < brivo::kMaxLogicalDrives; ++d) {
    if (live_->logicalDrives[d].valid == brivo::kOn)
      put("config.ld." + std::to_string(d), hexOf(live_->logicalDrives[d]));
  }
  if (live_->header.hotSpareCount != 0) put("config.spares", hexOf(live_->spares));
  if (live_->mapping.count != 0) put("config.mapping", hexOf(live_->mapping));
  put("config.reference", std::to_string(nextReference_));
  for (int c = 0; c < 2; ++c) {
    std::string side = c == 0 ? "A" : "B";
    put("eventlog." + side, logs_[c].meta());
    std::vector<std::string> chunks = logs_[c].chunks();
    for (size_t k = 0; k < chunks.size(); ++k) put("eventlog." + side + "." + std::to_string(k), chunks[k]);
  }
  for (size_t k = 0; k < jobs_.size(); ++k) {
    const BrivoJob& j = jobs_[k];
    char text[160];
    std::snprintf(text, sizeof(text), "%u,%d,%d,%u,%lld,%lld,%lld,%lld", j.kind, j.array, j.member, j.mode,
                  static_cast<long long>(j.start), static_cast<long long>(j.duration),
                  static_cast<long long>(j.pausedAt), static_cast<long long>(j.pausedTotal));
    put("job." + std::to_string(k), text);
  }
}

void BrivoModel::saveRuntime(std::vector<std::pair<std::string, std::string>>* out) const {
  auto put = [out](std::string key, std::string value) {
    out->emplace_back(std::move(key), std::move(value));
  };
  char text[160];
  for (int c = 0; c < 2; ++c) {
    const ControllerRun& r = run_[c];
    std::snprintf(text, sizeof(text), "%d,%d,%02X,%02X,%02X,%02X,%08X", r.shutDown ? 1 : 0,
                  r.batteryDisabled ? 1 : 0, r.hostPort[0], r.hostPort[1], r.driveLoop[0], r.driveLoop[1],
                  r.firmwareLevel);
    put(std::string("ctl.") + (c == 0 ? "A" : "B"), text);
    put(std::string("poweron.") + (c == 0 ? "A" : "B"), std::to_string(now() - r.powerOnBase));
  }
  for (size_t i = 0; i < drives_.size(); ++i) {
    const DriveRun& d = drives_[i];
    if (!d.bypassed && !d.firmwareSelected && !d.predicted && d.revision.empty()) continue;
    put("drive." + std::to_string(i), std::to_string(d.bypassed) + "," + std::to_string(d.firmwareSelected) +
                                          "," + std::to_string(d.predicted) + "," +
                                          (d.revision.empty() ? "-" : d.revision));
  }
  const Reported& r = reported_;
  std::snprintf(text, sizeof(text), "%d,%d,%d,%d,%d,%d,%d,%d,%u,%u,%u,%u", r.controllerFailed[0],
                r.controllerFailed[1], r.batteryFailed[0], r.batteryFailed[1], r.batteryLow[0],
                r.batteryLow[1], r.batteryDisabled[0], r.batteryDisabled[1], r.temperatureOver[0],
                r.temperatureOver[1], r.voltageOut[0], r.voltageOut[1]);
  put("reported", text);
  std::string drives;
  for (bool failed : r.driveFailed) drives += failed ? '1' : '0';
  put("reported.drives", drives.empty() ? "-" : drives);
  if (!r.sesPage.empty()) put("reported.ses", hexEncode(r.sesPage));
  put("alarm", std::to_string(alarm_));
  for (int c = 0; c < 2; ++c) {
    for (int p = 0; p < 2; ++p) {
      std::string key = std::string("stats.") + (c == 0 ? "A" : "B") + "." + std::to_string(p);
      if (statistics_.allCleared[c][p] != 0) put(key, std::to_string(statistics_.allCleared[c][p]));
      for (const auto& [drive, time] : statistics_.driveCleared[c][p])
        put(key + "." + std::to_string(drive), std::to_string(time));
    }
  }
  for (const auto& [source, s] : snapshots_) {
    std::snprintf(text, sizeof(text), "%u,%u,%d,%lld,%d,%lld,%u", s.area, s.warning, s.present ? 1 : 0,
                  static_cast<long long>(s.time), s.fillBase, static_cast<long long>(s.snapbackStart),
                  s.reportedFlags);
    put("snap." + std::to_string(source), text);
  }
}

bool BrivoModel::loadState(PairState& pair, const std::string& key, const std::string& value) {
  int64_t number = 0;
  KeyResult result = kKeyUnknown;
  if (key == "shift" || key == "advance") {
    bool ok = parseSigned(value, &number) && (key == "shift" || number >= 0);
    if (ok) shift_ = key == "shift" ? number : shift_ + number;
    result = ok ? kKeyOk : kKeyBad;
  } else if (key == "job_seconds") {
    bool ok = parseSigned(value, &number) && number >= 1 && number <= 86400 * 7;
    if (ok) options_.jobSeconds = number;
    result = ok ? kKeyOk : kKeyBad;
  }
  using Loader = KeyResult (BrivoModel::*)(const std::string&, const std::string&);
  static constexpr Loader kLoaders[] = {&BrivoModel::loadConfigurationKey, &BrivoModel::loadJobKey,
                                        &BrivoModel::loadControllerKey,    &BrivoModel::loadDriveKey,
                                        &BrivoModel::loadReportedKey,      &BrivoModel::loadStatisticsKey,
                                        &BrivoModel::loadSnapshotKey,      &BrivoModel::loadFailOpKey};
  for (Loader loader : kLoaders) {
    if (result == kKeyUnknown) result = (this->*loader)(key, value);
  }
  if (result == kKeyOk) refreshAll(pair);
  return result == kKeyOk;
}

BrivoModel::KeyResult BrivoModel::loadConfigurationKey(const std::string& key, const std::string& value) {
  int n = 0;
  int c = 0;
  std::string rest;
  bool ok = false;
  if (key == "config.header") {
    // The saved configuration begins here and replaces the whole configuration (a preset
    // included): records the state does not list are free slots.
    ok = fromHex(value, &live_->header);
    if (ok) {
      for (brivo::ArrayRecord& a : live_->arrays) {
        a = brivo::ArrayRecord{};
        a.faultStatus = brivo::kFaultNone;
      }
      for (brivo::LogicalDriveRecord& d : live_->logicalDrives) {
        d = brivo::LogicalDriveRecord{};
        d.hostLun = brivo::kLunNone;
      }
      for (brivo::SpareRecord& s : live_->spares) s = brivo::SpareRecord{};
      live_->mapping = brivo::MappingTable{};
      jobs_.clear();  // the state's jobs follow the configuration
    }
  } else if (numberAfter(key, "config.array.", brivo::kMaxArrays - 1, &n)) {
    brivo::ArrayRecord record;
    ok = fromHex(value, &record) && arrayRecordSane(record);
    if (ok) live_->arrays[n] = record;
  } else if (numberAfter(key, "config.ld.", brivo::kMaxLogicalDrives - 1, &n)) {
    brivo::LogicalDriveRecord record;
    ok = fromHex(value, &record) && driveRecordSane(record);
    if (ok) live_->logicalDrives[n] = record;
  } else if (key == "config.spares") {
    ok = fromHex(value, &live_->spares);
  } else if (key == "config.mapping") {
    ok = fromHex(value, &live_->mapping) && live_->mapping.count <= brivo::kMaxMappings;
  } else if (key == "config.reference") {
    ok = parseInRange(value, 1, 0xFFFF, &n);
    if (ok) nextReference_ = static_cast<uint16_t>(n);
  } else if (sideKey(key, "eventlog", &c, &rest)) {
    ok = rest.empty() ? logs_[c].setMeta(value)
                      : parseInRange(rest.substr(1), 0, 7, &n) && logs_[c].setChunk(n, value);
  } else {
    return kKeyUnknown;
  }
  return ok ? kKeyOk : kKeyBad;
}

BrivoModel::KeyResult BrivoModel::loadJobKey(const std::string& key, const std::string& value) {
  int n = 0;
  if (!numberAfter(key, "job.", 63, &n)) return kKeyUnknown;
  BrivoJob j;
  unsigned kind = 0;
  unsigned mode = 0;
  long long start = 0, duration = 0, pausedAt = 0, pausedTotal = 0;
  char tail = 0;
  bool ok = std::sscanf(value.c_str(), "%u,%d,%d,%u,%lld,%lld,%lld,%lld%c", &kind, &j.array, &j.member, &mode,
                        &start, &duration, &pausedAt, &pausedTotal, &tail) == 8 &&
            kind >= brivo::kJobInit && kind <= brivo::kJobExpansion && j.array >= 0 &&
            j.array < brivo::kMaxArrays && j.member >= 0 && j.member < brivo::kMaxMembers && mode <= 255 &&
            duration > 0;
  if (!ok) return kKeyBad;
  j.kind = static_cast<uint8_t>(kind);
  j.mode = static_cast<uint8_t>(mode);
  j.start = start, j.duration = duration, j.pausedAt = pausedAt, j.pausedTotal = pausedTotal;
  if (static_cast<size_t>(n) < jobs_.size())
    jobs_[n] = j;
  else
    jobs_.push_back(j);
  return kKeyOk;
}

BrivoModel::KeyResult BrivoModel::loadControllerKey(const std::string& key, const std::string& value) {
  int c = 0;
  std::string rest;
  int64_t number = 0;
  bool ok = false;
  if (sideKey(key, "ctl", &c, &rest) && rest.empty()) {
    int shutDown = 0, disabled = 0;
    unsigned p0 = 0, p1 = 0, l1 = 0, l2 = 0, level = 0;
    char tail = 0;
    ok = std::sscanf(value.c_str(), "%d,%d,%X,%X,%X,%X,%X%c", &shutDown, &disabled, &p0, &p1, &l1, &l2,
                     &level, &tail) == 7 &&
         p0 <= 255 && p1 <= 255 && l1 <= 255 && l2 <= 255;
    if (!ok) return kKeyBad;
    run_[c].shutDown = shutDown != 0;
    run_[c].batteryDisabled = disabled != 0;
    run_[c].hostPort[0] = static_cast<uint8_t>(p0), run_[c].hostPort[1] = static_cast<uint8_t>(p1);
    run_[c].driveLoop[0] = static_cast<uint8_t>(l1), run_[c].driveLoop[1] = static_cast<uint8_t>(l2);
    run_[c].firmwareLevel = level;
  } else if (sideKey(key, "poweron", &c, &rest) && rest.empty()) {
    ok = parseSigned(value, &number) && number >= 0;
    if (ok) run_[c].powerOnBase = now() - number;
  } else if (sideKey(key, "battery", &c, &rest) && rest.empty()) {
    ok = value == "disabled" || value == "enabled";
    if (ok) run_[c].batteryDisabled = value == "disabled";
  } else if (sideKey(key, "hostport", &c, &rest) && (rest == ".0" || rest == ".1")) {
    ok = upOrFailed(value, &run_[c].hostPort[rest[1] - '0']);
  } else if (sideKey(key, "driveloop", &c, &rest) && (rest == ".1" || rest == ".2")) {
    ok = upOrFailed(value, &run_[c].driveLoop[rest[1] - '1']);
  } else if (key == "alarm") {
    int n = 0;
    ok = parseInRange(value, 0, brivo::kAlarmDisabled, &n);
    if (ok) alarm_ = static_cast<uint8_t>(n);
  } else {
    return kKeyUnknown;
  }
  return ok ? kKeyOk : kKeyBad;
}

BrivoModel::KeyResult BrivoModel::loadDriveKey(const std::string& key, const std::string& value) {
  int n = 0;
  int last = static_cast<int>(drives_.size()) - 1;
  if (numberAfter(key, "drive.", last, &n)) {
    int bypassed = 0, selected = 0, predicted = 0;
    char revision[16] = {};
    if (std::sscanf(value.c_str(), "%d,%d,%d,%15s", &bypassed, &selected, &predicted, revision) != 4)
      return kKeyBad;
    drives_[n] = {bypassed != 0, selected != 0, predicted != 0,
                  std::strcmp(revision, "-") == 0 ? "" : revision};
    return kKeyOk;
  }
  if (numberAfter(key, "predict.", last, &n)) {
    if (value != "0" && value != "1") return kKeyBad;
    drives_[n].predicted = value == "1";
    return kKeyOk;
  }
  return kKeyUnknown;
}

BrivoModel::KeyResult BrivoModel::loadReportedKey(const std::string& key, const std::string& value) {
  if (key == "reported") {
    int v[8] = {};
    unsigned t0 = 0, t1 = 0, v0 = 0, v1 = 0;
    char tail = 0;
    if (std::sscanf(value.c_str(), "%d,%d,%d,%d,%d,%d,%d,%d,%u,%u,%u,%u%c", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &v[6], &v[7], &t0, &t1, &v0, &v1, &tail) != 12)
      return kKeyBad;
    for (int k = 0; k < 2; ++k) {
      reported_.controllerFailed[k] = v[k] != 0;
      reported_.batteryFailed[k] = v[2 + k] != 0;
      reported_.batteryLow[k] = v[4 + k] != 0;
      reported_.batteryDisabled[k] = v[6 + k] != 0;
    }
    reported_.temperatureOver[0] = static_cast<uint8_t>(t0),
    reported_.temperatureOver[1] = static_cast<uint8_t>(t1);
    reported_.voltageOut[0] = static_cast<uint16_t>(v0), reported_.voltageOut[1] = static_cast<uint16_t>(v1);
    return kKeyOk;
  }
  if (key == "reported.drives") {
    std::string flags = value == "-" ? "" : value;
    if (flags.size() != reported_.driveFailed.size() || flags.find_first_not_of("01") != std::string::npos)
      return kKeyBad;
    for (size_t i = 0; i < flags.size(); ++i) reported_.driveFailed[i] = flags[i] == '1';
    return kKeyOk;
  }
  if (key == "reported.ses") return hexDecode(value, &reported_.sesPage) ? kKeyOk : kKeyBad;
  return kKeyUnknown;
}

BrivoModel::KeyResult BrivoModel::loadStatisticsKey(const std::string& key, const std::string& value) {
  int c = 0;
  int n = 0;
  std::string rest;
  int64_t time = 0;
  if (!sideKey(key, "stats", &c, &rest) || rest.size() < 2 || (rest[1] != '0' && rest[1] != '1'))
    return kKeyUnknown;
  int p = rest[1] - '0';
  if (!parseSigned(value, &time)) return kKeyBad;
  if (rest.size() == 2) {
    statistics_.allCleared[c][p] = time;
    return kKeyOk;
  }
  if (rest[2] != '.' || !parseInRange(rest.substr(3), 0, brivo::kMaxLogicalDrives, &n)) return kKeyBad;
  statistics_.driveCleared[c][p][n] = time;
  return kKeyOk;
}

BrivoModel::KeyResult BrivoModel::loadSnapshotKey(const std::string& key, const std::string& value) {
  int n = 0;
  if (numberAfter(key, "snap.", brivo::kMaxLogicalDrives - 1, &n)) {
    BrivoSnapshot s;
    unsigned area = 0, warning = 0, flags = 0;
    int present = 0;
    long long time = 0, snapback = 0;
    char tail = 0;
    if (std::sscanf(value.c_str(), "%u,%u,%d,%lld,%d,%lld,%u%c", &area, &warning, &present, &time,
                    &s.fillBase, &snapback, &flags, &tail) != 7 ||
        area >= brivo::kMaxLogicalDrives || warning > 99 || flags > 255) {
      return kKeyBad;
    }
    s.area = static_cast<uint16_t>(area), s.warning = static_cast<uint8_t>(warning), s.present = present != 0;
    s.time = time, s.snapbackStart = snapback, s.reportedFlags = static_cast<uint8_t>(flags);
    snapshots_[static_cast<uint16_t>(n)] = s;
    return kKeyOk;
  }
  if (numberAfter(key, "snapfill.", brivo::kMaxLogicalDrives - 1, &n)) {
    auto it = snapshots_.find(static_cast<uint16_t>(n));
    int percent = 0;
    if (it == snapshots_.end() || !it->second.present || !parseInRange(value, 0, 100, &percent))
      return kKeyBad;
    it->second.fillBase = percent;
    it->second.time = now();
    return kKeyOk;
  }
  return kKeyUnknown;
}

// "failop.ID" with "KEY/ASC/ASCQ" (hexadecimal, e.g. 5/26/00) arms a one-shot refusal of the next
// WRITE BUFFER with buffer ID ID; "off" disarms it. Run-time only: saveState never writes it.
BrivoModel::KeyResult BrivoModel::loadFailOpKey(const std::string& key, const std::string& value) {
  int id = 0;
  if (!numberAfter(key, "failop.", 255, &id)) return kKeyUnknown;
  if (value == "off") {
    failOps_.erase(static_cast<uint8_t>(id));
    return kKeyOk;
  }
  unsigned parts[3] = {};
  int used = 0;
  char tail = 0;
  if (std::sscanf(value.c_str(), "%x/%x/%x%n%c", &parts[0], &parts[1], &parts[2], &used, &tail) != 3 ||
      static_cast<size_t>(used) != value.size() || parts[0] == 0 || parts[0] > 0x0F || parts[1] > 0xFF ||
      parts[2] > 0xFF) {
    return kKeyBad;
  }
  failOps_[static_cast<uint8_t>(id)] = {static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                                        static_cast<uint8_t>(parts[2])};
  return kKeyOk;
}

}  // namespace sim
