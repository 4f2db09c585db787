// Windows back end of file_platform.h: the C runtime's descriptors, MoveFileEx for the
// replacement (rename() refuses an existing target on Windows).
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <fcntl.h>
#include <sddl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "common/file_platform.h"

namespace {

// errno for the last Windows error of a failed call.
void setErrnoFromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
  }
}

}  // namespace

int createExclusiveFile(const char* path) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

// The folder's access list is the one the file keeps: there is no wider first moment to avoid.
int createFileForReplacement(const char* path) { return createExclusiveFile(path); }

namespace {
// Protected: nothing inherited from the folder. Full access for LocalSystem (the service),
// Administrators and the file's owner.
constexpr char kOwnerOnlyAccess[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";
}  // namespace

int createOwnerOnlyFile(const char* path) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.bInheritHandle = FALSE;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kOwnerOnlyAccess, SDDL_REVISION_1,
                                                            &attributes.lpSecurityDescriptor, nullptr)) {
    setErrnoFromLastError();
    return -1;
  }
  // WRITE_DAC and READ_CONTROL: restrictFileToOwner sets the list again through this handle (it
  // also narrows it where the creation was not honoured), which a write-only handle may not.
  const HANDLE file = CreateFileA(path, GENERIC_WRITE | WRITE_DAC | READ_CONTROL, 0, &attributes, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) setErrnoFromLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    errno = EMFILE;
  }
  return fd;
}

ssize_t writeFile(int fd, const void* data, size_t size) {
  // _write takes an unsigned int count; larger writes go in pieces through the caller's loop.
  const unsigned int count = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
  return _write(fd, data, count);
}

int syncFile(int fd) { return _commit(fd); }

int closeFile(int fd) { return _close(fd); }

// Windows files have no POSIX mode bits to keep: a new file inherits the folder's access list,
// which is what the old file had unless it was narrowed (restrictFileToOwner, or an
// administrator by hand). A narrowed list is not inherited, so it is copied to the new file.
bool copyFileMode(const char* path, int fd) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return true;  // no old file (or none readable): the new one keeps the folder's list
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  DWORD result = ERROR_SUCCESS;
  if (GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED) != 0) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    result = file == INVALID_HANDLE_VALUE
                 ? ERROR_INVALID_HANDLE
                 : SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, dacl, nullptr);
  }
  LocalFree(descriptor);
  if (result == ERROR_SUCCESS) return true;
  SetLastError(result);
  setErrnoFromLastError();
  return false;
}

bool restrictFileToOwner(int fd) {
  const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (file == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kOwnerOnlyAccess, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    setErrnoFromLastError();
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  DWORD result = ERROR_INVALID_SECURITY_DESCR;
  if (GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present) {
    result = SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, dacl, nullptr);
  }
  LocalFree(descriptor);
  if (result == ERROR_SUCCESS) return true;
  SetLastError(result);
  setErrnoFromLastError();
  return false;
}

namespace {

// Whether sid is one of those an owner-only list may allow: LocalSystem, the Administrators, the
// file's owner, or OWNER RIGHTS (how "OW" of kOwnerOnlyAccess is stored).
bool ownerOnlySid(PSID sid, PSID owner) {
  if (owner != nullptr && EqualSid(sid, owner)) return true;
  for (WELL_KNOWN_SID_TYPE type :
       {WinLocalSystemSid, WinBuiltinAdministratorsSid, WinCreatorOwnerRightsSid}) {
    if (IsWellKnownSid(sid, type)) return true;
  }
  return false;
}

std::string sidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "an unreadable SID";
  std::string copy = text;
  LocalFree(text);
  return copy;
}

}  // namespace

bool fileIsOwnerOnly(const char* path, std::string* why) {
  PACL dacl = nullptr;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD result =
      GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor);
  std::string reason;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (result != ERROR_SUCCESS) {
    reason = "cannot be examined: error " + std::to_string(result);
  } else if (dacl == nullptr) {
    reason = "no access list: everyone may open it";
  } else if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
             (control & SE_DACL_PROTECTED) == 0) {
    reason = "its access list inherits the folder's";
  } else {
    for (DWORD i = 0; i < dacl->AceCount && reason.empty(); ++i) {
      void* ace = nullptr;
      if (!GetAce(dacl, i, &ace)) {
        reason = "entry " + std::to_string(i) + " cannot be read";
        continue;
      }
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;  // a denial never widens
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
        reason = "entry " + std::to_string(i) + " is of type " + std::to_string(header->AceType);
        continue;
      }
      PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
      if (!ownerOnlySid(sid, owner)) reason = "it allows " + sidText(sid);
    }
  }
  if (descriptor != nullptr) LocalFree(descriptor);
  if (why != nullptr) *why = reason;
  return reason.empty();
}

// A new file belongs to the account that creates it; Windows lets only a process holding the
// restore privilege give it away, and the access list of restrictFileToOwner keeps it reachable
// for administrators either way.
bool keepFileOwner(const char*, int) { return true; }

bool moveFileOver(const char* temp, const char* path) {
  if (MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  setErrnoFromLastError();
  return false;
}

// MOVEFILE_WRITE_THROUGH has flushed the move already; Windows has no separate folder flush.
void syncFolder(const std::string&) {}

long currentProcessId() { return static_cast<long>(GetCurrentProcessId()); }
