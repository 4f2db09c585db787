// Seam under writePropertyFile: the two system calls that put a settings file's bytes on disk.
// Tests swap them to make a write stop part-way or a flush fail, and check that the old file
// survives; production code never touches this header.
//
// Thread safety: install or remove the routines only while no writePropertyFile call runs.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct PropertyFileIo {
  // As write(2): bytes written, or -1 with errno set.
  ssize_t (*write)(int fd, const void* data, size_t size);
  // As fsync(2): 0, or -1 with errno set.
  int (*fsync)(int fd);
};

// Routes writePropertyFile through io (borrowed; must outlive its use); null restores the system
// calls.
void setPropertyFileIo(const PropertyFileIo* io);
