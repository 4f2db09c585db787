// The host's system through the kernel's own version numbers; see host_system.h.
// GetVersionEx answers with the version the program's manifest claims to know (6.2 for a program
// without one), so the numbers come from RtlGetVersion, which tells the truth.
#include <windows.h>

#include <cstdio>

#include "modules/brivo/cli/host_system.h"

namespace brivo::cli {

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

}  // namespace

std::string hostSystemText() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto query = ntdll == nullptr ? nullptr
                                : reinterpret_cast<RtlGetVersionFn>(
                                      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (query == nullptr || query(&info) != 0) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "Windows variant %lu.%lu", static_cast<unsigned long>(info.dwMajorVersion),
                static_cast<unsigned long>(info.dwMinorVersion));
  return text;
}

bool hostHasOsRelease() { return false; }

}  // namespace brivo::cli
