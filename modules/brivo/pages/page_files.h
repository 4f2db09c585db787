// Files that the module's pages write for the front end to offer as downloads (the configuration
// block, the statistics export) or keep for later (configuration archives). Read methods run side
// by side, so a file is never written in place: it is written under a temporary name in the same
// folder and renamed over the old one, and a reader of the file always sees a whole one.
//
// Thread safety: each ReplacingFile belongs to one thread; different objects may replace the same
// path at once (the last rename wins, both files are whole).
#pragma once

#include <cstdio>
#include <string>

namespace brivo {

class ReplacingFile {
 public:
  // Creates the temporary file beside path (and the folder when missing); check ok().
  ReplacingFile(const std::string& path, bool binary);
  ~ReplacingFile();  // removes the temporary file unless commit() succeeded
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool ok() const { return stream_ != nullptr; }
  // The stream to write (null when !ok()). Borrowed until commit or destruction.
  FILE* stream() const { return stream_; }
  // Writes size bytes; false when a write failed (the file is then never committed).
  bool write(const void* data, size_t size);
  // Closes the file and renames it over the path; false (and nothing replaced) when any write
  // failed, the close failed or the rename did.
  bool commit();

 private:
  std::string path_;
  std::string temporary_;
  FILE* stream_ = nullptr;
  bool failed_ = false;
};

}  // namespace brivo
