// Reading the debug options: the server's command-line arguments or, when it has none, the
// settings file db/DebugSettings.db. Internal to the debug print facility (debug.cc), which applies
// the result; kept apart so that parsing can be tested without touching the process-wide state.
//
// Every function prints its operator messages on standard output as it goes, in argument order.
// Thread safety: none needed; called from initDebug only (and tests).
#pragma once

#include <cstdint>
#include <string>

// Settings file read when the server has no arguments, relative to the working folder.
inline constexpr const char kDebugSettingsPath[] = "db/DebugSettings.db";

// What the options ask for. code is 0 when no legal code was given.
struct DebugOptions {
  uint32_t code = 0;
  bool timeRequested = false;
  bool tagRequested = false;
  bool exitRequested = false;
  bool haveFileName = false;
  std::string fileName;
};

// Parses text as a hexadecimal code: an optional "0x"/"0X", then one or more hexadecimal digits and
// nothing else, at most 32 bits. False (and *code untouched) for anything else, so that a mistyped
// option is reported instead of being read as a partial number.
bool parseDebugCode(const char* text, uint32_t* code);

// Options from argv[1] .. argv[argc - 1] (argv[0] is the service name). "-h" prints the help text
// at once.
// REQUIRES: argv holds argc valid strings.
DebugOptions parseDebugArguments(int argc, const char* const* argv);

// Options from the settings file at path; a missing file gives no options and prints nothing.
DebugOptions readDebugSettingsFile(const char* path);
