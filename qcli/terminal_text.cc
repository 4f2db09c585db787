// Escaping of server text for the terminal; see terminal_text.h.
#include "qcli/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace qcli {

namespace {

void appendEscaped(unsigned char byte, std::string* out) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  out->append(text);
}

// Length of the valid UTF-8 sequence starting at text[i] (2 to 4), or 0 when it is not one.
// Overlong forms, surrogates and values above U+10FFFF are not valid.
size_t utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (overlong || surrogate || value > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string terminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      ++i;
      continue;
    }
    if (c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F)) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    const size_t length = c >= 0x80 ? utf8SequenceLength(text, i) : 0;
    // U+0080-U+009F are the C1 controls (CSI, OSC, ...), encoded as C2 80 - C2 9F.
    const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (length == 0 || c1) {
      const size_t count = c1 ? 2 : 1;
      for (size_t k = 0; k < count; ++k) appendEscaped(static_cast<unsigned char>(text[i + k]), &out);
      i += count;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace qcli
