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
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_paths.h"

namespace brivo {

namespace {

// Does nothing and returns no reply (the server answers it as an unknown method).
VariableTable testMethod(VariableTable) { return nullptr; }

constexpr bool kRead = true;
constexpr bool kWrite = false;

constexpr MethodEntry kMethods[kMethodCount] = {
    {"PingPage", kRead, pingPageMethod},
    {"GetMonitor", kRead, getMonitorMethod},
    {"GetMainPage", kRead, getMainPageMethod},
    {"LocateEnclosure", kRead, locateEnclosureMethod},
    {"ArchiveConfiguration", kRead, archiveConfigurationMethod},
    {"MuteAlarm", kWrite, muteAlarmMethod},
    {"SetAlarmState", kWrite, setAlarmStateMethod},
    {"DownloadConfiguration", kRead, downloadConfigurationMethod},
    {"RestoreConfiguration", kWrite, restoreConfigurationMethod},
    {"ClearConfiguration", kWrite, clearConfigurationMethod},
    {"GetControllerInformation", kRead, getControllerInformationMethod},
    {"GetControllerParams", kRead, getControllerParamsMethod},
    {"ChangeControllerParams", kWrite, changeControllerParamsMethod},
    {"ResetController", kWrite, resetControllerMethod},
    {"ShutdownController", kWrite, shutdownControllerMethod},
    {"FlashController", kWrite, flashControllerMethod},
    {"FlashDiskIo", kWrite, flashDiskIoMethod},
    {"SetControllerTime", kWrite, setControllerTimeMethod},
    {"GetAllControllerLogs", kRead, getAllControllerLogsMethod},
    {"ClearControllerLogs", kWrite, clearControllerLogsMethod},
    {"GetDiagnosticsDump", kWrite, getDiagnosticsDumpMethod},
    {"GetRankInformation", kRead, getRankInformationMethod},
    {"GetCreateNewRankInformation", kRead, getCreateNewRankInformationMethod},
    {"CreateNewRank", kWrite, createNewRankMethod},
    {"DeleteRank", kWrite, deleteRankMethod},
    {"ChangeRankParameters", kWrite, changeRankParametersMethod},
    {"InitializeRank", kWrite, initializeRankMethod},
    {"StartParityCheck", kWrite, startParityCheckMethod},
    {"CancelParityCheck", kWrite, cancelParityCheckMethod},
    {"CancelInitialization", kWrite, cancelInitializationMethod},
    {"CancelRebuild", kWrite, cancelRebuildMethod},
    {"PauseArrayInit", kWrite, pauseArrayInitMethod},
    {"UnPauseArrayInit", kWrite, unPauseArrayInitMethod},
    {"GetHostLunInformation", kRead, getHostLunInformationMethod},
    {"GetCreateNewHostLunInformation", kRead, getCreateNewHostLunInformationMethod},
    {"CreateNewHostLun", kWrite, createNewHostLunMethod},
    {"ChangeHostLunParams", kWrite, changeHostLunParamsMethod},
    {"DeleteHostLun", kWrite, deleteHostLunMethod},
    {"ExpandHostLun", kWrite, expandHostLunMethod},
    {"GetStatistics", kRead, getStatisticsMethod},
    {"ExportStatistics", kRead, exportStatisticsMethod},
    {"ClearStatistics", kWrite, clearStatisticsMethod},
    {"CreateNewOda", kWrite, createNewOdaMethod},
    {"CreateSnap", kWrite, createSnapMethod},
    {"Snapback", kWrite, snapbackMethod},
    {"DeleteSnap", kWrite, deleteSnapMethod},
    {"DeleteOda", kWrite, deleteOdaMethod},
    {"GetSnapProgressInfo", kRead, getSnapProgressInfoMethod},
    {"GetDriveInformation", kRead, getDriveInformationMethod},
    {"MakeHotSpare", kWrite, makeHotSpareMethod},
    {"DeleteHotSpare", kWrite, deleteHotSpareMethod},
    {"RegenerateDrive", kWrite, regenerateDriveMethod},
    {"BlinkDrive", kRead, blinkDriveMethod},
    {"UploadDriveFirmware", kWrite, uploadDriveFirmwareMethod},
    {"BypassDrive", kWrite, bypassDriveMethod},
    {"EnableDrive", kWrite, enableDriveMethod},
    {"GetHostPortTopologies", kRead, getHostPortTopologiesMethod},
    {"SetHostPortTopologies", kWrite, setHostPortTopologiesMethod},
    {"SlmGetData", kRead, slmGetDataMethod},
    {"SlmApply", kWrite, slmApplyMethod},
    {"DiskConfigWizard", kWrite, diskConfigWizardMethod},
    {"DiskConfigWizardSubmit", kWrite, diskConfigWizardSubmitMethod},
    {"qcli", kWrite, qcliMethod},
    {"TestMethod", kRead, testMethod},
    {"GetMetrics", kRead, getMetricsMethod},
    // The pages an administrator needs beside the table above: every pair at once, one
    // enclosure with its elements, and the enclosure actions that page offers.
    {"GetOverview", kRead, getOverviewMethod},
    {"GetEnclosureInformation", kRead, getEnclosureInformationMethod},
    {"RemindAlarm", kWrite, remindAlarmMethod},
    {"IdentifySlot", kWrite, identifySlotMethod},
    {"GetPairNames", kRead, getPairNamesMethod},
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
  addPairIdentity(reply, name);
  std::free(name);
}

}  // namespace brivo
