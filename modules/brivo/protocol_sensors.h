// Sensors of a Brivo controller record and the controller type they depend on: which temperature
// sensors a type has with their limits, and its table of voltage sensors with their millivolt
// ranges. The RAID module judges a controller's health by these tables; the simulator logs
// voltage and temperature events by the same ones. Part of protocol.h; include that.
//
// Thread safety: constants and pure functions.
#pragma once

#include <cstdint>

#include "modules/brivo/protocol.h"  // the types these build on (safe in either order)

namespace brivo {

// Controller type code from a controller record (family byte 182, byte 188 and the interface word).
inline constexpr uint8_t kTypeUnknown = 255;
constexpr uint8_t controllerType(uint8_t family, uint8_t byte188, uint8_t driveInterface,
                                 uint8_t hostInterfaceType) {
  if (family >= kFamilyExplicitType) return family & 0x3F;
  if ((family & 0x80) == 0) return byte188 == kOn ? 2 : 1;
  if (driveInterface == 2 && hostInterfaceType == 1) return 4;
  if (driveInterface == 2 && hostInterfaceType == 2) return 3;
  if (driveInterface == 1 && hostInterfaceType == 1) return 5;
  if (driveInterface == 3 && hostInterfaceType == 1) return 6;
  return kTypeUnknown;
}
static_assert(controllerType(0xC7, 0, 0, 0) == 7 && controllerType(0x02, kOn, 0, 0) == 2);
static_assert(controllerType(0x81, 0, 3, 1) == 6 && controllerType(0x81, 0, 3, 6) == kTypeUnknown);

// ---- Temperatures (one byte each, degrees Celsius; above the limit is a failure) ----

struct TemperatureSensor {
  const char* label;
  uint8_t offset;  // in the controller record
  uint8_t limit;
};
inline constexpr TemperatureSensor kThreeTemperatures[] = {
    {"Air Temperature", 152, 55}, {"Expander Temperature", 178, 65}, {"CPU Temperature", 179, 65}};
inline constexpr TemperatureSensor kOneTemperature[] = {{"Air Temperature", 152, 65}};

struct TemperatureTable {
  const TemperatureSensor* rows;
  int count;
};
constexpr TemperatureTable temperatureSensors(uint8_t type) {
  switch (type) {
    case 6:
    case 7:
    case 10:
    case 11:
    case 13:
    case 14:
    case 15:
      return {kThreeTemperatures, 3};
    case 8:
    case 9:
      return {nullptr, 0};
    default:
      return {kOneTemperature, 1};
  }
}

// ---- Voltages (16-bit millivolts at record offset 154 + 2 i) ----

struct VoltageSensor {
  const char* label;
  uint8_t offset;  // in the controller record
  uint16_t lowMv;  // 0 and 0: no range (shown, never judged)
  uint16_t highMv;
  bool batteryOnly;  // shown only while the battery state is kOn
};
inline constexpr VoltageSensor kDefaultVoltages[] = {{"12V Input", 154, 10800, 13200, false},
                                                     {"5V Input", 156, 4750, 5250, false},
                                                     {"Battery", 168, 0, 0, true},
                                                     {"5V Protected", 158, 4750, 5250, false},
                                                     {"3.3V Core", 160, 3135, 3465, false},
                                                     {"DDR", 166, 1710, 1890, false},
                                                     {"2.5V Core", 162, 2375, 2625, false},
                                                     {"Processor Core", 164, 1140, 1260, false}};
inline constexpr VoltageSensor kSataVoltages[] = {  // types 3 and 4
    {"12V Input", 154, 10800, 13200, false},
    {"5V Input", 156, 4750, 5250, false},
    {"Battery", 168, 0, 0, true},
    {"3.3V Core", 160, 3135, 3465, false},
    {"2.5V Core", 162, 2375, 2625, false},
    {"Processor Core", 164, 1140, 1260, false},
    {"SDRAM", 174, 3135, 3465, false},
    {"Battery Backup", 176, 4750, 5250, false}};
inline constexpr VoltageSensor kFcVoltages[] = {  // type 5
    {"12V Input", 154, 10800, 13200, false},
    {"5V Input", 156, 4750, 5250, false},
    {"Battery", 168, 0, 0, true},
    {"5V Protected", 158, 4750, 5250, false},
    {"3.3V Core", 160, 3135, 3465, false},
    {"Processor Core", 164, 1140, 1260, false},
    {"Host Interface Core", 170, 1425, 1575, false},
    {"Host Interface Memory", 174, 3135, 3465, false}};
inline constexpr VoltageSensor kSasVoltages[] = {  // type 6
    {"12V Input", 154, 10800, 13200, false},
    {"5V Input", 156, 4750, 5250, false},
    {"Battery", 168, 0, 0, true},
    {"5V Protected", 158, 4750, 5250, false},
    {"3.3V Core", 160, 3135, 3465, false},
    {"DDR", 166, 1710, 1890, false},
    {"2.5V Core", 162, 2375, 2625, false},
    {"Processor Core", 164, 1140, 1260, false},
    {"Host Interface Core", 170, 1425, 1575, false},
    {"Drive Interface Core", 172, 950, 1050, false},
    {"SDRAM", 174, 3135, 3465, false},
    {"Battery Backup", 176, 4750, 5250, false}};
inline constexpr VoltageSensor kSmallVoltages[] = {  // types 8 and 9
    {"12V Input", 154, 10800, 13200, false},
    {"5V Input", 156, 4750, 5250, false},
    {"Battery", 168, 0, 0, true}};
inline constexpr VoltageSensor kIscsiVoltages[] = {  // types 13 and 15
    {"12V Input", 154, 10800, 13200, false},
    {"5V Input", 156, 4750, 5250, false},
    {"Battery", 168, 0, 0, true},
    {"3.3V Core", 160, 3135, 3465, false},
    {"Processor Core", 164, 1140, 1260, false},
    {"Drive Interface Core", 172, 950, 1050, false},
    {"Host Interface Core", 170, 1425, 1575, false},
    {"Host Interface Memory", 174, 3135, 3465, false}};

struct VoltageTable {
  const VoltageSensor* rows;
  int count;
};
constexpr VoltageTable voltageSensors(uint8_t type) {
  switch (type) {
    case 3:
    case 4:
      return {kSataVoltages, 8};
    case 5:
      return {kFcVoltages, 8};
    case 6:
      return {kSasVoltages, 12};
    case 8:
    case 9:
      return {kSmallVoltages, 3};
    case 13:
    case 15:
      return {kIscsiVoltages, 8};
    default:
      return {kDefaultVoltages, 8};
  }
}
static_assert(voltageSensors(6).count == sizeof(kSasVoltages) / sizeof(kSasVoltages[0]));

// Index of the voltage reading at a record offset (154 + 2 i), -1 for another offset.
constexpr int voltageIndex(uint8_t offset) {
  return offset >= 154 && offset < 178 && (offset - 154) % 2 == 0 ? (offset - 154) / 2 : -1;
}

}  // namespace brivo
