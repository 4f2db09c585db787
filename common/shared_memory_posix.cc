// POSIX back end of the named shared memory (shared_memory.h): shm_open objects
// "/<prefix><number>", mode 0660 with an optional group, mapped shared for reading and writing.
// The claim is an flock on the section's descriptor, so it ends with the process that held it.
#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/debug.h"
#include "common/shared_memory.h"
#include "common/shared_object_posix.h"

namespace {

constexpr uint32_t kSharedMemoryDebug = 0x40012;  // smem, Server, level 2
constexpr int kObjectMode = 0660;
constexpr size_t kPrivateNameDigits = kPrivateSectionNameDigits;

// The record with the object name it was created or opened under, so that closing removes that
// name even when the environment changed meanwhile.
struct PosixSection : SharedMemoryRecord {
  std::string object;
};

// Records the cause (errno of the failed call) for sharedMemoryError and prints it.
void printFailure(const char* what, const std::string& object) {
  const int error = errno;
  setSharedMemoryError(std::string(what) + " " + object + ": " + std::strerror(error));
  debugPrint(kSharedMemoryDebug, "smem: %s %s: %s\n", what, object.c_str(), std::strerror(error));
}

// The cause of a name that leads to no object: a text that is no section name, or a prefix
// from the environment that cannot name one.
void noObjectName(const std::string& name) {
  setSharedMemoryError("no shared memory object for section name \"" + name + "\" (prefix \"" +
                       sharedObjectPrefix() + "\")");
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
    setSharedMemoryError("map " + object + ": out of memory");
    if (view != nullptr) munmap(view, size);
    return nullptr;
  }
  *static_cast<SharedMemoryRecord*>(record) = SharedMemoryRecord{fd, view, size, name, owner};
  record->object = object;
  return record;
}

// The object name of a section name text; empty when the text is no section name or the prefix
// is unusable.
std::string objectNameOf(const std::string& name) {
  const size_t dot = name.find('.');
  const std::string digits = name.substr(0, dot);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
    return {};
  const uint32_t base = static_cast<uint32_t>(std::stoul(digits));
  if (!isSectionNameOf(name, base)) return {};
  const std::string object = sharedObjectName("", base);
  return object.empty() ? object : object + name.substr(digits.size());
}

// Creates the object of a section name text (exclusively, with the group's rights). Returns its
// descriptor, or -1 (the cause recorded).
int createObject(const std::string& name, std::string* object, uint32_t* number) {
  *object = objectNameOf(name);
  if (object->empty()) {
    noObjectName(name);
    return -1;
  }
  *number = static_cast<uint32_t>(std::stoul(name.substr(0, name.find('.'))));
  const int fd = shm_open(object->c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, kObjectMode);
  if (fd < 0) {
    printFailure("create", *object);
    return -1;
  }
  // The umask may have taken the group's write bit; the front end's group needs it.
  if (!grantObjectAccess(fd)) {
    printFailure("prepare", *object);
    close(fd);
    shm_unlink(object->c_str());
    return -1;
  }
  return fd;
}

// Gives up an object createObject made.
void dropCreated(int fd, const std::string& object) {
  close(fd);
  shm_unlink(object.c_str());
}

// Opens the existing object of a section name text when it is to be trusted. Returns its
// descriptor and its size, or -1 (the cause recorded).
int openTrusted(const std::string& name, int access, std::string* object, uint32_t* number, size_t* size) {
  *object = objectNameOf(name);
  if (object->empty()) {
    noObjectName(name);
    return -1;
  }
  const int fd = shm_open(object->c_str(), access | O_CLOEXEC | O_NOFOLLOW, 0);
  if (fd < 0) {
    if (errno != ENOENT) {
      printFailure("open", *object);
    } else {
      // Not printed: a missing name is the usual answer while a server starts or stops.
      setSharedMemoryError("open " + *object + ": " + std::strerror(ENOENT));
    }
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size < 0) {
    printFailure("fstat", *object);
    close(fd);
    return -1;
  }
  if (!isTrustedObject(info)) {
    char text[96];
    std::snprintf(text, sizeof text, " belongs to user %u (mode %o): not used",
                  static_cast<unsigned>(info.st_uid), static_cast<unsigned>(info.st_mode & 07777));
    setSharedMemoryError(*object + text);
    debugPrint(kSharedMemoryDebug, "smem: %s%s\n", object->c_str(), text);
    close(fd);
    return -1;
  }
  *number = static_cast<uint32_t>(std::stoul(name.substr(0, name.find('.'))));
  *size = static_cast<size_t>(info.st_size);
  return fd;
}

}  // namespace

std::string sharedMemoryObjectName(uint32_t name) { return sharedObjectName("", name); }

std::string privateSectionName(uint32_t base) {
  unsigned char bytes[kPrivateNameDigits / 2];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return std::string();
  static const char kDigits[] = "0123456789abcdef";
  std::string name = std::to_string(base) + ".";
  for (unsigned char b : bytes) {
    name.push_back(kDigits[b >> 4]);
    name.push_back(kDigits[b & 0xF]);
  }
  return name;
}

bool foreignSharedMemory(const std::string& name, unsigned* ownerUid) {
  const std::string object = objectNameOf(name);
  if (object.empty()) return false;
  const int fd = shm_open(object.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
  struct stat info {};
  bool foreign = false;
  if (fd >= 0) {
    foreign = fstat(fd, &info) == 0 && !isTrustedObject(info);
    close(fd);
  } else if (errno == EACCES) {
    // Not even readable for this process: not one of ours either.
    const std::string path = "/dev/shm" + object;
    foreign = stat(path.c_str(), &info) == 0;
  }
  if (foreign && ownerUid != nullptr) *ownerUid = static_cast<unsigned>(info.st_uid);
  return foreign;
}

int createSharedMemory(size_t size, SharedMemoryRecord** record, uint32_t name) {
  return createSharedMemoryNamed(size, record, std::to_string(name));
}

int createSharedMemoryNamed(size_t size, SharedMemoryRecord** record, const std::string& name) {
  if (record == nullptr) return 1;
  *record = nullptr;
  std::string object;
  uint32_t number = 0;
  const int fd = createObject(name, &object, &number);
  if (fd < 0) return 1;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    printFailure("prepare", object);
    dropCreated(fd, object);
    return 1;
  }
  *record = mapSection(fd, size, number, 1, object);
  if (*record == nullptr) {
    dropCreated(fd, object);
    return 1;
  }
  return 0;
}

int createSharedMemoryFilled(const void* data, size_t size, SharedMemoryRecord** record,
                             const std::string& name) {
  if (record == nullptr) return 1;
  *record = nullptr;
  if (data == nullptr && size > 0) return 1;
  std::string object;
  uint32_t number = 0;
  const int fd = createObject(name, &object, &number);
  if (fd < 0) return 1;
  // Written through the descriptor: a mapping would cost its set-up and, at the unmapping, a
  // flush of every processor's address translations that this process's threads ran on.
  const char* bytes = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t wrote = pwrite(fd, bytes + done, size - done, static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      printFailure("write", object);
      dropCreated(fd, object);
      return 1;
    }
    done += static_cast<size_t>(wrote);
  }
  *record = mapSection(fd, 0, number, 1, object);
  if (*record == nullptr) {
    dropCreated(fd, object);
    return 1;
  }
  (*record)->size = size;
  return 0;
}

int openSharedMemory(SharedMemoryRecord** record, uint32_t name) {
  return openSharedMemoryNamed(record, std::to_string(name));
}

int openSharedMemoryNamed(SharedMemoryRecord** record, const std::string& name) {
  if (record == nullptr) return 1;
  *record = nullptr;
  std::string object;
  uint32_t number = 0;
  size_t size = 0;
  const int fd = openTrusted(name, O_RDWR, &object, &number, &size);
  if (fd < 0) return 1;
  *record = mapSection(fd, size, number, 0, object);
  if (*record == nullptr) {
    close(fd);
    return 1;
  }
  return 0;
}

int readSharedMemoryNamed(const std::string& name, std::string* bytes) {
  if (bytes == nullptr) return 1;
  bytes->clear();
  std::string object;
  uint32_t number = 0;
  size_t size = 0;
  const int fd = openTrusted(name, O_RDONLY, &object, &number, &size);
  if (fd < 0) return 1;
  // Read through the descriptor, for the reason createSharedMemoryFilled writes through it.
  std::string read(size, '\0');
  size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(fd, read.data() + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      printFailure("read", object);
      close(fd);
      return 1;
    }
    if (got == 0) break;  // the section shrank meanwhile: what it holds now
    done += static_cast<size_t>(got);
  }
  close(fd);
  read.resize(done);
  *bytes = std::move(read);
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

bool sharedMemoryStillNamed(const SharedMemoryRecord* record) {
  if (record == nullptr) return false;
  struct stat info {};
  // An object whose name was unlinked has no links left.
  return fstat(record->handle, &info) == 0 && info.st_nlink > 0;
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
