// Windows back end of the named shared memory (shared_memory.h): pagefile-backed file mappings
// "Global\<prefix><number>" (shared_object_win.h) with a security descriptor for the service
// account, the administrators and the creator. A mapping's name lives as long as some process
// holds a handle to it, so a process that ends leaves nothing behind: removing a name is
// never needed (removeSharedMemory reports that there was none). The claim is a second named
// object, "<prefix>claim<number>", that exists while its claimer holds it.
#include <windows.h>
// bcrypt.h after windows.h, which it needs.
#include <bcrypt.h>

#include <cstring>
#include <new>
#include <string>

#include "common/debug.h"
#include "common/shared_memory.h"
#include "common/shared_object_win.h"

namespace {

constexpr uint32_t kSharedMemoryDebug = 0x40012;  // smem, Server, level 2

struct WinSection : SharedMemoryRecord {
  HANDLE mapping = nullptr;
  HANDLE claim = nullptr;
};

// Records the cause (the system error of the failed call) for sharedMemoryError and prints it.
void printFailure(const char* what, const std::string& object) {
  const DWORD error = GetLastError();
  setSharedMemoryError(std::string(what) + " " + object + ": Windows error " + std::to_string(error));
  debugPrint(kSharedMemoryDebug, "smem: %s %s: error %lu\n", what, object.c_str(), error);
}

// The exact size the creator gave the section. The Windows API proper only tells the size of
// the mapped view rounded up to whole pages; ntdll's section query has the section's own size.
bool sectionSize(HANDLE mapping, const void* view, size_t* size) {
  struct SectionBasicInformation {
    PVOID base;
    ULONG attributes;
    LARGE_INTEGER size;
  };
  using QuerySection = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  static const QuerySection query = reinterpret_cast<QuerySection>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySection")));
  SectionBasicInformation info{};
  if (query != nullptr && query(mapping, 0, &info, sizeof(info), nullptr) >= 0 && info.size.QuadPart >= 0) {
    *size = static_cast<size_t>(info.size.QuadPart);
    return true;
  }
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(view, &region, sizeof(region)) == 0) return false;
  *size = region.RegionSize;
  return true;
}

WinSection* newRecord(HANDLE mapping, void* view, size_t size, uint32_t name, int owner) {
  WinSection* record = new (std::nothrow) WinSection;
  if (record == nullptr) return nullptr;
  *static_cast<SharedMemoryRecord*>(record) = SharedMemoryRecord{0, view, size, name, owner};
  record->mapping = mapping;
  return record;
}

// The object name of a section name text ("<number>" or a private name); empty when the text is
// no section name or the prefix is unusable. *number receives the number.
std::string objectNameOf(const std::string& name, uint32_t* number) {
  const std::string digits = name.substr(0, name.find('.'));
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
    return {};
  *number = static_cast<uint32_t>(std::stoul(digits));
  if (!isSectionNameOf(name, *number)) return {};
  const std::string object = sharedObjectName("", *number);
  return object.empty() ? object : object + name.substr(digits.size());
}

}  // namespace

std::string sharedMemoryObjectName(uint32_t name) { return sharedObjectName("", name); }

std::string privateSectionName(uint32_t base) {
  unsigned char bytes[kPrivateSectionNameDigits / 2];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string name = std::to_string(base) + ".";
  for (unsigned char b : bytes) {
    name.push_back(kDigits[b >> 4]);
    name.push_back(kDigits[b & 0xF]);
  }
  return name;
}

// Only administrators and services may create objects in the Global namespace, so another user
// cannot take one of its names; nothing is foreign there.
bool foreignSharedMemory(const std::string&, unsigned*) { return false; }

// A mapping's name lives as long as any handle to it, ours included.
bool sharedMemoryStillNamed(const SharedMemoryRecord* record) { return record != nullptr; }

int createSharedMemory(size_t size, SharedMemoryRecord** record, uint32_t name) {
  return createSharedMemoryNamed(size, record, std::to_string(name));
}

int openSharedMemory(SharedMemoryRecord** record, uint32_t name) {
  return openSharedMemoryNamed(record, std::to_string(name));
}

int createSharedMemoryNamed(size_t size, SharedMemoryRecord** record, const std::string& text) {
  if (record == nullptr) return 1;
  *record = nullptr;
  uint32_t name = 0;
  const std::string object = objectNameOf(text, &name);
  ObjectSecurity security;
  if (object.empty() || security.attributes() == nullptr) {
    setSharedMemoryError(object.empty() ? "no shared memory object for section name \"" + text + "\""
                                        : "create " + object + ": no security descriptor");
    return 1;
  }
  // A section cannot be empty; a request for 0 bytes gets one byte and reports size 0.
  const unsigned long long real = size > 0 ? size : 1;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE,
                                      static_cast<DWORD>(real >> 32), static_cast<DWORD>(real & 0xffffffffu),
                                      object.c_str());
  if (mapping == nullptr) {
    printFailure("create", object);
    return 1;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mapping);
    setSharedMemoryError("create " + object + ": exists already");
    debugPrint(kSharedMemoryDebug, "smem: create %s: exists already\n", object.c_str());
    return 1;
  }
  void* view = nullptr;
  if (size > 0) {
    view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (view == nullptr) {
      printFailure("map", object);
      CloseHandle(mapping);
      return 1;
    }
  }
  WinSection* section = newRecord(mapping, view, size, name, 1);
  if (section == nullptr) {
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(mapping);
    return 1;
  }
  *record = section;
  return 0;
}

int openSharedMemoryNamed(SharedMemoryRecord** record, const std::string& text) {
  if (record == nullptr) return 1;
  *record = nullptr;
  uint32_t name = 0;
  const std::string object = objectNameOf(text, &name);
  if (object.empty()) {
    setSharedMemoryError("no shared memory object for section name \"" + text + "\"");
    return 1;
  }
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, object.c_str());
  if (mapping == nullptr) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) {
      printFailure("open", object);
    } else {
      setSharedMemoryError("open " + object + ": not found");
    }
    return 1;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  size_t size = 0;
  if (view == nullptr || !sectionSize(mapping, view, &size)) {
    printFailure("map", object);
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(mapping);
    return 1;
  }
  WinSection* section = newRecord(mapping, view, size, name, 0);
  if (section == nullptr) {
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return 1;
  }
  *record = section;
  return 0;
}

// A file mapping is filled and read through a view only.
int createSharedMemoryFilled(const void* data, size_t size, SharedMemoryRecord** record,
                             const std::string& name) {
  if (record == nullptr) return 1;
  *record = nullptr;
  if (data == nullptr && size > 0) return 1;
  if (createSharedMemoryNamed(size, record, name) != 0) return 1;
  if (size > 0) std::memcpy((*record)->view, data, size);
  return 0;
}

int readSharedMemoryNamed(const std::string& name, std::string* bytes) {
  if (bytes == nullptr) return 1;
  bytes->clear();
  SharedMemoryRecord* record = nullptr;
  if (openSharedMemoryNamed(&record, name) != 0) return 1;
  if (record->view != nullptr) bytes->assign(static_cast<const char*>(record->view), record->size);
  closeSharedMemory(record);
  return 0;
}

void closeSharedMemory(SharedMemoryRecord* record) {
  if (record == nullptr) return;
  WinSection* section = static_cast<WinSection*>(record);
  if (section->view != nullptr) UnmapViewOfFile(section->view);
  if (section->mapping != nullptr) CloseHandle(section->mapping);
  if (section->claim != nullptr) CloseHandle(section->claim);
  delete section;
}

int claimSharedMemory(SharedMemoryRecord* record) {
  if (record == nullptr) return 1;
  WinSection* section = static_cast<WinSection*>(record);
  if (section->claim != nullptr) return 0;
  const std::string object = sharedObjectName("claim", record->name);
  ObjectSecurity security;
  if (object.empty() || security.attributes() == nullptr) return 1;
  HANDLE claim = CreateMutexA(security.attributes(), FALSE, object.c_str());
  if (claim == nullptr) return 1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    return 1;
  }
  section->claim = claim;
  return 0;
}

// Names vanish with the last handle: what is still there belongs to a live process.
int removeSharedMemory(uint32_t) { return 1; }
