// Request router: answers every admitted request table. "module" absent or "server" goes to the
// server method table; any other module name goes to that module's getValuesForParametersFromMod
// export through the module manager. Every reply carries "HTMLPath".
//
// Thread safety: runs on up to ten request threads at once; handlers guard their own data.
#pragma once

#include "common/variable_table.h"

// Returns a new reply table (caller frees); never null when the request has a "method".
VariableTable routeRequest(VariableTable request);
// The server method dispatch; unknown methods get the error panel.
VariableTable callServerMethod(VariableTable request);
// True for "127.0.0.1", texts beginning with "::1", and this server's own addresses.
bool isLocalAddress(const char* address);
