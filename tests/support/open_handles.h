// How many descriptors (Linux) or kernel handles (Windows) the test process holds, for tests that
// check that what they started closed every socket and file again. Under Wine /proc/self/fd would
// count the emulator's own descriptor cache, which grows on its own; the process's handle count
// is what a Windows program leaks into.
//
// Thread safety: any thread; the count is only meaningful while no other thread opens or closes.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

namespace test_support {

// The count, or -1 when it cannot be read.
inline int openHandles() {
#ifdef _WIN32
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
#else
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
#endif
}

}  // namespace test_support
