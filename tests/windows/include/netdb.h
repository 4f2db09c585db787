// Windows test build: see winsock_compat.h.
#pragma once
#include "winsock_compat.h"
