// Windows back end of system_random.h: the system's preferred generator through bcrypt.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <climits>

#include "common/system_random.h"

bool systemRandomBytes(void* buffer, size_t size) {
  if (size > ULONG_MAX) return false;
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}
