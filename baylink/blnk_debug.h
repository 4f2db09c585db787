// The library's debug file and its printf-style helpers for the rest of the library.
//
// blnkTrace writes only when debugging is on (iDebugMode != 0), through ShowDebug.
//
// Thread safety: none; callers serialise every library call.
#pragma once

#include <cstddef>

#include "baylink/blnk_internal.h"

inline constexpr const char kBlnkDebugFile[] = "blnkDebug.txt";
inline constexpr size_t kBlnkDebugPiece = 75;
inline constexpr int kBlnkSizeCheckEvery = 500;
inline constexpr long kBlnkDebugLimit = 10485760;  // 10 MiB

void blnkTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes a hex dump to the debug file when debugging is on.
void blnkTraceDump(const unsigned char* data, int length);
