// The program's path and error texts for the Windows service; see service_unit.h. The unit-file
// functions belong to the systemd service only: Windows keeps its services in the service
// manager's own database.
#include "server/service_unit.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

ServiceSetup serviceSetupFromEnvironment() {
  ServiceSetup setup;
  setup.systemManaged = true;
  return setup;
}

std::string programPath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return std::string();  // longer than any Windows path
    buffer.resize(buffer.size() * 2);
  }
}

std::string folderOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return std::string();
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

std::string errorText(int error) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string result(text, length);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  char number[32];
  std::snprintf(number, sizeof number, " (0x%x)", static_cast<unsigned>(error));
  result += number;
  return result.size() < 256 ? result : std::string();
}
