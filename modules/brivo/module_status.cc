// Status bookkeeping; see module_status.h.
#include "modules/brivo/module_status.h"

#include <strings.h>

#include <string>
#include <vector>

#include "modules/brivo/device_state.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/monitor/solution_status.h"
#include "modules/brivo/pair_paths.h"
#include "modules/brivo/stored_format.h"

namespace brivo {

namespace {

constexpr int32_t kFailuresForError = 3;  // the third failure in a row raises the event

// Remembers the pair names handled in one pass (at most kMaxPairsPerCycle).
class SeenNames {
 public:
  // True when name is new and there is room for it (it is then remembered).
  bool add(const char* name) {
    for (const std::string& seen : names_) {
      if (strcasecmp(seen.c_str(), name) == 0) return false;
    }
    if (names_.size() >= kMaxPairsPerCycle) return false;
    names_.emplace_back(name);
    return true;
  }

 private:
  std::vector<std::string> names_;
};

void raiseCommEvent(const char* pairName, const char* textKey, uint32_t severity, uint32_t eventId) {
  const std::string source = controllerSourceName(pairName, "0+1");
  const std::string text = ModuleFiles::text(StringTable::kEvent, textKey);
  raiseModuleEvent(source.c_str(), text.c_str(), severity, 0, eventId, 0);
}

}  // namespace

uint32_t combineStatus(uint32_t s, uint32_t r) {
  if (r == kStatusNoOpinion) return s;
  if (r == kStatusUnknown) return s == kStatusOk ? kStatusUnknown : s;
  return (s & 3) < r ? r : s;
}

std::string controllerSourceName(const char* pairName, const char* which) {
  std::string format = moduleState().files.value(PropertyTable::kSettings, kControllerLogNameKey);
  if (format == kMissing) format = kDefaultControllerLogName;
  const std::string name = pairName != nullptr ? pairName : "";
  const std::string tail = name.size() >= kBrivoNamePrefixLength ? name.substr(kBrivoNamePrefixLength) : name;
  return formatStoredText(format, {tail, which});
}

bool noteCommandResult(int result, DeviceRecord* device, bool countFailures) {
  ModuleState& module = moduleState();
  ModDeviceItem* item = findBrivoItem(device);
  BrivoDeviceState* state = stateOf(item);
  if (!countFailures || state == nullptr || module.accepting.load()) return result == 0;
  if (result == 0) {
    if (loadField(state->failureCount) >= kFailuresForError) {
      module.statusUpdateRequested.store(true);
      raiseCommEvent(item->name, "ControllerCommOk", kStatusOk, kEventIdCommOk);
    }
    storeField(state->failureCount, 0);
    return true;
  }
  const int32_t failures = std::atomic_ref<int32_t>(state->failureCount).fetch_add(1) + 1;
  if (failures == kFailuresForError) {
    module.statusUpdateRequested.store(true);
    consolePrint(">>> WE HAVE HAD 3 CONCURRENT FAILURES, SET GLOBAL STATUS TO ERROR, SEND LOG <<<\n");
    raiseCommEvent(item->name, "ControllerCommFailure", kStatusError, kEventIdCommFailure);
  }
  return false;
}

uint32_t solutionStatus(DeviceRecord* device) { return monitor::solutionReport(device).status; }

void updateGlobalStatus() {
  ModuleState& module = moduleState();
  uint32_t global = kStatusOk;
  if (module.running.load()) {
    consolePrint("CALLING UPDATE GLOBAL STATUS\n");
    SeenNames seen;
    for (DeviceRecord* device = module.deviceList.load(); device != nullptr; device = device->next) {
      ModDeviceItem* item = findBrivoItem(device);
      if (item == nullptr || isUnreadItem(item) || !seen.add(item->name)) continue;
      ModDeviceItem* chosenItem = nullptr;
      DeviceRecord* path = findControllerPair(item->name, &chosenItem);
      BrivoDeviceState* state = stateOf(chosenItem);
      if (path == nullptr || state == nullptr) continue;
      const uint32_t status = solutionStatus(path);
      storeField(state->lastSolutionStatus, status);
      if (status != kStatusNoOpinion) global = combineStatus(global, status);
    }
  }
  module.globalStatus.store(global);
  consolePrint("UPDATE GLOBAL STATUS, setting to 0x%X\n", global);
  modulePrint(kDebugStatusDecisions, "mon: Setting Brivo Global Status to: 0x%X\n", global);
}

}  // namespace brivo
