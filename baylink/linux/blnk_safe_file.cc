// Safe replacement and appending of files; see blnk_safe_file.h.
#include "baylink/linux/blnk_safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/atomic_file.h"

namespace {

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int blnkReplaceFile(const std::string& path, const std::string& content, mode_t mode, std::string* why) {
  AtomicFile file(path, FileAccess::exact(mode));
  if (file.write(content) && file.commit()) return 0;
  *why = file.error();
  return file.failedStep() == "rename" ? 104 : 101;
}

bool blnkReadFile(const std::string& path, std::string* content) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content->clear();
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof(buffer))) > 0) content->append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return n == 0;
}

mode_t blnkFileMode(const std::string& path, mode_t fallback) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : fallback;
}

bool blnkAppendPrivate(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
  bool ok = ours && writeAll(fd, text);
  ::close(fd);
  return ok;
}
