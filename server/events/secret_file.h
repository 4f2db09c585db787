// Files that hold secrets of the notifiers (the mail password, webhook tokens, SNMPv3 keys):
// property files readable and writable by the server's account only, never shown on a page.
// A new file is created with mode 0600 before it holds anything and renamed over the old one, so
// a secret is never readable by others, not even for a moment, and a failed write leaves the old
// file as it was.
//
// Also the stable identities of receivers, which key their secrets (and the webhooks' queues) so
// that a receiver keeps them when the rows of a page are reordered or renumbered.
//
// Thread safety: any thread; callers serialize writes of one file (the settings' in-use word).
#pragma once

#include <string>
#include <string_view>

#include "common/variable_table.h"

// Writes table (behind header) to path with mode 0600; an empty table removes the file. False
// when the file could not be written or its mode set; the previous file then stays.
bool writeSecretFile(const char* path, const char* header, VariableTable table);

// A new receiver identity: 16 random lower-case hexadecimal digits.
std::string newReceiverId();
// True for 16 lower-case hexadecimal digits.
bool isReceiverId(std::string_view text);
