// The controllers' diagnostics dump: prepared with WRITE BUFFER 0xD3, then read with READ BUFFER
// mode 2 buffer 0x56 (a 32-bit length, then text lines). Shared by `controller display -diag`
// and the GetDiagnosticsDump download.
//
// Thread safety: a request thread holding the admission gate as a writer (0xD3 changes what the
// controller holds).
#pragma once

#include <cstdint>
#include <string>

#include "modules/brivo/pair_access.h"

namespace brivo {

// Longest dump read; a longer one is cut.
inline constexpr uint32_t kMaxDiagnosticsDump = 1u << 20;

// Prepares and reads the dump; *text receives its text (without the length word). Returns the
// first failing command's result (failed receives it), kResultBadArguments when memory runs out.
int readDiagnosticsDump(const PairTarget& pair, std::string* text, ControllerCommand* failed);

}  // namespace brivo
