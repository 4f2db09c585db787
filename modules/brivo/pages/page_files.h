// Files that the module's pages write for the front end to offer as downloads (the configuration
// block, the statistics export) or keep for later (configuration archives). Read methods run side
// by side, so a file is never written in place: it is replaced whole (common/atomic_file.h), and
// a reader of the file always sees a whole one. The files are readable by the server's group
// (the front end may run as another user of it) and by nobody else.
//
// Thread safety: each ReplacingFile belongs to one thread; different objects may replace the same
// path at once (the last one wins, both files are whole).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class AtomicFile;

namespace brivo {

class ReplacingFile {
 public:
  // Creates the temporary file beside path (and the folder when missing); check ok(). binary is
  // kept for the callers: the bytes are written as given either way.
  ReplacingFile(const std::string& path, bool binary);
  ~ReplacingFile();  // removes the temporary file unless commit() succeeded
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool ok() const;
  // Writes size bytes; false when a write failed (the file is then never committed).
  bool write(const void* data, size_t size);
  // Puts the file in place of the path; false (and nothing replaced) when any write failed or
  // the file could not be flushed, closed or moved.
  bool commit();

 private:
  std::unique_ptr<AtomicFile> file_;
};

}  // namespace brivo
