// The health of a storage solution (one controller pair with its drives and enclosures), as the
// monitor, the monitor page and the command interpreter see it: an overall status and the list
// of checks that found something.
//
// Statuses are the module's (module_state.h): 0 OK, 1 Warning, 2 Error, 255 Unknown; a check
// that does not apply has no opinion (254) and is never stored. Results are combined with
// combineStatus (module_status.h): Warning overrides OK, Error overrides both, Unknown overrides
// only OK and then stays.
//
// The checks, in the order they run (each group ends at its first failed read):
//   controller  host ports (FC pairs), battery, voltages and temperatures of each present
//               controller, a missing controller in dual mode, drive loops (FC drives), single
//               controller, array fault status;
//   drives      loop presence, drive state (array member status, the member being rebuilt
//               counts as good);
//   enclosures  fans, temperatures and every other element of each cached SES status page
//               (only while enclosure support is on);
//   snapshots   overrun or invalid areas (Error), areas over their warning level (Warning).
//
// Two layers: evaluateSolution and the controller-health functions are pure (they judge buffers
// the caller read), solutionReport reads a pair's buffers through its chosen path and hands them
// on. Pages use the pure functions for the controller information page and the report for the
// monitor page.
//
// Thread safety: the pure functions may run anywhere. solutionReport sends commands: call it from
// a thread that holds the admission gate (a request thread, or the monitor's update); it takes
// the enclosure lock (enclosure_watch.h) while it reads the cached pages.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/device_list.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/protocol.h"

namespace brivo::monitor {

// "BatteryPercentWarning" of BrivoSettings.ini when it is missing or not a number in 1-100.
inline constexpr int kDefaultBatteryPercentWarning = 80;
// A low battery is a Warning during the controller's first day of power-on, an Error after it.
inline constexpr uint32_t kBatteryGraceSeconds = 86400;

enum class CheckKind : uint8_t {
  kNotMonitored,          // another server monitors the pair (status OK, nothing read)
  kCommunication,         // three or more commands in a row failed (value = failure count)
  kReadFailed,            // a buffer could not be read; its group was skipped (value = result code,
                          // index = buffer ID); status 254
  kHostPort,              // host port `index` failed on both controllers
  kBattery,               // value = charge percent, limit = the warning threshold
  kVoltage,               // label, value in mV, range in low/high (limit = high)
  kTemperature,           // label, value in degrees Celsius, limit
  kControllerFailed,      // a controller is missing while the pair runs in dual mode
  kDriveLoop,             // drive loop `index` (1 or 2) of a controller failed
  kSingleController,      // dual mode and a controller's state byte says failed
  kArray,                 // array `index`, value = fault status
  kDriveLoopPresence,     // drive entry `index` is missing on a loop (label = serial)
  kDrive,                 // drive entry `index` is not good (label = serial, value = state)
  kEnclosureFans,         // enclosure slot `index`: value = fans OK, limit = fans
  kEnclosureTemperature,  // enclosure slot `index`: a temperature warning or failure
  kEnclosureElement,      // enclosure slot `index`: element type `value`, number `limit` (from 0)
                          // reports a fault; its four status bytes in `element`
  kEnclosureNoStatus,     // enclosure slot `index` has no status page
  kSnapshot,              // snapshot area of source drive `index` (value = its flags)
};
// Stable name of a kind ("Battery", "HostPort", ...), for string-table keys and logs.
const char* checkKindName(CheckKind kind);

struct CheckResult {
  CheckKind kind = CheckKind::kReadFailed;
  uint32_t status = kStatusOk;
  int controller = -1;  // 0 A, 1 B; -1 the pair
  int index = -1;       // what the kind says; -1 none
  int value = 0;
  int limit = 0;
  int low = 0;         // voltages: the lower end of the range
  std::string label;   // sensor label, drive serial or enclosure WWN
  std::string detail;  // the status decision as the module's debug output words it
  uint8_t element[4] = {};  // kEnclosureElement: the element's SES status bytes
};

// One sensor as the controller information page shows it.
struct SensorReading {
  std::string label;
  int value = 0;      // millivolts or degrees Celsius
  int low = 0;        // voltages: range; 0-0 = no range
  int high = 0;       // voltages: range; temperatures: the limit
  bool shown = true;  // false: a battery-only voltage while the battery is not present and good
  uint32_t status = kStatusOk;
};

// The health of one controller: battery, voltages and temperatures, each judged by the
// controller type's tables (protocol_sensors.h), and their combination.
struct ControllerHealth {
  bool present = false;  // state byte 0xF1
  uint32_t battery = kStatusOk;
  uint32_t voltage = kStatusOk;
  uint32_t temperature = kStatusOk;
  uint32_t status = kStatusOk;  // the three combined (OK for an absent controller)
  std::vector<SensorReading> voltages;
  std::vector<SensorReading> temperatures;
};

// The battery rule: state 0xF0 Error, 0xF2 (disabled) OK; otherwise a charge below
// percentWarning is a Warning while the power-on time is at most a day, an Error after it.
uint32_t batteryStatus(const ControllerRecord& record, int percentWarning);
// Battery, voltages and temperatures of a present controller of type `type`.
ControllerHealth controllerHealth(const ControllerRecord& record, uint8_t type, int percentWarning);

// The three cached SES pages of one enclosure (copies; see enclosureSnapshot).
struct EnclosurePages {
  int slot = 0;
  uint8_t address = 0;
  std::vector<uint8_t> config;   // page 1
  std::vector<uint8_t> status;   // page 2; empty when the enclosure has none
  std::vector<uint8_t> strings;  // page 4
};

// What one evaluation judges. Null buffers were not read (their group is skipped).
struct PairSnapshot {
  std::string name;  // ModDeviceName, for the diagnostic texts
  ControllerTraits traits;
  int batteryPercentWarning = kDefaultBatteryPercentWarning;
  const ControllerInformation* info = nullptr;
  const ConfigurationHeader* header = nullptr;  // configuration header
  const ArrayRecord* arrays = nullptr;          // kMaxArrays records (with the header)
  const DriveList* drives = nullptr;
  std::span<const EnclosurePages> enclosures;  // judged only when enclosureSupport
  bool enclosureSupport = false;
  bool snapshotsSupported = false;
  std::span<const SnapshotArea> snapshotAreas;  // judged only when snapshotsRead
  bool snapshotsRead = false;
};

struct SolutionReport {
  uint32_t status = kStatusOk;
  bool monitored = false;  // false: the pair is monitored by another server (or unknown)
  int32_t failures = 0;    // consecutive failed commands of the chosen path
  ControllerHealth controllers[2];
  std::vector<CheckResult> checks;  // every check that found something, and every failed read
  bool usedHostPorts = false;       // the host-port check applied (FC drives and host)
};

// Judges the buffers: steps after the failure count (controller, drive, enclosure and snapshot
// checks). Pure.
SolutionReport evaluateSolution(const PairSnapshot& pair);

// The pair whose item hangs on device (the chosen path of its name is used): not monitored here
// OK; three failures Error; otherwise reads the controller information, the configuration header
// with the array records, the drive list and the snapshot areas, notes every result for failure
// counting, and evaluates them with the cached enclosure pages. Prints the status decisions with
// debug code 0x20024. When memory runs out the report carries the current global status.
SolutionReport solutionReport(DeviceRecord* device);
// The report that solutionReport last produced for the pair named name (names compared without
// regard to case), without sending a command: what the global status update (updateGlobalStatus,
// which GetMonitor runs first) found. False when none was made yet.
bool lastSolutionReport(const char* name, SolutionReport* out);

// "BatteryPercentWarning" of the module's settings (kDefaultBatteryPercentWarning when unset).
int batteryPercentWarning();

}  // namespace brivo::monitor
