// The brivo model's performance statistics: per controller, host port and logical drive, counters
// that grow with the time since they were last cleared (or since the controller started) at a
// steady rate per logical drive, and fixed distributions; see brivo_model.h.
#include <algorithm>

#include "sim/brivo_model.h"

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

constexpr int kTotals = brivo::kMaxLogicalDrives;  // index of the all-drives counters
constexpr uint8_t kSizes[33] = {0, 0, 0, 10, 25, 40, 15, 10};
constexpr uint8_t kAlignment[12] = {70, 10, 5, 5, 3, 2, 2, 1, 1, 1, 0, 0};
constexpr uint8_t kQueueDepth[30] = {20, 30, 25, 10, 5, 4, 3, 2, 1};

int64_t driveRate(int drive) { return 20 + (drive % 7) * 5; }  // reads per second per port

}  // namespace

ModelResult BrivoModel::readStatistics(const BufferCommand& command, std::vector<uint8_t>* out) const {
  const uint8_t* cdb = command.cdb.data();
  int c = command.bufferId == brivo::kOpReadStatisticsA ? 0 : 1;
  uint8_t selector = cdb[3];
  int drive = cdb[4] << 8 | cdb[5];
  if (selector > brivo::kPort1 || (drive != brivo::kAllLogicalDrives && drive >= brivo::kMaxLogicalDrives))
    return illegal(brivo::kAscInvalidCdbField);
  int index = drive == brivo::kAllLogicalDrives ? kTotals : drive;
  int64_t rate = 0;
  if (index == kTotals) {
    for (int d = 0; d < brivo::kMaxLogicalDrives; ++d)
      rate += config_.live().logicalDrives[d].valid == brivo::kOn ? driveRate(d) : 0;
  } else if (config_.live().logicalDrives[index].valid == brivo::kOn) {
    rate = driveRate(index);
  }
  int64_t seconds = 0;  // port-seconds of traffic since each port's counters were cleared
  for (int p = 0; p < 2; ++p) {
    if (selector != brivo::kPortBoth && selector != p + 1) continue;
    int64_t cleared = controllers_.statistics().allCleared[c][p];
    auto it = controllers_.statistics().driveCleared[c][p].find(index);
    if (it != controllers_.statistics().driveCleared[c][p].end()) cleared = std::max(cleared, it->second);
    seconds += std::max<int64_t>(0, now() - std::max(cleared, controllers_.run(c).powerOnBase));
  }
  out->assign(sizeof(brivo::StatisticsBuffer), 0);
  auto* stats = reinterpret_cast<brivo::StatisticsBuffer*>(out->data());
  stats->length = sizeof(brivo::StatisticsBuffer);
  stats->controller = static_cast<uint8_t>(c);
  stats->portSelector = selector;
  stats->logicalDrive = static_cast<uint16_t>(drive);
  for (int r = 0; r < 2; ++r) {
    brivo::StatisticsRecord& record = stats->records[r];
    record.commands = static_cast<uint64_t>(seconds * rate * (r == 0 ? 3 : 2) / 2);
    record.blocks = record.commands * static_cast<uint64_t>(8 + 8 * (index % 4));
    record.latencyTotalUs = record.commands * 350;
    record.latencyMaxUs = record.commands != 0 ? 9000u + 100u * static_cast<uint32_t>(c) : 0;
    if (record.commands != 0) std::copy(std::begin(kSizes), std::end(kSizes), record.sizeDistribution);
  }
  if (stats->records[0].commands != 0) {
    std::copy(std::begin(kAlignment), std::end(kAlignment), stats->alignment);
    stats->cacheHitPercent = static_cast<uint8_t>(60 + 5 * c);
    std::copy(std::begin(kQueueDepth), std::end(kQueueDepth), stats->queueDepth);
  }
  return ModelResult::good();
}

ModelResult BrivoModel::opClearStatistics(Op& op) {
  int c = op.command.bufferId == brivo::kOpClearStatisticsA ? 0 : 1;
  uint8_t selector = op.selector();
  int drive = op.statisticsDrive();
  if (selector > brivo::kPort1 || (drive != brivo::kAllLogicalDrives && drive >= brivo::kMaxLogicalDrives))
    return illegal(brivo::kAscInvalidCdbField);
  for (int p = 0; p < 2; ++p) {
    if (selector != brivo::kPortBoth && selector != p + 1) continue;
    if (drive == brivo::kAllLogicalDrives) {
      controllers_.statistics().allCleared[c][p] = now();
      controllers_.statistics().driveCleared[c][p].clear();
    } else {
      controllers_.statistics().driveCleared[c][p][drive] = now();
    }
  }
  logEvent(op.pair, c, brivo::kEvMaintenance,
           {brivo::kMaintStatisticsCleared, static_cast<uint8_t>(c), selector, static_cast<uint8_t>(drive),
            static_cast<uint8_t>(drive >> 8)});
  return ModelResult::good();
}

}  // namespace sim
