// File utilities over std::filesystem; see file_utils.h for the contract.
#include "common/file_utils.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

int copyFile(const char* source, const char* destination) {
  if (source == nullptr || destination == nullptr || *source == '\0' || *destination == '\0') return 1;
  std::error_code error;
  if (!fs::is_regular_file(source, error)) return 1;
  fs::copy_file(source, destination, fs::copy_options::overwrite_existing, error);
  // Some C++ libraries (mingw-w64's) refuse to overwrite an existing file all the same: the
  // regular file in the way is removed and the copy made anew.
  std::error_code ignored;
  if (error == std::errc::file_exists && fs::is_regular_file(fs::symlink_status(destination, ignored))) {
    error.clear();
    if (fs::remove(destination, error)) fs::copy_file(source, destination, error);
  }
  return error ? 1 : 0;
}

int removeFolder(const char* path) {
  if (path == nullptr || *path == '\0') return 1;
  std::error_code error;
  fs::file_status status = fs::symlink_status(path, error);
  if (status.type() == fs::file_type::not_found) return 0;
  if (error || status.type() != fs::file_type::directory) return 1;
  fs::remove_all(path, error);
  return error ? 1 : 0;
}

int makeFolder(const char* path) {
  if (path == nullptr || *path == '\0') return 1;
  std::error_code error;
  fs::create_directories(path, error);
  // create_directories reports an error for some existing folders (for example a trailing
  // slash), so the result is judged by what exists afterwards.
  return fs::is_directory(path, error) ? 0 : 1;
}
