// The administrator password file; see password_file.h.
#include "server/net/password_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "common/apr1.h"
#include "common/debug.h"

namespace {

// net subsystem, Server module, level 4: file faults worth a line when asked for.
constexpr uint32_t kPasswordDebugCode = 0x1014;

const PasswordFileIo kSystemIo = {::write, ::fsync};
std::atomic<const PasswordFileIo*> gIo{&kSystemIo};
std::atomic<unsigned> gTempCounter{0};

struct FileCloser {
  void operator()(FILE* stream) const { std::fclose(stream); }
};

bool writeAll(int fd, std::string_view text) {
  const PasswordFileIo* io = gIo.load();
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = io->write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new temporary file beside path, readable by the owner only. Returns the descriptor or -1.
int createTempFile(const std::string& path, std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = folderOf(path) + "/." + baseNameOf(path) + "." + std::to_string(getpid()) + "." +
            std::to_string(gTempCounter.fetch_add(1)) + ".tmp";
    const int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Flushes the folder entry of the rename; some file systems cannot, and the file is in place
// either way, so this only reports.
void syncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (fsync(fd) != 0 && errno != EINVAL) {
    debugPrint(kPasswordDebugCode, "net: private file: fsync %s: %s\n", folder.c_str(), strerror(errno));
  }
  close(fd);
}

}  // namespace

bool replacePrivateFile(const std::string& path, std::string_view text) {
  std::string temp;
  const int fd = createTempFile(path, &temp);
  if (fd < 0) {
    debugPrint(kPasswordDebugCode, "net: private file %s: create temp: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  const char* step = nullptr;
  // The file keeps its owner where the system allows it (a server running as root must not take
  // the file away from the account that installed it); failing that it belongs to this process.
  struct stat old {};
  if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && fchown(fd, old.st_uid, old.st_gid) != 0) {
    debugPrint(kPasswordDebugCode, "net: private file %s: keep owner: %s\n", path.c_str(), strerror(errno));
  }
  // The creation mode is narrowed by the umask only; set it exactly.
  if (fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
    step = "chmod";
  } else if (!writeAll(fd, text)) {
    step = "write";
  } else if (gIo.load()->fsync(fd) != 0) {
    step = "fsync";
  }
  int savedErrno = errno;
  if (close(fd) != 0 && step == nullptr) {
    step = "close";
    savedErrno = errno;
  }
  if (step == nullptr && rename(temp.c_str(), path.c_str()) != 0) {
    step = "rename";
    savedErrno = errno;
  }
  if (step != nullptr) {
    unlink(temp.c_str());
    debugPrint(kPasswordDebugCode, "net: private file %s: %s: %s\n", path.c_str(), step,
               strerror(savedErrno));
    return false;
  }
  syncFolder(folderOf(path));
  return true;
}

int readPasswordFile(const char* path, PasswordRecord* record) {
  if (path == nullptr || record == nullptr) return kPasswordFileUnreadable;
  std::unique_ptr<FILE, FileCloser> stream(std::fopen(path, "re"));
  if (!stream) return kPasswordFileUnreadable;
  char line[kPasswordLineMax + 1] = {};
  // An empty file reads as an empty line (no user, no hash), which matches no password.
  if (std::fgets(line, sizeof(line), stream.get()) == nullptr && std::ferror(stream.get()) != 0) {
    return kPasswordFileUnreadable;
  }
  const std::string_view text(line, std::strlen(line));
  const size_t colon = text.find(':');
  PasswordRecord read;
  read.userName = std::string(text.substr(0, colon));
  if (colon != std::string_view::npos) {
    std::string_view hash = text.substr(colon + 1);
    while (!hash.empty() && (hash.back() == '\r' || hash.back() == '\n')) hash.remove_suffix(1);
    read.hash = std::string(hash);
  }
  // The user name of a line without a colon may still end in a line break.
  while (!read.userName.empty() && (read.userName.back() == '\r' || read.userName.back() == '\n')) {
    read.userName.pop_back();
  }
  *record = std::move(read);
  return kPasswordFileOk;
}

bool passwordMatches(std::string_view password, const PasswordRecord& record) {
  return apr1Verify(password, record.hash);
}

bool isStorablePasswordLine(std::string_view userName, std::string_view hash) {
  constexpr std::string_view kBreaks("\r\n\0", 3);
  if (userName.find(':') != std::string_view::npos) return false;
  if (userName.find_first_of(kBreaks) != std::string_view::npos) return false;
  if (hash.find_first_of(kBreaks) != std::string_view::npos) return false;
  return userName.size() + 1 + hash.size() <= kPasswordLineMax;
}

int writePasswordFile(const char* path, std::string_view userName, std::string_view hash) {
  if (path == nullptr || path[0] == '\0' || !isStorablePasswordLine(userName, hash)) {
    return kPasswordFileRefused;
  }
  std::string line(userName);
  line.push_back(':');
  line.append(hash);
  return replacePrivateFile(path, line) ? kPasswordFileOk : kPasswordFileWriteFailed;
}

std::string newPasswordSalt() {
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof(bits), GRND_NONBLOCK) != static_cast<ssize_t>(sizeof(bits))) {
    // No random source yet (very early boot): the time still gives each change its own salt.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    bits = (static_cast<uint64_t>(now.tv_sec) << 20) ^ static_cast<uint64_t>(now.tv_nsec) ^
           (static_cast<uint64_t>(gTempCounter.fetch_add(1)) << 40);
  }
  return apr1Salt(bits);
}

void setPasswordFileIo(const PasswordFileIo* io) { gIo.store(io != nullptr ? io : &kSystemIo); }
