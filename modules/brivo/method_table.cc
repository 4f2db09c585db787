// The method table and dispatch; see method_table.h.
//
// The table lists every method in the order the module answers them; a method joins the module by
// putting its function in its row.
#include "modules/brivo/method_table.h"

#include <strings.h>

#include <cstdlib>

#include "modules/brivo/admission_gate.h"
#include "modules/brivo/capabilities.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/events/module_events.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pair_paths.h"

namespace brivo {

namespace {

// Does nothing and returns no reply (the server answers it as an unknown method).
VariableTable testMethod(VariableTable) { return nullptr; }

constexpr bool kRead = true;
constexpr bool kWrite = false;

constexpr MethodEntry kMethods[kMethodCount] = {
    {"PingPage", kRead, nullptr},
    {"GetMonitor", kRead, nullptr},
    {"GetMainPage", kRead, nullptr},
    {"LocateEnclosure", kRead, nullptr},
    {"ArchiveConfiguration", kRead, nullptr},
    {"MuteAlarm", kWrite, nullptr},
    {"SetAlarmState", kWrite, nullptr},
    {"DownloadConfiguration", kRead, nullptr},
    {"RestoreConfiguration", kWrite, nullptr},
    {"ClearConfiguration", kWrite, nullptr},
    {"GetControllerInformation", kRead, nullptr},
    {"GetControllerParams", kRead, nullptr},
    {"ChangeControllerParams", kWrite, nullptr},
    {"ResetController", kWrite, nullptr},
    {"ShutdownController", kWrite, nullptr},
    {"FlashController", kWrite, nullptr},
    {"FlashDiskIo", kWrite, nullptr},
    {"SetControllerTime", kWrite, nullptr},
    {"GetAllControllerLogs", kRead, getAllControllerLogsMethod},
    {"ClearControllerLogs", kWrite, clearControllerLogsMethod},
    {"GetDiagnosticsDump", kWrite, nullptr},
    {"GetRankInformation", kRead, nullptr},
    {"GetCreateNewRankInformation", kRead, nullptr},
    {"CreateNewRank", kWrite, nullptr},
    {"DeleteRank", kWrite, nullptr},
    {"ChangeRankParameters", kWrite, nullptr},
    {"InitializeRank", kWrite, nullptr},
    {"StartParityCheck", kWrite, nullptr},
    {"CancelParityCheck", kWrite, nullptr},
    {"CancelInitialization", kWrite, nullptr},
    {"CancelRebuild", kWrite, nullptr},
    {"PauseArrayInit", kWrite, nullptr},
    {"UnPauseArrayInit", kWrite, nullptr},
    {"GetHostLunInformation", kRead, nullptr},
    {"GetCreateNewHostLunInformation", kRead, nullptr},
    {"CreateNewHostLun", kWrite, nullptr},
    {"ChangeHostLunParams", kWrite, nullptr},
    {"DeleteHostLun", kWrite, nullptr},
    {"ExpandHostLun", kWrite, nullptr},
    {"GetStatistics", kRead, nullptr},
    {"ExportStatistics", kRead, nullptr},
    {"ClearStatistics", kWrite, nullptr},
    {"CreateNewOda", kWrite, nullptr},
    {"CreateSnap", kWrite, nullptr},
    {"Snapback", kWrite, nullptr},
    {"DeleteSnap", kWrite, nullptr},
    {"DeleteOda", kWrite, nullptr},
    {"GetSnapProgressInfo", kRead, nullptr},
    {"GetDriveInformation", kRead, nullptr},
    {"MakeHotSpare", kWrite, nullptr},
    {"DeleteHotSpare", kWrite, nullptr},
    {"RegenerateDrive", kWrite, nullptr},
    {"BlinkDrive", kRead, nullptr},
    {"UploadDriveFirmware", kWrite, nullptr},
    {"BypassDrive", kWrite, nullptr},
    {"EnableDrive", kWrite, nullptr},
    {"GetHostPortTopologies", kRead, nullptr},
    {"SetHostPortTopologies", kWrite, nullptr},
    {"SlmGetData", kRead, nullptr},
    {"SlmApply", kWrite, nullptr},
    {"DiskConfigWizard", kWrite, nullptr},
    {"DiskConfigWizardSubmit", kWrite, nullptr},
    {"qcli", kWrite, nullptr},
    {"TestMethod", kRead, testMethod},
};

VariableTable callMethod(const MethodEntry& entry, VariableTable request) {
  if (entry.method == nullptr) return nullptr;
  VariableTable reply = entry.method(request);
  if (reply != nullptr) decorateReply(&reply);
  return reply;
}

}  // namespace

std::span<const MethodEntry> methodTable() { return kMethods; }

const MethodEntry* findMethod(const char* name) {
  if (name == nullptr) return nullptr;
  for (const MethodEntry& entry : kMethods) {
    if (strcasecmp(entry.name, name) == 0) return &entry;
  }
  return nullptr;
}

VariableTable dispatchRequest(VariableTable request) {
  ModuleState& module = moduleState();
  if (!module.running.load()) return nullptr;
  const MethodEntry* entry = findMethod(getVariable(request, "method"));
  if (entry == nullptr || entry->method == nullptr) return nullptr;
  GatePass pass(module.gate, entry->read ? GateMode::kRead : GateMode::kWrite);
  if (!pass.entered()) return nullptr;
  return callMethod(*entry, request);
}

VariableTable dispatchInternal(VariableTable request) {
  const MethodEntry* entry = findMethod(getVariable(request, "method"));
  return entry != nullptr ? callMethod(*entry, request) : nullptr;
}

void decorateReply(VariableTable* reply) {
  char* name = getVariableCopy(*reply, "ModDeviceName");
  if (name == nullptr) return;
  ModDeviceItem* item = nullptr;
  if (findControllerPair(name, &item) != nullptr) {
    if (const BrivoDeviceState* state = stateOf(item)) addCapabilityKeys(reply, name, *state);
  }
  std::free(name);
}

}  // namespace brivo
