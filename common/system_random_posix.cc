// getrandom(2) back end of system_random.h; never blocks.
#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "common/system_random.h"

bool systemRandomBytes(void* buffer, size_t size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t got = getrandom(bytes + done, size - done, GRND_NONBLOCK);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}
