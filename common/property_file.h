// Property files: small text files of "key = value" lines read whole into a VariableTable and
// written back whole (settings under db/ and each module's settings file), plus the "in use"
// words that share a settings table between the pages that edit it and the notifier threads.
//
// Thread safety: the functions keep no state of their own; the file system is the only shared
// thing, and writePropertyFile replaces a file atomically (temporary file + rename).
#pragma once

#include <atomic>
#include <cstdint>

#include "common/atomic_file.h"
#include "common/variable_table.h"

// Paths of the server's files, relative to the working folder.
inline constexpr const char kServerIniPath[] = "db/server.ini";
inline constexpr const char kEmailIniPath[] = "db/email.ini";
inline constexpr const char kSnmpIniPath[] = "db/snmp.ini";
inline constexpr const char kSyslogIniPath[] = "db/syslog.ini";
inline constexpr const char kPrefsIniPath[] = "db/prefs.ini";
inline constexpr const char kIpDbPath[] = "db/IP.db";
inline constexpr const char kStringsDbPath[] = "db/strings.db";
inline constexpr const char kScsiErrorsDbPath[] = "db/scsiErrors.db";
inline constexpr const char kPasswordPath[] = "db/password.web";
inline constexpr const char kServerLogPath[] = "db/ServerLog.log";
inline constexpr const char kDebugSettingsPath[] = "db/DebugSettings.db";

// Headers written in front of the files (see writePropertyFile).
inline constexpr const char kServerIniHeader[] = "'This file contains all server settings\n\n\n";
inline constexpr const char kEmailIniHeader[] = "\\\\\\\\\\This is the email configuration file.";
inline constexpr const char kSnmpIniHeader[] = "\\\\\\\\\\This is the SNMP configuration file.";
inline constexpr const char kSyslogIniHeader[] = "\\\\\\\\\\This is the SYSLOG configuration file.";
inline constexpr const char kEmptyHeader[] = "";

// True when key and value, written as "key = value", read back as the same pair (the value at
// most without blanks or quotes around it): no line break, no '=' in the key, a key that starts
// with neither a blank, a quote nor a backslash, and no end-of-table marker. writePropertyFile
// refuses a table holding any other pair.
bool isWritableProperty(const char* key, const char* value);

// New table from the file (its lines in reverse order), or null when the file is missing or
// holds no pairs. Caller frees.
VariableTable readPropertyFile(const char* path);

// Writes header (when non-null: NUL, LF, apostrophe, header, LF) and the table in text form with
// its closing marker. The new content goes to a temporary file in the same folder which is
// flushed to disk and renamed over path, so the old file survives any failure (the temporary file
// is removed again). An existing file keeps its permission bits. A table whose text form would not
// read back as the same pairs is refused before anything is written: a key that is empty, holds
// "=", starts with a space or a comment character or ends with a space; a key or value holding a
// line break or the closing marker. (Lines are not limited in length, but the reader takes 499
// characters at a time: callers that read a file back keep their values shorter.) Returns 0,
// or -1.
// REQUIRES: no other thread removes entries from table during the call (the settings tables are
// guarded by their "in use" words).
[[nodiscard]] int writePropertyFile(const char* path, const char* header, VariableTable table);
// The same with the new file's access rights chosen by the caller (atomic_file.h), for files
// whose names the mode policy does not know as secrets.
[[nodiscard]] int writePropertyFileAs(const char* path, const char* header, VariableTable table,
                                      const FileAccess& access);

// Replaces the file at path with size bytes of data the same safe way (temporary file in the same
// folder, flushed, renamed over path, permission bits kept; the old file survives any failure).
// For files whose lines must be kept as they are. Returns 0, or -1.
[[nodiscard]] int replaceFileContents(const char* path, const char* data, size_t size);

// Waits (polls of pollMs, at most timeoutMs) until *word is 0, then sets it to value (non-zero) in
// one atomic step. Returns false on time-out, leaving *word alone. Pair every true result with
// releaseFileInUse. The notifiers mark who holds the word by value (e-mail: 1 save, 2 page,
// 3 sender; SNMP: 1 page or save, 5 sender).
inline constexpr int kFileInUseTimeoutMs = 120000;
inline constexpr int kFileInUsePollMs = 10;
[[nodiscard]] bool acquireFileInUse(std::atomic<int>* word, int timeoutMs = kFileInUseTimeoutMs,
                                    int value = 1, int pollMs = kFileInUsePollMs);
// Sets *word back to 0.
void releaseFileInUse(std::atomic<int>* word);
