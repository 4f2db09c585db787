// The library's debug file and its printf-style helpers for the rest of the library.
//
// blnkTrace writes only when debugging is on (iDebugMode != 0), through ShowDebug.
//
// Thread safety: none; callers serialise every library call.
#pragma once

#include <cstddef>
#include <string>

#include "baylink/blnk_internal.h"

inline constexpr const char kBlnkDebugFile[] = "blnkDebug.txt";
inline constexpr size_t kBlnkDebugPiece = 75;
inline constexpr int kBlnkSizeCheckEvery = 500;
inline constexpr long kBlnkDebugLimit = 10485760;  // 10 MiB

void blnkTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes a hex dump to the debug file when debugging is on.
void blnkTraceDump(const unsigned char* data, int length);

// The debug file itself (blnk_debug_file_posix.cc, blnk_debug_file_win.cc): appends text in one
// write, or with truncate replaces the file's contents with it, never through a link planted
// under the name. False when the file could not be opened or written.
bool blnkWriteDebugFile(const std::string& text, bool truncate);
// The debug file's size in bytes, 0 when it does not exist.
long blnkDebugFileBytes();
