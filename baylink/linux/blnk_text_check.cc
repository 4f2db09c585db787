// Caller text checks; see blnk_text_check.h.
#include "baylink/linux/blnk_text_check.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

bool parseAddress(const char* text, unsigned parts[4]) {
  if (text == nullptr) return false;
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    int digits = 0;
    unsigned value = 0;
    while (std::isdigit(static_cast<unsigned char>(*p)) != 0 && digits < 4) {
      value = value * 10 + static_cast<unsigned>(*p++ - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    parts[i] = value;
    if (i < 3 && *p++ != '.') return false;
  }
  return *p == '\0';
}

}  // namespace

bool blnkValidAddress(const char* text) {
  unsigned parts[4];
  return parseAddress(text, parts);
}

bool blnkValidAddressOrNone(const char* text) {
  return text != nullptr && (std::strcmp(text, kBlnkNoAddress) == 0 || blnkValidAddress(text));
}

bool blnkValidHostName(const char* text) {
  if (text == nullptr || *text == '\0' || std::strlen(text) > static_cast<size_t>(kBlnkServerNameMax))
    return false;
  static const char kForbidden[] = ".!@#$%^&*()|></?~`:'{}[],+\"";
  for (const char* p = text; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (std::isgraph(c) == 0 || std::strchr(kForbidden, c) != nullptr || c == '\\' || c == ';') return false;
  }
  return true;
}

std::string blnkNetworkOf(const std::string& address, const std::string& netmask) {
  unsigned a[4];
  unsigned m[4];
  if (!parseAddress(address.c_str(), a) || !parseAddress(netmask.c_str(), m)) return kBlnkNoAddress;
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", a[0] & m[0], a[1] & m[1], a[2] & m[2], a[3] & m[3]);
  return text;
}
