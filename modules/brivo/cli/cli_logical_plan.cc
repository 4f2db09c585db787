// Spreading a capacity over free regions; see cli_logical_plan.h.
//
// Thread safety: pure functions.
#include "modules/brivo/cli/cli_logical_plan.h"

#include <algorithm>

namespace brivo::cli {

namespace {

constexpr uint64_t kLargestPiece = 0xFFFF;

template <typename Visit>
void forFreeRegions(const RegionInformation& regions, int array, Visit visit) {
  const int count = std::min<int>(regions.count, kMaxRegions);
  for (int i = 0; i < count; ++i) {
    const RegionEntry& e = regions.entries[i];
    if (e.kind == kRegionFree && e.array == array && e.freeIndex != 0xFFFF && e.sizeGb > 0) visit(e);
  }
}

}  // namespace

uint64_t freeOnArray(const RegionInformation& regions, int array) {
  uint64_t total = 0;
  forFreeRegions(regions, array, [&](const RegionEntry& e) { total += e.sizeGb; });
  return total;
}

std::vector<CapacityPiece> planPieces(const RegionInformation& regions, int array, uint64_t gb) {
  std::vector<CapacityPiece> pieces;
  uint64_t remaining = gb;
  int consumed = 0;
  forFreeRegions(regions, array, [&](const RegionEntry& e) {
    uint64_t left = e.sizeGb;
    while (remaining > 0 && left > 0) {
      const uint64_t size = std::min({remaining, left, kLargestPiece});
      CapacityPiece piece;
      piece.region = static_cast<uint16_t>(e.freeIndex - consumed);
      piece.sizeGb = static_cast<uint16_t>(size);
      pieces.push_back(piece);
      remaining -= size;
      left -= size;
    }
    if (left == 0) ++consumed;
  });
  return pieces;
}

}  // namespace brivo::cli
