// How the logical-drive commands spread a capacity over the free regions of one array: the
// region index to send with each piece (0x91 for the first, 0xA5 for the rest) and its size.
//
// Region indexes count the free regions of the whole pair (RegionEntry::freeIndex). A piece that
// uses a region up removes it from that list, so the regions after it move down by one for the
// later pieces of the same command; a piece that leaves part of its region keeps the index. A
// piece is at most 65535 GB (the 16-bit size of the blocks).
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <vector>

#include "modules/brivo/protocol.h"

namespace brivo::cli {

struct CapacityPiece {
  uint16_t region = 0;  // the index to send
  uint16_t sizeGb = 0;
};

// Free GB of one array in the region list.
uint64_t freeOnArray(const RegionInformation& regions, int array);
// The pieces that place gb on array, in order; fewer GB than asked when the array has less.
std::vector<CapacityPiece> planPieces(const RegionInformation& regions, int array, uint64_t gb);

}  // namespace brivo::cli
