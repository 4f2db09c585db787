// TEMPORARY while the pages are written in parallel: weak fallbacks (no reply: the server shows
// its "Invalid method" panel) so the module links before every page exists. A real definition
// replaces each one; the file goes once all exist.
#include "modules/brivo/pages/page_methods.h"

namespace brivo {

__attribute__((weak)) VariableTable pingPageMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getMonitorMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getMainPageMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable locateEnclosureMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable archiveConfigurationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable muteAlarmMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable setAlarmStateMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable downloadConfigurationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable restoreConfigurationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable clearConfigurationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getControllerInformationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getControllerParamsMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable changeControllerParamsMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable resetControllerMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable shutdownControllerMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable flashControllerMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable flashDiskIoMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable setControllerTimeMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getDiagnosticsDumpMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getRankInformationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getCreateNewRankInformationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable createNewRankMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable deleteRankMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable changeRankParametersMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable initializeRankMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable startParityCheckMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable cancelParityCheckMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable cancelInitializationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable cancelRebuildMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable pauseArrayInitMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable unPauseArrayInitMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getHostLunInformationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getCreateNewHostLunInformationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable createNewHostLunMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable changeHostLunParamsMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable deleteHostLunMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable expandHostLunMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getStatisticsMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable exportStatisticsMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable clearStatisticsMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable createNewOdaMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable createSnapMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable snapbackMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable deleteSnapMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable deleteOdaMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getSnapProgressInfoMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getDriveInformationMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable makeHotSpareMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable deleteHotSpareMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable regenerateDriveMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable blinkDriveMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable uploadDriveFirmwareMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable bypassDriveMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable enableDriveMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable getHostPortTopologiesMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable setHostPortTopologiesMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable slmGetDataMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable slmApplyMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable diskConfigWizardMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable diskConfigWizardSubmitMethod(VariableTable) { return nullptr; }
__attribute__((weak)) VariableTable qcliMethod(VariableTable) { return nullptr; }

}  // namespace brivo
