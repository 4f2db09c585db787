// The administrator password file db/password.web: one line without a line end, the user name,
// a colon and the "$apr1$" hash of the password. Read by the password change and by the check of
// a request's verification password; rewritten only by the password change.
//
// The file is replaced, never rewritten in place: the new line goes to a temporary file beside
// it (mode 0600), is flushed to disk and renamed over the old file, so a crash or a full disk
// never leaves the administrator without a readable password file.
//
// Thread safety: no state apart from the test seam; concurrent writers each replace the file
// whole, the last rename wins.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "common/atomic_file.h"

// Characters of the first line that are read; the rest of a longer line is ignored.
inline constexpr size_t kPasswordLineMax = 239;

// Results of the file functions.
inline constexpr int kPasswordFileOk = 0;
inline constexpr int kPasswordFileUnreadable = 1;  // missing, not a file, or a read error
inline constexpr int kPasswordFileRefused = 2;     // the line would not read back as written
inline constexpr int kPasswordFileWriteFailed = 3;

struct PasswordRecord {
  std::string userName;
  std::string hash;  // without line-end characters; empty when the line holds no colon
};

// Reads the first line of the file at path (at most kPasswordLineMax characters) and splits it at
// its first colon. Returns kPasswordFileOk or kPasswordFileUnreadable; *record is filled only on
// success.
[[nodiscard]] int readPasswordFile(const char* path, PasswordRecord* record);

// True when password hashes to the record's hash under its salt.
bool passwordMatches(std::string_view password, const PasswordRecord& record);

// True when "userName:hash" can be stored and read back unchanged: the user name holds no colon,
// neither holds a line break or NUL, and the line fits kPasswordLineMax.
bool isStorablePasswordLine(std::string_view userName, std::string_view hash);

// Replaces the file at path with "userName:hash" (no line end), mode 0600, atomically. Returns
// kPasswordFileOk, kPasswordFileRefused (nothing written) or kPasswordFileWriteFailed (the old
// file, if any, is unchanged and no temporary file is left).
[[nodiscard]] int writePasswordFile(const char* path, std::string_view userName, std::string_view hash);

// Replaces the file at path with text, mode 0600, keeping the old file's owner where the system
// allows: a temporary file beside it, flushed to disk and renamed over it. False (old file
// unchanged, no temporary file left) when any step failed. Also used for other secrets of db/.
[[nodiscard]] bool replacePrivateFile(const std::string& path, std::string_view text);

// A fresh 8-character salt from the system's random source.
std::string newPasswordSalt();

// Test seam: the two system calls that put the new file's bytes on disk (the atomic file
// writer's seam, atomic_file.h). Production code never sets it.
using PasswordFileIo = AtomicFileIo;
// Routes writePasswordFile through io (borrowed; must outlive its use); null restores the system
// calls. REQUIRES: no writePasswordFile call runs.
void setPasswordFileIo(const PasswordFileIo* io);
