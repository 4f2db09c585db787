// The block `statistics display` writes for one controller's statistics buffer: commands, blocks,
// average and largest latency of reads and writes, how command sizes, start alignments and queue
// depths were spread (only the values that occurred), and the cache hit rate.
//
// Thread safety: writes the caller's context only.
#pragma once

#include <cstdint>
#include <string>

#include "modules/brivo/cli/cli_context.h"
#include "modules/brivo/protocol.h"

namespace brivo::cli {

// Under a ruler titled "Controller %d, Port %s, Logical Drive %s" (port "0", "1" or "both",
// drive its number or "all").
void writeStatisticsBlock(CliContext& ctx, int controller, uint8_t port, uint16_t drive,
                          const StatisticsBuffer& buffer);

// An average latency in microseconds as "850 us" or "12.34 ms"; "-" when there were no commands.
std::string latencyText(uint64_t totalUs, uint64_t commands);

}  // namespace brivo::cli
