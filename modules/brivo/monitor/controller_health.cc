// Battery, voltage and temperature judgement of one controller; see solution_status.h.
#include <string>

#include "modules/brivo/module_status.h"
#include "modules/brivo/monitor/solution_status.h"

namespace brivo::monitor {

namespace {

uint8_t recordByte(const ControllerRecord& record, int offset) {
  return reinterpret_cast<const uint8_t*>(&record)[offset];
}

void judgeVoltages(const ControllerRecord& record, uint8_t type, ControllerHealth* health) {
  const VoltageTable table = voltageSensors(type);
  for (int i = 0; i < table.count; ++i) {
    const VoltageSensor& sensor = table.rows[i];
    const int slot = voltageIndex(sensor.offset);
    SensorReading reading;
    reading.label = sensor.label;
    reading.value = slot >= 0 ? record.voltages[slot] : 0;
    reading.low = sensor.lowMv;
    reading.high = sensor.highMv;
    reading.shown = !sensor.batteryOnly || record.batteryState == kOn;
    const bool hasRange = sensor.lowMv != 0 || sensor.highMv != 0;
    if (hasRange && (reading.value < sensor.lowMv || reading.value > sensor.highMv)) {
      reading.status = kStatusError;
    }
    health->voltage = combineStatus(health->voltage, reading.status);
    health->voltages.push_back(std::move(reading));
  }
}

void judgeTemperatures(const ControllerRecord& record, uint8_t type, ControllerHealth* health) {
  const TemperatureTable table = temperatureSensors(type);
  for (int i = 0; i < table.count; ++i) {
    const TemperatureSensor& sensor = table.rows[i];
    SensorReading reading;
    reading.label = sensor.label;
    reading.value = recordByte(record, sensor.offset);
    reading.high = sensor.limit;
    if (reading.value > sensor.limit) reading.status = kStatusError;
    health->temperature = combineStatus(health->temperature, reading.status);
    health->temperatures.push_back(std::move(reading));
  }
}

}  // namespace

uint32_t batteryStatus(const ControllerRecord& record, int percentWarning) {
  if (record.batteryState == kOff) return kStatusError;
  if (record.batteryState == kDisabled) return kStatusOk;
  if (record.batteryCharge >= percentWarning) return kStatusOk;
  return record.powerOnSeconds <= kBatteryGraceSeconds ? kStatusWarning : kStatusError;
}

ControllerHealth controllerHealth(const ControllerRecord& record, uint8_t type, int percentWarning) {
  ControllerHealth health;
  health.present = true;
  health.battery = batteryStatus(record, percentWarning);
  judgeVoltages(record, type, &health);
  judgeTemperatures(record, type, &health);
  health.status = combineStatus(combineStatus(health.battery, health.voltage), health.temperature);
  return health;
}

}  // namespace brivo::monitor
