// The exports of the Brivo RAID module (the eight of the module interface and methodAltersData), the only
// symbols the library shows the server (cmake/module_exports.map). Each forwards to the module's own code.
//
// Thread safety: as the module interface says (common/module_abi.h): startup, acceptDeviceList
// and the shutdown procedures on the server's main thread; the rest from request threads.
#include "common/device_list.h"
#include "common/module_abi.h"
#include "modules/brivo/device_acceptance.h"
#include "modules/brivo/method_table.h"
#include "modules/brivo/module_lifecycle.h"
#include "modules/brivo/module_state.h"

extern "C" {

KESTROVA_MODULE_EXPORT int startup(const ModuleServices* services) { return brivo::startModule(services); }

// The server ignores the result (0, or 1 when memory ran out), so the export has no return value.
KESTROVA_MODULE_EXPORT void acceptDeviceList(DeviceRecord* list) { brivo::acceptDevices(list); }

KESTROVA_MODULE_EXPORT VariableTable getValuesForParametersFromMod(VariableTable request) {
  return brivo::dispatchRequest(request);
}

KESTROVA_MODULE_EXPORT void gatherInformation(VariableTable table) { brivo::gatherModuleInformation(table); }

KESTROVA_MODULE_EXPORT uint32_t getGlobalModStatus() {
  return brivo::moduleState().globalStatus.load(std::memory_order_relaxed);
}

KESTROVA_MODULE_EXPORT int suspendDeviceModActivity(const int32_t* flag) {
  return brivo::suspendModuleActivity(flag);
}

KESTROVA_MODULE_EXPORT void doResetProcedures() { brivo::shutdownModule(); }

KESTROVA_MODULE_EXPORT void doShutdownProcedures() { brivo::shutdownModule(); }

// The method table's own marks: a method admitted as a reader only reads.
KESTROVA_MODULE_EXPORT int methodAltersData(const char* method) {
  const brivo::MethodEntry* entry = brivo::findMethod(method);
  if (entry == nullptr) return -1;
  return entry->read ? 0 : 1;
}

}  // extern "C"
