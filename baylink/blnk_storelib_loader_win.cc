// storelib through LoadLibraryEx. A bare name is looked for in the application's folder and the
// system folder only, never in the working folder or PATH, where anyone could place a
// storelib.dll for a process that runs as an administrator; a path is loaded as given.
#include <windows.h>

#include <cstdio>

#include "baylink/blnk_storelib.h"

storelib::ProcessLibCommandFn blnkLoadStorelibEntry(const std::string& path, std::string* why) {
  const bool bare = path.find_first_of("\\/:") == std::string::npos;
  const DWORD flags = bare ? LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                           : LOAD_WITH_ALTERED_SEARCH_PATH;
  // No "cannot find the library" dialog box in a service.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library = LoadLibraryExA(path.c_str(), nullptr, flags);
  const DWORD error = GetLastError();
  SetErrorMode(oldMode);
  if (library == nullptr) {
    char text[64];
    std::snprintf(text, sizeof text, "cannot be loaded (error %lu)", static_cast<unsigned long>(error));
    *why = text;
    return nullptr;
  }
  auto entry = reinterpret_cast<storelib::ProcessLibCommandFn>(GetProcAddress(library, storelib::kEntryName));
  if (entry == nullptr) {
    *why = "no entry point";
    FreeLibrary(library);
  }
  return entry;
}
