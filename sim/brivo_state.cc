// Saving and loading the brivo model's state as key/value texts (the "model PAIR KEY VALUE" lines
// of raidsim's state file), and the run-time keys that ctl may set; see brivo_model.h.
//
// Each part declares its saved keys in one table (brivo_fields.h); the model saves the parts in
// the order a load needs: the clock shift before the times that depend on it, the configuration
// header (which starts a new configuration and drops the jobs) before the records and jobs.
#include <cstdio>

#include "sim/brivo_model.h"
#include "sim/sim_text.h"

namespace sim {

namespace {

bool upOrFailed(const std::string& value, uint8_t* state) {
  if (value != "up" && value != "failed") return false;
  *state = value == "up" ? brivo::kOn : brivo::kOff;
  return true;
}

}  // namespace

void BrivoModel::saveState(const PairState& pair,
                           std::vector<std::pair<std::string, std::string>>* out) const {
  (void)pair;
  FieldClock clock = fieldClock();
  saveKeys(BrivoControllerState::savedKeys(), controllers_, clock, out);
  saveKeys(BrivoConfiguration::savedKeys(), config_, clock, out);
  saveKeys(BrivoEventLogs::savedKeys(), logs_, clock, out);
  saveKeys(BrivoJobList::savedKeys(), jobs_, clock, out);
  saveKeys(BrivoSnapshotList::savedKeys(), snapshots_, clock, out);
}

bool BrivoModel::loadState(PairState& pair, const std::string& key, const std::string& value) {
  FieldClock clock = fieldClock();
  KeyLoad result = loadKey(BrivoControllerState::savedKeys(), controllers_, key, value, clock);
  if (result == KeyLoad::kUnknown) {
    result = loadKey(BrivoConfiguration::savedKeys(), config_, key, value, clock);
    if (result == KeyLoad::kOk && key == "config.header") jobs_.clear();  // the state's jobs follow
  }
  if (result == KeyLoad::kUnknown) result = loadKey(BrivoEventLogs::savedKeys(), logs_, key, value, clock);
  if (result == KeyLoad::kUnknown) result = loadKey(BrivoJobList::savedKeys(), jobs_, key, value, clock);
  if (result == KeyLoad::kUnknown)
    result = loadKey(BrivoSnapshotList::savedKeys(), snapshots_, key, value, clock);
  bool ok = result == KeyLoad::kOk || (result == KeyLoad::kUnknown && loadRunTimeKey(key, value));
  if (ok) refreshAll(pair);
  return ok;
}

// Keys ctl sets that are not saved as such (what they change is): advance SECONDS, job_seconds,
// battery.A|B, hostport.A|B.P, driveloop.A|B.L, predict.N, snapfill.SOURCE and failop.ID.
bool BrivoModel::loadRunTimeKey(const std::string& key, const std::string& value) {
  int64_t number = 0;
  int n = 0;
  KeyIndex k;
  if (key == "advance") {
    if (!parseSigned(value, &number) || number < 0) return false;
    controllers_.setShift(controllers_.shift() + number);
    return true;
  }
  if (key == "job_seconds") {
    if (!parseSigned(value, &number) || number < 1 || number > 86400 * 7) return false;
    options_.jobSeconds = number;
    return true;
  }
  if (matchKey("battery.@", {}, key, &k)) {
    if (value != "disabled" && value != "enabled") return false;
    controllers_.run(k.side).batteryDisabled = value == "disabled";
    return true;
  }
  if (matchKey("hostport.@.#", {1}, key, &k))
    return upOrFailed(value, &controllers_.run(k.side).hostPort[k.number()]);
  if (matchKey("driveloop.@.#", {2}, key, &k) && k.number() >= 1)
    return upOrFailed(value, &controllers_.run(k.side).driveLoop[k.number() - 1]);
  if (matchKey("predict.#", {static_cast<int>(controllers_.drives().size()) - 1}, key, &k)) {
    if (value != "0" && value != "1") return false;
    controllers_.drives()[k.number()].predicted = value == "1";
    return true;
  }
  if (matchKey("snapfill.#", {brivo::kMaxLogicalDrives - 1}, key, &k)) {
    BrivoSnapshot* snap = snapshots_.find(static_cast<uint16_t>(k.number()));
    if (snap == nullptr || !snap->present || !parseInRange(value, 0, 100, &n)) return false;
    snap->fillBase = n;
    snap->time = now();
    return true;
  }
  // "failop.ID" with "KEY/ASC/ASCQ" (hexadecimal, e.g. 5/26/00) arms a one-shot refusal of the
  // next WRITE BUFFER with buffer ID ID; "off" disarms it. Run-time only: never saved.
  if (matchKey("failop.#", {255}, key, &k)) {
    uint8_t id = static_cast<uint8_t>(k.number());
    if (value == "off") {
      failOps_.erase(id);
      return true;
    }
    unsigned parts[3] = {};
    int used = 0;
    char tail = 0;
    if (std::sscanf(value.c_str(), "%x/%x/%x%n%c", &parts[0], &parts[1], &parts[2], &used, &tail) != 3 ||
        static_cast<size_t>(used) != value.size() || parts[0] == 0 || parts[0] > 0x0F || parts[1] > 0xFF ||
        parts[2] > 0xFF) {
      return false;
    }
    failOps_[id] = {static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                    static_cast<uint8_t>(parts[2])};
    return true;
  }
  return false;
}

}  // namespace sim
