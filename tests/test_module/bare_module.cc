// A module with a startup export and nothing else, for the module manager's tests: requests to
// it must get the "missing export" reply and its status must count as 0.
#include "common/module_abi.h"

extern "C" KESTROVA_MODULE_EXPORT int startup(const ModuleServices* services) {
  return services != nullptr ? 0 : 1;
}
