// Names and access rights of the POSIX shared objects; see shared_object_posix.h.
#include "common/shared_object_posix.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/debug.h"
#include "common/shared_memory.h"

namespace {

constexpr uint32_t kSharedObjectDebug = 0x40012;  // smem, Server, level 2
constexpr mode_t kObjectMode = 0660;
constexpr size_t kMaxNameLength = 200;  // NAME_MAX is 255; semaphores add "sem." to the name

// The group from KESTROVA_SHM_GROUP: *gid = -1 when none is asked for. False when the group is
// unknown.
bool configuredGroup(gid_t* gid) {
  *gid = static_cast<gid_t>(-1);
  const char* name = std::getenv("KESTROVA_SHM_GROUP");
  if (name == nullptr || name[0] == '\0') return true;
  char* end = nullptr;
  const unsigned long number = std::strtoul(name, &end, 10);
  if (end != name && *end == '\0') {
    *gid = static_cast<gid_t>(number);
    return true;
  }
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    debugPrint(kSharedObjectDebug, "smem: unknown group %s in KESTROVA_SHM_GROUP\n", name);
    errno = EINVAL;
    return false;
  }
  *gid = found->gr_gid;
  return true;
}

}  // namespace

std::string sharedObjectName(const char* kind, uint32_t number) {
  const std::string prefix = sharedObjectPrefix();
  std::string name = "/" + prefix + kind + std::to_string(number);
  if (prefix.find('/') != std::string::npos || name.size() > kMaxNameLength) {
    debugPrint(kSharedObjectDebug, "smem: unusable KESTROVA_SHM_PREFIX \"%s\"\n", prefix.c_str());
    return std::string();
  }
  return name;
}

bool grantObjectAccess(int fd) {
  gid_t gid;
  if (!configuredGroup(&gid)) return false;
  if (gid != static_cast<gid_t>(-1) && fchown(fd, static_cast<uid_t>(-1), gid) != 0) return false;
  return fchmod(fd, kObjectMode) == 0;
}

bool isTrustedObject(const struct stat& info) {
  if ((info.st_mode & S_IRWXO) != 0) return false;
  if (info.st_uid == geteuid() || info.st_uid == 0) return true;
  if (info.st_gid == getegid()) return true;
  gid_t configured;
  if (configuredGroup(&configured) && configured != static_cast<gid_t>(-1) && info.st_gid == configured)
    return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<size_t>(i)] == info.st_gid) return true;
  }
  return false;
}

bool grantPathAccess(const char* path) {
  gid_t gid;
  if (!configuredGroup(&gid)) return false;
  if (gid != static_cast<gid_t>(-1) && chown(path, static_cast<uid_t>(-1), gid) != 0) return false;
  return chmod(path, kObjectMode) == 0;
}
