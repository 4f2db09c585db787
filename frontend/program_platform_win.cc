// cgiloader's platform half under Windows: GetModuleFileName, and the console's controls as stop
// requests (Windows calls the handler on a thread of its own); see program_platform.h.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "frontend/http_mode.h"
#include "frontend/program_platform.h"

namespace {

std::atomic<HttpFrontEnd*> running{nullptr};

BOOL WINAPI onConsoleControl(DWORD control) {
  switch (control) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (HttpFrontEnd* http = running.load()) {
        std::printf("cgiloader: console event %lu, stopping\n", static_cast<unsigned long>(control));
        std::fflush(stdout);
        http->stop();
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::filesystem::path programPath(const char* argv0) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 && length < buffer.size()) return std::filesystem::path(buffer.substr(0, length));
    if (length == 0 || buffer.size() >= 32768) break;  // longer than any Windows path
    buffer.resize(buffer.size() * 2);
  }
  std::error_code error;
  return std::filesystem::absolute(argv0, error);
}

void blockStopRequests() {}

void serveUntilStopped(HttpFrontEnd* http) {
  running.store(http);
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
  http->run();
  SetConsoleCtrlHandler(onConsoleControl, FALSE);
  running.store(nullptr);
}
