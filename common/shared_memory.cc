// The platform-independent part of the named shared memory: the prefix and the copies in and
// out of a mapped view; see shared_memory.h.
#include "common/shared_memory.h"

#include <cstdlib>
#include <cstring>

std::string sharedObjectPrefix() {
  const char* prefix = std::getenv("KESTROVA_SHM_PREFIX");
  return prefix == nullptr || prefix[0] == '\0' ? std::string("kestrova.") : std::string(prefix);
}

int writeSharedMemory(const void* buffer, size_t size, SharedMemoryRecord* record) {
  if (record == nullptr || size > record->size || (size > 0 && buffer == nullptr)) return 1;
  if (size > 0) std::memcpy(record->view, buffer, size);
  return 0;
}

int readSharedMemory(void* buffer, size_t size, const SharedMemoryRecord* record) {
  if (record == nullptr || size > record->size || (size > 0 && buffer == nullptr)) return 1;
  if (size > 0) std::memcpy(buffer, record->view, size);
  return 0;
}
