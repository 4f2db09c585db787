// The debug file on POSIX: opened without following a planted link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "baylink/blnk_debug.h"

bool blnkWriteDebugFile(const std::string& text, bool truncate) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (truncate ? O_TRUNC : O_APPEND);
  const int fd = ::open(kBlnkDebugFile, flags, 0644);
  if (fd < 0) return false;
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
  return left == 0;
}

long blnkDebugFileBytes() {
  struct stat st {};
  if (::stat(kBlnkDebugFile, &st) != 0) return 0;
  return static_cast<long>(st.st_size);
}
