// `logical display`: the total line, then a -sum table or one block per logical drive (name, size,
// state, host LUN, ports, the arrays it lies on); -exp adds its pieces one per line, its reference
// number and creation time, and the host mappings that name it.
//
// Thread safety: one command at a time (cli_context.h).
#include <algorithm>
#include <cstdio>

#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_storage.h"

namespace brivo::cli {

namespace {

std::string lunText(uint16_t lun) { return lun == kLunNone ? "none" : std::to_string(lun); }

std::string blockSizeText(uint16_t code) { return std::to_string(code == 0 ? 512 : code) + " bytes"; }

// "0 (100 GB), 2 (50 GB)": the arrays and how much of the drive lies on each.
std::string arraysText(const LogicalDriveRecord& ld) {
  std::vector<std::pair<int, uint64_t>> arrays;
  for (int s = 0; s < std::min<int>(ld.segmentCount, kMaxSegments); ++s) {
    auto found = std::find_if(arrays.begin(), arrays.end(),
                              [&](const auto& entry) { return entry.first == ld.segments[s].array; });
    if (found == arrays.end()) {
      arrays.emplace_back(ld.segments[s].array, ld.segments[s].sizeGb);
    } else {
      found->second += ld.segments[s].sizeGb;
    }
  }
  std::string text;
  for (const auto& [array, gb] : arrays) {
    if (!text.empty()) text += ", ";
    text += std::to_string(array) + " (" + sizeText(gb) + ")";
  }
  return text.empty() ? "none" : text;
}

void writeExpanded(CliContext& ctx, const LogicalDriveRecord& ld, int drive) {
  writeField(ctx, "Block Size", blockSizeText(ld.blockSizeCode));
  writeField(ctx, "Reference Number", std::to_string(ld.referenceNumber));
  writeField(ctx, "Created", timeText(ld.createdTime));
  for (int s = 0; s < std::min<int>(ld.segmentCount, kMaxSegments); ++s) {
    const Segment& segment = ld.segments[s];
    char text[96];
    std::snprintf(text, sizeof(text), "array %d, from %u GB, %s", segment.array, segment.startGb,
                  sizeText(segment.sizeGb).c_str());
    writeField(ctx, ("Piece " + std::to_string(s)).c_str(), text);
  }
  const MappingTable& map = ctx.config->mapping;
  for (int i = 0; i < std::min<int>(map.count, kMaxMappings); ++i) {
    const MappingEntry& e = map.entries[i];
    if (e.valid != kOn || e.logicalDrive != drive) continue;
    char text[128];
    std::snprintf(text, sizeof(text), "host %s, LUN %d, %s, ports %s", wwnText(e.hostWwpn).c_str(), e.lun,
                  e.permission == kMappingReadOnly ? "ro" : "rw", portsText(e.portMask).c_str());
    writeField(ctx, ("Mapping " + std::to_string(i)).c_str(), text);
  }
}

void writeBlock(CliContext& ctx, int drive, bool expanded) {
  const LogicalDriveRecord& ld = ctx.config->logicalDrives[drive];
  writeRuler(ctx, '-', ("Logical Drive " + std::to_string(drive)).c_str());
  writeField(ctx, "Name*", fieldText(ld.name, sizeof(ld.name)));
  writeField(ctx, "Size", sizeText(ld.sizeGb));
  writeField(ctx, "State", logicalStateText(ld.state));
  writeField(ctx, "Host LUN*", lunText(ld.hostLun));
  writeField(ctx, "Ports*", portsText(ld.availability));
  writeField(ctx, "Arrays", arraysText(ld));
  if (expanded) writeExpanded(ctx, ld, drive);
}

void writeSummary(CliContext& ctx, const std::vector<int>& drives) {
  writeText(ctx, "  # Name                              Size  LUN State        Ports\n");
  writeText(ctx, "--- -------------------------------- ----- ---- ------------ -------------------\n");
  for (int drive : drives) {
    const LogicalDriveRecord& ld = ctx.config->logicalDrives[drive];
    writeText(ctx, "%3d %-32.32s %5s %4s %-12s %s\n", drive, fieldText(ld.name, sizeof(ld.name)).c_str(),
              compactSize(ld.sizeGb).c_str(), lunText(ld.hostLun).c_str(), logicalStateText(ld.state),
              portsText(ld.availability).c_str());
  }
}

}  // namespace

int logicalDisplay(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  std::vector<int> drives;
  const std::vector<std::string> words = modifierValues(ctx, kModLogicalId);
  if (!words.empty()) {
    if (!findLogicalDrives(ctx, words, &drives)) return 1;
  } else {
    for (int d = 0; d < kMaxLogicalDrives; ++d) {
      if (ctx.config->logicalDrives[d].valid == kOn) drives.push_back(d);
    }
  }
  writeText(ctx, "--- Logical Drive Total=%d ---\n", static_cast<int>(drives.size()));
  if (hasModifier(ctx, kModSummary)) {
    writeSummary(ctx, drives);
    return 0;
  }
  const bool expanded = hasModifier(ctx, kModExpanded);
  for (int drive : drives) writeBlock(ctx, drive, expanded);
  return 0;
}

}  // namespace brivo::cli
