// Debug print facility: one print routine for every diagnostic line of the process, gated by a
// 32-bit debug code read as sssssmml (subsystem bits 12-31, module bits 4-11, level bits 0-3),
// with optional time and tag prefixes, written to standard output or a debug file.
//
// Also the server's option parsing (initDebug); the small date and time texts that the event
// log, the network page and the syslog sender share come with it from date_text.h.
//
// Thread safety: debugPrint may be called from any thread; one process-wide lock keeps each line
// (prefixes and text) whole. initDebug and closeDebug run only at start-up and shutdown.
#pragma once

#include <cstdint>

#include "common/date_text.h"

// Levels, modules and the subsystems used by the server itself.
inline constexpr uint32_t kDebugLevel1 = 0x1;
inline constexpr uint32_t kDebugLevel2 = 0x2;
inline constexpr uint32_t kDebugLevel4 = 0x4;
inline constexpr uint32_t kDebugLevel8 = 0x8;
inline constexpr uint32_t kDebugModuleServer = 0x10;
inline constexpr uint32_t kDebugModuleRaid = 0x20;
inline constexpr uint32_t kDebugModuleJbod = 0x40;

// True when code has a level, a module and a subsystem bit.
bool isLegalDebugCode(uint32_t code);

// Reads the options (argc/argv as given to the main loop, argv[0] being the service name) or,
// when there are no options, db/DebugSettings.db relative to the working folder. Prints the
// option messages on standard output. With "-x" it prints the exit line and calls exit(1).
void initDebug(int argc, const char* const* argv);
// Same as initDebug but returns instead of exiting on "-x"; *exitRequested says whether "-x"
// was given. Used by tests and by callers that must unwind first.
void initDebugNoExit(int argc, const char* const* argv, bool* exitRequested);

// printf-style; returns the number of characters written, 0 when the line was filtered out.
int debugPrint(uint32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
void flushDebug();
void setDebugPrefixes(bool on);
void closeDebug();
// Copies the debug file (when output goes to a file) to destination. Returns 0 on success.
int copyDebugFile(const char* destination);

// State queries for the debug page and the tech-support archive.
uint32_t debugEnabledCode();
bool debugToFile();
// Borrowed; empty when output is not a file. Valid until the next initDebug.
const char* debugFileName();

// Tag name of a line's code ("net", "ses", ...), or "" (never null).
const char* debugTagName(uint32_t code);

// Prints the help text of the server's options on standard output.
void printServerHelp();
