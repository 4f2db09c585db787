// Replacing a file whole: the one way this system writes a file that a reader (another thread,
// the front end, the next start after a power loss) must never see half-written. The new bytes go
// to a temporary file in the same folder, which has its final access rights before the first
// byte is written; the file is flushed to disk, moved over the old one in one step and the
// folder is flushed, so that the move itself survives a power loss. On any failure the old file
// is left as it was and the temporary removed.
//
// Used by the property files, the password file, the RAID module's exports and downloads,
// Baylink's host files and the simulator's state file. The platform calls are those of
// file_platform.h (on Windows the move is MoveFileEx with MOVEFILE_REPLACE_EXISTING).
//
// Thread safety: an AtomicFile belongs to one thread. Different objects may replace the same path
// at once: each temporary has its own name, the last move wins and every reader sees a whole
// file. The I/O seam is process-wide; install it only while no file is being replaced.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

// The access rights of the new file, given to it before anything is written.
struct FileAccess {
  enum class Kind : unsigned char {
    kPolicy,        // the old file's mode without what the policy for the path forbids, else the
                    // policy's mode (private_file.h: settings 0640, secrets 0600)
    kOwnerOnly,     // 0600 (Windows: owner, LocalSystem and Administrators only) from the first
                    // instant, for secrets
    kExact,         // exactly `mode`, whatever the umask (Windows: the folder's access list)
    kProcessDefault,  // as any new file of this process: 0666 narrowed by the umask
  };
  Kind kind = Kind::kPolicy;
  mode_t mode = 0;  // kExact only
  // The replaced file's owner and group stay where the system lets a process choose (a process
  // running as root must not take a file away from the account that installed it); otherwise the
  // new file belongs to this process. Failing to keep them is not an error.
  bool keepOwner = false;

  static FileAccess policy() { return FileAccess{}; }
  static FileAccess ownerOnly() { return FileAccess{Kind::kOwnerOnly, 0, false}; }
  static FileAccess exact(mode_t mode) { return FileAccess{Kind::kExact, mode, false}; }
  static FileAccess processDefault() { return FileAccess{Kind::kProcessDefault, 0, false}; }
};

// A file being replaced: created by the constructor, written in pieces, put in place by commit().
// Destroying it without a successful commit removes the temporary and leaves the old file alone.
class AtomicFile {
 public:
  // Creates the temporary beside path (the folder must exist); check ok().
  AtomicFile(std::string path, FileAccess access);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // False once anything has failed (creation, rights, a write); commit() then fails too.
  bool ok() const { return fd_ >= 0 && error_.empty(); }
  // Appends size bytes (all of them, retrying short writes); false when the write failed.
  bool write(const void* data, size_t size);
  bool write(std::string_view text) { return write(text.data(), text.size()); }
  // Flushes, closes and moves the file over path, then flushes the folder. False, with the old
  // file untouched and no temporary left, when anything failed. Call once.
  [[nodiscard]] bool commit();
  // What failed, as "STEP PATH: REASON" (for example "rename db/server.ini: Permission
  // denied"); empty while nothing has.
  const std::string& error() const { return error_; }
  // The step that failed: "create", "chmod", "write", "fsync", "close" or "rename"; empty while
  // nothing has. Callers whose results tell a failed move from a failed write use it.
  const std::string& failedStep() const { return step_; }
  const std::string& path() const { return path_; }

 private:
  void fail(const char* step, int error);
  void discard();

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  std::string error_;
  std::string step_;
};

// Replaces path with bytes in one call. False on failure (old file untouched); *error (optional)
// receives AtomicFile::error().
[[nodiscard]] bool replaceFileAtomically(const std::string& path, std::string_view bytes, FileAccess access,
                                         std::string* error = nullptr);

// Seam under the writer for tests: the two calls that put the bytes on disk. Tests swap them to
// make a write stop part-way or a flush fail; production code never installs one.
struct AtomicFileIo {
  // As write(2): bytes written, or -1 with errno set.
  ssize_t (*write)(int fd, const void* data, size_t size);
  // As fsync(2): 0, or -1 with errno set.
  int (*fsync)(int fd);
};
// Routes every AtomicFile through io (borrowed; must outlive its use); null restores the system
// calls.
void setAtomicFileIo(const AtomicFileIo* io);
