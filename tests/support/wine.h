// Whether a Windows test program runs under Wine rather than on Windows, for the few checks of
// something Windows does and Wine cannot (each skips with the exact reason, under Wine only).
//
// Thread safety: any thread.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace test_support {

// Wine keeps no access list on a file: it makes one up from the Unix mode bits each time it is
// asked (the owner, LocalSystem and Everyone for the "other" bits), never protected, and a list
// set through a handle is lost when the handle is closed.
inline constexpr char kWineKeepsNoFileAccessLists[] =
    "Wine keeps no access list on files (it derives one from the Unix mode bits), so an "
    "owner-only list cannot be read back";

// Wine's datagram sockets on the loopback interface, where Windows behaves otherwise.
inline constexpr char kWineLoopbackGroupIsSilent[] =
    "under Wine a socket bound to 127.0.0.1 that joined a group on that interface receives none of "
    "the group's datagrams";
inline constexpr char kWineBindsAbsentAddresses[] =
    "under Wine a datagram socket binds an address the host does not have";
inline constexpr char kWineLoopbackSourceIsFirst[] =
    "under Wine a datagram sent from a socket bound to 127.0.0.2 arrives with the source 127.0.0.1";

// True in a Windows program run by Wine (its ntdll exports wine_get_version); false on Windows
// and in every Linux program.
inline bool underWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace test_support
