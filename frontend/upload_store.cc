// Uploaded files in the temp folder; see upload_store.h. The platform halves
// (upload_store_posix.cc, upload_store_win.cc) open the folder and create and remove its files.
#include "frontend/upload_store.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "common/file_platform.h"
#include "common/system_random.h"

namespace {

constexpr int kNameAttempts = 8;

// "upload-" and 128 random bits in hexadecimal; empty when the random source fails.
std::string freshName() {
  uint8_t bytes[16];
  if (!systemRandomBytes(bytes, sizeof bytes)) return std::string();
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
    const ssize_t n = writeFile(fd, data.data(), data.size());
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
    if (!folder_.empty()) folderFd_ = openFolderHandle();
  }
  return folderFd_ >= 0;
}

bool UploadStore::store(std::string_view data, std::string* path) {
  if (!openFolder()) return false;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = freshName();
    if (name.empty()) return false;
    const int fd = createInFolder(name);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    const bool written = writeAll(fd, data);
    const bool closed = closeFile(fd) == 0;
    if (!written || !closed) {
      removeFromFolder(name);
      return false;
    }
    names_.push_back(name);
    *path = (folder_ / name).string();
    return true;
  }
  return false;
}
