// The controller event reader wired into the Brivo module: its texts come from the module's files
// (EventStrings.db, EventSeverity.db, BrivoSettings.ini, db/strings.db), its events go out through
// ModuleServices, its bookmark times live in BrivoConfigurations.db, and a pair is reached through
// the module's command transport with failure counting. These are the entry points the rest of
// the module calls: the start-up replay hook, the monitor's event step and the two web methods.
//
// Thread safety: as event_reader.h and event_export.h; the pair's state fields are read and
// written through the atomic helpers of device_state.h.
#pragma once

#include "common/device_list.h"
#include "common/variable_table.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/events/event_reader.h"

namespace brivo {

// The module's texts as the event code reads them (EventStrings.db, db/strings.db, the severities
// and settings), for pages that must word things as the event log does. Lives as long as the
// module.
const events::EventTexts& moduleEventTexts();

// StartupReplayFn of module_hooks.h: records what the pair logged while the server was not
// watching it.
void replayStartupEvents(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state);

// The event step of the monitor's per-pair pass (read both logs, wait when a controller is still
// logging, record what is new). device is the pair's chosen path; item carries its name.
events::MonitorOutcome monitorPairEventsOf(DeviceRecord* device, ModDeviceItem* item,
                                           BrivoDeviceState* state);

// MethodFn of method_table.h for GetAllControllerLogs and ClearControllerLogs: find the pair of
// the request's "ModDeviceName" and answer (reply owned by the caller).
VariableTable getAllControllerLogsMethod(VariableTable request);
VariableTable clearControllerLogsMethod(VariableTable request);

}  // namespace brivo
