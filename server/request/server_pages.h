// The server's own small pages of the method table: the main page (answered by the first enabled
// module), the request echo and the template loop samples used to check the front end, the
// keep-alive ping of open pages and the start page.
//
// Each is a server method: takes the request (borrowed) and returns a new reply that the caller
// frees.
//
// Thread safety: any request thread; the ping counter is atomic.
#pragma once

#include <cstdint>

#include "common/variable_table.h"

VariableTable GetMainPage(VariableTable request);
VariableTable testMethod(VariableTable request);
VariableTable TestLoop(VariableTable request);
VariableTable SessionPing(VariableTable request);
VariableTable LoadIndex(VariableTable request);

// The ping counter's current value (for tests and the diagnostic page).
uint32_t sessionPingCounter();
