// URL-encoded form fields; see form_fields.h.
#include "frontend/form_fields.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of count hexadecimal digits at text[at...], or -1 when they are not all there.
int hexNumber(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    const int digit = hexValue(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// UTF-8 of a "%uXXXX" code; nothing for a lone surrogate half, which has no UTF-8 form.
void appendUtf8(int code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0xD800 || code >= 0xE000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::string formDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%' || i + 1 >= text.size()) {
      out.push_back(c);
    } else if (text[i + 1] == 'u') {
      const int code = hexNumber(text, i + 2, 4);
      if (code < 0) {
        out.push_back(c);
      } else {
        appendUtf8(code, &out);
        i += 5;
      }
    } else {
      const int code = hexNumber(text, i + 1, 2);
      if (code < 0) {
        out.push_back(c);
      } else {
        out.push_back(static_cast<char>(code));
        i += 2;
      }
    }
  }
  return out;
}

bool appendUrlEncodedFields(std::string_view text, size_t maxFields, FieldList* fields) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    const size_t equals = item.find('=');
    std::string name = formDecoded(item.substr(0, equals));
    if (name.empty()) continue;
    if (fields->size() >= maxFields) return false;
    std::string value = equals == std::string_view::npos
                            ? std::string()
                            : formDecoded(item.substr(equals + 1));
    fields->emplace_back(std::move(name), std::move(value));
  }
  return true;
}

bool anyFieldHoldsNul(const FieldList& fields) {
  for (const auto& [name, value] : fields) {
    if (name.find('\0') != std::string::npos || value.find('\0') != std::string::npos) return true;
  }
  return false;
}

const std::string* fieldOf(const FieldList& fields, std::string_view name) {
  for (const auto& [key, value] : fields) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::string urlEncoded(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
        b == '_' || b == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}
