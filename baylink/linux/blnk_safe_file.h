// File writing that a local user cannot subvert while the library runs as root: new contents go
// to a fresh temporary file created beside the target (exclusive creation, so a planted name or
// link is never opened) and are renamed over the target, which replaces a link rather than
// writing through it and never crosses file systems. Log files are opened for appending only
// when they are our own plain files.
//
// Thread safety: stateless; concurrent calls on different targets are independent.
#pragma once

#include <sys/types.h>

#include <string>

// Replaces path with content. 0, 101 (the temporary file could not be created or written) or
// 104 (the rename failed); *why says what went wrong. The file gets mode.
int blnkReplaceFile(const std::string& path, const std::string& content, mode_t mode, std::string* why);
// Whole file; false when it cannot be read.
bool blnkReadFile(const std::string& path, std::string* content);
// Mode of an existing file's permission bits, or fallback when it does not exist.
mode_t blnkFileMode(const std::string& path, mode_t fallback);
// Appends text to a log file, creating it (mode 0600) if needed; refuses links and files of
// other users. False when the text was not written.
bool blnkAppendPrivate(const std::string& path, const std::string& text);
