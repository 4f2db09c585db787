// POSIX back end of the named semaphores (named_semaphore.h): sem_open objects
// "/<prefix>sem<number>". glibc keeps them as /dev/shm/sem.<name>, which is where the access
// rights are set after creation (sem_open applies the umask to the mode).
#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "common/debug.h"
#include "common/named_semaphore.h"
#include "common/shared_object_posix.h"

namespace {

constexpr uint32_t kSemaphoreDebug = 0x40012;  // smem, Server, level 2
constexpr mode_t kObjectMode = 0660;

// glibc keeps the process's semaphore mappings in one table behind a lock of its own that the
// thread sanitizer cannot see; opening and closing under this lock as well keeps that visible.
std::mutex gMappingsLock;

sem_t* asSemaphore(void* handle) { return static_cast<sem_t*>(handle); }

sem_t* openSemaphore(const std::string& object, int flags) {
  std::lock_guard<std::mutex> guard(gMappingsLock);
  return flags != 0 ? sem_open(object.c_str(), flags, kObjectMode, 0) : sem_open(object.c_str(), 0);
}

void closeSemaphore(sem_t* semaphore) {
  std::lock_guard<std::mutex> guard(gMappingsLock);
  sem_close(semaphore);
}

std::string pathOf(const std::string& object) { return "/dev/shm/sem." + object.substr(1); }

// The inode behind the semaphore's name, 0 when there is none.
uint64_t identityOf(const std::string& object) {
  struct stat info {};
  return stat(pathOf(object).c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_ino) : 0;
}

timespec deadlineAfter(int timeoutMs) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long nanos = static_cast<long long>(now.tv_nsec) + static_cast<long long>(timeoutMs) * 1000000LL;
  now.tv_sec += static_cast<time_t>(nanos / 1000000000LL);
  now.tv_nsec = static_cast<long>(nanos % 1000000000LL);
  return now;
}

}  // namespace

std::string namedSemaphoreObjectName(uint32_t name) { return sharedObjectName("sem", name); }

std::unique_ptr<NamedSemaphore> NamedSemaphore::create(uint32_t name) {
  std::string object = namedSemaphoreObjectName(name);
  if (object.empty()) return nullptr;
  sem_t* semaphore = openSemaphore(object, O_CREAT | O_EXCL);
  if (semaphore == SEM_FAILED) {
    debugPrint(kSemaphoreDebug, "smem: create %s: %s\n", object.c_str(), std::strerror(errno));
    return nullptr;
  }
  const std::string path = pathOf(object);
  if (!grantPathAccess(path.c_str())) {
    debugPrint(kSemaphoreDebug, "smem: access of %s: %s\n", path.c_str(), std::strerror(errno));
    closeSemaphore(semaphore);
    sem_unlink(object.c_str());
    return nullptr;
  }
  std::unique_ptr<NamedSemaphore> result(new (std::nothrow) NamedSemaphore(semaphore, object, true));
  if (!result) {
    closeSemaphore(semaphore);
    sem_unlink(object.c_str());
    return result;
  }
  result->identity_ = identityOf(result->object_);
  return result;
}

std::unique_ptr<NamedSemaphore> NamedSemaphore::open(uint32_t name) {
  std::string object = namedSemaphoreObjectName(name);
  if (object.empty()) return nullptr;
  sem_t* semaphore = openSemaphore(object, 0);
  if (semaphore == SEM_FAILED) return nullptr;
  // Another user's semaphore under our name could steal or fake wake-ups: both sides then poll.
  struct stat info {};
  const std::string path = pathOf(object);
  if (stat(path.c_str(), &info) != 0 || !isTrustedObject(info)) {
    debugPrint(kSemaphoreDebug, "smem: %s is not this server's: not used\n", path.c_str());
    closeSemaphore(semaphore);
    return nullptr;
  }
  std::unique_ptr<NamedSemaphore> result(new (std::nothrow) NamedSemaphore(semaphore, object, false));
  if (!result) {
    closeSemaphore(semaphore);
    return result;
  }
  result->identity_ = static_cast<uint64_t>(info.st_ino);
  return result;
}

NamedSemaphore::~NamedSemaphore() {
  closeSemaphore(asSemaphore(handle_));
  if (owner_) sem_unlink(object_.c_str());
}

bool NamedSemaphore::stillNamed() const { return identity_ != 0 && identityOf(object_) == identity_; }

void NamedSemaphore::post() {
  int value = 0;
  if (sem_getvalue(asSemaphore(handle_), &value) == 0 && value > 0) return;
  sem_post(asSemaphore(handle_));
}

bool NamedSemaphore::wait(int timeoutMs) {
  sem_t* semaphore = asSemaphore(handle_);
  if (timeoutMs <= 0) return sem_trywait(semaphore) == 0;
  const timespec deadline = deadlineAfter(timeoutMs);
  for (;;) {
    if (sem_clockwait(semaphore, CLOCK_MONOTONIC, &deadline) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void NamedSemaphore::drain() {
  while (sem_trywait(asSemaphore(handle_)) == 0) {
  }
}

int removeNamedSemaphore(uint32_t name) {
  const std::string object = namedSemaphoreObjectName(name);
  if (object.empty()) return 1;
  return sem_unlink(object.c_str()) == 0 ? 0 : 1;
}
