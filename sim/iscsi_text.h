// The key=value text of iSCSI login and text PDUs: pairs separated by NUL bytes, parsed with the
// limits of the protocol (keys of at most 63 characters made of letters, digits, '.', '-', '+',
// '@', '_'; values of at most 8192 bytes), and the value forms the target negotiates with:
// numbers, Yes/No, lists, and binary values written as 0x hexadecimal or 0b base64.
//
// Thread safety: pure functions over plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace iscsi {

using TextPairs = std::vector<std::pair<std::string, std::string>>;

// Parses a whole text segment. False with a reason for a pair without "=", a bad key, an
// over-long value or a key given twice (the protocol forbids repeating a key in one exchange).
bool parseText(std::string_view text, TextPairs* pairs, std::string* why);
std::vector<uint8_t> encodeText(const TextPairs& pairs);

// A decimal number (or 0x hexadecimal) of at most 64 bits; nullopt otherwise.
std::optional<uint64_t> parseNumber(std::string_view value);
// "Yes" or "No"; nullopt otherwise.
std::optional<bool> parseBoolean(std::string_view value);
// A comma-separated list of values.
std::vector<std::string> splitList(std::string_view value);

// A binary value: "0x" + hexadecimal digits (an odd count has an implied leading 0) or "0b" +
// base64. nullopt when malformed or longer than maxBytes.
std::optional<std::vector<uint8_t>> decodeBinary(std::string_view value, size_t maxBytes);
// "0x" + lower-case hexadecimal.
std::string encodeHex(const std::vector<uint8_t>& bytes);

// The value of key in pairs, or nullptr.
const std::string* findKey(const TextPairs& pairs, std::string_view key);

}  // namespace iscsi
