// The statistics block; see cli_statistics_text.h.
//
// Thread safety: as cli_statistics_text.h.
#include "modules/brivo/cli/cli_statistics_text.h"

#include <cstdio>
#include <vector>

#include "modules/brivo/cli/cli_selectors.h"

namespace brivo::cli {

namespace {

std::string printed(const char* format, auto... values) {
  char text[96];
  std::snprintf(text, sizeof(text), format, values...);
  return text;
}

// Bucket i of the size spread counts commands of 2^i blocks; the last one every larger command.
std::string sizeBucket(int i) {
  if (i >= 32) return "larger";
  const unsigned long long blocks = 1ULL << i;
  if (i < 10) return printed("%llu", blocks);
  if (i < 20) return printed("%lluK", blocks >> 10);
  if (i < 30) return printed("%lluM", blocks >> 20);
  return printed("%lluG", blocks >> 30);
}

void writeRecord(CliContext& ctx, const char* kind, const StatisticsRecord& r) {
  const std::string prefix = kind;
  writeField(ctx, (prefix + " Commands").c_str(), std::to_string(r.commands));
  writeField(ctx, (prefix + " Blocks").c_str(), std::to_string(r.blocks));
  writeField(ctx, ("Average " + prefix + " Size").c_str(),
             r.commands == 0 ? std::string("-") : std::to_string(r.blocks / r.commands) + " blocks");
  writeField(ctx, ("Average " + prefix + " Latency").c_str(), latencyText(r.latencyTotalUs, r.commands));
  writeField(ctx, ("Largest " + prefix + " Latency").c_str(),
             latencyText(r.latencyMaxUs, r.commands == 0 ? 0 : 1));
  std::vector<std::string> sizes;
  for (int i = 0; i < 33; ++i) {
    if (r.sizeDistribution[i] != 0)
      sizes.push_back(sizeBucket(i) + ":" + std::to_string(r.sizeDistribution[i]) + "%");
  }
  writeItemsField(ctx, (prefix + " Sizes (blocks)").c_str(), sizes);
}

}  // namespace

std::string latencyText(uint64_t totalUs, uint64_t commands) {
  if (commands == 0) return "-";
  const uint64_t average = totalUs / commands;
  if (average < 1000) return printed("%llu us", static_cast<unsigned long long>(average));
  return printed("%llu.%02llu ms", static_cast<unsigned long long>(average / 1000),
                 static_cast<unsigned long long>(average % 1000 / 10));
}

void writeStatisticsBlock(CliContext& ctx, int controller, uint8_t port, uint16_t drive,
                          const StatisticsBuffer& buffer) {
  const std::string portText = port == kPort0 ? "0" : port == kPort1 ? "1" : "both";
  const std::string driveText = drive == kAllLogicalDrives ? "all" : std::to_string(drive);
  writeRuler(
      ctx, '-',
      printed("Controller %d, Port %s, Logical Drive %s", controller, portText.c_str(), driveText.c_str())
          .c_str());
  writeRecord(ctx, "Read", buffer.records[0]);
  writeRecord(ctx, "Write", buffer.records[1]);
  std::vector<std::string> alignment;
  for (int i = 0; i < 12; ++i) {
    if (buffer.alignment[i] != 0) alignment.push_back(printed("%dK:%u%%", 4 * i, buffer.alignment[i]));
  }
  writeItemsField(ctx, "Start Alignment", alignment);
  writeField(ctx, "Cache Hits", std::to_string(buffer.cacheHitPercent) + " %");
  std::vector<std::string> depths;
  for (int i = 0; i < 30; ++i) {
    if (buffer.queueDepth[i] != 0) depths.push_back(printed("%d:%u%%", i, buffer.queueDepth[i]));
  }
  writeItemsField(ctx, "Queue Depth (time)", depths);
}

}  // namespace brivo::cli
