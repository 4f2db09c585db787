// The brivo model's descriptive buffers: controller information (0x40) with both controller
// records and the progress records, the drive list (0x41), the host topology (0x42), failure
// prediction (0x59), job progress (0x57) and the diagnostics dump (0x56); see brivo_model.h.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "sim/brivo_model.h"
#include "sim/ses_enclosure.h"

namespace sim {

namespace {

void putWwn(uint64_t wwn, uint8_t* out) {
  for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(wwn >> (56 - 8 * k));
}

void putText(char* field, size_t width, const std::string& text, char pad) {
  for (size_t i = 0; i < width; ++i) field[i] = i < text.size() ? text[i] : pad;
}

template <typename T>
T* resetAs(std::vector<uint8_t>* out) {
  out->assign(sizeof(T), 0);
  return reinterpret_cast<T*>(out->data());
}

}  // namespace

void BrivoModel::fillRecord(const PairState& pair, int c, brivo::ControllerRecord* r) const {
  const ControllerState& cs = pair.controllers[c];
  const ControllerRun& run = controllers_.run(c);
  putText(r->serial, sizeof(r->serial), cs.serial, '\0');
  putText(r->boardName, sizeof(r->boardName), pair.config->product, '\0');
  putWwn(cs.wwn, r->controllerWwn);
  std::memcpy(r->configurationWwn, config_.live().header.configurationWwn, 8);
  putWwn(pair.config->wwn, r->nodeName);
  r->powerOnSeconds = static_cast<uint32_t>(std::max<int64_t>(0, now() - run.powerOnBase));
  r->firmwareLevel = run.firmwareLevel;
  char text[8];
  std::snprintf(text, sizeof(text), "R%X%02X", (run.firmwareLevel >> 24) & 0xF,
                (run.firmwareLevel >> 16) & 0xFF);
  std::memcpy(r->firmwareText, text, sizeof(r->firmwareText));
  for (int p = 0; p < 2; ++p) {
    const brivo::HostPortSetting& setting = config_.live().header.hostPorts[c * 2 + p];
    uint8_t id = setting.hardId != 0xFF ? setting.hardId : static_cast<uint8_t>(0x20 + c * 2 + p);
    bool present = p < options_.hostPorts;
    (p == 0 ? r->hostPort0State : r->hostPort1State) = present ? run.hostPort[p] : brivo::kOff;
    (p == 0 ? r->hostPort0LoopId : r->hostPort1LoopId) = present ? id : 0xFF;
  }
  r->driveLoop1State = run.driveLoop[0];
  r->driveLoop1Id = static_cast<uint8_t>(0x7E + c);
  r->driveLoop2State = options_.driveLoops > 1 ? run.driveLoop[1] : brivo::kOff;
  r->driveLoop2Id = options_.driveLoops > 1 ? static_cast<uint8_t>(0x7E + c) : 0xFF;
  auto temperature = [&cs](size_t i) {
    return static_cast<uint8_t>(std::clamp(i < cs.temperatures.size() ? cs.temperatures[i] : 0, 0, 255));
  };
  r->airTemperature = temperature(0);
  r->expanderTemperature = temperature(1);
  r->cpuTemperature = temperature(2);
  for (size_t i = 0; i < 12 && i < cs.voltages.size(); ++i)
    r->voltages[i] = static_cast<uint16_t>(std::clamp(cs.voltages[i], 0, 65535));
  r->batteryState = cs.batteryFailed ? brivo::kOff : run.batteryDisabled ? brivo::kDisabled : brivo::kOn;
  r->controllerId = static_cast<uint8_t>(c);
  r->family = options_.family;
  r->cpldRevision = 0x21;
  r->memoryMb = 1024;
  r->processorMhz = 600;
  r->snapshotGeneration = options_.snapshotGeneration;
  r->alarmState = controllers_.alarm();
  r->clock = controllerClock(pair, c);
  r->batteryCharge = static_cast<uint8_t>(std::clamp(cs.batteryCharge, 0, 100));
  r->batteryHoldUpHours = static_cast<uint8_t>(r->batteryCharge * 72 / 100);
  r->driveInterface = options_.driveInterface;
  r->driveLoops = options_.driveLoops;
  r->hostInterface = static_cast<uint8_t>(options_.hostPorts << 4 | (options_.hostInterface & 0x0F));
  r->features =
      brivo::kFeatureDiskIoFirmware | (options_.hostPortPacking != 0 ? brivo::kFeatureHostPortPacking : 0);
}

void BrivoModel::buildControllerInfo(const PairState& pair, std::vector<uint8_t>* out) const {
  auto* info = resetAs<brivo::ControllerInformation>(out);
  info->length = brivo::kControllerInfoLength;
  info->layoutVersion = 1;
  info->stateA = controllerUp(pair, 0) ? brivo::kOn : brivo::kOff;
  info->stateB = controllerUp(pair, 1) ? brivo::kOn : brivo::kOff;
  for (int c = 0; c < 2; ++c) fillRecord(pair, c, &info->controllers[c]);
  info->jobBufferAvailable = brivo::kOn;
  for (const BrivoJob& job : jobs_.all()) {
    uint8_t array = static_cast<uint8_t>(job.array);
    uint8_t percent = static_cast<uint8_t>(BrivoJobList::percent(job, now()));
    if (job.kind == brivo::kJobRebuild && info->rebuildValid != brivo::kOn) {
      info->rebuildValid = brivo::kOn;
      info->rebuildArray = array;
      info->rebuildMember = static_cast<uint8_t>(job.member);
      info->rebuildPercent = percent;
    } else if (job.kind == brivo::kJobInit && info->initValid != brivo::kOn) {
      info->initValid = brivo::kOn;
      info->initArray = array;
      info->initPercent = percent;
    } else if (job.kind == brivo::kJobParity && info->parityValid != brivo::kOn) {
      info->parityValid = brivo::kOn;
      info->parityArray = array;
      info->parityPercent = percent;
      info->parityMode = job.mode;
    } else if (job.kind == brivo::kJobExpansion && info->expansionValid != brivo::kOn) {
      info->expansionValid = brivo::kOn;
      info->expansionArray = array;
      info->expansionPercent = percent;
    }
  }
  if (pair.enclosure != nullptr) {
    brivo::EnclosureEntry& e = info->enclosures[0];
    e.valid = brivo::kOn;
    e.number = 0;
    e.slots = static_cast<uint8_t>(pair.enclosure->config().slots);
    putWwn(pair.enclosure->config().identity.wwn, e.wwn);
    e.addresses[0] = {0x7D, static_cast<uint8_t>(options_.driveLoops > 1 ? 0x7D : 0xFF)};
    for (int k = 1; k < 4; ++k) e.addresses[k] = {0xFF, 0xFF};
  }
}

void BrivoModel::buildDriveList(const PairState& pair, std::vector<uint8_t>* out) const {
  auto* list = resetAs<brivo::DriveList>(out);
  list->length = sizeof(brivo::DriveList);
  bool loopUp[2] = {
      controllers_.run(0).driveLoop[0] == brivo::kOn || controllers_.run(1).driveLoop[0] == brivo::kOn,
      options_.driveLoops > 1 &&
          (controllers_.run(0).driveLoop[1] == brivo::kOn || controllers_.run(1).driveLoop[1] == brivo::kOn)};
  for (size_t i = 0; i < pair.drives.size() && i < static_cast<size_t>(brivo::kMaxDrives); ++i) {
    const PairDrive& d = pair.drives[i];
    const DriveRun& run = controllers_.drives()[i];
    brivo::DriveListEntry& e = list->entries[list->count++];
    uint8_t id = static_cast<uint8_t>(i);
    e.loop1Id = loopUp[0] && !run.bypassed ? id : brivo::kNotOnLoop;
    e.loop2Id = loopUp[1] && !run.bypassed ? id : brivo::kNotOnLoop;
    e.driveId = id;
    e.enclosure = pair.enclosure != nullptr ? 0 : 0xFE;
    e.slot = static_cast<uint8_t>(d.slot);
    e.hotSpareNumber = 0xFF;
    e.interfaceType = options_.driveInterface;
    e.flags =
        static_cast<uint8_t>((run.predicted ? brivo::kDriveFlagPredicted : 0) |
                             (run.firmwareSelected ? brivo::kDriveFlagFirmwareSelected : 0) |
                             (controllers_.driveIdentifyUntil()[i] != std::chrono::steady_clock::time_point{}
                                  ? brivo::kDriveFlagIdentify
                                  : 0));
    e.usage = brivo::kUsageFree;
    e.array = 0xFF;
    e.member = 0xFF;
    e.status = d.failed ? brivo::kDriveFailed : run.bypassed ? brivo::kDriveBypassed : brivo::kDriveGood;
    putWwn(d.wwn, e.wwn);
    for (int n = 0; n < brivo::kMaxArrays; ++n) {
      const brivo::ArrayRecord& a = config_.live().arrays[n];
      for (int m = 0; a.valid == brivo::kOn && m < a.driveCount; ++m) {
        if (std::memcmp(a.memberWwn[m], e.wwn, 8) != 0) continue;
        e.usage = brivo::kUsageMember;
        e.array = static_cast<uint8_t>(n);
        e.member = static_cast<uint8_t>(m);
        if (a.memberStatus[m] == brivo::kMemberRebuilding && e.status == brivo::kDriveGood)
          e.status = brivo::kDriveRebuilding;
      }
    }
    for (int s = 0; s < brivo::kMaxSpares; ++s) {
      const brivo::SpareRecord& spare = config_.live().spares[s];
      if (spare.valid != brivo::kOn || std::memcmp(spare.wwn, e.wwn, 8) != 0) continue;
      e.hotSpareNumber = static_cast<uint8_t>(s);
      e.usage = spare.array >= brivo::kSpareGlobal ? brivo::kUsageGlobalSpare : brivo::kUsageDedicatedSpare;
      if (e.usage == brivo::kUsageDedicatedSpare) e.array = spare.array;
    }
    e.blocks = d.blocks;
    e.blockSize = 512;
    putText(e.vendor, sizeof(e.vendor), "SEAGATE", ' ');
    putText(e.product, sizeof(e.product), "ST1000NM0001", ' ');
    putText(e.revision, sizeof(e.revision), run.revision.empty() ? "0002" : run.revision, ' ');
    putText(e.serial, sizeof(e.serial), d.serial, ' ');
  }
}

void BrivoModel::buildTopology(const PairState& pair, std::vector<uint8_t>* out) const {
  auto* topology = resetAs<brivo::HostTopology>(out);
  topology->length = sizeof(brivo::HostTopology);
  for (int c = 0; c < 2; ++c) {
    for (int p = 0; p < options_.hostPorts; ++p) {
      brivo::HostTopologyEntry& e = topology->entries[topology->count++];
      const brivo::HostPortSetting& setting = config_.live().header.hostPorts[c * 2 + p];
      e.kind = brivo::kTopologyHostPort;
      e.controller = static_cast<uint8_t>(c);
      e.port = static_cast<uint8_t>(p);
      e.state = controllerUp(pair, c) ? controllers_.run(c).hostPort[p] : brivo::kOff;
      e.loopId = setting.hardId != 0xFF ? setting.hardId : static_cast<uint8_t>(0x20 + c * 2 + p);
      e.dataRate = setting.dataRate == 0 ? 4 : setting.dataRate;
      e.topology = setting.connection == 2 ? 2 : 1;
      putWwn(pair.controllers[c].wwn + 0x10 * static_cast<uint64_t>(p + 1), e.wwpn);
      putWwn(pair.config->wwn, e.wwnn);
    }
  }
  for (int h = 0; h < options_.hbas; ++h) {
    for (int c = 0; c < 2; ++c) {
      if (!controllerUp(pair, c) || topology->count >= 256) continue;
      brivo::HostTopologyEntry& e = topology->entries[topology->count++];
      e.kind = brivo::kTopologyInitiator;
      e.controller = static_cast<uint8_t>(c);
      e.port = static_cast<uint8_t>(h % options_.hostPorts);
      e.state = brivo::kOn;
      e.loopId = 0xFF;
      e.dataRate = 4;
      e.topology = 1;
      uint64_t base = 0x2100001B32000000ULL | ((pair.config->wwn & 0xFFFF) << 8);
      putWwn(base + static_cast<uint64_t>(h), e.wwpn);
      putWwn((base + static_cast<uint64_t>(h)) ^ 0x0100000000000000ULL, e.wwnn);
    }
  }
}

void BrivoModel::buildPrediction(const PairState& pair, std::vector<uint8_t>* out) const {
  auto* prediction = resetAs<brivo::FailurePrediction>(out);
  prediction->length = sizeof(brivo::FailurePrediction);
  for (size_t i = 0; i < pair.drives.size() && i < static_cast<size_t>(brivo::kMaxDrives); ++i) {
    brivo::PredictionEntry& e = prediction->entries[prediction->count++];
    putWwn(pair.drives[i].wwn, e.wwn);
    e.driveId = static_cast<uint8_t>(i);
    e.predicted = controllers_.drives()[i].predicted ? brivo::kOn : brivo::kOff;
    e.temperature = 34;
    e.powerOnHours =
        static_cast<uint32_t>(std::max<int64_t>(0, now() - controllers_.run(0).powerOnBase) / 3600 + 8760);
    e.reallocatedSectors = controllers_.drives()[i].predicted ? 412 : 0;
    e.pendingSectors = controllers_.drives()[i].predicted ? 37 : 0;
  }
}

void BrivoModel::buildJobProgress(std::vector<uint8_t>* out) const {
  auto* progress = resetAs<brivo::JobProgress>(out);
  for (const BrivoJob& job : jobs_.all()) {
    brivo::JobRecord& r = progress->arrays[job.array % brivo::kMaxArrays];
    r.valid = brivo::kOn;
    r.percent = static_cast<uint8_t>(BrivoJobList::percent(job, now()));
    r.kind = job.kind;
    r.flags = job.pausedAt != 0 ? 1 : 0;
  }
}

void BrivoModel::buildDiagnostics(const PairState& pair) {
  std::string text = "Brivo diagnostics dump\n";
  char line[160];
  for (int c = 0; c < 2; ++c) {
    std::snprintf(line, sizeof(line), "controller %c: %s, firmware %08X, events %d, newest %u\n",
                  c == 0 ? 'A' : 'B', controllerUp(pair, c) ? "up" : "down",
                  controllers_.run(c).firmwareLevel, logs_.of(c).count(),
                  static_cast<unsigned>(logs_.of(c).newest()));
    text += line;
  }
  for (int n = 0; n < brivo::kMaxArrays; ++n) {
    const brivo::ArrayRecord& a = config_.live().arrays[n];
    if (a.valid != brivo::kOn) continue;
    std::snprintf(line, sizeof(line), "array %d: level %02X, %d members, fault %u, %u GB\n", n, a.raidLevel,
                  a.driveCount, static_cast<unsigned>(a.faultStatus), static_cast<unsigned>(a.capacityGb));
    text += line;
  }
  for (const BrivoJob& job : jobs_.all()) {
    std::snprintf(line, sizeof(line), "job %d on array %d: %d%%\n", job.kind, job.array,
                  BrivoJobList::percent(job, now()));
    text += line;
  }
  uint32_t length = static_cast<uint32_t>(sizeof(brivo::DiagnosticsDumpHeader) + text.size());
  controllers_.diagnostics().assign(reinterpret_cast<const char*>(&length), sizeof(length));
  controllers_.diagnostics() += text;
}

}  // namespace sim
