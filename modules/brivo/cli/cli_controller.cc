// The interpreter's controller object: `controller display` (one block per selected controller:
// identity, firmware, ports and loops, temperatures and voltages judged against the limits of its
// type, battery, alarm; with -diag the controller's diagnostics dump), `controller reset` (0xC3),
// `controller shutdown` (0xC4, graceful unless the module setting "GracefulControllerShutdown"
// says otherwise) and `controller upgrade` (a controller firmware image sent with WRITE BUFFER
// mode 5, which the transport turns into mode 7 pieces when the image is larger than one transfer).
//
// Thread safety: as cli_handlers.h.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_selectors.h"
#include "modules/brivo/diagnostics_dump.h"
#include "modules/brivo/module_state.h"

namespace brivo::cli {

namespace {

constexpr char kGracefulShutdownKey[] = "GracefulControllerShutdown";

std::string printed(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof(text), format, values...);
  return text;
}

std::string firmwareText(const ControllerRecord& r) {
  const uint32_t level = r.firmwareLevel;
  return fieldText(r.firmwareText, sizeof(r.firmwareText)) +
         printed(" (%X.%02X build %04X)", level >> 24, (level >> 16) & 0xFF, level & 0xFFFF);
}

std::string uptimeText(uint32_t seconds) {
  return printed("%u days %02u:%02u:%02u", seconds / 86400, seconds / 3600 % 24, seconds / 60 % 60,
                 seconds % 60);
}

std::string linkText(uint8_t state, uint8_t id, bool present) {
  if (!present) return "Not present";
  std::string text = state == kOn ? "Up" : "Down";
  if (id != 0xFF) text += printed(", ID %u", id);
  return text;
}

// Millivolts as volts with two decimals, rounded: "3.14".
std::string volts(unsigned mv) {
  const unsigned hundredths = (mv + 5) / 10;
  return printed("%u.%02u", hundredths / 100, hundredths % 100);
}

const char* batteryText(uint8_t state) {
  if (state == kOn) return "Good";
  if (state == kOff) return "Failed";
  if (state == kDisabled) return "Disabled";
  return "Unknown";
}

const char* alarmText(uint8_t state) {
  if (state == kAlarmEnabled) return "Enabled";
  if (state == kAlarmMuted) return "Muted";
  if (state == kAlarmDisabled) return "Disabled";
  return "Unknown";
}

uint8_t typeOf(const ControllerRecord& r) {
  return controllerType(r.family, r.olderFamilyType2, r.driveInterface, r.hostInterface & 0x0F);
}

void writeSensors(CliContext& ctx, const ControllerRecord& r) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&r);
  const TemperatureTable temperatures = temperatureSensors(typeOf(r));
  for (int i = 0; i < temperatures.count; ++i) {
    const TemperatureSensor& s = temperatures.rows[i];
    const uint8_t value = bytes[s.offset];
    writeField(ctx, s.label,
               printed("%u C (limit %u C)%s", value, s.limit, value > s.limit ? " OVER LIMIT" : ""));
  }
  const VoltageTable voltages = voltageSensors(typeOf(r));
  for (int i = 0; i < voltages.count; ++i) {
    const VoltageSensor& s = voltages.rows[i];
    if (s.batteryOnly && r.batteryState != kOn) continue;
    uint16_t mv = 0;
    std::memcpy(&mv, bytes + s.offset, sizeof(mv));
    std::string text = volts(mv) + " V";
    if (s.lowMv != 0 || s.highMv != 0) {
      text += " (" + volts(s.lowMv) + "-" + volts(s.highMv) + " V)";
      if (mv < s.lowMv || mv > s.highMv) text += " OUT OF RANGE";
    }
    writeField(ctx, (std::string(s.label) + " Voltage").c_str(), text);
  }
}

void writeControllerBlock(CliContext& ctx, const ControllerInformation& info, int c) {
  const ControllerRecord& r = info.controllers[c];
  writeRuler(ctx, '-', printed("Controller %d", c).c_str());
  writeField(ctx, "Status", controllerStateText(c == 0 ? info.stateA : info.stateB));
  writeField(ctx, "Board Name", fieldText(r.boardName, sizeof(r.boardName)));
  writeField(ctx, "Serial Number", fieldText(r.serial, sizeof(r.serial)));
  writeField(ctx, "Controller WWN", wwnText(r.controllerWwn));
  if (!controllerOnline(info, c)) return;  // the rest of a silent controller's record is stale
  writeField(ctx, "Configuration WWN", wwnText(r.configurationWwn));
  writeField(ctx, "Node Name", wwnText(r.nodeName));
  writeField(ctx, "Firmware", firmwareText(r));
  writeField(ctx, "CPLD Revision",
             printed("decoder %u, arbiter %u", r.cpldRevision >> 4, r.cpldRevision & 0x0F));
  writeField(ctx, "Memory", printed("%u MB", r.memoryMb));
  writeField(ctx, "Processor", printed("%u MHz", r.processorMhz));
  writeField(ctx, "Power On Time", uptimeText(r.powerOnSeconds));
  writeField(ctx, "Clock", controllerClockText(r.clock));
  const int hostPorts = r.hostInterface >> 4;
  writeField(ctx, "Host Port 0", linkText(r.hostPort0State, r.hostPort0LoopId, hostPorts >= 1));
  writeField(ctx, "Host Port 1", linkText(r.hostPort1State, r.hostPort1LoopId, hostPorts >= 2));
  writeField(ctx, "Drive Loop 1", linkText(r.driveLoop1State, r.driveLoop1Id, r.driveLoops >= 1));
  writeField(ctx, "Drive Loop 2", linkText(r.driveLoop2State, r.driveLoop2Id, r.driveLoops >= 2));
  writeSensors(ctx, r);
  writeField(ctx, "Battery", batteryText(r.batteryState));
  if (r.batteryState == kOn) {
    writeField(ctx, "Battery Charge", printed("%u %%", r.batteryCharge));
    writeField(ctx, "Battery Hold-up Time", printed("%u hours", r.batteryHoldUpHours));
  }
  writeField(ctx, "Alarm", alarmText(r.alarmState));
}

// Prepares and reads the controller's diagnostics dump and writes its text lines.
int writeDiagnostics(CliContext& ctx) {
  ControllerCommand record;
  std::string all;
  const int result = readDiagnosticsDump(ctx.pair, &all, &record);
  if (result != kResultGood) {
    writeCommandFailure(ctx, "read the diagnostics dump", result, record);
    return 1;
  }
  writeRuler(ctx, '-', "Diagnostics");
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    writeText(ctx, "%s\n", all.substr(start, end - start).c_str());
    start = end + 1;
  }
  return 0;
}

// "controller 1" or "controllers 0 and 1", for the failure lines.
// The failure of a command that named both controllers is reported in the fixed one-controller
// form for each of them: the one command covered both, so neither is known to have taken it.
void writeControllerFailure(CliContext& ctx, const char* operation, const ControllerChoice& choice,
                            int result, const ControllerCommand& record) {
  for (int c = 0; c < 2; ++c) {
    if (choice.index < 0 || choice.index == c)
      writeCommandFailure(ctx, printed("%s controller %d", operation, c), result, record);
  }
}

bool gracefulShutdown() {
  const std::string value = moduleState().files.value(PropertyTable::kSettings, kGracefulShutdownKey);
  if (value == kMissing) return true;
  return strcasecmp(value.c_str(), "true") == 0 || value == "1";
}

}  // namespace

int controllerDisplay(CliContext& ctx) {
  ControllerChoice choice;
  if (!chooseControllers(ctx, &choice)) return 1;
  const int total = (choice.side[0] ? 1 : 0) + (choice.side[1] ? 1 : 0);
  writeText(ctx, "--- Controller Total=%d ---\n", total);
  for (int c = 0; c < 2; ++c) {
    if (choice.side[c]) writeControllerBlock(ctx, *ctx.info, c);
  }
  return hasModifier(ctx, kModDiagnostics) ? writeDiagnostics(ctx) : 0;
}

int controllerReset(CliContext& ctx) {
  ControllerChoice choice;
  if (!chooseControllers(ctx, &choice)) return 1;
  ControllerCommand record;
  const int result = sendOperation(ctx.pair, kOpResetController, choice.selector, 0, 0, nullptr, 0, &record);
  if (result != kResultGood) {
    writeControllerFailure(ctx, "reset", choice, result, record);
    return 1;
  }
  writeText(ctx, "Controller is reset. Please give it time to come up.\n");
  return 0;
}

int controllerShutdown(CliContext& ctx) {
  ControllerChoice choice;
  if (!chooseControllers(ctx, &choice)) return 1;
  ControllerCommand record;
  const uint8_t graceful = gracefulShutdown() ? 1 : 0;
  const int result =
      sendOperation(ctx.pair, kOpShutdownController, choice.selector, graceful, 0, nullptr, 0, &record);
  if (result != kResultGood) {
    writeControllerFailure(ctx, "shutdown", choice, result, record);
    return 1;
  }
  writeText(ctx, "Shutdown mode in effect. Recovery requires a power cycle.\n");
  return 0;
}

int controllerUpgrade(CliContext& ctx) {
  std::vector<uint8_t> image;
  FirmwareImageHeader header;
  if (!readFirmwareImage(ctx, &image, &header)) return 1;
  ControllerCommand record;
  const int result = writeDataBuffer(ctx.pair, kModeFirmware, kFirmwareController, image.data(),
                                     static_cast<uint32_t>(image.size()), &record);
  if (result != kResultGood) {
    writeCommandFailure(ctx, "upgrade controller firmware", result, record);
    return 1;
  }
  writeText(ctx, "Controller firmware is loaded (level %X.%02X build %04X).\n", header.level >> 24,
            (header.level >> 16) & 0xFF, header.level & 0xFFFF);
  return 0;
}

}  // namespace brivo::cli
