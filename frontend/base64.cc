// Base64 decoding of both alphabets; see base64.h.
#include "frontend/base64.h"

#include <cstdint>

namespace {

int sextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

}  // namespace

bool decodeBase64Any(std::string_view text, std::string* out) {
  out->clear();
  size_t padding = 0;
  while (!text.empty() && text.back() == '=' && padding < 2) {
    text.remove_suffix(1);
    ++padding;
  }
  // Padded text comes in groups of four; unpadded text never leaves a single character over.
  if (padding > 0 && (text.size() + padding) % 4 != 0) return false;
  if (text.size() % 4 == 1) return false;
  out->reserve(text.size() / 4 * 3 + 2);
  uint32_t bits = 0;
  int held = 0;
  for (char c : text) {
    const int sextet = sextetOf(c);
    if (sextet < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(sextet);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out->push_back(static_cast<char>((bits >> held) & 0xff));
    }
  }
  return true;
}
