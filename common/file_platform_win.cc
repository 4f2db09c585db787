// Windows back end of file_platform.h: the C runtime's descriptors, MoveFileEx for the
// replacement (rename() refuses an existing target on Windows).
#include <windows.h>
// after windows.h
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/file_platform.h"

namespace {

// errno for the last Windows error of a failed call.
void setErrnoFromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
  }
}

}  // namespace

int createExclusiveFile(const char* path) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

ssize_t writeFile(int fd, const void* data, size_t size) {
  // _write takes an unsigned int count; larger writes go in pieces through the caller's loop.
  const unsigned int count = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
  return _write(fd, data, count);
}

int syncFile(int fd) { return _commit(fd); }

int closeFile(int fd) { return _close(fd); }

// Windows files have no POSIX mode bits to keep: a new file inherits the folder's access list,
// which is what the old file had unless an administrator changed it by hand.
bool copyFileMode(const char*, int) { return true; }

bool moveFileOver(const char* temp, const char* path) {
  if (MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  setErrnoFromLastError();
  return false;
}

// MOVEFILE_WRITE_THROUGH has flushed the move already; Windows has no separate folder flush.
void syncFolder(const std::string&) {}

long currentProcessId() { return static_cast<long>(GetCurrentProcessId()); }
