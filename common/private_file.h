// The modes of the files this system writes under its working folder: settings, logs, exports
// and archives are readable by the owner and the owner's group only (0640), secrets (the password
// file, the SNMP community, the mail login, keys) by the owner only (0600), whatever the umask of
// the process. A file that exists already never gains rights and loses those the policy does not
// allow (when this process owns it), so a tree installed with wider modes narrows as it is used.
//
// Used by the property files, the event log, the tech-support archive, the module's exports and
// the front end's uploads.
//
// Thread safety: no state.
#pragma once

#include <sys/types.h>

#include <cstdio>

inline constexpr mode_t kSharedFileMode = 0640;
inline constexpr mode_t kSecretFileMode = 0600;

// kSecretFileMode for the secret files by their name ("password.web", "snmp.ini", "email.ini",
// names ending in ".key"), kSharedFileMode for every other path.
mode_t privateModeFor(const char* path);

// Like fopen(path, fopenMode) for the modes "r", "r+", "w", "w+", "a", "a+" (with "b" or "e"
// anywhere), but a file it creates gets exactly `mode` and an existing file opened for writing
// is narrowed to its mode & `mode`. Null with errno set on failure.
FILE* openPrivateFile(const char* path, const char* fopenMode, mode_t mode);

// Gives the open file fd the mode policy: `mode` when created is true, else its current mode &
// `mode` (left alone when that is what it has, or when this process does not own it). False
// when fchmod failed on a file this process owns.
bool applyPrivateMode(int fd, mode_t mode, bool created);

// Gives fd, a new file that is to replace path, the mode of the file at path without what the
// policy for path does not allow, or the policy's mode when there is no such file. False with
// errno set when the mode cannot be set.
bool givePolicyMode(const char* path, int fd);

// On Windows the files inherit the access list of their folder (the installer's); the three
// functions above open, and succeed, without changing it.
