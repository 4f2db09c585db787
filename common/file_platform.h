// The few file-system calls whose form differs between POSIX and Windows, for the code that
// replaces files whole (atomic_file.cc) and the tests: exclusive creation, flushing
// to disk, keeping a file's access rights, moving one file over another in one step.
//
// Thread safety: no state; each call is as safe as the system call under it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// Creates path for writing; a path that exists is a failure (errno EEXIST). The descriptor is
// binary (no line-end translation) and is not inherited by child processes. Returns it, or -1
// with errno set. Caller closes it with closeFile.
int createExclusiveFile(const char* path);
// As createExclusiveFile, but no other account can open the file from its first instant (POSIX
// mode 0600; on Windows the access list of restrictFileToOwner), so a secret written into it
// never passes through a moment in which another user could open it and keep the descriptor.
int createOwnerOnlyFile(const char* path);
// As createExclusiveFile, for a file that gets its access rights from its creator before anything
// is written (atomic_file.h): on POSIX it starts as 0600, so nobody else can open it (and keep the
// descriptor) before the creator widens it; on Windows it has its folder's access list, as
// createExclusiveFile.
int createFileForReplacement(const char* path);
// As write(2): bytes written, or -1 with errno set.
ssize_t writeFile(int fd, const void* data, size_t size);
// Flushes the file's data to the disk: 0, or -1 with errno set.
int syncFile(int fd);
int closeFile(int fd);
// Gives fd the access rights of the existing regular file at path (nothing when there is none).
// False with errno set when they cannot be given.
bool copyFileMode(const char* path, int fd);
// Narrows fd's access to its owner: mode 0600 on POSIX; on Windows a protected access list for
// the owner, LocalSystem and Administrators (a new file would otherwise inherit the folder's
// list, which lets every user of the machine read it). False with errno set.
bool restrictFileToOwner(int fd);
// True when only its owner (and, on Windows, LocalSystem and the Administrators) can open the
// regular file at path: POSIX mode exactly 0600; on Windows a protected access list (nothing
// inherited from the folder) that allows no one else. False, with the reason in *why (may be
// null), for anything wider or when the file cannot be examined. The check of what
// restrictFileToOwner and createOwnerOnlyFile give, for the secret files' tests.
bool fileIsOwnerOnly(const char* path, std::string* why);
// Gives fd the owner of the regular file at path where the system lets a process choose (POSIX
// fchown, when running as root); elsewhere the new file keeps this process's account. False
// with errno set when the system refused.
bool keepFileOwner(const char* path, int fd);
// Puts temp in place of path in one step (path may exist). False with errno set.
bool moveFileOver(const char* temp, const char* path);
// Flushes the folder's entries so that a move survives a power loss. Failures are only reported
// through debug lines: the moved file is in place either way.
void syncFolder(const std::string& folder);
// This process's number, for unique temporary names.
long currentProcessId();
