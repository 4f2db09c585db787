// The server's diagnostic page (method GetDebugInfo): build flags, status and change counter,
// identity, dates and uptimes, restarts, users and servers, the device list with the module units
// on it, the CGI request slots, plus the notification channels' drop counts, the server network's
// authentication state with its dropped packets by reason, and the thread table.
//
// Thread safety: any request thread. The device list is read in place: it is not restructured
// while the server runs (see common/device_list.h).
#pragma once

#include <string>

#include "common/device_list.h"
#include "common/variable_table.h"

// Server method: takes the request (borrowed), returns a new reply that the caller frees.
VariableTable GetDebugInfo(VariableTable request);

// Where the page finds the server's device list. The owner of the list installs its accessor at
// start; without one (the default) the page lists no devices ("DeviceLoop" = "0").
typedef const DeviceRecord* (*DeviceListSource)();
void setDeviceListSource(DeviceListSource source);

// Adds the "DeviceLoop..." rows of list (borrowed; may be null) and their count to *reply.
void addDeviceRows(VariableTable* reply, const DeviceRecord* list);

// "%dD %dH %dM %dS" of a span of seconds (negative spans count as 0).
std::string upTimeText(long long seconds);
