// The page token; see page_token.h.
#include "server/request/page_token.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "common/atomic_file.h"
#include "common/debug.h"
#include "common/thread_annotations.h"
#include "server/net/packet_mac.h"
#include "server/net/password_file.h"

namespace {

constexpr uint32_t kTokenDebug = 0x200012;
constexpr size_t kKeyBytes = 32;
constexpr char kContext[] = "kestrova page token";

struct TokenState {
  Mutex lock;
  std::string keyFile GUARDED_BY(lock) = "db/pagetoken.key";
  std::string passwordFile GUARDED_BY(lock) = "db/password.web";
  std::string key GUARDED_BY(lock);  // raw bytes; empty until loaded
  // The first line of the password file as last read, and the file version it came from.
  std::string passwordLine GUARDED_BY(lock);
  struct stat passwordStat {};
  bool passwordRead GUARDED_BY(lock) = false;
};

TokenState& state() {
  static TokenState* const s = new TokenState;
  return *s;
}

std::string hexOf(const unsigned char* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
  }
  return text;
}

bool bytesOfHex(std::string_view text, std::string* bytes) {
  if (text.size() != 2 * kKeyBytes) return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int value = 0;
    for (size_t k = 0; k < 2; ++k) {
      const char c = text[i + k];
      const int digit = c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes->push_back(static_cast<char>(value));
  }
  return true;
}

// Writes a new key file, owner-only from its first instant whatever the umask, replaced whole.
bool storeKey(const std::string& path, const std::string& hex) {
  return replaceFileAtomically(path, hex, FileAccess::ownerOnly());
}

// Overwrites key material in a way the compiler may not drop as a dead store.
void wipe(unsigned char* bytes, size_t count) {
  volatile unsigned char* p = bytes;
  for (size_t i = 0; i < count; ++i) p[i] = 0;
}

// Compares in time independent of where the texts differ, so a guess learns nothing from timing.
bool sameInConstantTime(const char* a, const char* b, size_t count) {
  unsigned char difference = 0;
  for (size_t i = 0; i < count; ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

// True when both stats describe the same version of the file. Windows' stat has neither inode nor
// sub-second times, so there the file is read again every time (it is one short line).
bool sameFileVersion(const struct stat& a, const struct stat& b) {
#ifdef _WIN32
  (void)a;
  (void)b;
  return false;
#else
  return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
#endif
}

// The key, read or made on first use.
const std::string& keyLocked(TokenState& s) REQUIRES(s.lock) {
  if (!s.key.empty()) return s.key;
  std::ifstream in(s.keyFile, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (bytesOfHex(text, &s.key)) return s.key;
  unsigned char fresh[kKeyBytes];
  if (!fillRandomBytes(fresh, sizeof fresh)) {
    s.key.clear();
    return s.key;
  }
  const std::string hex = hexOf(fresh, sizeof fresh);
  // A key that cannot be stored still serves this process; pages need a reload after a restart.
  if (!storeKey(s.keyFile, hex)) debugPrint(kTokenDebug, "page token: cannot store %s\n", s.keyFile.c_str());
  s.key.assign(reinterpret_cast<const char*>(fresh), sizeof fresh);
  wipe(fresh, sizeof fresh);
  return s.key;
}

// The password file's line (user:hash), read again when the file changed.
const std::string& passwordLineLocked(TokenState& s) REQUIRES(s.lock) {
  struct stat now {};
  if (stat(s.passwordFile.c_str(), &now) != 0) {
    s.passwordRead = false;
    s.passwordLine.clear();
    return s.passwordLine;
  }
  const bool same = s.passwordRead && sameFileVersion(now, s.passwordStat);
  if (same) return s.passwordLine;
  PasswordRecord record;
  s.passwordLine.clear();
  if (readPasswordFile(s.passwordFile.c_str(), &record) == kPasswordFileOk) {
    s.passwordLine = record.userName + ":" + record.hash;
  }
  s.passwordStat = now;
  s.passwordRead = true;
  return s.passwordLine;
}

std::string computeToken(std::string_view user) {
  TokenState& s = state();
  MutexLock lock(s.lock);
  const std::string& key = keyLocked(s);
  if (key.empty()) return std::string();
  const std::string& line = passwordLineLocked(s);
  // The user's own line only: a user the password file does not name gets a token bound to the
  // key and the name alone.
  const bool ownLine =
      line.size() > user.size() && line.compare(0, user.size(), user) == 0 && line[user.size()] == ':';
  std::string message(kContext, sizeof kContext);
  message.append(user);
  message.push_back('\0');
  if (ownLine) message.append(line);
  MacValue digest{};
  const std::span<const uint8_t> keyBytes(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  const std::span<const uint8_t> messageBytes(reinterpret_cast<const uint8_t*>(message.data()), message.size());
  if (!computeMac(keyBytes, {messageBytes}, &digest)) return std::string();
  static_assert(kPageTokenLength / 2 <= kMacSize, "the token is a prefix of one HMAC-SHA256");
  return hexOf(digest.data(), kPageTokenLength / 2);
}

}  // namespace

std::string pageTokenFor(std::string_view user) { return computeToken(user); }

bool pageTokenMatches(std::string_view user, std::string_view token) {
  const std::string expected = computeToken(user);
  if (expected.empty() || token.size() != expected.size()) return false;
  return sameInConstantTime(expected.data(), token.data(), expected.size());
}

void setPageTokenPaths(const std::string& keyFile, const std::string& passwordFile) {
  TokenState& s = state();
  MutexLock lock(s.lock);
  s.keyFile = keyFile;
  s.passwordFile = passwordFile;
  s.key.clear();
  s.passwordLine.clear();
  s.passwordRead = false;
}
