// The module's life: start-up with the server's services, the tech-support contribution, the
// suspension the server may ask for while it works on the devices, and the shutdown sequence
// (the same for a reset) with its console texts. The extern "C" exports (brivo_exports.cc) call
// these.
//
// Thread safety: startModule and shutdownModule run on the server's main thread, never at the
// same time as each other; gatherModuleInformation and suspendModuleActivity come from request
// threads and enter the admission gate as writers.
#pragma once

#include <cstdint>

#include "common/module_abi.h"
#include "common/variable_table.h"

namespace brivo {

// 1 when services is null or lacks entries 0 or 1 (nothing is started); else 0.
int startModule(const ModuleServices* services);
// Stops everything: waits for requests and the monitor, frees the module's items on the device
// list, ends the module's threads, writes and frees the files. Returns when fully stopped.
void shutdownModule();
// Writes Information/brivo.parameters: the monitor page with the server's pairs, each solution's
// controller information page and the main page, each request followed by its reply.
int gatherModuleInformation(VariableTable serverPairs);
// Holds the module still while *flag is non-zero (the module's threads suspended, the gate held).
int suspendModuleActivity(const int32_t* flag);

// Length of the shutdown's count-down (2000 ms) and of its wait steps (250 ms); tests shorten them.
void setShutdownTimingForTesting(int countdownMs, int waitStepMs);

inline constexpr char kArchiveFolder[] = "Information";
inline constexpr char kParametersFile[] = "%s/brivo.parameters";

}  // namespace brivo
