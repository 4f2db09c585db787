// Module manager: finds the plug-in modules under mods/, loads their libraries, keeps the module
// list, and is the one place that calls module exports (startup, device list, requests, status,
// information, shutdown/reset). Also hands modules the ModuleServices table.
//
// Thread safety: loadModules, startModules, callAcceptDeviceList, moduleShutdownProcedures and
// unloadModules run on the main thread; request threads may already run during startModules and
// the device list call (their module requests wait for the start, see holdModuleRequests), and
// only then. holdModuleRequests and the start's release take their own lock. callModule, addModuleTabs,
// getGlobalStatus, gatherModuleInformation and the list readers may run on any request thread;
// the list itself is only changed by loadModules/unloadModules. getGlobalStatus serializes on the
// status lock. A record's enabled flag is changed only by the preferences page, which then
// restarts the server; saveModuleSettings writes that record's settings file, and callers
// serialize changes of the same record.
#pragma once

#include <cstdint>

#include "common/module_abi.h"
#include "common/variable_table.h"

// One module folder. The record and its texts are malloc'ed and owned by the list.
struct ModuleRecord {
  char* name;             // folder and library name, e.g. "Brivo"
  char* displayName;      // "ModuleName" of the settings ("(missing)" when absent); null = none
  int enabled;            // 1 when the module takes part in this run
  int tabOrder;           // 1..100, lower first
  uint32_t globalStatus;  // last getGlobalModStatus answer; accessed through std::atomic_ref
  void* library;          // loaded library, null when not loaded
  ModuleRecord* next;
};

// Scans mods/ under the working folder, builds the ordered list and loads enabled libraries.
void loadModules();
// Closes every library and frees the list.
void unloadModules();
// Head of the ordered module list (borrowed; valid until unloadModules).
ModuleRecord* moduleList();
// Name of the first enabled module in list order (whether or not its library loaded), or null.
// Borrowed; valid until unloadModules.
const char* firstEnabledModuleName();

// Calls the startup export of every enabled module (that loaded) with the ModuleServices table.
void startModules();
// The request side starts before the modules have started and been given their devices, so a
// request could reach a module that refuses it (not started) or knows none of its devices yet.
// From this call until callAcceptDeviceList has run (or the modules are shut down or unloaded),
// callModule waits for that instead. The server calls it after loading the modules; without it
// callModule never waits.
void holdModuleRequests();
// Hands the device list head (borrowed; the server keeps it) to the acceptDeviceList export of
// every enabled module, then lets the requests held by holdModuleRequests through. Called by the
// device scan's hook after each scan.
void callAcceptDeviceList(DeviceRecord* list);
// Banner, then doResetProcedures (restarting) or doShutdownProcedures for each loaded module.
void moduleShutdownProcedures(bool restarting);

// Passes request (borrowed) to the getValuesForParametersFromMod export of the enabled module
// named exactly moduleName. Returns a new reply table (caller frees), never null: a missing
// export, a null answer or an unknown module give the error panel ("Message", "HTMLPath"), also
// printed through logServerError. method is used in the messages only. While the modules' start
// is held (holdModuleRequests), waits for it first, at most kModuleStartWait.
VariableTable callModule(VariableTable request, const char* moduleName, const char* method);
// Whether method of the enabled module named exactly moduleName changes data, as the module's
// methodAltersData export says: 1 it does, 0 it only reads, -1 no such module or method (the
// request gets an error panel and changes nothing). A module without the export counts every
// method as changing data.
int moduleMethodAltersData(const char* moduleName, const char* method);
// Adds "HaveGlobalVersion", one name/image row per enabled module (the image chosen by the
// module's last status and whether it is the reply's "CalledModule") and the row count "Module"
// to reply; returns the table (reply passes in and out).
VariableTable addModuleTabs(VariableTable reply);
// Combined status of the enabled modules (0 OK, 1 warning, 2 error, 255 unknown); asks the
// modules again only when force is set or the last answer is 10 s old. A changed value advances
// serverControl().networkChanges.
uint32_t getGlobalStatus(bool force);
// Calls every enabled module's gatherInformation export with a table holding "CalledModule" and
// the tab rows (freed afterwards).
void gatherModuleInformation();
// Writes record's enabled flag (and a missing tab order) into mods/<name>/<name>Settings.ini,
// keeping every other line. The file is replaced whole, so a failure leaves the old one.
// 0 ok, -1 failure (file missing or not writable; printed).
int saveModuleSettings(ModuleRecord* record);
// Prints the module table ("+ Module ..." lines).
void printModuleTable();
// The ten-entry table handed to modules; static, valid for the whole process.
const ModuleServices* moduleServices();
