// POSIX back end of the named shared memory (shared_memory.h): shm_open objects
// "/<prefix><number>", mode 0660 with an optional group, mapped shared for reading and writing.
// The claim is an flock on the section's descriptor, so it ends with the process that held it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "common/debug.h"
#include "common/shared_memory.h"
#include "common/shared_object_posix.h"

namespace {

constexpr uint32_t kSharedMemoryDebug = 0x40012;  // smem, Server, level 2
constexpr int kObjectMode = 0660;

// The record with the object name it was created or opened under, so that closing removes that
// name even when the environment changed meanwhile.
struct PosixSection : SharedMemoryRecord {
  std::string object;
};

void printFailure(const char* what, const std::string& object) {
  debugPrint(kSharedMemoryDebug, "smem: %s %s: %s\n", what, object.c_str(), std::strerror(errno));
}

// Maps the whole section behind fd. A section of size 0 gets no view.
SharedMemoryRecord* mapSection(int fd, size_t size, uint32_t name, int owner, const std::string& object) {
  void* view = nullptr;
  if (size > 0) {
    view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
      printFailure("mmap", object);
      return nullptr;
    }
  }
  PosixSection* record = new (std::nothrow) PosixSection;
  if (record == nullptr) {
    if (view != nullptr) munmap(view, size);
    return nullptr;
  }
  *static_cast<SharedMemoryRecord*>(record) = SharedMemoryRecord{fd, view, size, name, owner};
  record->object = object;
  return record;
}

}  // namespace

std::string sharedMemoryObjectName(uint32_t name) { return sharedObjectName("", name); }

int createSharedMemory(size_t size, SharedMemoryRecord** record, uint32_t name) {
  if (record == nullptr) return 1;
  *record = nullptr;
  const std::string object = sharedMemoryObjectName(name);
  if (object.empty()) return 1;
  const int fd = shm_open(object.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, kObjectMode);
  if (fd < 0) {
    printFailure("create", object);
    return 1;
  }
  // The umask may have taken the group's write bit; the front end's group needs it.
  if (!grantObjectAccess(fd) || ftruncate(fd, static_cast<off_t>(size)) != 0) {
    printFailure("prepare", object);
    close(fd);
    shm_unlink(object.c_str());
    return 1;
  }
  *record = mapSection(fd, size, name, 1, object);
  if (*record == nullptr) {
    close(fd);
    shm_unlink(object.c_str());
    return 1;
  }
  return 0;
}

int openSharedMemory(SharedMemoryRecord** record, uint32_t name) {
  if (record == nullptr) return 1;
  *record = nullptr;
  const std::string object = sharedMemoryObjectName(name);
  if (object.empty()) return 1;
  const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    if (errno != ENOENT) printFailure("open", object);
    return 1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size < 0) {
    printFailure("fstat", object);
    close(fd);
    return 1;
  }
  *record = mapSection(fd, static_cast<size_t>(info.st_size), name, 0, object);
  if (*record == nullptr) {
    close(fd);
    return 1;
  }
  return 0;
}

void closeSharedMemory(SharedMemoryRecord* record) {
  if (record == nullptr) return;
  if (record->view != nullptr) munmap(record->view, record->size);
  if (record->handle >= 0) close(record->handle);
  PosixSection* section = static_cast<PosixSection*>(record);
  if (section->owner != 0) shm_unlink(section->object.c_str());
  delete section;
}

int claimSharedMemory(SharedMemoryRecord* record) {
  if (record == nullptr) return 1;
  return flock(record->handle, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
}

int removeSharedMemory(uint32_t name) {
  const std::string object = sharedMemoryObjectName(name);
  if (object.empty()) return 1;
  return shm_unlink(object.c_str()) == 0 ? 0 : 1;
}
