// Secret files and receiver identities; see secret_file.h.
#include "server/events/secret_file.h"

#include <cstdio>
#include <filesystem>
#include <random>

#include "common/property_file.h"

bool writeSecretFile(const char* path, const char* header, VariableTable table) {
  std::error_code ignored;
  if (table == nullptr) return !std::filesystem::exists(path) || std::filesystem::remove(path, ignored);
  // Owner-only from its first instant (mode 0600; on Windows a protected access list), so no
  // other account can open it before the secret is in it.
  return writePropertyFileAs(path, header, table, FileAccess::ownerOnly()) == 0;
}

std::string newReceiverId() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::random_device source;
  std::string id;
  for (int i = 0; i < 16; ++i) id += kDigits[source() % 16];
  return id;
}

bool isReceiverId(std::string_view text) {
  if (text.size() != 16) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}
