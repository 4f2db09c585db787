// Module libraries through LoadLibrary/GetProcAddress/FreeLibrary; see module_library.h.
#include <windows.h>

#include <cstdio>

#include "server/request/module_library.h"

const char kModuleLibrarySuffix[] = ".dll";

void* openModuleLibrary(const char* path, std::string* error) {
  if (path == nullptr) {
    if (error != nullptr) *error = "no path";
    return nullptr;
  }
  // LOAD_WITH_ALTERED_SEARCH_PATH: the DLLs a module brings along are looked for in its own
  // folder (mods\<name>\) before the program's, as dlopen finds them through the module's RPATH.
  // No error dialog box: a service has no one to click it away.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD code = GetLastError();
  SetErrorMode(oldMode);
  if (library == nullptr && error != nullptr) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
      reason.pop_back();
    char number[32];
    std::snprintf(number, sizeof number, "error %lu", static_cast<unsigned long>(code));
    *error = std::string(path) + ": " + (reason.empty() ? std::string(number) : reason + " (" + number + ")");
  }
  return library;
}

void* findModuleExport(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeModuleLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}
