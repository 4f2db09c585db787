// Windows back end of the named semaphores (named_semaphore.h): kernel semaphores
// "Global\<prefix>sem<number>" (shared_object_win.h) with a maximum count of 1, which is exactly
// the wake-up flag the header describes: a post while one is pending is refused by the kernel.
#include <windows.h>

#include <new>

#include "common/debug.h"
#include "common/named_semaphore.h"
#include "common/shared_object_win.h"

namespace {

constexpr uint32_t kSemaphoreDebug = 0x40012;  // smem, Server, level 2

HANDLE asHandle(void* handle) { return static_cast<HANDLE>(handle); }

}  // namespace

std::string namedSemaphoreObjectName(uint32_t name) { return sharedObjectName("sem", name); }

std::unique_ptr<NamedSemaphore> NamedSemaphore::create(uint32_t name) {
  std::string object = namedSemaphoreObjectName(name);
  ObjectSecurity security;
  if (object.empty() || security.attributes() == nullptr) return nullptr;
  HANDLE semaphore = CreateSemaphoreA(security.attributes(), 0, 1, object.c_str());
  if (semaphore == nullptr) {
    debugPrint(kSemaphoreDebug, "smem: create %s: error %lu\n", object.c_str(), GetLastError());
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(semaphore);
    return nullptr;
  }
  std::unique_ptr<NamedSemaphore> result(new (std::nothrow) NamedSemaphore(semaphore, object, true));
  if (!result) CloseHandle(semaphore);
  return result;
}

std::unique_ptr<NamedSemaphore> NamedSemaphore::open(uint32_t name) {
  std::string object = namedSemaphoreObjectName(name);
  if (object.empty()) return nullptr;
  HANDLE semaphore = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, object.c_str());
  if (semaphore == nullptr) return nullptr;
  std::unique_ptr<NamedSemaphore> result(new (std::nothrow) NamedSemaphore(semaphore, object, false));
  if (!result) CloseHandle(semaphore);
  return result;
}

NamedSemaphore::~NamedSemaphore() { CloseHandle(asHandle(handle_)); }

// Refused (ERROR_TOO_MANY_POSTS) when a count is pending already: that is the intended no-op.
// Windows names live as long as any handle, ours included: the name always leads here.
bool NamedSemaphore::stillNamed() const { return true; }

void NamedSemaphore::post() { (void)ReleaseSemaphore(asHandle(handle_), 1, nullptr); }

bool NamedSemaphore::wait(int timeoutMs) {
  const DWORD timeout = timeoutMs <= 0 ? 0 : static_cast<DWORD>(timeoutMs);
  return WaitForSingleObject(asHandle(handle_), timeout) == WAIT_OBJECT_0;
}

void NamedSemaphore::drain() {
  while (WaitForSingleObject(asHandle(handle_), 0) == WAIT_OBJECT_0) {
  }
}

// Names vanish with the last handle: what is still there belongs to a live process.
int removeNamedSemaphore(uint32_t) { return 1; }
