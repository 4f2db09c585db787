// The run state of a brivo pair's two controllers and their drives, apart from the configuration:
// the model clock's shift, shutdown and reset, power-on time, battery, host ports and drive
// loops, firmware levels, bypassed and predicted drives and their firmware, the alarm, when the
// statistics were cleared, what faults were already logged, and the run-time-only timers,
// firmware images and diagnostics dump.
//
// Saved keys: shift; ctl.A|B "shutDown,batteryDisabled,port0,port1,loop1,loop2,firmware"
// (hexadecimal states and level); poweron.A|B (seconds since power-on); drive.N
// "bypassed,firmwareSelected,predicted,revision"; reported (twelve flags and bit masks),
// reported.drives, reported.ses; alarm; stats.A|B.P and stats.A|B.P.DRIVE (clearing times).
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "modules/brivo/protocol.h"
#include "sim/brivo_fields.h"

namespace sim {

struct ControllerRun {
  bool shutDown = false;
  std::chrono::steady_clock::time_point resetUntil{};
  bool resetting = false;
  int64_t powerOnBase = 0;  // model seconds at power-on
  bool batteryDisabled = false;
  uint8_t hostPort[2] = {brivo::kOn, brivo::kOn};
  uint8_t driveLoop[2] = {brivo::kOn, brivo::kOn};
  uint32_t firmwareLevel = 0;
};

struct DriveRun {
  bool bypassed = false;
  bool firmwareSelected = false;
  bool predicted = false;
  std::string revision;  // empty: the pair's configured one
};

// Conditions already logged, so each change is logged once.
struct Reported {
  bool controllerFailed[2] = {false, false};
  bool batteryFailed[2] = {false, false};
  bool batteryLow[2] = {false, false};
  bool batteryDisabled[2] = {false, false};
  uint8_t temperatureOver[2] = {0, 0};  // bit per sensor
  uint16_t voltageOut[2] = {0, 0};      // bit per voltage index
  std::vector<bool> driveFailed;
  std::vector<uint8_t> sesPage;  // enclosure status page as last compared
};

struct Statistics {
  int64_t allCleared[2][2] = {{0, 0}, {0, 0}};  // [controller][port]
  std::map<int, int64_t> driveCleared[2][2];    // logical drive (512 = totals)
};

class BrivoControllerState {
 public:
  using Clock = std::chrono::steady_clock;

  // Sized for the pair's drives; nothing run or logged yet.
  void attach(size_t drives);

  int64_t shift() const { return shift_; }
  void setShift(int64_t seconds) { shift_ = seconds; }
  ControllerRun& run(int c) { return run_[c]; }
  const ControllerRun& run(int c) const { return run_[c]; }
  std::vector<DriveRun>& drives() { return drives_; }
  const std::vector<DriveRun>& drives() const { return drives_; }
  Reported& reported() { return reported_; }
  const Reported& reported() const { return reported_; }
  Statistics& statistics() { return statistics_; }
  const Statistics& statistics() const { return statistics_; }
  uint8_t alarm() const { return alarm_; }
  void setAlarm(uint8_t state) { alarm_ = state; }

  // Run time only.
  Clock::time_point& enclosureIdentifyUntil() { return enclosureIdentifyUntil_; }
  std::vector<Clock::time_point>& driveIdentifyUntil() { return driveIdentifyUntil_; }
  const std::vector<Clock::time_point>& driveIdentifyUntil() const { return driveIdentifyUntil_; }
  std::vector<uint8_t>& firmwareImage(int id) { return firmware_[id]; }
  std::string& diagnostics() { return diagnostics_; }
  const std::string& diagnostics() const { return diagnostics_; }

  static const SavedKeys<BrivoControllerState>& savedKeys();

 private:
  int64_t shift_ = 0;  // seconds added to the host clock ("advance")
  ControllerRun run_[2];
  std::vector<DriveRun> drives_;
  Reported reported_;
  Statistics statistics_;
  uint8_t alarm_ = brivo::kAlarmEnabled;
  Clock::time_point enclosureIdentifyUntil_{};
  std::vector<Clock::time_point> driveIdentifyUntil_;
  std::vector<uint8_t> firmware_[3];  // images being loaded, by buffer ID
  std::string diagnostics_;           // prepared dump, empty when none
};

}  // namespace sim
