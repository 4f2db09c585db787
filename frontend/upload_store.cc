// Uploaded files in the temp folder; see upload_store.h.
#include "frontend/upload_store.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kNameAttempts = 8;

// "upload-" and 128 random bits in hexadecimal; empty when the random source fails.
std::string freshName() {
  uint8_t bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::string();
    got += static_cast<size_t>(n);
  }
  std::string name = "upload-";
  for (uint8_t b : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", b);
    name += hex;
  }
  return name;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

UploadStore::UploadStore(FolderFinder findFolder) : findFolder_(std::move(findFolder)) {}

bool UploadStore::openFolder() {
  if (!looked_) {
    looked_ = true;
    if (findFolder_) folder_ = findFolder_();
    if (!folder_.empty()) folderFd_ = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  return folderFd_ >= 0;
}

UploadStore::~UploadStore() {
  for (const std::string& name : names_) unlinkat(folderFd_, name.c_str(), 0);
  if (folderFd_ >= 0) close(folderFd_);
}

bool UploadStore::store(std::string_view data, std::string* path) {
  if (!openFolder()) return false;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = freshName();
    if (name.empty()) return false;
    const int fd =
        openat(folderFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    const bool written = writeAll(fd, data);
    const bool closed = close(fd) == 0;
    if (!written || !closed) {
      unlinkat(folderFd_, name.c_str(), 0);
      return false;
    }
    names_.push_back(name);
    *path = (folder_ / name).string();
    return true;
  }
  return false;
}
