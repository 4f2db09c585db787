// The debug file on Windows: a name that is a link or junction (a reparse point) is opened as
// itself and refused, never followed, as O_NOFOLLOW does on POSIX.
#include <windows.h>

#include "baylink/blnk_debug.h"

bool blnkWriteDebugFile(const std::string& text, bool truncate) {
  const DWORD access = truncate ? GENERIC_WRITE : FILE_APPEND_DATA;
  HANDLE file = CreateFileA(kBlnkDebugFile, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  bool ok = GetFileInformationByHandle(file, &info) != FALSE &&
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
  if (ok && truncate) ok = SetEndOfFile(file) != FALSE;
  const char* p = text.data();
  size_t left = ok ? text.size() : 0;
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    if (WriteFile(file, p, chunk, &written, nullptr) == FALSE || written == 0) {
      ok = false;
      break;
    }
    p += written;
    left -= written;
  }
  CloseHandle(file);
  return ok;
}

long blnkDebugFileBytes() {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExA(kBlnkDebugFile, GetFileExInfoStandard, &data) == FALSE) return 0;
  const unsigned long long size =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return size > 0x7FFFFFFFull ? 0x7FFFFFFFL : static_cast<long>(size);
}
