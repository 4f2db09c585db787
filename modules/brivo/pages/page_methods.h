// The request methods of the module's pages and of the command interpreter, as the method table
// (method_table.cc) names them. Each takes the request (borrowed) and returns a new reply table
// (owned by the caller) or null for the server's "Invalid method" panel. Pages live in pages/
// (one file per page family), the interpreter's "qcli" method in cli/.
//
// Thread safety: called by dispatchRequest under the admission gate in the mode of the table.
#pragma once

#include "common/variable_table.h"

namespace brivo {

VariableTable pingPageMethod(VariableTable request);
VariableTable getMonitorMethod(VariableTable request);
VariableTable getMainPageMethod(VariableTable request);
VariableTable locateEnclosureMethod(VariableTable request);
VariableTable archiveConfigurationMethod(VariableTable request);
VariableTable muteAlarmMethod(VariableTable request);
VariableTable setAlarmStateMethod(VariableTable request);
VariableTable downloadConfigurationMethod(VariableTable request);
VariableTable restoreConfigurationMethod(VariableTable request);
VariableTable clearConfigurationMethod(VariableTable request);
VariableTable getControllerInformationMethod(VariableTable request);
VariableTable getControllerParamsMethod(VariableTable request);
VariableTable changeControllerParamsMethod(VariableTable request);
VariableTable resetControllerMethod(VariableTable request);
VariableTable shutdownControllerMethod(VariableTable request);
VariableTable setControllerTimeMethod(VariableTable request);
VariableTable getRankInformationMethod(VariableTable request);
VariableTable getCreateNewRankInformationMethod(VariableTable request);
VariableTable createNewRankMethod(VariableTable request);
VariableTable deleteRankMethod(VariableTable request);
VariableTable changeRankParametersMethod(VariableTable request);
VariableTable initializeRankMethod(VariableTable request);
VariableTable startParityCheckMethod(VariableTable request);
VariableTable cancelParityCheckMethod(VariableTable request);
VariableTable cancelInitializationMethod(VariableTable request);
VariableTable cancelRebuildMethod(VariableTable request);
VariableTable pauseArrayInitMethod(VariableTable request);
VariableTable unPauseArrayInitMethod(VariableTable request);
VariableTable getHostLunInformationMethod(VariableTable request);
VariableTable getCreateNewHostLunInformationMethod(VariableTable request);
VariableTable createNewHostLunMethod(VariableTable request);
VariableTable changeHostLunParamsMethod(VariableTable request);
VariableTable deleteHostLunMethod(VariableTable request);
VariableTable expandHostLunMethod(VariableTable request);
VariableTable getStatisticsMethod(VariableTable request);
VariableTable exportStatisticsMethod(VariableTable request);
VariableTable clearStatisticsMethod(VariableTable request);
VariableTable createNewOdaMethod(VariableTable request);
VariableTable createSnapMethod(VariableTable request);
VariableTable snapbackMethod(VariableTable request);
VariableTable deleteSnapMethod(VariableTable request);
VariableTable deleteOdaMethod(VariableTable request);
VariableTable getSnapProgressInfoMethod(VariableTable request);
VariableTable getDriveInformationMethod(VariableTable request);
VariableTable makeHotSpareMethod(VariableTable request);
VariableTable deleteHotSpareMethod(VariableTable request);
VariableTable regenerateDriveMethod(VariableTable request);
VariableTable blinkDriveMethod(VariableTable request);
VariableTable bypassDriveMethod(VariableTable request);
VariableTable enableDriveMethod(VariableTable request);
VariableTable getHostPortTopologiesMethod(VariableTable request);
VariableTable setHostPortTopologiesMethod(VariableTable request);
VariableTable flashControllerMethod(VariableTable request);
VariableTable flashDiskIoMethod(VariableTable request);
VariableTable uploadDriveFirmwareMethod(VariableTable request);
VariableTable getDiagnosticsDumpMethod(VariableTable request);
VariableTable slmGetDataMethod(VariableTable request);
VariableTable slmApplyMethod(VariableTable request);
VariableTable diskConfigWizardMethod(VariableTable request);
VariableTable diskConfigWizardSubmitMethod(VariableTable request);
VariableTable qcliMethod(VariableTable request);
VariableTable getOverviewMethod(VariableTable request);
VariableTable getEnclosureInformationMethod(VariableTable request);
VariableTable remindAlarmMethod(VariableTable request);
VariableTable identifySlotMethod(VariableTable request);
VariableTable getPairNamesMethod(VariableTable request);

}  // namespace brivo
