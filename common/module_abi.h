// The boundary between the server and its plug-in modules: plain C structs and function types
// that both sides compile against. Modules are shared libraries loaded with dlopen from
// mods/<name>/<name>.so (LoadLibraryEx of mods\<name>\<name>.dll on Windows); every export is
// extern "C" and looked up by name.
//
// Ownership across the boundary:
// - Request tables belong to the server; a module borrows them for the call.
// - A reply table returned by getValuesForParametersFromMod passes to the server, which frees it.
// - EventRecords handed to dispatchEvent stay the caller's; the server copies what it keeps.
// - The device list belongs to the server; modules add ModDeviceItem units (malloc'ed), and free
//   their own at their shutdown procedure; the server frees whatever remains with the list.
// - The ModuleServices table stays valid while the module is loaded.
//
// Thread safety: exports are called from the main thread (startup, acceptDeviceList, shutdown
// procedures) and from up to ten request threads at once (getValuesForParametersFromMod), so a
// module must be safe for concurrent requests. The services may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/variable_table.h"

extern "C" {

struct DeviceRecord;  // common/device_list.h

// One event on its way to the notification channels; a record and its two texts are malloc'ed.
struct EventRecord {
  char* message;          // owned
  char* device;           // owned
  uint32_t concernLevel;  // 0 information, 1 warning, 2 error, 4 information passing every filter
  uint32_t eventTime;     // seconds since 1970 when it happened
  uint32_t raiseTime;     // seconds since 1970 when it was raised to the server
  uint32_t eventId;       // 0 = none
  uint8_t syncFlag;       // re-read from a device's own history
  // Set by the server on the copies it hands its notifiers (what a module puts here is ignored):
  // whether the record tells of a condition, the level the condition was raised with (capped at
  // 15), and which condition (server/events/condition_tracker.h). They sit in the padding after
  // syncFlag, so the layout and size that modules were built against stay as they were.
  uint8_t notice : 4;
  uint8_t noticeLevel : 4;
  uint16_t noticeCondition;
};
static_assert(sizeof(EventRecord) == (sizeof(void*) == 8 ? 40 : 28),
              "EventRecord is part of the module boundary: its size may not change");
// Modules built earlier read the fields at these places; new fields go into padding only.
static_assert(offsetof(EventRecord, message) == 0);
static_assert(offsetof(EventRecord, device) == sizeof(void*));
static_assert(offsetof(EventRecord, concernLevel) == 2 * sizeof(void*));
static_assert(offsetof(EventRecord, eventTime) == 2 * sizeof(void*) + 4);
static_assert(offsetof(EventRecord, raiseTime) == 2 * sizeof(void*) + 8);
static_assert(offsetof(EventRecord, eventId) == 2 * sizeof(void*) + 12);
static_assert(offsetof(EventRecord, syncFlag) == 2 * sizeof(void*) + 16);
static_assert(offsetof(EventRecord, noticeCondition) == 2 * sizeof(void*) + 18);

// Server requests through ModuleServices::serverRequest.
enum ServerRequestCode : uint32_t {
  kServerRequestRescan = 1,
  kServerRequestChangePassword = 2,
  kServerRequestVersion = 3,
  kServerRequestIpAddress = 4,
  kServerRequestHostName = 5,
};

// The ten entries handed to a module's startup export, in this order.
struct ModuleServices {
  int (*dispatchEvent)(const EventRecord* record);                                   // 0
  int (*raiseEvent)(const char* device, const char* message, uint32_t concernLevel,  // 1
                    uint32_t eventTime, uint32_t eventId, uint8_t syncFlag);
  void* reserved2;                                            // 2
  int (*debugPrint)(uint32_t code, const char* format, ...);  // 3
  void (*flushDebug)();                                       // 4
  void (*setDebugPrefixes)(bool on);                          // 5
  // Takes over a device and answers the request forwarded with it; reply owned by the caller.
  VariableTable (*takeDeviceControl)(VariableTable request);  // 6
  // Starts the thread that sends this server's device list; 0 when it did not start.
  uint64_t (*sendDeviceList)();  // 7
  void* reserved8;               // 8
  // See ServerRequestCode; returns a new table (caller frees) or null.
  VariableTable (*serverRequest)(uint32_t request, VariableTable table);  // 9
};
// A module finds each entry by its position: ten pointer-sized slots, in the order numbered above.
static_assert(sizeof(ModuleServices) == 10 * sizeof(void*), "ModuleServices holds ten entries");
static_assert(offsetof(ModuleServices, dispatchEvent) == 0 * sizeof(void*));
static_assert(offsetof(ModuleServices, raiseEvent) == 1 * sizeof(void*));
static_assert(offsetof(ModuleServices, reserved2) == 2 * sizeof(void*));
static_assert(offsetof(ModuleServices, debugPrint) == 3 * sizeof(void*));
static_assert(offsetof(ModuleServices, flushDebug) == 4 * sizeof(void*));
static_assert(offsetof(ModuleServices, setDebugPrefixes) == 5 * sizeof(void*));
static_assert(offsetof(ModuleServices, takeDeviceControl) == 6 * sizeof(void*));
static_assert(offsetof(ModuleServices, sendDeviceList) == 7 * sizeof(void*));
static_assert(offsetof(ModuleServices, reserved8) == 8 * sizeof(void*));
static_assert(offsetof(ModuleServices, serverRequest) == 9 * sizeof(void*));

// Marks a module's entry point: modules are built with hidden visibility (kestrova_add_module),
// so only what carries this mark is exported.
#define KESTROVA_MODULE_EXPORT __attribute__((visibility("default")))

// Module exports, looked up by name (module_manager.cc) each time the server needs one. Only
// getValuesForParametersFromMod is required for a module to answer requests: without it every
// request to the module gets the error panel "getValuesForParametersFromMod is missing from
// module: NAME". Every other export is optional and a missing one is skipped:
//
//   export                         type                       called
//   startup                        ModuleStartupFn            once per server start, enabled modules
//   acceptDeviceList               ModuleAcceptDeviceListFn   after each device scan
//   getValuesForParametersFromMod  ModuleGetValuesFn          every request naming the module (required)
//   methodAltersData               ModuleMethodAltersDataFn   before a browser's request (absent: all alter)
//   gatherInformation              ModuleGatherInformationFn  when the tech-support archive is built
//   getGlobalModStatus             ModuleGetGlobalStatusFn    when the global status is computed
//   suspendDeviceModActivity       ModuleSuspendActivityFn    never by the server (for other tools)
//   doResetProcedures              ModuleResetFn              at shutdown before a restart
//   doShutdownProcedures           ModuleShutdownFn           at shutdown when the server stops
typedef int (*ModuleStartupFn)(const ModuleServices* services);
typedef void (*ModuleAcceptDeviceListFn)(DeviceRecord* list);
typedef VariableTable (*ModuleGetValuesFn)(VariableTable request);
typedef void (*ModuleGatherInformationFn)(VariableTable table);
typedef uint32_t (*ModuleGetGlobalStatusFn)();
// Holds the module still while *flag (owned by the server) is non-zero; returns 0.
typedef int (*ModuleSuspendActivityFn)(const int32_t* flag);
typedef void (*ModuleResetFn)();
typedef void (*ModuleShutdownFn)();
// "methodAltersData": whether the module's method (named as in a request's "method") changes
// data, so that the server refuses it to requests a browser may have been tricked into sending:
// 1 it does, 0 it only reads, -1 the module has no such method. A module without this export has
// every method counted as changing data.
typedef int (*ModuleMethodAltersDataFn)(const char* method);

}  // extern "C"
