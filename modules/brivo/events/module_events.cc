// The event reader wired into the module; see module_events.h.
#include "modules/brivo/events/module_events.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/thread_manager.h"
#include "modules/brivo/command_result.h"
#include "modules/brivo/controller_command.h"
#include "modules/brivo/events/event_export.h"
#include "modules/brivo/events/event_texts.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/pair_paths.h"

namespace brivo {

namespace {

constexpr int kSleepStepMs = 100;

std::optional<std::string> unlessMissing(std::string value) {
  if (value == kMissing) return std::nullopt;
  return value;
}

class ModuleEventTexts : public events::EventTexts {
 public:
  std::optional<std::string> eventText(const std::string& key) const override {
    return unlessMissing(ModuleFiles::text(StringTable::kEvent, key.c_str()));
  }
  std::optional<std::string> serverText(const std::string& key) const override {
    char* text = lookupString(kStringsDbPath, key.c_str());
    if (text == nullptr) return std::nullopt;
    std::string copy = text;
    std::free(text);
    return unlessMissing(copy);
  }
  std::optional<std::string> severity(const std::string& key) const override {
    return unlessMissing(moduleState().files.value(PropertyTable::kEventSeverity, key.c_str()));
  }
  std::optional<std::string> setting(const std::string& key) const override {
    return unlessMissing(moduleState().files.value(PropertyTable::kSettings, key.c_str()));
  }
};

class ModuleEventHost : public events::EventModule {
 public:
  const events::EventTexts& texts() const override { return texts_; }
  bool running() const override { return moduleState().running.load(); }
  void sleepMs(int ms) override {
    for (int left = ms; left > 0 && running(); left -= kSleepStepMs) {
      if (!threadSleep(std::min(left, kSleepStepMs))) break;
    }
  }
  void print(const std::string& text) override { consolePrint("%s", text.c_str()); }
  void debugPrint(uint32_t code, const std::string& text) override { modulePrint(code, "%s", text.c_str()); }
  void raiseEvent(const events::RaisedEvent& e) override {
    raiseModuleEvent(e.source.c_str(), e.text.c_str(), e.severity, e.time, e.eventId, e.syncFlag);
  }
  uint32_t storedEventTime(std::string_view pairName, int side) override {
    std::string key = events::lastEventTimeKey(pairName, side);
    return events::parseStoredEventTime(
        moduleState().files.value(PropertyTable::kConfigurations, key.c_str()));
  }
  void storeEventTime(std::string_view pairName, int side, uint32_t seconds) override {
    std::string key = events::lastEventTimeKey(pairName, side);
    moduleState().files.setValue(PropertyTable::kConfigurations, key.c_str(),
                                 std::to_string(seconds).c_str());
  }
  uint32_t storedEventCount(std::string_view pairName, int side) override {
    std::string key = events::lastEventCountKey(pairName, side);
    return events::parseStoredEventCount(moduleState().files.value(PropertyTable::kConfigurations, key.c_str()));
  }
  void storeEventCount(std::string_view pairName, int side, uint32_t count) override {
    std::string key = events::lastEventCountKey(pairName, side);
    const std::string text = count == events::kWholeSecond ? std::string("all") : std::to_string(count);
    moduleState().files.setValue(PropertyTable::kConfigurations, key.c_str(), text.c_str());
  }
  void addCommandResult(VariableTable* reply, const char* commandKey, int result,
                        const uint8_t* sense) override {
    addControllerCommandResult(reply, commandKey, result, sense);
  }

 private:
  ModuleEventTexts texts_;
};

// A pair as the event code sees it: one path (device), the item that names it and its state.
class DevicePair : public events::EventPair {
 public:
  DevicePair(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state)
      : device_(device), name_(item->name), state_(state) {}

  std::string_view name() const override { return name_; }
  uint8_t driveInterface() const override { return state_->interfaceWord[0]; }
  uint8_t hostInterface() const override { return state_->interfaceWord[2] & 0x0F; }
  bool controllerValid(int side) const override {
    return loadField(side == events::kSideA ? state_->controllerAValid : state_->controllerBValid) != 0;
  }
  void setControllersValid(bool a, bool b) override {
    storeField(state_->controllerAValid, a ? 1 : 0);
    storeField(state_->controllerBValid, b ? 1 : 0);
  }
  int32_t lastIndex(int side) const override {
    return loadField(side == events::kSideA ? state_->lastAEventIndex : state_->lastBEventIndex);
  }
  void setLastIndex(int side, int32_t index) override {
    storeField(side == events::kSideA ? state_->lastAEventIndex : state_->lastBEventIndex, index);
    storeField(state_->bookmarkSerial, nextBookmarkSerial());
  }
  uint32_t lastTime(int side) const override {
    return loadField(side == events::kSideA ? state_->lastAEventTime : state_->lastBEventTime);
  }
  void setLastTime(int side, uint32_t seconds) override {
    storeField(side == events::kSideA ? state_->lastAEventTime : state_->lastBEventTime, seconds);
  }
  bool replaying(int side) const override {
    return loadField(side == events::kSideA ? state_->replayingA : state_->replayingB) != 0;
  }
  void setReplaying(int side, bool on) override {
    storeField(side == events::kSideA ? state_->replayingA : state_->replayingB, on ? 1 : 0);
  }
  int send(events::PairCommand& command) override {
    ControllerCommand record;
    buildCommand(&record, command.opcode, command.mode, command.bufferId, command.p3, command.p4, command.p5);
    int result = transferCommandFor(device_, state_, &record, command.data.data(),
                                    static_cast<uint32_t>(command.data.size()));
    std::memcpy(command.sense, record.sense, sizeof command.sense);
    return result;
  }
  void noteResult(int result) override { noteCommandResult(result, device_); }

 private:
  DeviceRecord* device_;
  std::string name_;
  BrivoDeviceState* state_;
};

// The pair named by the request, or nothing.
struct NamedPair {
  DeviceRecord* device = nullptr;
  ModDeviceItem* item = nullptr;
  BrivoDeviceState* state = nullptr;
};

NamedPair pairOfRequest(VariableTable request) {
  NamedPair pair;
  const char* name = getVariable(request, "ModDeviceName");
  if (name == nullptr) return pair;
  pair.device = findControllerPair(name, &pair.item);
  if (pair.device != nullptr && pair.item != nullptr) pair.state = stateOf(pair.item);
  return pair;
}

}  // namespace

const events::EventTexts& moduleEventTexts() {
  static const ModuleEventTexts texts;
  return texts;
}

void replayStartupEvents(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state) {
  if (device == nullptr || item == nullptr || state == nullptr) return;
  ModuleEventHost host;
  DevicePair pair(device, item, state);
  events::startupReplay(host, pair);
}

events::MonitorOutcome monitorPairEventsOf(DeviceRecord* device, ModDeviceItem* item,
                                           BrivoDeviceState* state) {
  if (device == nullptr || item == nullptr || state == nullptr) return {};
  ModuleEventHost host;
  DevicePair pair(device, item, state);
  return events::monitorPairEvents(host, pair);
}

VariableTable getAllControllerLogsMethod(VariableTable request) {
  ModuleEventHost host;
  NamedPair named = pairOfRequest(request);
  if (named.state == nullptr) return events::getAllControllerLogs(host, nullptr, request);
  DevicePair pair(named.device, named.item, named.state);
  return events::getAllControllerLogs(host, &pair, request);
}

VariableTable clearControllerLogsMethod(VariableTable request) {
  ModuleEventHost host;
  NamedPair named = pairOfRequest(request);
  if (named.state == nullptr) return events::clearControllerLogs(host, nullptr, request);
  DevicePair pair(named.device, named.item, named.state);
  return events::clearControllerLogs(host, &pair, request);
}

}  // namespace brivo
