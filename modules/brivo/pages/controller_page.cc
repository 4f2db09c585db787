// The controller information page (GetControllerInformation): each present controller's
// identity, firmware, host loops, battery, voltages and temperatures, the pair's mode and which
// controller actions the page may offer. The pair is named by "ModDeviceName", or by
// "StorageSolution" (its number on the monitor page; the tech-support collection asks so).
//
// Our own keys: "HostClock" (the server host's local time), "ControllerLoop%d{Clock,ClockOffset,
// ClockOffsetClass}" (the controller's clock as qcli's clock display shows it, and how far it is
// from the host's), "ControllerLoop%dTemperatureLoop%d{Reading,Limit,IsOutOfRange}" (degrees
// Celsius; the limit is the highest reading that is still fine), "ControllerLoop%d{Name,Serial,
// BoardName,HealthClass,HealthText,BatteryClass}", "ControllerInfoUnavailable" (the controller information
// could not be read; the command result keys say why).
//
// Thread safety: a request thread holding the admission gate as a reader.
#include <cstdio>
#include <cstring>
#include <string>

#include "modules/brivo/command_result.h"
#include "modules/brivo/cli/cli_selectors.h"
#include "modules/brivo/controller_clock.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/monitor/solution_status.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pages/solution_list.h"
#include "modules/brivo/stored_format.h"

namespace brivo {

namespace {

constexpr char kControllerTemplate[] = "../../html/Brivo/controller/controller_info.html";
constexpr char kLoop[] = "ControllerLoop";
constexpr char kMethodKey[] = "GetControllerInfo";
constexpr uint8_t kLeftRightType = 9;
constexpr uint32_t kLoopStatusFirmware = 0x02052236;  // U320 SCSI firmware up to this hides loop status
constexpr int kDiagnosticsFirmware = 516;             // 16-bit level above which the dump exists

std::string millivolts(int mv) {
  char text[24];
  std::snprintf(text, sizeof(text), "%d.%.3dV", mv / 1000, mv % 1000);
  return text;
}

std::string key(int n, const char* field) { return rowKey(kLoop, n, field); }

const char* processorType(const ControllerTraits& traits) {
  if (!traits.newerFamily) return "XScale";
  return traits.driveInterface == kInterfaceSas ? "Lindsay" : "Verde";
}

std::string majorFirmware(const ControllerRecord& r) {
  const uint8_t major = static_cast<uint8_t>(r.firmwareLevel >> 24);
  const uint8_t minor = static_cast<uint8_t>(r.firmwareLevel >> 16);
  if (major == 0) return "2.3";
  return std::to_string(major) + "." + std::to_string(minor);
}

void addBattery(VariableTable* reply, int n, const ControllerRecord& r, const monitor::ControllerHealth& h) {
  addText(reply, key(n, "BatteryLabel").c_str(), "Battery");
  addNumber(reply, key(n, "BatteryPercentCharge").c_str(), r.batteryCharge);
  addNumber(reply, key(n, "BatteryHoldUpTimeInHours").c_str(), r.batteryHoldUpHours);
  const bool disabled = r.batteryState == kDisabled;
  const bool failed = r.batteryState == kOff;
  addFlag(reply, key(n, "BatteryisOk").c_str(), h.battery == kStatusOk && !disabled);
  addFlag(reply, key(n, "BatteryDisabled").c_str(), disabled);
  addFlag(reply, key(n, "BatteryIsOutOfRange").c_str(), h.battery != kStatusOk && !failed);
  addText(reply, key(n, "BatteryDeviceStatus").c_str(), statusTextByte("BatteryStatus", r.batteryState));
  addText(reply, key(n, "BatteryClass").c_str(), statusClass(h.battery));
}

void addSensors(VariableTable* reply, int n, const monitor::ControllerHealth& h) {
  const std::string voltages = key(n, "VoltageLoop");
  for (size_t m = 0; m < h.voltages.size(); ++m) {
    const monitor::SensorReading& v = h.voltages[m];
    const int row = static_cast<int>(m);
    const bool ranged = v.low != 0 || v.high != 0;
    char range[64] = "";
    if (ranged) {
      std::snprintf(range, sizeof(range), "[%d.%.3dV - %d.%.3dV]", v.low / 1000, v.low % 1000, v.high / 1000,
                    v.high % 1000);
    }
    addRowText(reply, voltages.c_str(), row, "Label", v.label);
    addRowText(reply, voltages.c_str(), row, "Range", range);
    addRowText(reply, voltages.c_str(), row, "Voltage", v.shown ? millivolts(v.value) : "N/A");
    addRowFlag(reply, voltages.c_str(), row, "IsOutOfRange", v.shown && v.status != kStatusOk);
  }
  setCount(reply, voltages.c_str(), static_cast<int>(h.voltages.size()));
  const std::string temperatures = key(n, "TemperatureLoop");
  for (size_t m = 0; m < h.temperatures.size(); ++m) {
    const monitor::SensorReading& t = h.temperatures[m];
    const int row = static_cast<int>(m);
    addRowText(reply, temperatures.c_str(), row, "Label", t.label);
    addRowNumber(reply, temperatures.c_str(), row, "Reading", t.value);
    addRowNumber(reply, temperatures.c_str(), row, "Limit", t.high);
    addRowFlag(reply, temperatures.c_str(), row, "IsOutOfRange", t.status != kStatusOk);
  }
  setCount(reply, temperatures.c_str(), static_cast<int>(h.temperatures.size()));
}

// A clock off by more than this is shown as a warning.
constexpr long long kClockToleranceSeconds = 60;

void addClock(VariableTable* reply, int n, const EventTime& clock) {
  addText(reply, key(n, "Clock").c_str(), cli::controllerClockText(clock));
  long long offset = 0;
  std::string text;
  const char* cls = "ok";
  if (!clockOffsetSeconds(clock, &offset)) {
    text = statusText("ClockNotValid", "not a valid time");
    cls = "warn";
  } else if (offset == 0) {
    text = statusText("ClockSameAsHost", "same as the host");
  } else {
    text = formatStoredText(statusText(offset > 0 ? "ClockAheadOfHost" : "ClockBehindHost",
                                       offset > 0 ? "%d s ahead of the host" : "%d s behind the host"),
                            {offset > 0 ? offset : -offset});
    if (offset > kClockToleranceSeconds || offset < -kClockToleranceSeconds) cls = "warn";
  }
  addText(reply, key(n, "ClockOffset").c_str(), text);
  addText(reply, key(n, "ClockOffsetClass").c_str(), cls);
}

void addController(VariableTable* reply, int n, int id, const ControllerRecord& r,
                   const ControllerTraits& traits) {
  const monitor::ControllerHealth h =
      monitor::controllerHealth(r, traits.type, monitor::batteryPercentWarning());
  addNumber(reply, key(n, "PowerOnTimeInHours").c_str(), r.powerOnSeconds / 3600);
  addClock(reply, n, r.clock);
  addText(reply, key(n, "HostLoop1").c_str(),
          hostLoopStatusText(r.hostPort0State, traits.type, r.hostPort0LoopId));
  addText(reply, key(n, "HostLoop2").c_str(),
          hostLoopStatusText(r.hostPort1State, traits.type, r.hostPort1LoopId));
  addNumber(reply, key(n, "ID").c_str(), id);
  addText(reply, key(n, "Name").c_str(), controllerLetter(id));
  addText(reply, key(n, "ProcessorType").c_str(), processorType(traits));
  addNumber(reply, key(n, "ProcessorMhz").c_str(), r.processorMhz);
  addNumber(reply, key(n, "MemoryMb").c_str(), r.memoryMb);
  addText(reply, key(n, "MajorFwVersion").c_str(), majorFirmware(r));
  addText(reply, key(n, "FwVersionAscii").c_str(), std::string(r.firmwareText, strnlen(r.firmwareText, 4)));
  char nibble[4];
  std::snprintf(nibble, sizeof(nibble), "%01X", r.cpldRevision >> 4);
  addText(reply, key(n, "CpldDecoderRevision").c_str(), nibble);
  std::snprintf(nibble, sizeof(nibble), "%01X", r.cpldRevision & 0x0F);
  addText(reply, key(n, "CpldArbitorRevision").c_str(), nibble);
  addText(reply, key(n, "Wwn").c_str(), wwnText(r.controllerWwn));
  addText(reply, key(n, "Serial").c_str(), fieldText(r.serial, sizeof(r.serial)));
  addText(reply, key(n, "BoardName").c_str(), fieldText(r.boardName, sizeof(r.boardName)));
  addText(reply, key(n, "HealthClass").c_str(), statusClass(h.status));
  addText(reply, key(n, "HealthText").c_str(), statusTextByte("SolutionStatus", h.status));
  addBattery(reply, n, r, h);
  addSensors(reply, n, h);
}

// Step 4: which actions the page offers.
void addActionFlags(VariableTable* reply, const ControllerInformation& info, bool headerRead) {
  const bool a = info.stateA == kOn;
  const bool b = info.stateB == kOn;
  addFlag(reply, "Controller0Valid", a);
  addFlag(reply, "Controller1Valid", b);
  addFlag(reply, "ResetController0Enabled", a);
  addFlag(reply, "ShutdownController0Enabled", a);
  addFlag(reply, "ResetController1Enabled", b);
  addFlag(reply, "ShutdownController1Enabled", b);
  addFlag(reply, "ResetControllerBothEnabled", a && b);
  addFlag(reply, "ShutdownControllerBothEnabled", a && b);
  addFlag(reply, "FlashControllerEnabled", a || b);
  addFlag(reply, "SyncTimeEnabled", a || b);
  bool diskIo = false;
  bool diagnostics = false;
  for (int c = 0; c < 2; ++c) {
    if ((c == 0 ? info.stateA : info.stateB) != kOn) continue;
    const ControllerRecord& r = info.controllers[c];
    diskIo = diskIo || (r.features & kFeatureDiskIoFirmware) != 0;
    diagnostics = diagnostics || static_cast<int>((r.firmwareLevel >> 16) & 0xFFFF) > kDiagnosticsFirmware;
  }
  addFlag(reply, "FlashDiskIoEnabled", (a || b) && diskIo);
  addFlag(reply, "ExportLogsEnabled", headerRead);
  addFlag(reply, "ClearLogsEnabled", headerRead);
  addFlag(reply, "GetDiagEnabled", diagnostics);
}

// Steps 3 and 5: the configuration header's keys.
void addHeaderKeys(VariableTable* reply, const PairTarget& pair, const ControllerInformation& info) {
  ConfigurationHeader header{};
  ControllerCommand failed;
  const int result = readConfigHeader(pair, &header, &failed);
  const bool read = result == kResultGood;
  const ControllerRecord* first = firstValidController(info);
  addFlag(reply, "ControllerDualMode", read && header.singleControllerMode == kOff);
  const uint8_t* wwn =
      read ? header.configurationWwn : (first != nullptr ? first->configurationWwn : nullptr);
  addText(reply, "ConfigurationWwn", wwn != nullptr ? wwnText(wwn) : "");
  addFlag(reply, "DifferentNodeNameOnHostPorts", read && header.differentNodeNames == kOn);
  const ControllerTraits traits = traitsOf(*pair.state);
  const bool oldScsi = traits.hostInterface == kHostInterfaceScsi && first != nullptr &&
                       first->firmwareLevel <= kLoopStatusFirmware;
  addFlag(reply, "IsAbleToShowLoopStatus", !oldScsi);
  addActionFlags(reply, info, read);
  if (!read) addControllerCommandResult(reply, kMethodKey, result, failed);
}

PairTarget pairOf(VariableTable request) {
  const char* name = getVariable(request, kModDeviceNameKey);
  if (name != nullptr) return findPair(name);
  const long number = requestNumber(request, "StorageSolution", 0);
  return findPair(solutionName(static_cast<int>(number)).c_str());
}

}  // namespace

VariableTable getControllerInformationMethod(VariableTable request) {
  TableOwner reply;
  VariableTable* r = reply.address();
  const PairTarget pair = pairOf(request);
  addText(r, kHtmlPathKey, kControllerTemplate);
  if (!pair.name.empty()) addText(r, kModDeviceNameKey, pair.name);
  ControllerInformation info{};
  ControllerCommand failed;
  const int result = pair.found() ? readControllerInformation(pair, &info, &failed) : kResultBadArguments;
  if (result != kResultGood) {
    addFlag(r, "ControllerInfoUnavailable", true);
    addNumber(r, kLoop, 0);
    addControllerCommandResult(r, kMethodKey, result, failed);
    return reply.release();
  }
  const ControllerTraits traits = traitsOf(*pair.state);
  addFlag(r, "ControllersPlacedLeftRight", traits.type == kLeftRightType);
  const EventTime host = hostClock();
  addText(r, "HostClock", cli::controllerClockText(host));
  char date[16], time[16];
  std::snprintf(date, sizeof(date), "%04u-%02u-%02u", host.year, host.month, host.day);
  std::snprintf(time, sizeof(time), "%02u:%02u:%02u", host.hour, host.minute, host.second);
  addText(r, "HostDate", date);
  addText(r, "HostTime", time);
  int shown = 0;
  for (int c = 0; c < 2; ++c) {
    if ((c == 0 ? info.stateA : info.stateB) == kOn)
      addController(r, shown++, c, info.controllers[c], traits);
  }
  addNumber(r, kLoop, shown);
  addHeaderKeys(r, pair, info);
  return reply.release();
}

}  // namespace brivo
