// Formatter for stored texts; see stored_format.h.
#include "modules/brivo/stored_format.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace brivo {

namespace {

// One parsed conversion: its rebuilt, known-safe printf conversion (flags, width, precision) and the
// conversion character.
struct Conversion {
  std::string pattern = "%";
  char kind = 0;
  size_t length = 0;  // characters of the format it covers
};

// Parses the conversion starting at format[at] == '%'. kind stays 0 when the text there is not
// a conversion this formatter knows (it is then copied literally).
Conversion parseConversion(std::string_view format, size_t at) {
  Conversion c;
  size_t i = at + 1;
  while (i < format.size() && std::string_view("-+ 0#").find(format[i]) != std::string_view::npos) {
    c.pattern += format[i++];
  }
  for (int digits = 0; i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])); ++i) {
    if (++digits > 3) return Conversion{};
    c.pattern += format[i];
  }
  if (i < format.size() && format[i] == '.') {
    c.pattern += format[i++];
    for (int digits = 0; i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])); ++i) {
      if (++digits > 3) return Conversion{};
      c.pattern += format[i];
    }
  }
  while (i < format.size() && std::string_view("hlLqjzt").find(format[i]) != std::string_view::npos) ++i;
  if (i >= format.size() || std::string_view("diuxXcs%").find(format[i]) == std::string_view::npos) {
    return Conversion{};
  }
  c.kind = format[i];
  c.length = i + 1 - at;
  return c;
}

// A %s conversion with width or precision, whatever the length of the text.
std::string printedText(const std::string& pattern, const char* text) {
  const int length = std::snprintf(nullptr, 0, pattern.c_str(), text);
  if (length <= 0) return {};
  std::string out(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(out.data(), out.size(), pattern.c_str(), text);
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string convert(const Conversion& c, const FormatArg* arg) {
  if (arg == nullptr) return {};
  char buffer[1100];  // a number with at most 999 digits of width or precision
  std::string pattern = c.pattern;
  switch (c.kind) {
    case 's':
      if (!arg->isText) return std::to_string(arg->number);
      if (pattern == "%") return arg->text;
      pattern += 's';
      return printedText(pattern, arg->text);
    case 'c':
      pattern += 'c';
      std::snprintf(buffer, sizeof(buffer), pattern.c_str(), static_cast<int>(arg->isText ? 0 : arg->number));
      return buffer;
    case 'd':
    case 'i':
      pattern += "lld";
      std::snprintf(buffer, sizeof(buffer), pattern.c_str(), arg->isText ? 0LL : arg->number);
      return buffer;
    default:  // u, x, X: unsigned 32-bit, as the texts print register-sized values
      pattern += "ll";
      pattern += c.kind;
      std::snprintf(buffer, sizeof(buffer), pattern.c_str(),
                    arg->isText ? 0ULL : static_cast<unsigned long long>(static_cast<uint32_t>(arg->number)));
      return buffer;
  }
}

}  // namespace

std::string formatStoredText(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  const FormatArg* next = args.begin();
  size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      out += format[i++];
      continue;
    }
    const Conversion c = parseConversion(format, i);
    if (c.kind == 0) {
      out += format[i++];
      continue;
    }
    i += c.length;
    if (c.kind == '%') {
      out += '%';
      continue;
    }
    out += convert(c, next != args.end() ? next : nullptr);
    if (next != args.end()) ++next;
  }
  return out;
}

}  // namespace brivo
