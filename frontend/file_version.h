// What tells one state of a file from the next, for the caches that re-read a file only when it
// changed (the password file, templates, resolved paths): its volume, its file number (a file
// replaced whole gets a new one), its size, its last write and the last change of the file or its
// entry (POSIX ctime: also a change of mode or links), in nanoseconds (Windows: 100 ns steps).
//
// Thread safety: no state.
#pragma once

#include <cstdint>
#include <filesystem>

struct FileVersion {
  uint64_t device = 0;
  uint64_t file = 0;
  int64_t size = -1;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;
  bool operator==(const FileVersion&) const = default;
};

// The version of the regular file at path (links followed). False when there is none or it is not
// a regular file.
bool regularFileVersion(const std::filesystem::path& path, FileVersion* version);
