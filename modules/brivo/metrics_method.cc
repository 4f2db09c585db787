// The module method GetMetrics: the health of every controller pair the module reaches, as metric
// keys (common/metrics_text.h) that the server passes on to the web front end's /metrics.
//
// For each pair (each distinct ModDeviceName, through the path pair_paths.h chooses) it reads the
// controller information (0x40), the drive list (0x41) and the front of the configuration block
// (0x01: header, array records and the logical drive records in use), and reports the solution
// status the monitor computed last, each controller's state, battery and temperatures, and the
// state of every drive, array and logical drive. A pair that does not answer reports only
// kestrova_pair_readable 0 and its solution status, and so does a pair whose path the monitor
// counts as failing (it is not read at all). Reading is all it does: no event is raised
// and no failure is counted against the path, so a scrape never changes what the monitor sees.
//
// Thread safety: runs on request threads under the admission gate as a reader (its table entry
// says so); each read uses its own buffers.
#include <strings.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "common/metrics_text.h"
#include "modules/brivo/controller_command.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/method_table.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pair_access.h"
#include "modules/brivo/pair_paths.h"
#include "modules/brivo/protocol.h"

namespace brivo {

namespace {

constexpr char kGauge[] = "gauge";
// Consecutive failed commands after which the monitor reports a path in error.
constexpr int32_t kFailingPathCount = 3;

void addFamilies(VariableTable* reply) {
  static constexpr std::pair<const char*, const char*> kFamilies[] = {
      {"kestrova_pair_solution_status",
       "Solution status of the pair: 0 OK, 1 warning, 2 error, 254 no opinion, 255 unknown."},
      {"kestrova_pair_readable", "1 when the pair answered the metrics reads through its chosen path."},
      {"kestrova_pair_info", "Always 1; its labels name the pair: configuration name and WWN."},
      {"kestrova_controller_up",
       "1 when the controller is present and valid, 0 when failed, resetting or shut down."},
      {"kestrova_controller_battery_charge_percent", "Charge of the controller's cache battery."},
      {"kestrova_controller_battery_state", "Cache battery: 1 good, 0 failed, 2 disabled."},
      {"kestrova_controller_temperature_celsius", "Controller temperature sensors (air, expander, cpu)."},
      {"kestrova_drive_status", "Physical drive status: 0 good, 1 failed, 2 bypassed, 3 rebuilding."},
      {"kestrova_drives", "Physical drives behind the pair by status."},
      {"kestrova_array_fault_status",
       "Array state: 0 degraded, 1 rebuilding, 2 invalid (data lost), 3 fault tolerant, 254 not initialised, "
       "255 not redundant (RAID 0)."},
      {"kestrova_array_capacity_gibibytes", "Usable capacity of the array."},
      {"kestrova_array_job",
       "Job running on the array: 0 none, 1 initialisation, 2 rebuild, 3 parity check, 4 expansion."},
      {"kestrova_arrays",
       "Arrays of the pair by state (degraded, rebuilding, invalid, tolerant, uninitialized, none)."},
      {"kestrova_logical_drive_state",
       "Logical drive state: 0 online, 1 degraded, 2 offline, 3 initialising."},
  };
  for (const auto& [name, help] : kFamilies) addMetricFamily(reply, name, kGauge, help);
}

const char* arrayStateName(uint8_t fault) {
  switch (fault) {
    case kFaultDegraded:
      return "degraded";
    case kFaultRebuilding:
      return "rebuilding";
    case kFaultInvalid:
      return "invalid";
    case kFaultTolerant:
      return "tolerant";
    case kFaultUninitialized:
      return "uninitialized";
    default:
      return "none";
  }
}

const char* driveStatusName(uint8_t status) {
  switch (status) {
    case kDriveGood:
      return "good";
    case kDriveFailed:
      return "failed";
    case kDriveBypassed:
      return "bypassed";
    case kDriveRebuilding:
      return "rebuilding";
    default:
      return "other";
  }
}

void addControllerMetrics(VariableTable* reply, const std::string& pair, const ControllerInformation& info) {
  for (int c = 0; c < 2; ++c) {
    const std::string side = c == 0 ? "A" : "B";
    const bool up = (c == 0 ? info.stateA : info.stateB) == kOn;
    addMetricSample(reply, "kestrova_controller_up", {{"pair", pair}, {"controller", side}}, up ? 1 : 0);
    if (!up) continue;  // a failed controller's record holds nothing current
    const ControllerRecord& record = info.controllers[c];
    addMetricSample(reply, "kestrova_controller_battery_charge_percent",
                    {{"pair", pair}, {"controller", side}}, record.batteryCharge);
    const int battery = record.batteryState == kOn ? 1 : record.batteryState == kDisabled ? 2 : 0;
    addMetricSample(reply, "kestrova_controller_battery_state", {{"pair", pair}, {"controller", side}},
                    battery);
    const std::pair<const char*, uint8_t> sensors[] = {{"air", record.airTemperature},
                                                       {"expander", record.expanderTemperature},
                                                       {"cpu", record.cpuTemperature}};
    for (const auto& [sensor, celsius] : sensors) {
      addMetricSample(reply, "kestrova_controller_temperature_celsius",
                      {{"pair", pair}, {"controller", side}, {"sensor", sensor}}, celsius);
    }
  }
}

void addDriveMetrics(VariableTable* reply, const std::string& pair, const DriveList& drives) {
  int counts[5] = {};  // good, failed, bypassed, rebuilding, other
  const int count = drives.count < kMaxDrives ? drives.count : kMaxDrives;
  for (int i = 0; i < count; ++i) {
    const DriveListEntry& drive = drives.entries[i];
    const std::string enclosure =
        drive.enclosure == 0xFE ? std::string("none") : std::to_string(drive.enclosure);
    addMetricSample(reply, "kestrova_drive_status",
                    {{"pair", pair},
                     {"drive", std::to_string(i)},
                     {"drive_id", std::to_string(drive.driveId)},
                     {"enclosure", enclosure},
                     {"slot", std::to_string(drive.slot)}},
                    drive.status);
    ++counts[drive.status <= kDriveRebuilding ? drive.status : 4];
  }
  for (uint8_t status = kDriveGood; status <= kDriveRebuilding + 1; ++status) {
    addMetricSample(reply, "kestrova_drives", {{"pair", pair}, {"status", driveStatusName(status)}},
                    counts[status]);
  }
}

void addConfigurationMetrics(VariableTable* reply, const std::string& pair, const ConfigurationBlock& cfg,
                             int logicalDrives) {
  static constexpr uint8_t kStates[] = {kFaultDegraded, kFaultRebuilding,    kFaultInvalid,
                                        kFaultTolerant, kFaultUninitialized, kFaultNone};
  int counts[sizeof(kStates)] = {};
  for (int n = 0; n < kMaxArrays && n < cfg.header.arrayCount; ++n) {
    const ArrayRecord& array = cfg.arrays[n];
    if (array.valid != kOn) continue;
    const std::string number = std::to_string(n);
    const std::string name = metricLabelText(std::string_view(array.name, sizeof(array.name)));
    addMetricSample(reply, "kestrova_array_fault_status", {{"pair", pair}, {"array", number}, {"name", name}},
                    array.faultStatus);
    addMetricSample(reply, "kestrova_array_capacity_gibibytes",
                    {{"pair", pair}, {"array", number}, {"name", name}}, array.capacityGb);
    addMetricSample(reply, "kestrova_array_job", {{"pair", pair}, {"array", number}, {"name", name}},
                    array.jobKind);
    for (size_t s = 0; s < sizeof(kStates); ++s) counts[s] += array.faultStatus == kStates[s] ? 1 : 0;
  }
  for (size_t s = 0; s < sizeof(kStates); ++s) {
    addMetricSample(reply, "kestrova_arrays", {{"pair", pair}, {"state", arrayStateName(kStates[s])}},
                    counts[s]);
  }
  for (int d = 0; d < logicalDrives; ++d) {
    const LogicalDriveRecord& drive = cfg.logicalDrives[d];
    if (drive.valid != kOn) continue;
    addMetricSample(reply, "kestrova_logical_drive_state",
                    {{"pair", pair},
                     {"logical_drive", std::to_string(d)},
                     {"name", metricLabelText(std::string_view(drive.name, sizeof(drive.name)))}},
                    drive.state);
  }
}

// The configuration block up to the last logical drive in use. False when a read fails.
bool readConfiguration(const DeviceRecord* path, ConfigurationBlock* cfg, int* logicalDrives) {
  const uint32_t front = offsetof(ConfigurationBlock, logicalDrives);
  if (readControllerBuffer(path, kModeData, kOpReadConfiguration, cfg, front) != kResultGood) return false;
  *logicalDrives =
      cfg->header.logicalDriveCount < kMaxLogicalDrives ? cfg->header.logicalDriveCount : kMaxLogicalDrives;
  if (*logicalDrives == 0) return true;
  const uint32_t length = front + static_cast<uint32_t>(*logicalDrives) * sizeof(LogicalDriveRecord);
  return readControllerBuffer(path, kModeData, kOpReadConfiguration, cfg, length) == kResultGood;
}

void addPairMetrics(VariableTable* reply, const std::string& pair, const DeviceRecord* path,
                    const BrivoDeviceState& state) {
  addMetricSample(reply, "kestrova_pair_solution_status", {{"pair", pair}},
                  loadField(state.lastSolutionStatus));
  // A path the monitor already counts as failing is not asked again: on real hardware each
  // command could wait for its whole time-out and hold up the scrape and every waiting writer.
  if (loadField(state.failureCount) >= kFailingPathCount) {
    addMetricSample(reply, "kestrova_pair_readable", {{"pair", pair}}, 0);
    return;
  }
  auto info = std::make_unique<ControllerInformation>();
  auto drives = std::make_unique<DriveList>();
  auto cfg = std::make_unique<ConfigurationBlock>();
  int logicalDrives = 0;
  const bool readable =
      readControllerBuffer(path, kModeData, kOpReadControllerInfo, info.get(), sizeof(*info)) ==
          kResultGood &&
      readControllerBuffer(path, kModeData, kOpReadDriveList, drives.get(), sizeof(*drives)) == kResultGood &&
      readConfiguration(path, cfg.get(), &logicalDrives);
  addMetricSample(reply, "kestrova_pair_readable", {{"pair", pair}}, readable ? 1 : 0);
  if (!readable) return;
  addMetricSample(reply, "kestrova_pair_info",
                  {{"pair", pair},
                   {"name", metricLabelText(std::string_view(cfg->header.name, sizeof(cfg->header.name)))},
                   {"wwn", wwnText(cfg->header.configurationWwn)}},
                  1);
  addControllerMetrics(reply, pair, *info);
  addDriveMetrics(reply, pair, *drives);
  addConfigurationMetrics(reply, pair, *cfg, logicalDrives);
}

bool alreadySeen(std::vector<std::string>* seen, const char* name) {
  for (const std::string& other : *seen) {
    if (strcasecmp(other.c_str(), name) == 0) return true;
  }
  seen->emplace_back(name);
  return false;
}

}  // namespace

VariableTable getMetricsMethod(VariableTable) {
  TableOwner reply;
  addFamilies(reply.address());
  std::vector<std::string> seen;
  for (DeviceRecord* device = moduleState().deviceList.load(); device != nullptr; device = device->next) {
    for (ModDeviceItem* unit = device->units; unit != nullptr; unit = unit->next) {
      if (!isPairItem(unit) || alreadySeen(&seen, unit->name)) continue;
      ModDeviceItem* chosen = nullptr;
      DeviceRecord* path = findControllerPair(unit->name, &chosen);
      const BrivoDeviceState* state = stateOf(chosen);
      if (path == nullptr || state == nullptr) continue;
      addPairMetrics(reply.address(), metricLabelText(std::string_view(unit->name, sizeof(unit->name))), path,
                     *state);
    }
  }
  return reply.release();
}

}  // namespace brivo
