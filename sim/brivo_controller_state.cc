// The run state of a brivo pair's controllers and drives, and its saved keys; see
// brivo_controller_state.h.
#include "sim/brivo_controller_state.h"

#include <optional>
#include <type_traits>

namespace sim {

void BrivoControllerState::attach(size_t drives) {
  drives_.assign(drives, DriveRun{});
  driveIdentifyUntil_.assign(drives, {});
  reported_.driveFailed.assign(drives, false);
}

const SavedKeys<BrivoControllerState>& BrivoControllerState::savedKeys() {
  using State = BrivoControllerState;
  using Run = ControllerRun;
  using Bits = std::vector<bool>;
  using Bytes = std::vector<uint8_t>;
  auto always = [](const auto& value) { return std::optional<std::decay_t<decltype(value)>>(value); };
  auto clearedPorts = [](const State& s) {
    std::vector<KeyIndex> out;
    for (int c = 0; c < 2; ++c) {
      for (int p = 0; p < 2; ++p) out.push_back(KeyIndex{c, {p}});
    }
    (void)s;
    return out;
  };
  static const SavedKeys<State> keys = {
      recordKey<State, int64_t>(
          "shift", {}, {{"seconds", FieldKind::kNumber, [](int64_t& v) -> FieldRef { return &v; }}},
          [](const State&) { return single(); },
          [](const State& s, const KeyIndex&) {
            return s.shift_ != 0 ? std::optional<int64_t>(s.shift_) : std::nullopt;
          },
          [](State& s, const KeyIndex&, const int64_t& v) {
            s.shift_ = v;
            return true;
          }),
      recordKey<State, Run>(
          "ctl.@", {},
          {{"shutDown", FieldKind::kNumber, [](Run& r) -> FieldRef { return &r.shutDown; }},
           {"batteryDisabled", FieldKind::kNumber, [](Run& r) -> FieldRef { return &r.batteryDisabled; }},
           {"hostPort0", FieldKind::kHex2, [](Run& r) -> FieldRef { return &r.hostPort[0]; }},
           {"hostPort1", FieldKind::kHex2, [](Run& r) -> FieldRef { return &r.hostPort[1]; }},
           {"driveLoop1", FieldKind::kHex2, [](Run& r) -> FieldRef { return &r.driveLoop[0]; }},
           {"driveLoop2", FieldKind::kHex2, [](Run& r) -> FieldRef { return &r.driveLoop[1]; }},
           {"firmwareLevel", FieldKind::kHex8, [](Run& r) -> FieldRef { return &r.firmwareLevel; }}},
          [](const State&) { return perController(); },
          [always](const State& s, const KeyIndex& k) { return always(s.run_[k.side]); },
          [](State& s, const KeyIndex& k, const Run& r) {
            s.run_[k.side] = r;
            return true;
          }),
      recordKey<State, int64_t>(
          "poweron.@", {}, {{"powerOnBase", FieldKind::kAge, [](int64_t& v) -> FieldRef { return &v; }}},
          [](const State&) { return perController(); },
          [always](const State& s, const KeyIndex& k) { return always(s.run_[k.side].powerOnBase); },
          [](State& s, const KeyIndex& k, const int64_t& base) {
            s.run_[k.side].powerOnBase = base;
            return true;
          }),
      recordKey<State, DriveRun>(
          "drive.#", {brivo::kMaxDrives - 1},
          {{"bypassed", FieldKind::kNumber, [](DriveRun& d) -> FieldRef { return &d.bypassed; }},
           {"firmwareSelected", FieldKind::kNumber,
            [](DriveRun& d) -> FieldRef { return &d.firmwareSelected; }},
           {"predicted", FieldKind::kNumber, [](DriveRun& d) -> FieldRef { return &d.predicted; }},
           {"revision", FieldKind::kText, [](DriveRun& d) -> FieldRef { return &d.revision; }, 0, 15}},
          [](const State& s) { return numbered(static_cast<int>(s.drives_.size())); },
          [](const State& s, const KeyIndex& k) -> std::optional<DriveRun> {
            size_t n = static_cast<size_t>(k.number());
            if (n >= s.drives_.size()) return std::nullopt;
            const DriveRun& d = s.drives_[n];
            if (!d.bypassed && !d.firmwareSelected && !d.predicted && d.revision.empty()) return std::nullopt;
            return d;
          },
          [](State& s, const KeyIndex& k, const DriveRun& d) {
            size_t n = static_cast<size_t>(k.number());
            if (n >= s.drives_.size()) return false;
            s.drives_[n] = d;
            return true;
          }),
      recordKey<State, Reported>(
          "reported", {},
          {{"controllerFailedA", FieldKind::kNumber,
            [](Reported& r) -> FieldRef { return &r.controllerFailed[0]; }},
           {"controllerFailedB", FieldKind::kNumber,
            [](Reported& r) -> FieldRef { return &r.controllerFailed[1]; }},
           {"batteryFailedA", FieldKind::kNumber,
            [](Reported& r) -> FieldRef { return &r.batteryFailed[0]; }},
           {"batteryFailedB", FieldKind::kNumber,
            [](Reported& r) -> FieldRef { return &r.batteryFailed[1]; }},
           {"batteryLowA", FieldKind::kNumber, [](Reported& r) -> FieldRef { return &r.batteryLow[0]; }},
           {"batteryLowB", FieldKind::kNumber, [](Reported& r) -> FieldRef { return &r.batteryLow[1]; }},
           {"batteryDisabledA", FieldKind::kNumber,
            [](Reported& r) -> FieldRef { return &r.batteryDisabled[0]; }},
           {"batteryDisabledB", FieldKind::kNumber,
            [](Reported& r) -> FieldRef { return &r.batteryDisabled[1]; }},
           {"temperatureOverA", FieldKind::kNumber,
            [](Reported& r) -> FieldRef { return &r.temperatureOver[0]; }},
           {"temperatureOverB", FieldKind::kNumber,
            [](Reported& r) -> FieldRef { return &r.temperatureOver[1]; }},
           {"voltageOutA", FieldKind::kNumber, [](Reported& r) -> FieldRef { return &r.voltageOut[0]; }},
           {"voltageOutB", FieldKind::kNumber, [](Reported& r) -> FieldRef { return &r.voltageOut[1]; }}},
          [](const State&) { return single(); },
          [always](const State& s, const KeyIndex&) { return always(s.reported_); },
          [](State& s, const KeyIndex&, const Reported& r) {
            s.reported_ = r;
            return true;
          }),
      recordKey<State, Bits>(
          "reported.drives", {}, {{"failed", FieldKind::kBits, [](Bits& b) -> FieldRef { return &b; }}},
          [](const State&) { return single(); },
          [always](const State& s, const KeyIndex&) { return always(s.reported_.driveFailed); },
          [](State& s, const KeyIndex&, const Bits& b) {
            s.reported_.driveFailed = b;
            return true;
          }),
      recordKey<State, Bytes>(
          "reported.ses", {}, {{"page", FieldKind::kBytes, [](Bytes& b) -> FieldRef { return &b; }}},
          [](const State&) { return single(); },
          [](const State& s, const KeyIndex&) {
            return s.reported_.sesPage.empty() ? std::optional<Bytes>()
                                               : std::optional<Bytes>(s.reported_.sesPage);
          },
          [](State& s, const KeyIndex&, const Bytes& b) {
            s.reported_.sesPage = b;
            return true;
          }),
      recordKey<State, uint8_t>(
          "alarm", {},
          {{"state", FieldKind::kNumber, [](uint8_t& v) -> FieldRef { return &v; }, 0,
            brivo::kAlarmDisabled}},
          [](const State&) { return single(); },
          [always](const State& s, const KeyIndex&) { return always(s.alarm_); },
          [](State& s, const KeyIndex&, const uint8_t& v) {
            s.alarm_ = v;
            return true;
          }),
      recordKey<State, int64_t>(
          "stats.@.#", {1}, {{"cleared", FieldKind::kNumber, [](int64_t& v) -> FieldRef { return &v; }}},
          clearedPorts,
          [](const State& s, const KeyIndex& k) {
            int64_t time = s.statistics_.allCleared[k.side][k.number()];
            return time != 0 ? std::optional<int64_t>(time) : std::nullopt;
          },
          [](State& s, const KeyIndex& k, const int64_t& time) {
            s.statistics_.allCleared[k.side][k.number()] = time;
            return true;
          }),
      recordKey<State, int64_t>(
          "stats.@.#.#", {1, brivo::kMaxLogicalDrives},
          {{"cleared", FieldKind::kNumber, [](int64_t& v) -> FieldRef { return &v; }}},
          [](const State& s) {
            std::vector<KeyIndex> out;
            for (int c = 0; c < 2; ++c) {
              for (int p = 0; p < 2; ++p) {
                for (const auto& [drive, time] : s.statistics_.driveCleared[c][p])
                  out.push_back(KeyIndex{c, {p, drive}});
              }
            }
            return out;
          },
          [](const State& s, const KeyIndex& k) {
            const auto& cleared = s.statistics_.driveCleared[k.side][k.number(0)];
            auto it = cleared.find(k.number(1));
            return it == cleared.end() ? std::optional<int64_t>() : std::optional<int64_t>(it->second);
          },
          [](State& s, const KeyIndex& k, const int64_t& time) {
            s.statistics_.driveCleared[k.side][k.number(0)][k.number(1)] = time;
            return true;
          }),
  };
  return keys;
}

}  // namespace sim
