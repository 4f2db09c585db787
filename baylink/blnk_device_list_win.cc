// The device list file on Windows: "blnkscan" in the folder of %TEMP%, replaced whole with an
// owner-only access list (common/atomic_file.h), and read or appended to only when the name is a
// plain file, never a link or junction planted in its place, owned by this account, the
// Administrators or LocalSystem. The service's %TEMP% (the system's Temp folder) lets every user
// create files: a list planted there would name devices for the library to open.
#include <windows.h>
// after windows.h
#include <aclapi.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "baylink/blnk_debug.h"
#include "baylink/blnk_device_list.h"
#include "common/atomic_file.h"

namespace {

bool trustedOwner(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool trusted = IsWellKnownSid(owner, WinBuiltinAdministratorsSid) != FALSE ||
                 IsWellKnownSid(owner, WinLocalSystemSid) != FALSE;
  HANDLE token = nullptr;
  if (!trusted && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != FALSE) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) != FALSE)
      trusted = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid) != FALSE;
    CloseHandle(token);
  }
  LocalFree(descriptor);
  return trusted;
}

// Opens path (which must exist) as a plain file; INVALID_HANDLE_VALUE otherwise.
HANDLE openPlainFile(const std::string& path, DWORD access) {
  HANDLE file = CreateFileA(path.c_str(), access | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(file, &info) == FALSE ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    blnkTrace("Device list %s is not a plain file - ignored", path.c_str());
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  if (!trustedOwner(file)) {
    blnkTrace("Device list %s belongs to another account - ignored", path.c_str());
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

bool writeAll(HANDLE file, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    if (WriteFile(file, text.data() + done, chunk, &written, nullptr) == FALSE || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

std::string blnkDefaultDeviceListPath() {
  std::string folder;
  if (const char* temp = std::getenv("TEMP"); temp != nullptr && *temp != '\0') {
    folder = temp;
  } else {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length > 0 && length < sizeof buffer) folder.assign(buffer, length);
  }
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder + "blnkscan";
}

bool blnkReadDeviceList(std::vector<std::string>* lines) {
  lines->clear();
  HANDLE file = openPlainFile(blnkDeviceListPath(), GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE && got > 0) text.append(buffer, got);
  CloseHandle(file);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(line.substr(0, kBlnkListLineMax));
  }
  return true;
}

bool blnkWriteDeviceList(const std::vector<std::string>& lines) {
  const std::string path = blnkDeviceListPath();
  std::string why;
  if (replaceFileAtomically(path, blnkJoinListLines(lines), FileAccess::ownerOnly(), &why)) return true;
  blnkTrace("Cannot write the device list %s: %s", path.c_str(), why.c_str());
  return false;
}

bool blnkAppendDeviceList(const std::string& path, const std::vector<std::string>& lines) {
  HANDLE file = openPlainFile(path, FILE_APPEND_DATA);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = writeAll(file, blnkJoinListLines(lines));
  CloseHandle(file);
  return ok;
}
