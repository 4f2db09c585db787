// Files replaced whole; see page_files.h.
#include "modules/brivo/pages/page_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "common/file_platform.h"
#include "common/private_file.h"

namespace brivo {

ReplacingFile::ReplacingFile(const std::string& path, bool binary) : path_(path) {
  std::error_code ignored;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
  std::string pattern = path + ".XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return;
  stream_ = fdopen(fd, binary ? "wb" : "w");
  if (stream_ == nullptr) {
    close(fd);
    unlink(pattern.c_str());
    return;
  }
  temporary_ = pattern;
}

ReplacingFile::~ReplacingFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool ReplacingFile::write(const void* data, size_t size) {
  if (stream_ == nullptr || (size != 0 && std::fwrite(data, 1, size, stream_) != size)) failed_ = true;
  return !failed_;
}

bool ReplacingFile::commit() {
  if (stream_ == nullptr) return false;
  const bool flushed = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  // mkstemp makes the file 0600; the front end, which may run as another user of the server's
  // group, reads it like any file the server writes, and nobody else does.
  chmod(temporary_.c_str(), kSharedFileMode);
  // moveFileOver, not std::rename: on Windows only it replaces an earlier file of that name.
  if (failed_ || !flushed || !closed || !moveFileOver(temporary_.c_str(), path_.c_str())) return false;
  temporary_.clear();
  return true;
}

}  // namespace brivo
