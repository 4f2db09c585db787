// The server's own methods: the fixed, ordered table of method names and handlers that requests
// with module "server" (or no module) are dispatched through. Names match exactly, case-sensitive;
// the first match wins.
//
// Thread safety: the table is constant; handlers guard their own shared data.
#pragma once

#include "server/components.h"

// Handler of method, or null when the method is not in the table or not available in this build.
ServerMethod findServerMethod(const char* method);

// Name of row i of the table (0-based), or null past its end; for listings and tests.
const char* serverMethodName(int index);
