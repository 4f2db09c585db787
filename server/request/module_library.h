// Shared-library loading for the module manager: open a module library, look up an export by
// name, close it. The one place that knows the platform's dynamic loader.
//
// Thread safety: any thread; the loader serializes itself. A handle must not be closed while
// another thread still calls into the library.
#pragma once

#include <string>

// Opens the library at path with every symbol resolved at once and kept local to the library.
// Returns the handle, or null with the loader's reason in *error (error may be null).
void* openModuleLibrary(const char* path, std::string* error);
// Address of the export name in library, or null when library is null or has no such export.
void* findModuleExport(void* library, const char* name);
// Closes the library; null is ignored.
void closeModuleLibrary(void* library);
// The file name ending of a module library on this platform: ".so", or ".dll" on Windows.
extern const char kModuleLibrarySuffix[];
