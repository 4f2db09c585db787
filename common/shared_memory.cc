// The platform-independent part of the named shared memory: the prefix, the copies in and out of
// a mapped view, and the form of private section names; see shared_memory.h.
#include "common/shared_memory.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {
// Per thread: a failure is reported by the thread that met it, and other threads' calls must
// not overwrite its cause meanwhile.
thread_local std::string gLastError;
thread_local bool gHasThreadPrefix = false;
thread_local std::string gThreadPrefix;
}  // namespace

std::string sharedMemoryError() { return gLastError; }

void setSharedMemoryError(std::string text) { gLastError = std::move(text); }

ScopedSharedObjectPrefix::ScopedSharedObjectPrefix(std::string prefix)
    : previous_(std::move(gThreadPrefix)), hadPrevious_(gHasThreadPrefix) {
  gThreadPrefix = std::move(prefix);
  gHasThreadPrefix = true;
}

ScopedSharedObjectPrefix::~ScopedSharedObjectPrefix() {
  gThreadPrefix = std::move(previous_);
  gHasThreadPrefix = hadPrevious_;
}

std::string sharedObjectPrefix() {
  if (gHasThreadPrefix) return gThreadPrefix.empty() ? std::string("kestrova.") : gThreadPrefix;
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

bool isSectionNameOf(std::string_view name, uint32_t base) {
  const std::string number = std::to_string(base);
  if (name == number) return true;
  if (name.size() != number.size() + 1 + kPrivateSectionNameDigits ||
      name.substr(0, number.size()) != number || name[number.size()] != '.') {
    return false;
  }
  for (char c : name.substr(number.size() + 1)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}
