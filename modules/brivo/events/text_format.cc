// Safe filling of data-file format texts; see text_format.h.
#include "modules/brivo/events/text_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace brivo::events {

namespace {

struct Conversion {
  int position = 0;  // 1-based, 0 = next sequential argument
  std::string flags;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads up to two digits at *at; -1 when there are none, -2 when there are more than two.
int readSmallNumber(std::string_view format, size_t* at) {
  size_t start = *at;
  int value = 0;
  while (*at < format.size() && isDigit(format[*at])) value = value * 10 + (format[(*at)++] - '0');
  if (*at == start) return -1;
  return *at - start > 2 ? -2 : value;
}

// Parses the conversion after the '%' at format[*at - 1]; on success *at is past it.
bool parseConversion(std::string_view format, size_t* at, Conversion* conv) {
  size_t i = *at;
  size_t digits = i;
  while (digits < format.size() && isDigit(format[digits])) ++digits;
  if (digits > i && digits < format.size() && format[digits] == '$') {
    int position = 0;
    for (size_t k = i; k < digits; ++k) position = position * 10 + (format[k] - '0');
    if (digits - i > 2 || position == 0) return false;
    conv->position = position;
    i = digits + 1;
  }
  while (i < format.size() && std::strchr("-+ #0", format[i]) != nullptr && format[i] != '\0') {
    conv->flags += format[i++];
  }
  conv->width = readSmallNumber(format, &i);
  if (conv->width == -2) return false;
  if (i < format.size() && format[i] == '.') {
    ++i;
    conv->precision = readSmallNumber(format, &i);
    if (conv->precision == -2) return false;
    if (conv->precision == -1) conv->precision = 0;
  }
  while (i < format.size() && std::strchr("hlzjt", format[i]) != nullptr && format[i] != '\0') ++i;
  if (i >= format.size() || std::strchr("diuxXocs", format[i]) == nullptr || format[i] == '\0') return false;
  conv->conversion = format[i];
  *at = i + 1;
  return true;
}

std::string padded(std::string text, const Conversion& conv) {
  if (conv.precision >= 0 && text.size() > static_cast<size_t>(conv.precision)) text.resize(conv.precision);
  if (conv.width > 0 && text.size() < static_cast<size_t>(conv.width)) {
    std::string fill(conv.width - text.size(), ' ');
    text = conv.flags.find('-') != std::string::npos ? text + fill : fill + text;
  }
  return text;
}

std::string numberText(int64_t value, const Conversion& conv) {
  std::string c = "%" + conv.flags;
  if (conv.width >= 0) c += std::to_string(conv.width);
  if (conv.precision >= 0) c += "." + std::to_string(conv.precision);
  char buffer[256];
  if (conv.conversion == 'd' || conv.conversion == 'i') {
    c += "lld";
    std::snprintf(buffer, sizeof buffer, c.c_str(), static_cast<long long>(value));
  } else {
    // Negative values of int width print as the C library prints an int: two's complement.
    uint64_t bits =
        value < 0 && value >= INT32_MIN ? static_cast<uint32_t>(value) : static_cast<uint64_t>(value);
    c += "ll";
    c += conv.conversion;
    std::snprintf(buffer, sizeof buffer, c.c_str(), static_cast<unsigned long long>(bits));
  }
  return buffer;
}

// The text of one conversion; false when the argument is missing or of the other kind.
bool convert(const Conversion& conv, const FormatArg* arg, std::string* out) {
  if (arg == nullptr) return false;
  if (conv.conversion == 's') {
    *out += padded(arg->isText ? arg->text : std::to_string(arg->number), conv);
    return arg->isText;
  }
  if (conv.conversion == 'c') {
    char c = arg->isText ? (arg->text.empty() ? ' ' : arg->text[0]) : static_cast<char>(arg->number);
    *out += padded(std::string(1, c == '\0' ? ' ' : c), Conversion{0, conv.flags, conv.width, -1, 'c'});
    return !arg->isText;
  }
  if (arg->isText) {
    *out += padded(arg->text, Conversion{0, conv.flags, conv.width, -1, 's'});
    return false;
  }
  *out += numberText(arg->number, conv);
  return true;
}

}  // namespace

bool formatText(std::string_view format, std::span<const FormatArg> args, std::string* out) {
  bool ok = true;
  size_t next = 0;
  size_t i = 0;
  while (i < format.size()) {
    size_t percent = format.find('%', i);
    if (percent == std::string_view::npos) {
      out->append(format.substr(i));
      break;
    }
    out->append(format.substr(i, percent - i));
    if (percent + 1 < format.size() && format[percent + 1] == '%') {
      *out += '%';
      i = percent + 2;
      continue;
    }
    size_t at = percent + 1;
    Conversion conv;
    if (!parseConversion(format, &at, &conv)) {
      *out += '%';  // written as it stands
      ok = false;
      i = percent + 1;
      continue;
    }
    size_t index = conv.position > 0 ? static_cast<size_t>(conv.position - 1) : next++;
    const FormatArg* arg = index < args.size() ? &args[index] : nullptr;
    if (!convert(conv, arg, out)) ok = false;
    i = at;
  }
  return ok;
}

std::string formatted(std::string_view format, std::span<const FormatArg> args, bool* ok) {
  std::string out;
  bool result = formatText(format, args, &out);
  if (ok != nullptr) *ok = result;
  return out;
}

}  // namespace brivo::events
