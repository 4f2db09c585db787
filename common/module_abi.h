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

// Marks a module's entry point: modules are built with hidden visibility (kestrova_add_module),
// so only what carries this mark is exported.
#define KESTROVA_MODULE_EXPORT __attribute__((visibility("default")))

// Module exports (each optional unless the server says otherwise).
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
