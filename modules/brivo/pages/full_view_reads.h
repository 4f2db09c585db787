// The buffers behind the monitor page's full view of one controller pair, read in the order the
// page needs them: controller information (0x40), the snapshot buffers of the pair's snapshot
// generation (0x66, or 0x61 and 0x62), drive failure prediction (0x59; its failure is printed
// and not fatal), the configuration (0x01), the job progress buffer (0x57, only when
// controller-information byte 463 is 0xF1), the drive list (0x41) and the host topology (0x42).
// Every read is noted for failure counting unless the caller asks otherwise.
//
// Thread safety: a request thread holding the admission gate; the buffers are the caller's.
#pragma once

#include <memory>

#include "modules/brivo/controller_command.h"
#include "modules/brivo/pair_access.h"
#include "modules/brivo/protocol.h"

namespace brivo {

// Result of readFullView when a buffer could not be allocated.
inline constexpr int kResultNoMemory = -1;

struct FullViewBuffers {
  std::unique_ptr<ControllerInformation> info;
  uint8_t snapshotGeneration = 0;                 // 0 none, 1 or 2
  std::unique_ptr<SnapshotAreasV2> areasV2;       // generation 2
  std::unique_ptr<SnapshotAreasV1> areasV1;       // generation 1
  std::unique_ptr<SnapshotListV1> snapshotsV1;    // generation 1
  std::unique_ptr<FailurePrediction> prediction;  // null when it could not be read
  std::unique_ptr<ConfigurationBlock> config;
  std::unique_ptr<JobProgress> jobs;  // null when the controller offers none
  std::unique_ptr<DriveList> drives;
  std::unique_ptr<HostTopology> topology;
};

// Reads every buffer; returns 0, kResultNoMemory, or the first failing read's result (failed, when
// given, receives that command with its sense data). Buffers read before a failure stay filled.
int readFullView(const PairTarget& pair, FullViewBuffers* out, ControllerCommand* failed = nullptr,
                 Counting counting = Counting::kCount);

}  // namespace brivo
