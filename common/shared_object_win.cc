// Names and access rights of the Windows shared objects; see shared_object_win.h.
#include "common/shared_object_win.h"

#include <sddl.h>

#include <cstdlib>

#include "common/debug.h"
#include "common/shared_memory.h"

namespace {

constexpr uint32_t kSharedObjectDebug = 0x40012;  // smem, Server, level 2
constexpr size_t kMaxNameLength = 200;

// Protected DACL (no inherited entries): generic all for LocalSystem, Administrators and the
// object's owner (the creating account).
constexpr const char kBaseSddl[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)";

// The SID text of KESTROVA_SHM_GROUP (an account or group name, or a SID text "S-1-...").
// Empty when none is asked for; false when it names nothing known.
bool configuredSid(std::string* sid) {
  sid->clear();
  const char* name = std::getenv("KESTROVA_SHM_GROUP");
  if (name == nullptr || name[0] == '\0') return true;
  if (name[0] == 'S' && name[1] == '-') {
    PSID parsed = nullptr;
    if (!ConvertStringSidToSidA(name, &parsed)) return false;
    LocalFree(parsed);
    *sid = name;
    return true;
  }
  BYTE buffer[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(buffer);
  char domain[256];
  DWORD domainSize = sizeof(domain);
  SID_NAME_USE use;
  if (!LookupAccountNameA(nullptr, name, buffer, &sidSize, domain, &domainSize, &use)) return false;
  char* text = nullptr;
  if (!ConvertSidToStringSidA(buffer, &text)) return false;
  *sid = text;
  LocalFree(text);
  return true;
}

}  // namespace

std::string sharedObjectName(const char* kind, uint32_t number) {
  std::string prefix = sharedObjectPrefix();
  std::string space = "Global\\";
  for (const char* chosen : {"Global\\", "Local\\"}) {
    if (prefix.rfind(chosen, 0) == 0) {
      space = chosen;
      prefix.erase(0, space.size());
    }
  }
  std::string name = space + prefix + kind + std::to_string(number);
  if (prefix.find('\\') != std::string::npos || name.size() > kMaxNameLength) {
    debugPrint(kSharedObjectDebug, "smem: unusable KESTROVA_SHM_PREFIX \"%s\"\n", sharedObjectPrefix().c_str());
    return std::string();
  }
  return name;
}

ObjectSecurity::ObjectSecurity() {
  std::string extra;
  if (!configuredSid(&extra)) {
    debugPrint(kSharedObjectDebug, "smem: unknown account in KESTROVA_SHM_GROUP\n");
    return;
  }
  sddl_ = kBaseSddl;
  if (!extra.empty()) sddl_ += "(A;;GA;;;" + extra + ")";
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl_.c_str(), SDDL_REVISION_1, &descriptor_,
                                                            nullptr)) {
    debugPrint(kSharedObjectDebug, "smem: security descriptor %s: error %lu\n", sddl_.c_str(), GetLastError());
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

ObjectSecurity::~ObjectSecurity() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}
