// Windows back end of private_file.h: files take the access list of their folder, which the
// installer sets; nothing is changed per file.
#include <cstdio>
#include <string>

#include "common/private_file.h"

bool applyPrivateMode(int, mode_t, bool) { return true; }

bool givePolicyMode(const char*, int) { return true; }

FILE* openPrivateFile(const char* path, const char* fopenMode, mode_t) {
  if (path == nullptr || fopenMode == nullptr) return nullptr;
  // The C runtime knows no "e" (close-on-exec): its handles are not inherited unless asked for.
  std::string mode;
  for (const char* c = fopenMode; *c != '\0'; ++c) {
    if (*c != 'e') mode.push_back(*c);
  }
  return std::fopen(path, mode.c_str());
}
