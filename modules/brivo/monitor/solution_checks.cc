// Controller, drive and snapshot checks and their combination; see solution_checks.h and
// solution_status.h. Enclosure checks: enclosure_checks.cc.
#include "modules/brivo/monitor/solution_checks.h"

#include <cstdarg>
#include <cstdio>

#include "modules/brivo/module_status.h"

namespace brivo::monitor {

namespace checks {

namespace {

constexpr int kMaxArrayNumber = kMaxArrays - 1;
constexpr int kMaxMemberIndex = kMaxMembers - 1;

const char* name(const PairSnapshot& pair) { return pair.name.c_str(); }

CheckResult finding(CheckKind kind, uint32_t status, int controller, int index, std::string detail) {
  CheckResult result;
  result.kind = kind;
  result.status = status;
  result.controller = controller;
  result.index = index;
  result.detail = std::move(detail);
  return result;
}

bool controllerPresent(const ControllerInformation& info, int c) {
  return (c == 0 ? info.stateA : info.stateB) == kOn;
}
bool controllerFailed(const ControllerInformation& info, int c) {
  return (c == 0 ? info.stateA : info.stateB) == kOff;
}
char letter(int c) { return c == 0 ? 'A' : 'B'; }
const char* statusWord(uint32_t status) { return status == kStatusWarning ? "Warning" : "Error"; }

void hostPortChecks(const PairSnapshot& pair, SolutionReport* report) {
  const ControllerTraits& t = pair.traits;
  if (t.driveInterface != kInterfaceFc || t.hostInterface != kInterfaceFc) return;
  report->usedHostPorts = true;
  const ControllerInformation& info = *pair.info;
  if (!controllerPresent(info, 0) || !controllerPresent(info, 1)) return;
  for (int port = 0; port < 2 && port < t.hostPorts; ++port) {
    const uint8_t a = port == 0 ? info.controllers[0].hostPort0State : info.controllers[0].hostPort1State;
    const uint8_t b = port == 0 ? info.controllers[1].hostPort0State : info.controllers[1].hostPort1State;
    if (a != kOff || b != kOff) continue;
    addFinding(report, finding(CheckKind::kHostPort, kStatusError, -1, port,
                               printed("mon: GetSolutionStatus %s: Setting to Error host port %d failed on "
                                       "both controllers\n",
                                       name(pair), port)));
  }
}

// Findings for each judged part of a controller's health that is not OK.
void healthFindings(const PairSnapshot& pair, int c, const ControllerRecord& record,
                    const ControllerHealth& health, SolutionReport* report) {
  if (health.battery != kStatusOk) {
    CheckResult r = finding(CheckKind::kBattery, health.battery, c, -1,
                            printed("mon: GetSolutionStatus %s: Setting to %s, controller %c battery state "
                                    "0x%02X, charge %d%% (warning below %d%%), powered on %u s\n",
                                    name(pair), statusWord(health.battery), letter(c), record.batteryState,
                                    record.batteryCharge, pair.batteryPercentWarning, record.powerOnSeconds));
    r.value = record.batteryCharge;
    r.limit = pair.batteryPercentWarning;
    addFinding(report, std::move(r));
  }
  for (size_t i = 0; i < health.voltages.size(); ++i) {
    const SensorReading& v = health.voltages[i];
    if (v.status == kStatusOk) continue;
    CheckResult r = finding(CheckKind::kVoltage, v.status, c, static_cast<int>(i),
                            printed("mon: GetSolutionStatus %s: Setting to Error, controller %c %s at %d mV, "
                                    "outside %d-%d mV\n",
                                    name(pair), letter(c), v.label.c_str(), v.value, v.low, v.high));
    r.label = v.label, r.value = v.value, r.low = v.low, r.limit = v.high;
    addFinding(report, std::move(r));
  }
  for (size_t i = 0; i < health.temperatures.size(); ++i) {
    const SensorReading& t = health.temperatures[i];
    if (t.status == kStatusOk) continue;
    CheckResult r =
        finding(CheckKind::kTemperature, t.status, c, static_cast<int>(i),
                printed("mon: GetSolutionStatus %s: Setting to Error, controller %c %s at %d C, above %d C\n",
                        name(pair), letter(c), t.label.c_str(), t.value, t.high));
    r.label = t.label, r.value = t.value, r.limit = t.high;
    addFinding(report, std::move(r));
  }
}

void healthChecks(const PairSnapshot& pair, SolutionReport* report) {
  const ControllerInformation& info = *pair.info;
  const bool dualMode = pair.header->singleControllerMode == kOff;
  for (int c = 0; c < 2; ++c) {
    if (controllerPresent(info, c)) {
      const ControllerRecord& record = info.controllers[c];
      report->controllers[c] = controllerHealth(record, pair.traits.type, pair.batteryPercentWarning);
      healthFindings(pair, c, record, report->controllers[c], report);
    } else if (dualMode) {
      addFinding(report, finding(CheckKind::kControllerFailed, kStatusError, c, -1,
                                 printed("mon: GetSolutionStatus %s: Setting to Error, controller %c is "
                                         "missing in dual-controller mode\n",
                                         name(pair), letter(c))));
    }
  }
}

void driveLoopChecks(const PairSnapshot& pair, SolutionReport* report) {
  if (pair.traits.driveInterface != kInterfaceFc) return;
  const bool dual = hasDualLoops(pair.traits);
  for (int c = 0; c < 2; ++c) {
    if (!controllerPresent(*pair.info, c)) continue;
    const ControllerRecord& r = pair.info->controllers[c];
    const bool loop1Failed = r.driveLoop1State == kOff;
    const bool loop2Failed = dual && r.driveLoop2State == kOff;
    if (!loop1Failed && !loop2Failed) continue;
    addFinding(report,
               finding(CheckKind::kDriveLoop, kStatusError, c, loop1Failed ? 1 : 2,
                       printed("mon: GetSolutionStatus: Error (loop1,loop2,dual,bat,batpercent=%d,%d,%d,%d,"
                               "%d\n",
                               r.driveLoop1State, r.driveLoop2State, dual ? 1 : 0, r.batteryState,
                               r.batteryCharge)));
  }
}

void singleControllerCheck(const PairSnapshot& pair, SolutionReport* report) {
  const ControllerInformation& info = *pair.info;
  const uint8_t single = pair.header->singleControllerMode;
  if (single != kOff || (!controllerFailed(info, 0) && !controllerFailed(info, 1))) return;
  addFinding(report,
             finding(CheckKind::kSingleController, kStatusError, controllerFailed(info, 0) ? 0 : 1, -1,
                     printed("mon: GetSolutionStatus %s: Setting to Error (single,avalid,bvalid=%d,%d,%d\n",
                             name(pair), single, controllerPresent(info, 0) ? 1 : 0,
                             controllerPresent(info, 1) ? 1 : 0)));
}

void arrayChecks(const PairSnapshot& pair, SolutionReport* report) {
  const int count = pair.header->arrayCount < kMaxArrays ? pair.header->arrayCount : kMaxArrays;
  for (int n = 0; n < count; ++n) {
    const ArrayRecord& array = pair.arrays[n];
    if (array.valid != kOn) continue;  // a free slot below the highest array in use
    const uint8_t fault = array.faultStatus;
    CheckResult r;
    if (fault == kFaultTolerant || fault == kFaultNone) continue;
    if (fault == kFaultInvalid) {
      r = finding(CheckKind::kArray, kStatusError, -1, n,
                  printed("mon: GetSolutionStatus %s: Setting to Error ARRAY INVALID\n", name(pair)));
    } else if (fault == kFaultDegraded || fault == kFaultRebuilding || fault == kFaultUninitialized) {
      if (array.raidLevel == kRaid0) continue;
      r = finding(CheckKind::kArray, kStatusWarning, -1, n,
                  printed("mon: GetSolutionStatus %s: Setting to Error NOTRAID0 (faultstatus=%d)\n",
                          name(pair), fault));
    } else {
      r = finding(
          CheckKind::kArray, kStatusUnknown, -1, n,
          printed("mon: GetSolutionStatus %s: Setting to Unknown (faultstatus=%d)\n", name(pair), fault));
    }
    r.value = fault;
    addFinding(report, std::move(r));
  }
}

std::string serialOf(const DriveListEntry& entry) {
  std::string serial(entry.serial, sizeof(entry.serial));
  while (!serial.empty() && (serial.back() == ' ' || serial.back() == '\0')) serial.pop_back();
  return serial;
}

// The state that counts for a drive: its array member's status (the member being rebuilt
// counts as good), else its own status byte.
uint8_t driveState(const PairSnapshot& pair, const DriveListEntry& entry) {
  if (pair.arrays == nullptr || entry.array > kMaxArrayNumber || entry.member > kMaxMemberIndex) {
    return entry.status;
  }
  const ControllerInformation* info = pair.info;
  if (info != nullptr && info->rebuildValid == kOn && info->rebuildArray == entry.array &&
      info->rebuildMember == entry.member) {
    return kMemberGood;
  }
  return pair.arrays[entry.array].memberStatus[entry.member];
}

}  // namespace

std::string printed(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

void addFinding(SolutionReport* report, CheckResult result) {
  report->status = combineStatus(report->status, result.status);
  report->checks.push_back(std::move(result));
}

void controllerChecks(const PairSnapshot& pair, SolutionReport* report) {
  hostPortChecks(pair, report);
  healthChecks(pair, report);
  driveLoopChecks(pair, report);
  singleControllerCheck(pair, report);
  arrayChecks(pair, report);
}

void driveChecks(const PairSnapshot& pair, SolutionReport* report) {
  const DriveList& list = *pair.drives;
  const bool dual = hasDualLoops(pair.traits);
  const int count = list.count < kMaxDrives ? list.count : kMaxDrives;
  for (int i = 0; i < count; ++i) {
    const DriveListEntry& entry = list.entries[i];
    if (entry.loop1Id == kNotOnLoop || (dual && entry.loop2Id == kNotOnLoop)) {
      CheckResult r =
          finding(CheckKind::kDriveLoopPresence, kStatusError, -1, i,
                  printed("mon: SetStatusOnDriveInfo: Setting to Error drive loop1,loop2,dual=%d,%d,%d\n",
                          entry.loop1Id, entry.loop2Id, dual ? 1 : 0));
      r.label = serialOf(entry);
      addFinding(report, std::move(r));
    }
    const uint8_t state = driveState(pair, entry);
    if (state == 0) continue;
    CheckResult r =
        finding(CheckKind::kDrive, kStatusError, -1, i,
                printed("mon: SetStatusOnDriveInfo: Setting to Error drive serial,slot,status=%s,%d,%d\n",
                        serialOf(entry).c_str(), entry.slot, state));
    r.label = serialOf(entry);
    r.value = state;
    addFinding(report, std::move(r));
  }
}

void snapshotChecks(const PairSnapshot& pair, SolutionReport* report) {
  for (const SnapshotArea& area : pair.snapshotAreas) {
    if (area.valid != kOn) continue;
    uint32_t status = kStatusOk;
    if ((area.flags & (kSnapInvalid | kSnapOverrun)) != 0) {
      status = kStatusError;
    } else if ((area.flags & (kSnapWarning1 | kSnapWarning2)) != 0) {
      status = kStatusWarning;
    } else {
      continue;
    }
    CheckResult r =
        finding(CheckKind::kSnapshot, status, -1, area.sourceDrive,
                printed("mon: GetSolutionStatus %s: snapshot area of logical drive %d: flags 0x%02X, "
                        "%d%% used\n",
                        name(pair), area.sourceDrive, area.flags, area.usedPercent));
    r.value = area.flags;
    r.limit = area.warningPercent;
    addFinding(report, std::move(r));
  }
}

}  // namespace checks

const char* checkKindName(CheckKind kind) {
  switch (kind) {
    case CheckKind::kNotMonitored:
      return "NotMonitored";
    case CheckKind::kCommunication:
      return "Communication";
    case CheckKind::kReadFailed:
      return "ReadFailed";
    case CheckKind::kHostPort:
      return "HostPort";
    case CheckKind::kBattery:
      return "Battery";
    case CheckKind::kVoltage:
      return "Voltage";
    case CheckKind::kTemperature:
      return "Temperature";
    case CheckKind::kControllerFailed:
      return "ControllerFailed";
    case CheckKind::kDriveLoop:
      return "DriveLoop";
    case CheckKind::kSingleController:
      return "SingleController";
    case CheckKind::kArray:
      return "Array";
    case CheckKind::kDriveLoopPresence:
      return "DriveLoopPresence";
    case CheckKind::kDrive:
      return "Drive";
    case CheckKind::kEnclosureFans:
      return "EnclosureFans";
    case CheckKind::kEnclosureTemperature:
      return "EnclosureTemperature";
    case CheckKind::kEnclosureElement:
      return "EnclosureElement";
    case CheckKind::kEnclosureNoStatus:
      return "EnclosureNoStatus";
    case CheckKind::kSnapshot:
      return "Snapshot";
  }
  return "Unknown";
}

SolutionReport evaluateSolution(const PairSnapshot& pair) {
  SolutionReport report;
  report.monitored = true;
  if (pair.info != nullptr && pair.header != nullptr && pair.arrays != nullptr) {
    checks::controllerChecks(pair, &report);
  }
  if (pair.drives != nullptr) checks::driveChecks(pair, &report);
  if (pair.enclosureSupport) checks::enclosureChecks(pair, &report);
  if (pair.snapshotsSupported && pair.snapshotsRead) checks::snapshotChecks(pair, &report);
  return report;
}

}  // namespace brivo::monitor
