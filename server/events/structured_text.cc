// Text helpers of the structured notifier formats; see structured_text.h.
#include "server/events/structured_text.h"

#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at text[at], or 0 when the bytes there are not one
// (overlong forms, surrogates and values above U+10FFFF included).
size_t utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char first = byte(0);
  size_t length = 0;
  uint32_t value = 0;
  if (first < 0x80) return 1;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
    value = first & 0x1F;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    value = first & 0x0F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    value = first & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
      (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
    return 0;
  }
  return length;
}

}  // namespace

std::string cleanUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8SequenceLength(text, at);
    if (length == 0) {
      out += '?';
      ++at;
      continue;
    }
    const auto first = static_cast<unsigned char>(text[at]);
    if (length == 1 && (first < 0x20 || first == 0x7F)) {
      out += ' ';
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

std::string jsonString(std::string_view text) {
  const std::string clean = cleanUtf8(text);
  std::string out = "\"";
  for (char c : clean) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string rfc3339Utc(time_t when) {
  std::tm parts{};
  if (gmtime_r(&when, &parts) == nullptr) return "1970-01-01T00:00:00Z";
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

const char* concernLevelName(uint32_t concernLevel) {
  switch (concernLevel) {
    case 0:
      return "information";
    case 2:
      return "error";
    case 4:
      return "notice";
    default:
      return "warning";
  }
}

std::string eventIdText(uint32_t eventId) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", eventId);
  return text;
}
