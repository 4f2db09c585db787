// Secret files and receiver identities; see secret_file.h.
#include "server/events/secret_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "common/property_file.h"

bool writeSecretFile(const char* path, const char* header, VariableTable table) {
  std::error_code ignored;
  if (table == nullptr) return !std::filesystem::exists(path) || std::filesystem::remove(path, ignored);
  const std::string temporary = std::string(path) + ".new";
  std::filesystem::remove(temporary, ignored);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool modeSet = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  if (!modeSet || writePropertyFile(temporary.c_str(), header, table) != 0 ||
      std::rename(temporary.c_str(), path) != 0) {
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
