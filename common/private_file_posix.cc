// File modes of written files under POSIX; see private_file.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "common/private_file.h"

namespace {

// open(2) flags of an fopen mode; false for a mode this helper does not know.
bool flagsOf(const char* fopenMode, int* flags) {
  const std::string_view text(fopenMode != nullptr ? fopenMode : "");
  if (text.empty()) return false;
  const bool plus = text.find('+') != std::string_view::npos;
  switch (text[0]) {
    case 'r':
      *flags = plus ? O_RDWR : O_RDONLY;
      break;
    case 'w':
      *flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
      break;
    case 'a':
      *flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      break;
    default:
      return false;
  }
  *flags |= O_CLOEXEC;
  return true;
}

}  // namespace

bool applyPrivateMode(int fd, mode_t mode, bool created) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  if (info.st_uid != geteuid() && geteuid() != 0) return true;  // not ours to change
  const mode_t current = info.st_mode & 07777;
  const mode_t wanted = created ? mode : (current & mode);
  if (wanted == current) return true;
  return fchmod(fd, wanted) == 0;
}

bool givePolicyMode(const char* path, int fd) {
  const mode_t policy = privateModeFor(path);
  struct stat old {};
  const bool existed = stat(path, &old) == 0 && S_ISREG(old.st_mode);
  return fchmod(fd, existed ? (old.st_mode & policy) : policy) == 0;
}

FILE* openPrivateFile(const char* path, const char* fopenMode, mode_t mode) {
  int flags = 0;
  if (path == nullptr || !flagsOf(fopenMode, &flags)) {
    errno = EINVAL;
    return nullptr;
  }
  bool created = false;
  int fd = -1;
  if ((flags & O_CREAT) != 0) {
    // Tell a new file from an existing one, so that only a new one gets the mode outright.
    fd = open(path, (flags & ~O_TRUNC) | O_EXCL, mode);
    created = fd >= 0;
  }
  if (fd < 0) {
    if ((flags & O_CREAT) != 0 && errno != EEXIST) return nullptr;
    fd = open(path, flags, mode);
    if (fd < 0) return nullptr;
  }
  if ((flags & (O_WRONLY | O_RDWR)) != 0 && !applyPrivateMode(fd, mode, created)) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return nullptr;
  }
  // The descriptor is close-on-exec already; fdopen is given the mode without "e".
  std::string streamMode;
  for (const char* c = fopenMode; *c != '\0'; ++c) {
    if (*c != 'e') streamMode.push_back(*c);
  }
  FILE* file = fdopen(fd, streamMode.c_str());
  if (file == nullptr) {
    const int saved = errno;
    close(fd);
    errno = saved;
  }
  return file;
}
