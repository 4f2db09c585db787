// The command runner's test child: "blnk_argv_echo CODE [ARG...]" prints each ARG on a line of
// its own, as the Windows command-line parse gave it (UTF-8), and exits with CODE;
// "blnk_argv_echo sleep" waits a minute. Windows only (CommandLineToArgvW).
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr || count < 2) return 100;
  if (std::wcscmp(args[1], L"sleep") == 0) {
    Sleep(60000);
    return 0;
  }
  for (int i = 2; i < count; ++i) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, args[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length - 1 : 0), '\0');
    if (length > 1) WideCharToMultiByte(CP_UTF8, 0, args[i], -1, text.data(), length, nullptr, nullptr);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
  const int code = static_cast<int>(std::wcstol(args[1], nullptr, 10));
  LocalFree(args);
  return code;
}
