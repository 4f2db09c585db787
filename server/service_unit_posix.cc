// The systemd service's unit file, the program's path and error texts; see service_unit.h.
#include "server/service_unit.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr size_t kMaxErrorText = 256;

// systemd expands specifiers introduced by '%' in most settings.
std::string escapeSpecifiers(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

// ExecStart splits at blanks unless the word is quoted; inside quotes backslash escapes.
std::string quoteCommand(const std::string& path) {
  std::string out = "\"";
  for (char c : escapeSpecifiers(path)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

ServiceSetup serviceSetupFromEnvironment() {
  ServiceSetup setup;
  const char* folder = std::getenv(kUnitFolderVariable);
  setup.unitFolder = (folder != nullptr && *folder != '\0') ? folder : kDefaultUnitFolder;
  while (setup.unitFolder.size() > 1 && setup.unitFolder.back() == '/') setup.unitFolder.pop_back();
  setup.systemManaged = setup.unitFolder == kDefaultUnitFolder;
  return setup;
}

std::string unitFileName(const char* name) { return std::string(name) + ".service"; }

std::string unitFilePath(const ServiceSetup& setup, const char* name) {
  return setup.unitFolder + "/" + unitFileName(name);
}

bool buildUnitText(const char* name, const char* displayName, const std::string& path, std::string* text) {
  if (path.empty() || path[0] != '/' || path.find_first_of("\r\n") != std::string::npos) return false;
  std::string folder = folderOf(path);
  if (folder.empty()) return false;
  *text = "[Unit]\nDescription=" + escapeSpecifiers(displayName) +
          "\nAfter=network-online.target\nWants=network-online.target\n\n"
          "[Service]\nType=notify\nExecStart=" +
          quoteCommand(path) + "\nWorkingDirectory=" + escapeSpecifiers(folder) +
          "\nEnvironment=" + kServiceNameVariable + "=" + name +
          "\nTimeoutStartSec=120\nTimeoutStopSec=120\n\n"
          "[Install]\nWantedBy=multi-user.target\n";
  return true;
}

std::string programPath() {
  std::vector<char> buffer(4096);
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return std::string();
  if (static_cast<size_t>(length) >= buffer.size() - 1) {
    errno = ENAMETOOLONG;
    return std::string();
  }
  return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string errorText(int error) {
  std::string text = std::system_category().message(error);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  char number[32];
  std::snprintf(number, sizeof number, " (0x%x)", static_cast<unsigned>(error));
  text += number;
  return text.size() < kMaxErrorText ? text : std::string();
}
