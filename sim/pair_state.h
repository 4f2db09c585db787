// State of one simulated RAID controller pair: its configuration, both controllers (failure,
// battery, sensors, clock), the drives behind it, the events injected for it, and the enclosure it
// reaches. The fault-injection commands change it; the controller model (controller_model.h)
// reads it to build its buffers and may keep more state of its own.
//
// Thread safety: none; the simulated world serializes every access.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace sim {

class SesEnclosure;

// Where the host sees one controller of the pair.
struct PairPath {
  int controller = 0;  // 0 = A, 1 = B
  int host = 0;
  int bus = 0;
  int target = 0;
  int lun = 0;
  int peripheralType = 0;  // 0 direct access or 3 processor
  bool claimed = false;
};

struct PairConfig {
  std::string name;
  std::string vendor = "KESTROVA";
  std::string product = "BRIVO RAID";
  std::string revision = "0100";
  uint64_t wwn = 0;  // configuration WWN of the pair
  int peripheralType = 0;
  std::string model = "default";
  int drives = 0;
  int firstSlot = 0;  // drive i sits in enclosure slot firstSlot + i
  uint64_t driveBlocks = 1953525168ULL;
  std::string enclosure;  // name of an enclosure section, or empty
  int batteryCharge = 100;
  std::vector<PairPath> paths;
  std::map<std::string, std::string> modelOptions;  // "model.<key> = value" lines, key without prefix
};

// Sensor layout: temperatures index 0 air, 1 expander, 2 CPU (degrees Celsius); voltages index i
// is the 16-bit millivolt reading at controller-record offset 154 + 2 i.
inline constexpr int kPairTemperatures = 3;
inline constexpr int kPairVoltages = 12;

struct ControllerState {
  bool failed = false;
  bool batteryFailed = false;
  int batteryCharge = 100;
  std::vector<int> temperatures = {30, 40, 45};
  std::vector<int> voltages = {12000, 5000, 5000, 3300, 2500, 1200, 1800, 4100, 1500, 1000, 3300, 5000};
  int64_t clockOffset = 0;  // seconds added to the host clock
  uint64_t wwn = 0;
  std::string serial;
};

struct PairDrive {
  uint64_t wwn = 0;
  uint64_t blocks = 0;
  int slot = 0;
  bool failed = false;
  std::string serial;
};

struct PairEvent {
  int controller = 0;
  uint32_t code = 0;
  int64_t time = 0;           // controller clock when appended
  std::vector<uint8_t> data;  // optional raw bytes ("data=HEX")
  std::string text;
};

struct PairState {
  const PairConfig* config = nullptr;
  ControllerState controllers[2];
  std::vector<PairDrive> drives;
  std::vector<PairEvent> events;      // in order of arrival; models may consume them
  SesEnclosure* enclosure = nullptr;  // not owned; null when the pair has none
  int64_t startTime = 0;              // host time when the simulator built the pair

  int64_t controllerTime(int controller) const {
    return static_cast<int64_t>(std::time(nullptr)) + controllers[controller].clockOffset;
  }
  int64_t powerOnSeconds() const { return static_cast<int64_t>(std::time(nullptr)) - startTime; }
};

// What a fault-injection command changed, for models that log events like a real controller.
struct PairChange {
  enum Kind { kController, kDrive, kBattery, kTemperature, kVoltage, kClock, kEvent };
  Kind kind = kController;
  int controller = 0;  // for controller-level changes
  int index = 0;       // drive, sensor or event index
  bool failed = false;
};

}  // namespace sim
