// URL-encoded form fields; see form_fields.h.
#include "frontend/form_fields.h"

#include <httplib.h>

bool appendUrlEncodedFields(std::string_view text, size_t maxFields, FieldList* fields) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    const size_t equals = item.find('=');
    std::string name = httplib::detail::decode_url(std::string(item.substr(0, equals)), true);
    if (name.empty()) continue;
    if (fields->size() >= maxFields) return false;
    std::string value = equals == std::string_view::npos
                            ? std::string()
                            : httplib::detail::decode_url(std::string(item.substr(equals + 1)), true);
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
