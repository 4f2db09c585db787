// Files replaced whole; see atomic_file.h.
#include "common/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/file_platform.h"
#include "common/private_file.h"

namespace {

const AtomicFileIo kSystemIo = {writeFile, syncFile};
std::atomic<const AtomicFileIo*> gIo{&kSystemIo};
std::atomic<unsigned> gTempCounter{0};

// The folder part of path and its base name; both separators count (Windows takes either).
size_t lastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

std::string folderOf(const std::string& path) {
  const size_t slash = lastSeparator(path);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const size_t slash = lastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int createTemporary(const std::string& name, FileAccess::Kind kind) {
  switch (kind) {
    case FileAccess::Kind::kOwnerOnly:
      return createOwnerOnlyFile(name.c_str());
    case FileAccess::Kind::kProcessDefault:
      return createExclusiveFile(name.c_str());
    case FileAccess::Kind::kPolicy:
    case FileAccess::Kind::kExact:
      break;
  }
  return createFileForReplacement(name.c_str());
}

// Gives the new file fd its rights; false with errno set.
bool giveAccess(const std::string& path, int fd, const FileAccess& access) {
  switch (access.kind) {
    case FileAccess::Kind::kPolicy:
      return givePolicyMode(path.c_str(), fd);
    case FileAccess::Kind::kOwnerOnly:
      // The creation mode is narrowed by the umask only; set it exactly.
      return restrictFileToOwner(fd);
    case FileAccess::Kind::kExact:
      return applyPrivateMode(fd, access.mode, true);
    case FileAccess::Kind::kProcessDefault:
      return true;
  }
  return true;
}

}  // namespace

AtomicFile::AtomicFile(std::string path, FileAccess access) : path_(std::move(path)) {
  // A hidden name of this process and a counter: never one that another writer uses, and a
  // name left by a crash is never taken for the file itself.
  const std::string prefix = folderOf(path_) + "/." + baseNameOf(path_) + "." + std::to_string(currentProcessId());
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = prefix + "." + std::to_string(gTempCounter.fetch_add(1)) + ".tmp";
    fd_ = createTemporary(temporary_, access.kind);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    const int error = errno;
    temporary_.clear();
    step_ = "create";
    error_ = "create a temporary file beside " + path_ + ": " + std::strerror(error);
    return;
  }
  if (access.keepOwner) (void)keepFileOwner(path_.c_str(), fd_);
  if (!giveAccess(path_, fd_, access)) fail("chmod", errno);
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::fail(const char* step, int error) {
  if (!error_.empty()) return;
  step_ = step;
  error_ = std::string(step) + " " + path_ + ": " + std::strerror(error);
}

void AtomicFile::discard() {
  if (fd_ >= 0) (void)closeFile(fd_);
  fd_ = -1;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  temporary_.clear();
}

bool AtomicFile::write(const void* data, size_t size) {
  if (!ok()) return false;
  const AtomicFileIo* io = gIo.load();
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = io->write(fd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fail("write", n == 0 ? EIO : errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool AtomicFile::commit() {
  if (!ok()) {
    discard();
    return false;
  }
  if (gIo.load()->fsync(fd_) != 0) fail("fsync", errno);
  const int fd = fd_;
  fd_ = -1;
  if (closeFile(fd) != 0) fail("close", errno);
  if (error_.empty() && !moveFileOver(temporary_.c_str(), path_.c_str())) fail("rename", errno);
  if (!error_.empty()) {
    discard();
    return false;
  }
  temporary_.clear();
  syncFolder(folderOf(path_));
  return true;
}

bool replaceFileAtomically(const std::string& path, std::string_view bytes, FileAccess access, std::string* error) {
  AtomicFile file(path, access);
  const bool done = file.write(bytes) && file.commit();
  if (error != nullptr) *error = file.error();
  return done;
}

void setAtomicFileIo(const AtomicFileIo* io) { gIo.store(io != nullptr ? io : &kSystemIo); }
