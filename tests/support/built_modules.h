// Where the test modules of tests/test_module are built, and the file name the module manager looks
// for: <name>.so on Linux, <name>.dll on Windows (kModuleLibrarySuffix). Tests that copy a built
// module into a mods/<name>/ tree of their own take both from here, so the same test installs
// what the platform's server would load.
//
// Thread safety: reads the environment only.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>

#include "server/request/module_library.h"

namespace test_support {

// <name> plus the platform's module library ending.
inline std::string moduleFileName(const std::string& name) { return name + kModuleLibrarySuffix; }

// The build folder: KESTROVA_BUILD_DIR as CTest sets it, else the folder above the test program's
// own (test programs live in <build>/tests).
inline std::filesystem::path buildFolder() {
  if (const char* build = std::getenv("KESTROVA_BUILD_DIR"); build != nullptr) return build;
#ifdef _WIN32
  char program[MAX_PATH] = {};
  if (GetModuleFileNameA(nullptr, program, sizeof(program)) == 0) return ".";
  return std::filesystem::path(program).parent_path().parent_path();
#else
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
#endif
}

// The library of the built module name (TestModule, BareModule, UnmarkedModule).
inline std::filesystem::path builtModule(const std::string& name) {
  return buildFolder() / "mods" / name / moduleFileName(name);
}

}  // namespace test_support
