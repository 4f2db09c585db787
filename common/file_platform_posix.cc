// POSIX back end of file_platform.h.
#include "common/file_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/debug.h"

namespace {
// htable subsystem, Server module, level 4: file faults worth a line when asked for.
constexpr uint32_t kFileDebugCode = 0x10014;
}  // namespace

int createExclusiveFile(const char* path) { return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }

int createFileForReplacement(const char* path) {
  return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

int createOwnerOnlyFile(const char* path) { return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); }

ssize_t writeFile(int fd, const void* data, size_t size) { return write(fd, data, size); }

int syncFile(int fd) { return fsync(fd); }

int closeFile(int fd) { return close(fd); }

bool copyFileMode(const char* path, int fd) {
  struct stat old;
  if (stat(path, &old) != 0 || !S_ISREG(old.st_mode)) return true;
  return fchmod(fd, old.st_mode & 07777) == 0;
}

bool restrictFileToOwner(int fd) { return fchmod(fd, S_IRUSR | S_IWUSR) == 0; }

bool fileIsOwnerOnly(const char* path, std::string* why) {
  struct stat info {};
  std::string reason;
  if (stat(path, &info) != 0) {
    reason = std::string("cannot be examined: ") + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
  } else if ((info.st_mode & 07777) != (S_IRUSR | S_IWUSR)) {
    char mode[8];
    std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(info.st_mode & 07777));
    reason = std::string("mode ") + mode + ", not 0600";
  }
  if (why != nullptr) *why = reason;
  return reason.empty();
}

bool keepFileOwner(const char* path, int fd) {
  struct stat old;
  if (stat(path, &old) != 0 || !S_ISREG(old.st_mode)) return true;
  return fchown(fd, old.st_uid, old.st_gid) == 0;
}

bool moveFileOver(const char* temp, const char* path) { return rename(temp, path) == 0; }

void syncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Some file systems cannot sync a folder (EINVAL).
  if (fsync(fd) != 0 && errno != EINVAL) {
    debugPrint(kFileDebugCode, "htable: replace file: fsync %s: %s\n", folder.c_str(), strerror(errno));
  }
  close(fd);
}

long currentProcessId() { return static_cast<long>(getpid()); }
