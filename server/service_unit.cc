// Service names and the parameters passed through the service manager; see service_unit.h.
#include "server/service_unit.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

bool isNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.' || c == ':';
}

}  // namespace

bool isValidServiceName(const char* name) {
  if (name == nullptr) return false;
  size_t length = std::strlen(name);
  if (length == 0 || length > 99) return false;
  if (name[0] == '-' || name[0] == '.' || name[0] == ':') return false;
  for (size_t i = 0; i < length; ++i) {
    if (!isNameCharacter(name[i])) return false;
  }
  return true;
}

std::string encodeServiceParams(const std::vector<const char*>& params) {
  std::string joined;
  for (const char* param : params) {
    if (!joined.empty()) joined += ' ';
    for (const char* c = param; *c != '\0'; ++c) {
      switch (*c) {
        case ' ':
          joined += "\\s";
          break;
        case '\t':
          joined += "\\t";
          break;
        case '\n':
          joined += "\\n";
          break;
        case '\\':
          joined += "\\\\";
          break;
        default:
          joined += *c;
      }
    }
  }
  return joined;
}

std::vector<std::string> decodeServiceParams(const std::string& text) {
  std::vector<std::string> params;
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) params.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c != '\\' || i + 1 == text.size()) {
      word += c;
      continue;
    }
    const char next = text[++i];
    word += next == 's' ? ' ' : next == 't' ? '\t' : next == 'n' ? '\n' : next;
  }
  if (inWord) params.push_back(word);
  return params;
}
