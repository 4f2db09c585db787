// The "brivo" controller-pair model: construction, options, time, and the dispatch of READ
// BUFFER and WRITE BUFFER to the operations; see brivo_model.h.
#include "sim/brivo_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "sim/ses_enclosure.h"
#include "sim/sim_text.h"

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

template <typename T>
void copyOut(const T& value, std::vector<uint8_t>* out) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  out->assign(p, p + sizeof(T));
}

ModelResult noAnswerResult() {
  ModelResult result;
  result.noAnswer = true;
  return result;
}

template <typename T>
void setOption(const PairConfig& config, const char* key, T* value, uint64_t low, uint64_t high) {
  auto it = config.modelOptions.find(key);
  if (it == config.modelOptions.end()) return;
  uint64_t parsed = 0;
  if (!parseUnsigned(it->second, &parsed) || parsed < low || parsed > high) {
    std::fprintf(stderr, "raidsim: pair %s: model.%s = %s is out of range %llu-%llu; keeping %llu\n",
                 config.name.c_str(), key, it->second.c_str(), static_cast<unsigned long long>(low),
                 static_cast<unsigned long long>(high), static_cast<unsigned long long>(*value));
    return;
  }
  *value = static_cast<T>(parsed);
}

}  // namespace

BrivoModel::BrivoModel() = default;
BrivoModel::~BrivoModel() = default;

void BrivoModel::parseOptions(const PairConfig& config) {
  setOption(config, "family", &options_.family, 0, 255);
  setOption(config, "drive_interface", &options_.driveInterface, 1, 255);
  setOption(config, "host_interface", &options_.hostInterface, 1, 15);
  setOption(config, "host_ports", &options_.hostPorts, 1, 2);
  setOption(config, "drive_loops", &options_.driveLoops, 1, 2);
  setOption(config, "snapshots", &options_.snapshotGeneration, 0, 2);
  setOption(config, "job_seconds", &options_.jobSeconds, 1, 86400 * 7);
  setOption(config, "reset_ms", &options_.resetMs, 0, 600000);
  setOption(config, "firmware", &options_.firmwareLevel, 0, 0xFFFFFFFF);
  setOption(config, "hbas", &options_.hbas, 0, 64);
  setOption(config, "snapshot_fill_per_hour", &options_.snapshotFillPerHour, 0, 100);
  setOption(config, "host_port_packing", &options_.hostPortPacking, 0, 1);
}

void BrivoModel::attach(PairState& pair) {
  parseOptions(*pair.config);
  controllers_.attach(pair.drives.size());
  for (size_t i = 0; i < pair.drives.size(); ++i)
    controllers_.reported().driveFailed[i] = pair.drives[i].failed;
  for (int c = 0; c < 2; ++c) {
    controllers_.run(c).powerOnBase =
        now() - std::max<int64_t>(0, static_cast<int64_t>(std::time(nullptr)) - pair.startTime);
    controllers_.run(c).firmwareLevel = options_.firmwareLevel;
    controllers_.reported().controllerFailed[c] = pair.controllers[c].failed;
    controllers_.reported().batteryFailed[c] = pair.controllers[c].batteryFailed;
    controllers_.reported().batteryLow[c] = pair.controllers[c].batteryCharge < brivo::kBatteryLowPercent;
  }
  if (pair.enclosure != nullptr) pair.enclosure->diagnosticPage(0x02, &controllers_.reported().sesPage);
  newConfiguration(pair);
  for (int c = 0; c < 2; ++c) {
    logEvent(pair, c, brivo::kEvController, {brivo::kCtlStarted, static_cast<uint8_t>(c)});
    logEvent(pair, c, brivo::kEvMemory, {2});
  }
  scanSensors(pair, 0);  // readings out of range at power-on are logged at once
  scanSensors(pair, 1);
  applyPreset(pair);
}

int64_t BrivoModel::now() const { return static_cast<int64_t>(std::time(nullptr)) + controllers_.shift(); }

bool BrivoModel::controllerUp(const PairState& pair, int c) const {
  return !pair.controllers[c].failed && !controllers_.run(c).shutDown && !controllers_.run(c).resetting;
}

int BrivoModel::masterController(const PairState& pair) const {
  return controllerUp(pair, 0) || !controllerUp(pair, 1) ? 0 : 1;
}

void BrivoModel::advance(PairState& pair) {
  logs_.drainInjected(pair);
  finishResets(pair);
  expireIdentify(pair);
  scanHealth(pair);
  finishJobs(pair);
  autoRebuild(pair);
  snapshots_.advance(snapshotContext(pair));
  refreshAll(pair);
}

void BrivoModel::onChange(PairState& pair, const PairChange& change) {
  if (change.kind == PairChange::kController && !change.failed) powerCycle(pair, change.controller);
  advance(pair);
}

// ---- READ BUFFER ----

ModelResult BrivoModel::readBuffer(PairState& pair, const BufferCommand& command,
                                   std::vector<uint8_t>* data) {
  advance(pair);
  if (!controllerUp(pair, command.controller)) return noAnswerResult();
  if (command.bufferId == brivo::kOpReadSesPage && command.mode == brivo::kModeCommand)
    return readSesPage(pair, command, data);
  scratch_.clear();
  ModelResult result = command.mode == brivo::kModeData      ? readDataBuffer(pair, command, &scratch_)
                       : command.mode == brivo::kModeCommand ? readCommandBuffer(pair, command, &scratch_)
                                                             : illegal(brivo::kAscInvalidCdbField);
  if (result.sense.key != 0 || result.noAnswer) return result;
  const uint8_t* bytes = scratch_.data();
  size_t size = scratch_.size();
  bool configuration = command.mode == brivo::kModeData &&
                       (command.bufferId & ~brivo::kAliasBit) == brivo::kOpReadConfiguration;
  if (configuration) {
    bytes = reinterpret_cast<const uint8_t*>(&config_.live());
    size = sizeof(brivo::ConfigurationBlock);
  }
  size_t offset = command.mode == brivo::kModeData ? command.offset : 0;
  if (offset >= size) return ModelResult::good();
  size_t length = std::min<size_t>(command.length, size - offset);
  data->assign(bytes + offset, bytes + offset + length);
  return ModelResult::good();
}

ModelResult BrivoModel::readDataBuffer(PairState& pair, const BufferCommand& command,
                                       std::vector<uint8_t>* full) {
  switch (command.bufferId) {
    case brivo::kOpReadConfiguration:
    case brivo::kOpReadConfiguration | brivo::kAliasBit:
      return ModelResult::good();  // readBuffer serves the live block itself
    case brivo::kOpReadControllerInfo:
      buildControllerInfo(pair, full);
      return ModelResult::good();
    case brivo::kOpReadDriveList:
      buildDriveList(pair, full);
      return ModelResult::good();
    case brivo::kOpReadTopology:
      buildTopology(pair, full);
      return ModelResult::good();
    case brivo::kOpReadEventLogA:
    case brivo::kOpReadEventLogB: {
      int c = command.bufferId == brivo::kOpReadEventLogA ? 0 : 1;
      logs_.of(c).build(controllerClock(pair, c), full);
      return ModelResult::good();
    }
    case brivo::kOpReadDiagnosticsDump:
      if (controllers_.diagnostics().empty()) return illegal(brivo::kAscSequenceError);
      full->assign(controllers_.diagnostics().begin(), controllers_.diagnostics().end());
      return ModelResult::good();
    case brivo::kOpReadFailurePrediction:
      buildPrediction(pair, full);
      return ModelResult::good();
    default:
      return illegal(brivo::kAscUnknownBuffer);
  }
}

ModelResult BrivoModel::readCommandBuffer(PairState& pair, const BufferCommand& command,
                                          std::vector<uint8_t>* full) {
  const uint8_t* cdb = command.cdb.data();
  uint8_t id = command.bufferId;
  bool aliased =
      (id & brivo::kAliasBit) != 0 && (id & ~brivo::kAliasBit) >= 3 && (id & ~brivo::kAliasBit) <= 5;
  switch (aliased ? id & ~brivo::kAliasBit : id) {
    case brivo::kOpReadConfigHeader: {
      brivo::ConfigurationHeader header = config_.live().header;
      header.length = brivo::kConfigHeaderLength;
      copyOut(header, full);
      return ModelResult::good();
    }
    case brivo::kOpReadArray:
      if (cdb[4] >= brivo::kMaxArrays) return illegal(brivo::kAscInvalidCdbField);
      copyOut(config_.live().arrays[cdb[4]], full);
      return ModelResult::good();
    case brivo::kOpReadLogicalDrive:
      if ((cdb[4] << 8 | cdb[5]) >= brivo::kMaxLogicalDrives) return illegal(brivo::kAscInvalidCdbField);
      copyOut(config_.live().logicalDrives[cdb[4] << 8 | cdb[5]], full);
      return ModelResult::good();
    case brivo::kOpReadRegions: {
      bool all = cdb[3] == brivo::kRegionsAllByte3 && cdb[4] == brivo::kRegionsAllByte4;
      bool freeOnly = cdb[3] == brivo::kRegionsFreeByte3 && cdb[4] == brivo::kRegionsFreeByte4;
      if (!all && !freeOnly) return illegal(brivo::kAscInvalidCdbField);
      auto regions = std::make_unique<brivo::RegionInformation>();
      buildRegions(config_.live(), freeOnly, regions.get());
      copyOut(*regions, full);
      return ModelResult::good();
    }
    case brivo::kOpReadStatisticsA:
    case brivo::kOpReadStatisticsB:
      return readStatistics(command, full);
    case brivo::kOpReadJobProgress:
      buildJobProgress(full);
      return ModelResult::good();
    case brivo::kOpReadSnapshotAreasV1:
    case brivo::kOpReadSnapshotsV1:
    case brivo::kOpReadSnapshotLun:
    case brivo::kOpReadSnapshotsV2:
    case brivo::kOpReadSnapshotAreasV2:
    case brivo::kOpReadSnapshotStatsV2:
      return snapshots_.read(command, snapshotContext(pair), full);
    default:
      return illegal(brivo::kAscUnknownBuffer);
  }
}

// ---- WRITE BUFFER ----

ModelResult BrivoModel::writeBuffer(PairState& pair, const BufferCommand& command,
                                    std::span<const uint8_t> data) {
  advance(pair);
  if (!controllerUp(pair, command.controller)) return noAnswerResult();
  if (auto armed = failOps_.find(command.bufferId); armed != failOps_.end()) {
    SenseCode sense = armed->second;
    failOps_.erase(armed);
    return ModelResult::check(sense);
  }
  ModelResult result;
  switch (command.mode) {
    case brivo::kModeCommand:
      result = writeCommand(pair, command, data);
      break;
    case brivo::kModeData:
      result = command.bufferId == brivo::kOpRestoreConfiguration ? restoreChunk(pair, command, data)
                                                                  : illegal(brivo::kAscUnknownBuffer);
      break;
    case brivo::kModeFirmware:
    case brivo::kModeFirmwareOffsets:
      result = firmwareChunk(pair, command, data);
      break;
    default:
      result = illegal(brivo::kAscInvalidCdbField);
  }
  refreshAll(pair);
  return result;
}

ModelResult BrivoModel::writeCommand(PairState& pair, const BufferCommand& command,
                                     std::span<const uint8_t> data) {
  struct Entry {
    uint8_t id;
    uint16_t block;  // shortest parameter block
    bool bracket;    // a configuration change
    Handler handler;
  };
  static constexpr Handler kChangeArea = [](BrivoModel& m, Op& op) {
    return m.snapshots_.changeArea(op.command.bufferId, op.block, m.snapshotContext(op.pair));
  };
  static constexpr Entry kOps[] = {
      {0x70, 10, false, kChangeArea},
      {0x71, 10, false, kChangeArea},
      {0x73, 10, false,
       [](BrivoModel& m, Op& op) { return m.snapshots_.take(op.block, m.snapshotContext(op.pair)); }},
      {0x74, 10, false,
       [](BrivoModel& m, Op& op) { return m.snapshots_.remove(op.block, m.snapshotContext(op.pair)); }},
      {0x75, 10, false,
       [](BrivoModel& m, Op& op) { return m.snapshots_.takeSet(op.block, m.snapshotContext(op.pair)); }},
      {0x76, 10, false, kChangeArea},
      {0x77, 10, false,
       [](BrivoModel& m, Op& op) { return m.snapshots_.snapback(op.block, m.snapshotContext(op.pair)); }},
      {0x80, 0, false, &modelOperation<&BrivoModel::opConfigStart>},
      {0x81, 0, true, &modelOperation<&BrivoModel::opConfigClear>},
      {0x82, 0, false, &modelOperation<&BrivoModel::opConfigSave>},
      {0x90, 240, true, &modelOperation<&BrivoModel::opCreateArray>},
      {0x91, 40, true, &modelOperation<&BrivoModel::opCreateLogicalDrive>},
      {0x92, 1076, true, &modelOperation<&BrivoModel::opWriteMapping>},
      {0x93, 16, true, &modelOperation<&BrivoModel::opAddSpare>},
      {0x97, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0x98, 0, true, &modelOperation<&BrivoModel::opHostPortSettings>},
      {0x99, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0x9A, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0x9B, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0x9C, 0, true, &modelOperation<&BrivoModel::opChangeArray>},
      {0x9D, 0, true, &modelOperation<&BrivoModel::opChangeAvailability>},
      {0xA2, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0xA3, 64, true, &modelOperation<&BrivoModel::opConfigName>},
      {0xA5, 8, true, &modelOperation<&BrivoModel::opGrowLogicalDrive>},
      {0xA6, 0, false, &modelOperation<&BrivoModel::opInitialize>},
      {0xA7, 32, true, &modelOperation<&BrivoModel::opRenameArray>},
      {0xA8, 32, true, &modelOperation<&BrivoModel::opRenameLogicalDrive>},
      {0xA9, 4, true, &modelOperation<&BrivoModel::opSetHostLun>},
      {0xAA, 0, true, &modelOperation<&BrivoModel::opControllerLun>},
      {0xAB, 136, true, &modelOperation<&BrivoModel::opExpandArray>},
      {0xAC, 0, false, &modelOperation<&BrivoModel::opCancelInitialization>},
      {0xB1, 0, true, &modelOperation<&BrivoModel::opDeleteLogicalDrive>},
      {0xB2, 0, true, &modelOperation<&BrivoModel::opDeleteArray>},
      {0xB3, 0, true, &modelOperation<&BrivoModel::opRemoveSpare>},
      {0xB7, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0xB8, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0xB9, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0xBA, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0xBE, 0, true, &modelOperation<&BrivoModel::opSetting>},
      {0xC1, 0, false, &modelOperation<&BrivoModel::opClearEventLog>},
      {0xC2, 0, false, &modelOperation<&BrivoModel::opIdentify>},
      {0xC3, 0, false, &modelOperation<&BrivoModel::opReset>},
      {0xC4, 0, false, &modelOperation<&BrivoModel::opShutdown>},
      {0xC5, 8, false, &modelOperation<&BrivoModel::opSetTime>},
      {0xC6, 16, false, &modelOperation<&BrivoModel::opSelectDriveFirmware>},
      {0xCA, 16, false, &modelOperation<&BrivoModel::opRebuild>},
      {0xCB, 0, false, &modelOperation<&BrivoModel::opClearStatistics>},
      {0xCC, 0, false, &modelOperation<&BrivoModel::opClearStatistics>},
      {0xCD, 0, false, &modelOperation<&BrivoModel::opCancelRebuild>},
      {0xCE, 0, false, &modelOperation<&BrivoModel::opStartParity>},
      {0xCF, 0, false, &modelOperation<&BrivoModel::opCancelParity>},
      {0xD0, 0, false, &modelOperation<&BrivoModel::opBypassDrive>},
      {0xD1, 0, false, &modelOperation<&BrivoModel::opEnableDrive>},
      {0xD3, 0, false, &modelOperation<&BrivoModel::opPrepareDiagnostics>},
      {0xD7, 0, false, &modelOperation<&BrivoModel::opAlarm>},
      {0xD8, 0, false, &modelOperation<&BrivoModel::opAlarm>},
      {0xD9, 0, false, &modelOperation<&BrivoModel::opAlarm>},
  };
  if (command.bufferId == brivo::kOpSendSesPage) return sendSesPage(pair, command, data);
  const Entry* entry = nullptr;
  for (const Entry& e : kOps) {
    if (e.id == command.bufferId) entry = &e;
  }
  if (entry == nullptr) return illegal(brivo::kAscUnknownBuffer);
  if (data.size() < brivo::kSignatureLength ||
      std::memcmp(data.data(), brivo::kCommandSignature, brivo::kSignatureLength) != 0) {
    return illegal(brivo::kAscInvalidParameter);
  }
  std::span<const uint8_t> block = data.subspan(brivo::kSignatureLength);
  if (block.size() < entry->block) return illegal(brivo::kAscParameterLength);
  if (entry->bracket && config_.change() == nullptr) return illegal(brivo::kAscSequenceError);
  Op op{pair, command, block};
  return entry->handler(*this, op);
}

BrivoSnapshotList::Context BrivoModel::snapshotContext(PairState& pair) {
  return {
      config_.live(),
      {now(), options_.snapshotFillPerHour, options_.jobSeconds},
      options_.snapshotGeneration,
      [this, &pair](uint8_t code, const std::vector<uint8_t>& reason) { logPairEvent(pair, code, reason); }};
}

std::string BrivoModel::describe(const PairState& pair) const {
  (void)pair;
  int arrays = 0;
  int drives = 0;
  for (const brivo::ArrayRecord& a : config_.live().arrays) arrays += a.valid == brivo::kOn ? 1 : 0;
  for (const brivo::LogicalDriveRecord& d : config_.live().logicalDrives)
    drives += d.valid == brivo::kOn ? 1 : 0;
  char text[200];
  std::snprintf(text, sizeof(text),
                "brivo model: %d arrays, %d logical drives, %u spares, %zu jobs, events A %d B %d, change %s",
                arrays, drives, static_cast<unsigned>(config_.live().header.hotSpareCount), jobs_.size(),
                logs_.of(0).count(), logs_.of(1).count(), config_.change() != nullptr ? "open" : "closed");
  return text;
}

}  // namespace sim
