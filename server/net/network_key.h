// The site key of the server network: the secret shared by the servers of one site that
// authenticates every packet they exchange. An administrator types a key text (on the settings
// page or to "server -netkey"); what is stored and used is a 32-byte key derived from it, so the
// text itself is kept nowhere. Each key is known by its key id, 8 hexadecimal digits that can be
// shown and compared between servers without revealing anything an eavesdropper on the network
// doesn't already see.
//
// A server holds at most two keys: the sending key, which signs every packet it sends and is
// accepted, and a second key that is only accepted. Rolling a site over from key A to key B
// without a moment of disagreement takes three rounds, each done server by server: add B as
// the second key everywhere; switch every server to send with B (A becomes its second key);
// drop A everywhere.
//
// Stored in db/network.key (mode 0600, replaced atomically): "version = N", "SendKey = <64 hex
// digits>" and optionally "AcceptKey = <64 hex digits>". No file means no key: the network then
// runs unauthenticated, exactly as without this feature.
//
// Thread safety: pure functions and plain values, plus file reads and writes that each replace or
// read the whole file; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/net/packet_mac.h"

inline constexpr char kNetworkKeyPath[] = "db/network.key";
// A key text shorter than this is refused: it would be guessed from one captured packet.
inline constexpr size_t kMinKeyTextLength = 16;
inline constexpr size_t kMaxKeyTextLength = 256;

struct NetworkKey {
  MacValue bytes{};
  uint32_t id = 0;

  bool operator==(const NetworkKey& other) const { return bytes == other.bytes; }
};

struct NetworkKeySet {
  bool required = false;  // a key file exists: every packet must carry a valid trailer
  std::optional<NetworkKey> send;
  std::optional<NetworkKey> second;  // accepted, never used to send
  long version = 0;                  // edit counter of the settings page

  // The accepted key with that id, or null.
  const NetworkKey* find(uint32_t id) const;
};

// Null when text can be a key, else the details key of the refusal: "NetworkKeyTooShort",
// "NetworkKeyTooLong" or "NetworkKeyInvalid" (control characters, which a form or a shell line
// would not carry back unchanged).
const char* checkKeyText(std::string_view text);

// The key derived from a key text, with its id. False when the MAC library failed.
[[nodiscard]] bool deriveNetworkKey(std::string_view text, NetworkKey* key);
// A stored key's id (recomputed from its bytes). False when the MAC library failed.
[[nodiscard]] bool computeKeyId(NetworkKey* key);
// "%08X" of the id.
std::string keyIdText(uint32_t id);

enum class KeyFileStatus { kOk, kAbsent, kUnreadable, kMalformed };

// Reads path into *keys. kAbsent (no such file) gives an empty set (not required); kOk a set with
// required = true; on kUnreadable and kMalformed *keys is required with no keys at all, so that a
// damaged file never opens the network to unauthenticated packets.
KeyFileStatus readNetworkKeyFile(const char* path, NetworkKeySet* keys);
// The file's text for keys (without the required flag, which the file's existence says).
std::string networkKeyFileText(const NetworkKeySet& keys);
// Replaces path with keys (0600, atomically), or removes it when keys holds no key. False when
// the file could not be written or removed (it is then unchanged).
[[nodiscard]] bool writeNetworkKeyFile(const char* path, const NetworkKeySet& keys);

// What an administrator can do to the keys.
enum class KeyAction {
  kSet,     // the typed key becomes the only key
  kAdd,     // the typed key becomes the second key (first round of a roll-over)
  kSwitch,  // the second key becomes the sending key and the sending key the second one
  kDrop,    // the second key is forgotten (last round of a roll-over)
  kClear,   // no key at all: unauthenticated coordination
};
// An edit counter: 1 to 18 decimal digits and nothing else. False (*version untouched) otherwise.
bool parseKeyVersion(std::string_view text, long* version);

// "set", "add", "switch", "drop", "clear" (any case). False for anything else.
bool parseKeyAction(std::string_view text, KeyAction* action);
bool keyActionNeedsKey(KeyAction action);

// Applies action to *keys (typed: the derived key of the typed text, for kSet and kAdd). Null on
// success, else the details key of the refusal, with *keys unchanged: "NoNetworkKey" (kAdd or
// kSwitch without a sending key), "NoSecondKey" (kSwitch or kDrop without one), "SameNetworkKey"
// (kAdd of the key already used). Raises the version by one on success.
const char* applyKeyAction(NetworkKeySet* keys, KeyAction action, const NetworkKey* typed);
