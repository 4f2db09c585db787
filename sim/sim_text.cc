// Small text helpers of the simulator; see sim_text.h.
#include "sim/sim_text.h"

#include <cctype>
#include <charconv>

namespace sim {

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool parseUnsigned(std::string_view text, uint64_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseSigned(std::string_view text, int64_t* value) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, 10);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseInRange(std::string_view text, int64_t low, int64_t high, int* value) {
  int64_t v = 0;
  uint64_t u = 0;
  if (parseUnsigned(text, &u)) {
    if (u > static_cast<uint64_t>(INT64_MAX)) return false;
    v = static_cast<int64_t>(u);
  } else if (!parseSigned(text, &v)) {
    return false;
  }
  if (v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

std::string hexEncode(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

bool hexDecode(std::string_view text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0) return false;
  bytes->clear();
  bytes->reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    uint8_t b = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, b, 16);
    if (ec != std::errc() || end != text.data() + i + 2) return false;
    bytes->push_back(b);
  }
  return true;
}

}  // namespace sim
