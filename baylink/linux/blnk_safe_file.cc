// Safe replacement and appending of files; see blnk_safe_file.h.
#include "baylink/linux/blnk_safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

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
  std::vector<char> temp(path.begin(), path.end());
  const char kSuffix[] = ".XXXXXX";
  temp.insert(temp.end(), kSuffix, kSuffix + sizeof(kSuffix));  // with the terminator
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    *why = std::string("cannot create a file beside ") + path + ": " + std::strerror(errno);
    return 101;
  }
  bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, content) && ::fsync(fd) == 0;
  int saved = errno;
  written = ::close(fd) == 0 && written;
  if (!written) {
    *why = std::string("cannot write ") + temp.data() + ": " + std::strerror(saved);
    ::unlink(temp.data());
    return 101;
  }
  if (::rename(temp.data(), path.c_str()) != 0) {
    *why = std::string("cannot rename over ") + path + ": " + std::strerror(errno);
    ::unlink(temp.data());
    return 104;
  }
  return 0;
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
