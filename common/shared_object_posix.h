// Helpers shared by the POSIX back ends of the named shared memory and the named semaphores:
// the object names derived from the prefix, and the access rights (mode 0660, optional group).
// Not for other users.
//
// Thread safety: pure functions over the environment; the environment must not change while
// another thread calls them.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

// "/<prefix><kind><number>", or empty (with a debug line) when the prefix is unusable: it must
// not contain '/' and the name must stay well within the platform's name limit.
std::string sharedObjectName(const char* kind, uint32_t number);
// Sets mode 0660 (the umask may have removed bits) and, when KESTROVA_SHM_GROUP names a group,
// that group. False (errno set) when either fails or the group is unknown.
bool grantObjectAccess(int fd);
// The same for an object known by its path in the file system (named semaphores).
bool grantPathAccess(const char* path);

// Whether an existing object (by its fstat) may be used: it grants others nothing, and it belongs
// to this process's user or root, or to one of this process's groups or the KESTROVA_SHM_GROUP
// group (the server and its front ends share that group). Any other user may have created it
// under the name to squat it or to read and change what passes through it.
bool isTrustedObject(const struct stat& info);
