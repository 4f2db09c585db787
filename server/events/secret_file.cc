// Secret files and receiver identities; see secret_file.h.
#include "server/events/secret_file.h"

#include <cstdio>
#include <filesystem>
#include <random>

#include "common/file_platform.h"
#include "common/property_file.h"

bool writeSecretFile(const char* path, const char* header, VariableTable table) {
  std::error_code ignored;
  if (table == nullptr) return !std::filesystem::exists(path) || std::filesystem::remove(path, ignored);
  const std::string temporary = std::string(path) + ".new";
  std::filesystem::remove(temporary, ignored);
  // Owner-only from its first instant (mode 0600; on Windows a protected access list), so no
  // other account can open it before the secret is in it.
  const int fd = createOwnerOnlyFile(temporary.c_str());
  if (fd < 0) return false;
  const bool modeSet = restrictFileToOwner(fd);
  closeFile(fd);
  if (!modeSet || writePropertyFile(temporary.c_str(), header, table) != 0 ||
      !moveFileOver(temporary.c_str(), path)) {
    std::filesystem::remove(temporary, ignored);
    return false;
  }
  return true;
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
