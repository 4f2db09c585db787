// The server's own methods: the fixed, ordered table of method names and handlers that requests
// with module "server" (or no module) are dispatched through. Names match exactly, case-sensitive;
// the first match wins.
//
// Thread safety: the table is constant; handlers guard their own shared data.
#pragma once

#include "server/components.h"

// Handler of method, or null when the method is not in the table or not available in this build.
ServerMethod findServerMethod(const char* method);

// Whether the table marks method as changing data (settings saves, clears, tests, rescans,
// password changes, taking over a device): 1 when it does, 0 for a method that only reads, -1
// for a method the table does not have. The one place that says which server methods a forged
// browser request must not reach (forgery_guard.h).
int serverMethodAltersData(const char* method);

// Name of row i of the table (0-based), or null past its end; for listings and tests.
const char* serverMethodName(int index);
