// iSCSI key=value text; see iscsi_text.h.
#include "sim/iscsi_text.h"

#include <cctype>
#include <set>

namespace iscsi {

namespace {

constexpr size_t kMaxKeyLength = 63;
constexpr size_t kMaxValueLength = 8192;

bool validKey(std::string_view key) {
  if (key.empty() || key.size() > kMaxKeyLength) return false;
  for (char c : key) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+' && c != '@' && c != '_')
      return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool parseText(std::string_view text, TextPairs* pairs, std::string* why) {
  pairs->clear();
  std::set<std::string, std::less<>> seen;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\0', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view pair = text.substr(at, end - at);
    at = end + 1;
    if (pair.empty()) continue;  // padding NULs
    size_t equals = pair.find('=');
    if (equals == std::string_view::npos) {
      *why = "text pair without '='";
      return false;
    }
    std::string_view key = pair.substr(0, equals);
    std::string_view value = pair.substr(equals + 1);
    if (!validKey(key)) {
      *why = "bad key \"" + std::string(key.substr(0, kMaxKeyLength)) + "\"";
      return false;
    }
    if (value.size() > kMaxValueLength) {
      *why = "value of " + std::string(key) + " is too long";
      return false;
    }
    if (!seen.insert(std::string(key)).second) {
      *why = "key " + std::string(key) + " given twice";
      return false;
    }
    pairs->emplace_back(std::string(key), std::string(value));
  }
  return true;
}

std::vector<uint8_t> encodeText(const TextPairs& pairs) {
  std::vector<uint8_t> out;
  for (const auto& [key, value] : pairs) {
    out.insert(out.end(), key.begin(), key.end());
    out.push_back('=');
    out.insert(out.end(), value.begin(), value.end());
    out.push_back('\0');
  }
  return out;
}

std::optional<uint64_t> parseNumber(std::string_view value) {
  if (value.empty() || value.size() > 20) return std::nullopt;
  uint64_t result = 0;
  if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    if (value.size() > 18) return std::nullopt;
    for (char c : value.substr(2)) {
      int d = hexDigit(c);
      if (d < 0) return std::nullopt;
      result = result * 16 + static_cast<uint64_t>(d);
    }
    return result;
  }
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    uint64_t next = result * 10 + static_cast<uint64_t>(c - '0');
    if (next / 10 != result) return std::nullopt;
    result = next;
  }
  return result;
}

std::optional<bool> parseBoolean(std::string_view value) {
  if (value == "Yes") return true;
  if (value == "No") return false;
  return std::nullopt;
}

std::vector<std::string> splitList(std::string_view value) {
  std::vector<std::string> items;
  size_t at = 0;
  while (at <= value.size()) {
    size_t comma = value.find(',', at);
    if (comma == std::string_view::npos) comma = value.size();
    items.emplace_back(value.substr(at, comma - at));
    at = comma + 1;
  }
  return items;
}

std::optional<std::vector<uint8_t>> decodeBinary(std::string_view value, size_t maxBytes) {
  if (value.size() < 3 || value[0] != '0') return std::nullopt;
  std::string_view digits = value.substr(2);
  std::vector<uint8_t> bytes;
  if (value[1] == 'x' || value[1] == 'X') {
    if ((digits.size() + 1) / 2 > maxBytes) return std::nullopt;
    size_t i = 0;
    if (digits.size() % 2 == 1) {
      int d = hexDigit(digits[0]);
      if (d < 0) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(d));
      i = 1;
    }
    for (; i < digits.size(); i += 2) {
      int high = hexDigit(digits[i]);
      int low = hexDigit(digits[i + 1]);
      if (high < 0 || low < 0) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
  }
  if (value[1] != 'b' && value[1] != 'B') return std::nullopt;
  if (digits.size() % 4 != 0 || digits.size() / 4 * 3 > maxBytes + 2) return std::nullopt;
  uint32_t accumulator = 0;
  int bits = 0;
  size_t padding = 0;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (digits[i] == '=') {
      if (i + 2 < digits.size()) return std::nullopt;  // '=' only in the last two places
      ++padding;
      continue;
    }
    if (padding != 0) return std::nullopt;
    int d = base64Digit(digits[i]);
    if (d < 0) return std::nullopt;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>(accumulator >> bits));
    }
  }
  if (bytes.size() > maxBytes) return std::nullopt;
  return bytes;
}

std::string encodeHex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text = "0x";
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

const std::string* findKey(const TextPairs& pairs, std::string_view key) {
  for (const auto& [k, v] : pairs) {
    if (k == key) return &v;
  }
  return nullptr;
}

}  // namespace iscsi
