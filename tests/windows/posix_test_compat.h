// The few POSIX calls that the unit tests use to set up their surroundings (environment
// variables, temporary folders), for the Windows build of the tests. Forced into every test
// program of the Windows build (cmake/KestrovaWindows.cmake); the code under test never sees it.
//
// Thread safety: as the C runtime calls under it.
#pragma once

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// As mkdtemp(3): the trailing "XXXXXX" replaced, the folder created; null on failure.
inline char* mkdtemp(char* pattern) {
  const size_t length = std::strlen(pattern);
  if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string tail = std::to_string((_getpid() * 7919u + ++counter * 104729u) % 1000000u);
    const std::string padded = std::string(6 - tail.size(), '0') + tail;
    std::memcpy(pattern + length - 6, padded.data(), 6);
    if (_mkdir(pattern) == 0) return pattern;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}
#endif
