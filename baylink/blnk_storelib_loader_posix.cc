// storelib through the dynamic loader.
#include <dlfcn.h>

#include "baylink/blnk_storelib.h"

storelib::ProcessLibCommandFn blnkLoadStorelibEntry(const std::string& path, std::string* why) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    *why = error != nullptr ? error : "cannot be loaded";
    return nullptr;
  }
  auto entry = reinterpret_cast<storelib::ProcessLibCommandFn>(dlsym(handle, storelib::kEntryName));
  if (entry == nullptr) {
    *why = "no entry point";
    dlclose(handle);
  }
  return entry;
}
