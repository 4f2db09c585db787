// Module-wide state of the Brivo RAID module: the services table the server handed to startup,
// the life-cycle flags, the global status, the device list head, the admission gate and the
// module's files. One instance per loaded module (the library is loaded afresh on every server
// restart, so nothing here outlives a restart).
//
// Also the two ways the module prints: debug lines go through the server's debug print (entry 3
// of ModuleServices, gated by the debug code); operator messages go to standard output.
//
// Thread safety: the flags, the status and the list head are atomics, read without locks; the
// gate and the files guard themselves. services is written by startup only.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/device_list.h"
#include "common/module_abi.h"
#include "modules/brivo/admission_gate.h"
#include "modules/brivo/module_files.h"

namespace brivo {

// Debug codes of the module's lines.
inline constexpr uint32_t kDebugModuleLife = 0x20021;
inline constexpr uint32_t kDebugDeviceAcceptance = 0x20022;
inline constexpr uint32_t kDebugStatusDecisions = 0x20024;

// Event IDs the module raises itself.
inline constexpr uint32_t kEventIdStartup = 0xA01;
inline constexpr uint32_t kEventIdCommFailure = 0xA03;
inline constexpr uint32_t kEventIdCommOk = 0xA04;

// Status values of a solution and of the module.
inline constexpr uint32_t kStatusOk = 0;
inline constexpr uint32_t kStatusWarning = 1;
inline constexpr uint32_t kStatusError = 2;
inline constexpr uint32_t kStatusNoOpinion = 254;
inline constexpr uint32_t kStatusUnknown = 255;

struct ModuleState {
  std::atomic<const ModuleServices*> services{nullptr};
  std::atomic<bool> running{false};
  // Set while acceptDeviceList runs: communication failures are not counted then.
  std::atomic<bool> accepting{false};
  // Set once acceptDeviceList has finished; the monitor walks the list only while it is set.
  std::atomic<bool> devicesAccepted{false};
  // Cleared while a monitor cycle runs. Starts set: a module without a monitor (no devices)
  // has no cycle to finish, and shutdown waits for this flag.
  std::atomic<bool> monitorCycleComplete{true};
  // Set while a monitor thread runs (shutdown waits for its cycle only then).
  std::atomic<bool> monitorStarted{false};
  std::atomic<bool> statusUpdateRequested{false};
  std::atomic<bool> claimChanged{false};
  // Set when a saved configuration change or a claim change means browsers showing the monitor
  // page must reload it; PingPage reads and clears it (pair_access.h).
  std::atomic<bool> configurationChanged{false};
  std::atomic<uint32_t> globalStatus{kStatusOk};
  // The server's device list as last handed to acceptDeviceList (borrowed from the server).
  std::atomic<DeviceRecord*> deviceList{nullptr};

  AdmissionGate gate{&running};
  ModuleFiles files;
};

// The one instance.
ModuleState& moduleState();

// Raises an event through ModuleServices entry 1; 1 when the module has no services.
int raiseModuleEvent(const char* source, const char* text, uint32_t severity, uint32_t eventTime,
                     uint32_t eventId, uint8_t syncFlag);

// A debug line through the server's debug print (nothing when the module has no services).
void modulePrint(uint32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
// An operator message on standard output (flushed at once).
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace brivo
