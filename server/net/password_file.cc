// The administrator password file; see password_file.h.
#include "server/net/password_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/apr1.h"
#include "common/atomic_file.h"
#include "common/debug.h"
#include "common/system_random.h"

namespace {

// net subsystem, Server module, level 4: file faults worth a line when asked for.
constexpr uint32_t kPasswordDebugCode = 0x1014;

// Gives each salt drawn without a random source its own bits.
std::atomic<unsigned> gSaltCounter{0};

struct FileCloser {
  void operator()(FILE* stream) const { std::fclose(stream); }
};

}  // namespace

bool replacePrivateFile(const std::string& path, std::string_view text) {
  // The file keeps its owner where the system allows it (a server running as root must not take
  // the file away from the account that installed it); failing that it belongs to this process.
  FileAccess access = FileAccess::ownerOnly();
  access.keepOwner = true;
  std::string error;
  if (replaceFileAtomically(path, text, access, &error)) return true;
  debugPrint(kPasswordDebugCode, "net: private file %s\n", error.c_str());
  return false;
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
  if (!systemRandomBytes(&bits, sizeof(bits))) {
    // No random source yet (very early boot): the time still gives each change its own salt.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() % 1000000000;
    bits = (static_cast<uint64_t>(seconds) << 20) ^ static_cast<uint64_t>(nanoseconds) ^
           (static_cast<uint64_t>(gSaltCounter.fetch_add(1)) << 40);
  }
  return apr1Salt(bits);
}

void setPasswordFileIo(const PasswordFileIo* io) { setAtomicFileIo(io); }
