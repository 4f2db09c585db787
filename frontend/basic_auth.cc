// Basic authentication against the password file; see basic_auth.h.
#include "frontend/basic_auth.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "common/apr1.h"
#include "common/default_login.h"
#include "common/thread_annotations.h"
#include "frontend/base64.h"
#include "frontend/file_version.h"

namespace {

constexpr size_t kMaxPasswordFileBytes = 64 * 1024;
constexpr size_t kMaxRememberedLogins = 256;
constexpr size_t kMaxAuthorizationBytes = 1024;
// Compared against when the user name is unknown: a valid hash that no password produces in
// practice, so the work is that of a real check.
const std::string kStandInHash = "$apr1$Kq7vX2pL$rYcVDwZ0gHc3m9T1nQeXb/";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

bool parseBasicCredentials(std::string_view header, std::string* user, std::string* password) {
  header = trimmed(header);
  if (header.size() > kMaxAuthorizationBytes) return false;
  const size_t space = header.find(' ');
  if (space == std::string_view::npos || !equalsIgnoringCase(header.substr(0, space), "Basic")) return false;
  std::string decoded;
  if (!decodeBase64Any(trimmed(header.substr(space + 1)), &decoded)) return false;
  const size_t colon = decoded.find(':');
  if (colon == std::string::npos) return false;
  *user = decoded.substr(0, colon);
  *password = decoded.substr(colon + 1);
  return true;
}

PasswordCheck::PasswordCheck(std::filesystem::path passwordFile) : path_(std::move(passwordFile)) {}

bool PasswordCheck::remembered(std::string_view authorization, std::string* user) {
  FileVersion version;
  Entries entries;
  if (authorization.empty() || !refresh(&version, &entries)) return false;
  MutexLock lock(mu_);
  if (!(version_ == version) || known_.count(std::string(authorization)) == 0) return false;
  std::string password;
  return parseBasicCredentials(authorization, user, &password);
}

std::string PasswordCheck::userOf(std::string_view authorization) {
  std::string user;
  std::string password;
  return parseBasicCredentials(authorization, &user, &password) ? user : std::string();
}

bool PasswordCheck::defaultLoginInUse() {
  FileVersion version;
  Entries entries;
  if (!refresh(&version, &entries)) return false;
  {
    MutexLock lock(mu_);
    if (version_ == version && defaultLogin_.has_value()) return *defaultLogin_;
  }
  bool inUse = false;
  for (const auto& [entryUser, hash] : entries) {
    if (entryUser == kDefaultLoginUser && apr1Verify(kDefaultLoginPassword, hash)) inUse = true;
  }
  MutexLock lock(mu_);
  if (version_ == version) defaultLogin_ = inUse;
  return inUse;
}

bool PasswordCheck::refresh(FileVersion* version, Entries* entries) {
  FileVersion now;
  if (!regularFileVersion(path_, &now)) return false;
  MutexLock lock(mu_);
  if (!loaded_ || !(now == version_)) {
    defaultLogin_.reset();
    if (static_cast<uint64_t>(now.size) > kMaxPasswordFileBytes) return false;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    entries_.clear();
    known_.clear();
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string_view line(text.data() + start, end - start);
      while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      const size_t colon = line.find(':');
      if (colon != std::string_view::npos && colon > 0) {
        entries_.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 1)));
      }
      start = end + 1;
    }
    version_ = now;
    loaded_ = true;
  }
  *version = version_;
  *entries = entries_;
  return true;
}

AuthOutcome PasswordCheck::check(std::string_view authorization, std::string* user) {
  FileVersion version;
  Entries entries;
  if (!refresh(&version, &entries)) return AuthOutcome::kNoPasswordFile;
  std::string name;
  std::string password;
  if (!parseBasicCredentials(authorization, &name, &password)) return AuthOutcome::kRefused;
  const std::string key(authorization);
  {
    MutexLock lock(mu_);
    if (version_ == version && known_.count(key) != 0) {
      *user = name;
      return AuthOutcome::kAccepted;
    }
  }
  // The thousand rounds run outside the lock, so that logins do not queue behind each other. An
  // unknown user costs the same rounds and comparison as a known one.
  const std::string* stored = &kStandInHash;
  for (const auto& [entryUser, hash] : entries) {
    if (entryUser == name) {
      stored = &hash;
      break;
    }
  }
  const bool accepted = apr1Verify(password, *stored) && stored != &kStandInHash;
  if (!accepted) return AuthOutcome::kRefused;
  {
    MutexLock lock(mu_);
    if (version_ == version) {
      if (known_.size() >= kMaxRememberedLogins) known_.clear();
      known_.insert(key);
    }
  }
  *user = name;
  return AuthOutcome::kAccepted;
}
