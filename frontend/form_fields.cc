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
