// The network's entry points for the rest of the server: the take-over of a unit by a user
// (server method and module service TakeDeviceControl) and the starts of the unit-list send (by
// the device scan, and by modules through their service table).
//
// Thread safety: any thread.
#pragma once

#include <cstdint>

#include "common/variable_table.h"

// Server method and module service TakeDeviceControl. Request: "ModDeviceName" and the forwarded
// request as "NumberOfPostParameters", "PostParameter%dField", "PostParameter%dValue". Every
// unit of that name (ignoring case) becomes MINE here; when any matched, the other servers are
// told (they let this server monitor it). The forwarded request is then routed like any request;
// its reply, with "TookOverDeviceControl" = "true"/"false", is returned (caller frees). A
// malformed count or a take-over asked again from inside the forwarded request gets the error
// panel and changes nothing.
VariableTable TakeDeviceControl(VariableTable request);

// The scan's hook: starts the unit-list send on the thread "scanSystem".
void startScanUnitListSender();
// Module service: starts the unit-list send on the thread
// "handler_AcceptDeviceList/handler_SendDeviceList". Returns the handle, 0 when it did not start
// (for instance while the network doesn't run).
uint64_t sendDeviceListService();
