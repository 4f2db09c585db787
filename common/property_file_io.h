// Seam under writePropertyFile: the two system calls that put a settings file's bytes on disk.
// Tests swap them to make a write stop part-way or a flush fail, and check that the old file
// survives; production code never touches this header. Settings files are replaced through the
// atomic file writer, so this is that writer's seam (atomic_file.h) under the name the property
// file tests know.
//
// Thread safety: install or remove the routines only while no file is being replaced.
#pragma once

#include "common/atomic_file.h"

using PropertyFileIo = AtomicFileIo;

// Routes writePropertyFile through io (borrowed; must outlive its use); null restores the system
// calls.
inline void setPropertyFileIo(const PropertyFileIo* io) { setAtomicFileIo(io); }
