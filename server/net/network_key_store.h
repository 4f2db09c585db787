// The site keys the running network uses: read from db/network.key at network start-up, read
// again when the settings page changes them or when the file changes under the running server
// (an administrator's "server -netkey" from a shell; the check-in ambassador looks every pass),
// and announced by events:
// - no key at start: one warning that coordination with the other servers is unauthenticated;
// - a key file that can't be used: an error, and the network neither sends nor accepts packets
//   until the file is repaired or removed (a damaged file must not open the door);
// - a change of the keys: an information event with the key ids (never the keys).
//
// Thread safety: any thread. The keys are swapped whole; readers keep the set they took.
#pragma once

#include <memory>
#include <string>

#include "server/net/network_key.h"

// The keys in use (never null; an empty set before the first load).
std::shared_ptr<const NetworkKeySet> activeNetworkKeys();

// Reads the key file and makes it the keys in use; at start-up (atStart) raises the start
// events, later only the change events. Returns the file's status.
KeyFileStatus loadNetworkKeys(bool atStart);
// Loads the keys again when the key file changed since the last load (its identity, size or
// modification time). True when it did.
bool reloadNetworkKeysIfChanged();
// Drops the keys in use (network shutdown).
void unloadNetworkKeys();

// Where the key file is (default kNetworkKeyPath, relative to the working folder). For tests;
// null restores the default.
void setNetworkKeyPath(const char* path);
std::string networkKeyPath();
