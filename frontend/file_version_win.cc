// Windows half of file_version.h: the file's information through a handle that shares every
// access, so a writer replacing the file is never blocked by the check.
#include <windows.h>

#include "frontend/file_version.h"

bool regularFileVersion(const std::filesystem::path& path, FileVersion* version) {
  const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  const bool known = GetFileInformationByHandle(file, &info) != 0 &&
                     GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) != 0;
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  if (!known || type != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  const auto join = [](DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; };
  *version = FileVersion{info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
                         static_cast<int64_t>(join(info.nFileSizeHigh, info.nFileSizeLow)),
                         static_cast<int64_t>(join(info.ftLastWriteTime.dwHighDateTime,
                                                   info.ftLastWriteTime.dwLowDateTime)) * 100,
                         static_cast<int64_t>(basic.ChangeTime.QuadPart) * 100};
  return true;
}
