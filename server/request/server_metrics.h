// The server method GetMetrics: everything the server can report about itself and its modules as
// metric keys (common/metrics_text.h), which the web front end serves at /metrics. Read-only.
//
// The server's own part: global status, start time and restarts, each module's status, the claim
// status of every unit hung on the device list, records written to the event log by level, each
// notification channel's queue and drop count, and the server network's dropped packets by
// reason, whether it is authenticated and how many servers it lists. Then every enabled module
// that exports getValuesForParametersFromMod is asked for its own "GetMetrics" (the RAID module
// reports its pairs); only metric keys of its answer are kept, and a module without such a method
// adds nothing.
//
// Thread safety: any request thread. The device list is read in place (it is not restructured
// while the server runs); claim statuses are read atomically.
#pragma once

#include "common/device_list.h"
#include "common/variable_table.h"

// Server method: takes the request (borrowed), returns a new reply that the caller frees.
VariableTable GetMetrics(VariableTable request);

// The unit rows of GetMetrics for list (borrowed; may be null), added to *reply. For tests.
void addUnitMetrics(VariableTable* reply, const DeviceRecord* list);
