// HTTP Basic authentication of the front end's dynamic requests against the password file
// (db/password.web: "user:$apr1$salt$hash" lines; the server writes one, every line is tried).
//
// Verifying an "$apr1$" hash costs a thousand MD5 rounds, so credentials that verified once are
// remembered (in memory only) until the password file changes: a browser sends the same header
// with every request. Refusals are never remembered. A user name that the file does not hold is
// hashed all the same (against a stand-in hash) and compared in constant time, so that the time
// of a refusal does not tell which user names exist.
//
// Thread safety: every member may be called from any number of threads at once.
#pragma once


#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/thread_annotations.h"
#include "frontend/file_version.h"

// Splits the value of an Authorization header ("Basic <base64 of user:password>", scheme name
// in any case) into user and password (split at the first colon). False for another scheme,
// undecodable text or credentials without a colon.
bool parseBasicCredentials(std::string_view header, std::string* user, std::string* password);

enum class AuthOutcome {
  kAccepted,
  kRefused,         // no, wrong or malformed credentials
  kNoPasswordFile,  // the password file cannot be read: nobody can log in
};

class PasswordCheck {
 public:
  explicit PasswordCheck(std::filesystem::path passwordFile);
  PasswordCheck(const PasswordCheck&) = delete;
  PasswordCheck& operator=(const PasswordCheck&) = delete;

  // Checks the Authorization header value (may be empty). On kAccepted *user holds the user name.
  AuthOutcome check(std::string_view authorization, std::string* user);
  // True when the header verified before (no hashing): *user then holds the user name.
  bool remembered(std::string_view authorization, std::string* user);
  // The user name a header names (empty when it cannot be read), for the event log.
  static std::string userOf(std::string_view authorization);
  // True while the file holds the installed default login (common/default_login.h). Hashed
  // once per version of the file.
  bool defaultLoginInUse();

 private:
  using Entries = std::vector<std::pair<std::string, std::string>>;  // user, hash

  // Re-reads the file when its version changed; false when it cannot be read.
  bool refresh(FileVersion* version, Entries* entries);

  const std::filesystem::path path_;
  Mutex mu_;
  std::optional<bool> defaultLogin_ GUARDED_BY(mu_);  // for version_
  FileVersion version_ GUARDED_BY(mu_);
  Entries entries_ GUARDED_BY(mu_);
  bool loaded_ GUARDED_BY(mu_) = false;
  std::unordered_set<std::string> known_ GUARDED_BY(mu_);  // accepted header values
};
