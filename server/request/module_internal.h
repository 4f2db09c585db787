// Internals shared by the module manager's files (module_manager.cc, module_calls.cc,
// module_settings.cc, module_services.cc) and its tests. Not for other components.
//
// Thread safety: as module_manager.h; the status clock is set only by tests while no status is
// being computed.
#pragma once

#include <chrono>
#include <string>

#include "common/variable_table.h"
#include "server/request/module_manager.h"

// Longest wait of a module request for the modules' start and first device list
// (holdModuleRequests); reached only when a module or the scan hangs.
inline constexpr std::chrono::seconds kModuleStartWait{60};
// Waits until the modules' start is no longer held, at most limit; true when it is not held.
bool waitForModuleStart(std::chrono::milliseconds limit);
// Lets held requests through (device list handed over, shutdown, unload).
void releaseModuleRequests();

// Template of every error reply of the module manager.
inline constexpr const char kErrorPanelTemplate[] = "../Common/CommonErrorPanel.htm";

// "mods/<name>/<name>.so" (".dll" on Windows, module_library.h) and "mods/<name>/<name>Settings.ini", relative to the working folder.
std::string moduleLibraryPath(const char* name);
std::string moduleSettingsPath(const char* name);

// The export name of a record's library, or null when it has no library or no such export.
void* findRecordExport(const ModuleRecord* record, const char* exportName);

// New reply {"Message" = text, "HTMLPath" = the error panel}; the text is also printed through
// logServerError. Caller frees.
VariableTable errorPanelReply(const char* text);

// Fills enabled, tabOrder and displayName of a new record from its settings file; creates the
// file with "ModuleEnabled=0" when it does not exist (the module then runs enabled this time).
void readModuleSettings(ModuleRecord* record);
// Tab order from its settings text: leading decimal digits; none, 0, negative or above 100 give
// 100.
int parseTabOrder(const char* text);

// Combines module statuses in list order: a larger value replaces the combined one, except
// that 255 (unknown) replaces only 0 and, once reached, stays.
uint32_t combineModuleStatus(uint32_t combined, uint32_t value);

// The global status cache: the clock it reads (null = steady_clock::now; a test seam), and a
// reset that makes the next getGlobalStatus compute afresh. The remembered value stays, so a
// change after a reload still advances the change counter.
using ModuleStatusClock = std::chrono::steady_clock::time_point (*)();
void setModuleStatusClock(ModuleStatusClock clock);
void resetModuleStatusCache();
