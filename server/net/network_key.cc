// The site key of the server network; see network_key.h.
#include "server/net/network_key.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "server/net/password_file.h"

namespace {

// Fixed labels: the derivation and the key id use the key for nothing else.
constexpr std::string_view kDerivationLabel = "Kestrova network key 1";
constexpr std::string_view kKeyIdLabel = "Kestrova network key id";
// A key file is a few lines; anything much longer is not one.
constexpr std::streamsize kMaxKeyFileSize = 4096;

std::span<const uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string hexText(const MacValue& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseHexKey(std::string_view text, NetworkKey* key) {
  if (text.size() != 2 * kMacSize) return false;
  for (size_t i = 0; i < kMacSize; ++i) {
    const int high = hexDigit(text[2 * i]);
    const int low = hexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    key->bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return computeKeyId(key);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// Parses the lines of a key file into *keys. False for anything that is not a key file.
bool parseKeyFile(const std::string& text, NetworkKeySet* keys) {
  std::istringstream lines(text);
  std::string line;
  bool sawSend = false;
  bool sawSecond = false;
  while (std::getline(lines, line)) {
    const std::string_view view = trimmed(line);
    if (view.empty() || view.front() == '#') continue;
    const size_t equals = view.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = trimmed(view.substr(0, equals));
    const std::string_view value = trimmed(view.substr(equals + 1));
    NetworkKey key;
    if (name == "SendKey" && !sawSend) {
      if (!parseHexKey(value, &key)) return false;
      keys->send = key;
      sawSend = true;
    } else if (name == "AcceptKey" && !sawSecond) {
      if (!parseHexKey(value, &key)) return false;
      keys->second = key;
      sawSecond = true;
    } else if (name == "version") {
      if (!parseKeyVersion(value, &keys->version)) return false;
    } else {
      return false;
    }
  }
  // A second key alone would let this server accept packets while sending none.
  return keys->send.has_value();
}

}  // namespace

const NetworkKey* NetworkKeySet::find(uint32_t id) const {
  if (send && send->id == id) return &*send;
  if (second && second->id == id) return &*second;
  return nullptr;
}

const char* checkKeyText(std::string_view text) {
  if (text.size() < kMinKeyTextLength) return "NetworkKeyTooShort";
  if (text.size() > kMaxKeyTextLength) return "NetworkKeyTooLong";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return "NetworkKeyInvalid";
  }
  return nullptr;
}

bool deriveNetworkKey(std::string_view text, NetworkKey* key) {
  if (key == nullptr || !computeMac(bytesOf(text), {bytesOf(kDerivationLabel)}, &key->bytes)) return false;
  return computeKeyId(key);
}

bool computeKeyId(NetworkKey* key) {
  MacValue mac;
  if (!computeMac(key->bytes, {bytesOf(kKeyIdLabel)}, &mac)) return false;
  key->id = uint32_t{mac[0]} << 24 | uint32_t{mac[1]} << 16 | uint32_t{mac[2]} << 8 | uint32_t{mac[3]};
  return true;
}

std::string keyIdText(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof(text), "%08X", id);
  return text;
}

KeyFileStatus readNetworkKeyFile(const char* path, NetworkKeySet* keys) {
  *keys = NetworkKeySet();
  struct stat info {};
  if (path == nullptr || stat(path, &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return KeyFileStatus::kAbsent;
    keys->required = true;
    return KeyFileStatus::kUnreadable;
  }
  keys->required = true;
  std::ifstream in(path, std::ios::binary);
  if (!in || !S_ISREG(info.st_mode)) return KeyFileStatus::kUnreadable;
  std::string text(static_cast<size_t>(kMaxKeyFileSize) + 1, '\0');
  in.read(text.data(), kMaxKeyFileSize + 1);
  if (in.bad()) return KeyFileStatus::kUnreadable;
  text.resize(static_cast<size_t>(in.gcount()));
  NetworkKeySet parsed;
  parsed.required = true;
  if (text.size() > static_cast<size_t>(kMaxKeyFileSize) || text.find('\0') != std::string::npos ||
      !parseKeyFile(text, &parsed)) {
    return KeyFileStatus::kMalformed;
  }
  *keys = parsed;
  return KeyFileStatus::kOk;
}

std::string networkKeyFileText(const NetworkKeySet& keys) {
  std::string text = "# Kestrova network key (derived; the typed key text is kept nowhere)\n";
  text += "version = " + std::to_string(keys.version) + "\n";
  if (keys.send) text += "SendKey = " + hexText(keys.send->bytes) + "\n";
  if (keys.second) text += "AcceptKey = " + hexText(keys.second->bytes) + "\n";
  return text;
}

bool writeNetworkKeyFile(const char* path, const NetworkKeySet& keys) {
  if (path == nullptr || path[0] == '\0') return false;
  if (!keys.send) return unlink(path) == 0 || errno == ENOENT;
  return replacePrivateFile(path, networkKeyFileText(keys));
}

bool parseKeyVersion(std::string_view text, long* version) {
  if (text.empty() || text.size() > 18) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  *version = value;
  return true;
}

bool parseKeyAction(std::string_view text, KeyAction* action) {
  static constexpr std::pair<std::string_view, KeyAction> kActions[] = {{"set", KeyAction::kSet},
                                                                        {"add", KeyAction::kAdd},
                                                                        {"switch", KeyAction::kSwitch},
                                                                        {"drop", KeyAction::kDrop},
                                                                        {"clear", KeyAction::kClear}};
  for (const auto& [name, value] : kActions) {
    if (text.size() == name.size() && strncasecmp(text.data(), name.data(), name.size()) == 0) {
      *action = value;
      return true;
    }
  }
  return false;
}

bool keyActionNeedsKey(KeyAction action) { return action == KeyAction::kSet || action == KeyAction::kAdd; }

const char* applyKeyAction(NetworkKeySet* keys, KeyAction action, const NetworkKey* typed) {
  NetworkKeySet changed = *keys;
  switch (action) {
    case KeyAction::kSet:
      if (typed == nullptr) return "MissingParams";
      changed.send = *typed;
      changed.second.reset();
      break;
    case KeyAction::kAdd:
      if (typed == nullptr) return "MissingParams";
      if (!changed.send) return "NoNetworkKey";
      if (*changed.send == *typed) return "SameNetworkKey";
      changed.second = *typed;
      break;
    case KeyAction::kSwitch:
      if (!changed.send) return "NoNetworkKey";
      if (!changed.second) return "NoSecondKey";
      std::swap(changed.send, changed.second);
      break;
    case KeyAction::kDrop:
      if (!changed.second) return "NoSecondKey";
      changed.second.reset();
      break;
    case KeyAction::kClear:
      changed.send.reset();
      changed.second.reset();
      break;
  }
  changed.required = changed.send.has_value();
  ++changed.version;
  *keys = changed;
  return nullptr;
}
