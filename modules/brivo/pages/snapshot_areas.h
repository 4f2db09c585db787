// The snapshot areas of one controller pair as the pages see them: the pair's snapshot
// generation (controller record byte 189) and the areas in use, read with 0x66 (generation 2) or
// 0x61 (generation 1); see protocol_snapshots.h. Used by the snapshot page and its actions, by
// DeleteOda and by the monitor page's refresh poll (snapback progress).
//
// Thread safety: request threads holding the admission gate; the result is the caller's.
#pragma once

#include <cstdint>
#include <vector>

#include "modules/brivo/controller_command.h"
#include "modules/brivo/pair_access.h"
#include "modules/brivo/protocol.h"

namespace brivo {

struct PairSnapshots {
  uint8_t generation = 0;           // 0: the pair has no snapshots (then areas is empty)
  std::vector<SnapshotArea> areas;  // the areas in use (valid == kOn), in the order read
};

// Reads the controller information and, when the pair has snapshots, its areas. Returns the
// first failing read's result (failed receives that command) or 0.
int readPairSnapshots(const PairTarget& pair, PairSnapshots* out, ControllerCommand* failed);

// The area whose source is logical drive `drive`, or null.
const SnapshotArea* areaOfSource(const PairSnapshots& snapshots, int drive);
// Whether logical drive `drive` serves as some source's area.
bool isAreaDrive(const PairSnapshots& snapshots, int drive);

}  // namespace brivo
