// Reading the monitor page's full view; see full_view_reads.h.
#include "modules/brivo/pages/full_view_reads.h"

#include <new>

#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"

namespace brivo {

namespace {

template <typename T>
std::unique_ptr<T> allocate() {
  return std::unique_ptr<T>(new (std::nothrow) T());
}

// A READ BUFFER that pair_access.h has no reader for, noted like the others.
int readNoted(const PairTarget& pair, uint8_t mode, uint8_t bufferId, void* out, uint32_t length,
              ControllerCommand* record, Counting counting) {
  buildCommand(record, kReadBuffer, mode, bufferId);
  const int result = transferCommandFor(pair.device, pair.state, record, out, length);
  noteCommandResult(result, pair.device, counting == Counting::kCount);
  return result;
}

int readSnapshots(const PairTarget& pair, FullViewBuffers* out, ControllerCommand* record,
                  Counting counting) {
  if (out->snapshotGeneration == 2) {
    out->areasV2 = allocate<SnapshotAreasV2>();
    if (!out->areasV2) return kResultNoMemory;
    return readNoted(pair, kModeCommand, kOpReadSnapshotAreasV2, out->areasV2.get(), sizeof(SnapshotAreasV2),
                     record, counting);
  }
  if (out->snapshotGeneration != 1) return kResultGood;
  out->areasV1 = allocate<SnapshotAreasV1>();
  out->snapshotsV1 = allocate<SnapshotListV1>();
  if (!out->areasV1 || !out->snapshotsV1) return kResultNoMemory;
  const int result = readNoted(pair, kModeCommand, kOpReadSnapshotAreasV1, out->areasV1.get(),
                               sizeof(SnapshotAreasV1), record, counting);
  if (result != kResultGood) return result;
  return readNoted(pair, kModeCommand, kOpReadSnapshotsV1, out->snapshotsV1.get(), sizeof(SnapshotListV1),
                   record, counting);
}

void readPrediction(const PairTarget& pair, FullViewBuffers* out, Counting counting) {
  out->prediction = allocate<FailurePrediction>();
  if (!out->prediction) return;
  ControllerCommand record;
  const int result = readNoted(pair, kModeData, kOpReadFailurePrediction, out->prediction.get(),
                               sizeof(FailurePrediction), &record, counting);
  if (result != kResultGood) {
    consolePrint("RAS2 call to BRIVO_GetDriveFailurePredictionInfo unsuccessful\n");
    out->prediction.reset();
  }
}

}  // namespace

int readFullView(const PairTarget& pair, FullViewBuffers* out, ControllerCommand* failed, Counting counting) {
  ControllerCommand local;
  ControllerCommand* record = failed != nullptr ? failed : &local;
  out->info = allocate<ControllerInformation>();
  if (!out->info) return kResultNoMemory;
  int result = readControllerInformation(pair, out->info.get(), record, counting);
  if (result != kResultGood) return result;
  const ControllerRecord* first = firstValidController(*out->info);
  out->snapshotGeneration = first != nullptr ? first->snapshotGeneration : 0;
  result = readSnapshots(pair, out, record, counting);
  if (result != kResultGood) return result;
  readPrediction(pair, out, counting);
  out->config = newConfigurationBlock();
  if (!out->config) return kResultNoMemory;
  result = readConfiguration(pair, out->config.get(), record, counting);
  if (result != kResultGood) return result;
  if (out->info->jobBufferAvailable == kOn) {
    out->jobs = allocate<JobProgress>();
    if (!out->jobs) return kResultNoMemory;
    result = readJobProgress(pair, out->jobs.get(), record, counting);
    if (result != kResultGood) return result;
  }
  out->drives = allocate<DriveList>();
  out->topology = allocate<HostTopology>();
  if (!out->drives || !out->topology) return kResultNoMemory;
  result = readDriveList(pair, out->drives.get(), record, counting);
  if (result != kResultGood) return result;
  return readHostTopology(pair, out->topology.get(), record, counting);
}

}  // namespace brivo
