// Helpers shared by the Windows back ends of the named shared memory and the named semaphores:
// the kernel object names and the security descriptor that stands for the POSIX mode 0660.
// Not for other users.
//
// Names: "Global\<prefix><kind><number>" (KESTROVA_SHM_PREFIX, default "kestrova."), so that
// the service (session 0) and a front end in a user's session meet; a prefix that begins with
// "Local\" or "Global\" chooses its namespace itself (tests that run without the right to create
// global objects use "Local\").
//
// Access: full access for LocalSystem (the service account), the Administrators group and the
// creator; KESTROVA_SHM_GROUP may name one more account or group (for instance the web server's
// account) that gets the same access. No access for anyone else.
//
// Thread safety: pure functions over the environment.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

// The kernel object name, or empty (with a debug line) when the prefix is unusable: a backslash
// after the namespace, or a name too long.
std::string sharedObjectName(const char* kind, uint32_t number);

// Owns a SECURITY_ATTRIBUTES with its descriptor.
class ObjectSecurity {
 public:
  // The attributes described above; null attributes() when they cannot be built (unknown
  // account in KESTROVA_SHM_GROUP): callers then fail rather than create an open object.
  ObjectSecurity();
  ~ObjectSecurity();
  ObjectSecurity(const ObjectSecurity&) = delete;
  ObjectSecurity& operator=(const ObjectSecurity&) = delete;
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }
  // The descriptor's text form (SDDL), for messages and tests.
  const std::string& sddl() const { return sddl_; }

 private:
  SECURITY_ATTRIBUTES attributes_{};
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  std::string sddl_;
};
