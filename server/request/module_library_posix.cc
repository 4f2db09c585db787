// Module libraries through dlopen/dlsym/dlclose; see module_library.h.
#include <dlfcn.h>

#include "server/request/module_library.h"

const char kModuleLibrarySuffix[] = ".so";

void* openModuleLibrary(const char* path, std::string* error) {
  if (path == nullptr) {
    if (error != nullptr) *error = "no path";
    return nullptr;
  }
  dlerror();  // clear a reason left over from an earlier call
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr && error != nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "unknown reason";
  }
  return library;
}

void* findModuleExport(void* library, const char* name) {
  // A null handle would mean "search every loaded object" to dlsym: never look there.
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

void closeModuleLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}
