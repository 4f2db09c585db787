// The brivo model's configuration bracket and the configuration-wide operations: starting and
// saving a change, clearing, settings, the configuration name, hot spares, the LUN mapping table
// and the restore of a whole block; see brivo_model.h.
//
// A change (0x80) works on a copy of the saved configuration; 0x82 makes the copy the saved one,
// renews the configuration time and then logs the change's events and starts its jobs. What the
// controller itself changes meanwhile (a failed member, a rebuild) is applied to both copies.
#include <algorithm>
#include <cstring>

#include "sim/brivo_model.h"

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

void putWwn(uint64_t wwn, uint8_t* out) {
  for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(wwn >> (56 - 8 * k));
}

bool flagValue(uint8_t value, uint8_t* out) {
  if (value == brivo::kOn || value == 1)
    *out = brivo::kOn;
  else if (value == brivo::kOff || value == 0)
    *out = brivo::kOff;
  else
    return false;
  return true;
}

}  // namespace

bool arrayRecordSane(const brivo::ArrayRecord& a) {
  if (a.valid == 0) return true;
  return a.valid == brivo::kOn && a.driveCount >= 1 && a.driveCount <= brivo::kMaxMembers;
}

bool driveRecordSane(const brivo::LogicalDriveRecord& d) {
  if (d.valid == 0) return true;
  if (d.valid != brivo::kOn || d.segmentCount == 0 || d.segmentCount > brivo::kMaxSegments) return false;
  for (int s = 0; s < d.segmentCount; ++s) {
    if (d.segments[s].array >= brivo::kMaxArrays) return false;
  }
  return true;
}

void BrivoModel::newConfiguration(const PairState& pair) {
  *live_ = brivo::ConfigurationBlock{};
  brivo::ConfigurationHeader& h = live_->header;
  h.length = brivo::kConfigurationLength;
  std::memcpy(h.magic, brivo::kConfigMagic, sizeof(h.magic));
  h.layoutVersion = brivo::kConfigLayoutVersion;
  h.configurationTime = static_cast<uint32_t>(now());
  putWwn(pair.config->wwn, h.configurationWwn);
  // NUL-padded, not necessarily terminated (the block is zeroed above).
  std::memcpy(h.name, pair.config->name.data(), std::min(pair.config->name.size(), sizeof(h.name)));
  h.autoRebuild = brivo::kOn;
  h.singleControllerMode = brivo::kOff;
  h.rebuildPriority = 50;
  h.autoDriveFirmware = brivo::kOff;
  h.backgroundVerify = brivo::kOff;
  h.autoSpare = brivo::kOff;
  h.initPriority = 50;
  h.controllerLun = brivo::kLunDisable;
  h.lastControllerLun = 31;
  h.enclosureSupport = brivo::kOn;
  h.differentNodeNames = brivo::kOff;
  for (brivo::HostPortSetting& port : h.hostPorts) port = {0, 0, 0xFF, 0};
  for (brivo::ArrayRecord& a : live_->arrays) a.faultStatus = brivo::kFaultNone;
  for (brivo::LogicalDriveRecord& d : live_->logicalDrives) d.hostLun = brivo::kLunNone;
  refresh(pair, *live_);
}

void BrivoModel::queueEvent(uint8_t code, std::vector<uint8_t> reason) {
  Pending p;
  p.kind = Pending::kEvent;
  p.code = code;
  p.reason = std::move(reason);
  pending_.push_back(std::move(p));
}

// ---- The bracket ----

ModelResult BrivoModel::opConfigStart(Op& op) {
  (void)op;
  edit_ = std::make_unique<brivo::ConfigurationBlock>(*live_);
  pending_.clear();
  return ModelResult::good();
}

ModelResult BrivoModel::opConfigSave(Op& op) {
  if (!edit_) return illegal(brivo::kAscSequenceError);
  PairState& pair = op.pair;
  brivo::ConfigurationHeader& h = edit_->header;
  h.configurationTime = std::max<uint32_t>(static_cast<uint32_t>(now()), live_->header.configurationTime + 1);
  ++h.changeCount;
  live_ = std::move(edit_);
  std::vector<Pending> work = std::move(pending_);
  pending_.clear();
  for (const Pending& p : work) {
    if (p.kind == Pending::kEvent) logPairEvent(pair, p.code, p.reason);
  }
  dropReplaced(pair, work);
  pruneJobs(pair);
  pruneSnapshots(pair);
  for (const Pending& p : work) {
    if (p.kind != Pending::kEvent && live_->arrays[p.array].valid == brivo::kOn &&
        jobOf(p.array) == nullptr) {
      startJob(pair, p.kind == Pending::kStartInit ? brivo::kJobInit : brivo::kJobExpansion, p.array, 0,
               static_cast<uint8_t>(p.count));
    }
  }
  uint32_t count = live_->header.changeCount;
  uint32_t time = live_->header.configurationTime;
  logPairEvent(
      pair, brivo::kEvConfigSaved,
      {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count >> 16),
       static_cast<uint8_t>(count >> 24), static_cast<uint8_t>(time), static_cast<uint8_t>(time >> 8),
       static_cast<uint8_t>(time >> 16), static_cast<uint8_t>(time >> 24)},
      brivo::kClassInternal);
  refresh(pair, *live_);
  return ModelResult::good();
}

// Jobs and snapshot areas of arrays and logical drives that the saved change deleted (or cleared)
// end, even when their numbers were given to new ones in the same change.
void BrivoModel::dropReplaced(PairState& pair, const std::vector<Pending>& work) {
  for (const Pending& p : work) {
    if (p.kind != Pending::kEvent || p.reason.empty()) continue;
    bool cleared = p.code == brivo::kEvConfiguration && p.reason[0] == brivo::kCfgCleared;
    if (cleared || p.code == brivo::kEvArrayDeleted)
      std::erase_if(jobs_, [&](const BrivoJob& j) { return cleared || j.array == p.reason[0]; });
    if (!cleared && (p.code != brivo::kEvDriveDeleted || p.reason.size() < 2)) continue;
    uint16_t drive = cleared ? 0 : static_cast<uint16_t>(p.reason[0] | p.reason[1] << 8);
    for (auto it = snapshots_.begin(); it != snapshots_.end();) {
      if (!cleared && it->first != drive && it->second.area != drive) {
        ++it;
        continue;
      }
      logPairEvent(pair, brivo::kEvSnapshot,
                   {brivo::kSnapshotAreaReleased, static_cast<uint8_t>(it->first),
                    static_cast<uint8_t>(it->first >> 8)});
      it = snapshots_.erase(it);
    }
  }
}

ModelResult BrivoModel::opConfigClear(Op& op) {
  brivo::ConfigurationBlock& cfg = working();
  brivo::ConfigurationHeader header = cfg.header;
  std::memset(header.name, 0, sizeof(header.name));
  cfg = brivo::ConfigurationBlock{};
  cfg.header = header;
  for (brivo::ArrayRecord& a : cfg.arrays) a.faultStatus = brivo::kFaultNone;
  for (brivo::LogicalDriveRecord& d : cfg.logicalDrives) d.hostLun = brivo::kLunNone;
  std::erase_if(pending_, [](const Pending& p) { return p.kind != Pending::kEvent; });
  queueEvent(brivo::kEvConfiguration, {brivo::kCfgCleared});
  refresh(op.pair, cfg);
  return ModelResult::good();
}

// ---- Settings ----

ModelResult BrivoModel::opSetting(Op& op) {
  brivo::ConfigurationHeader& h = working().header;
  uint8_t id = op.command.bufferId;
  uint8_t value = op.cdbByte3();
  uint8_t* field = nullptr;
  bool flag = true;
  switch (id) {
    case brivo::kOpAutoRebuild:
      field = &h.autoRebuild;
      break;
    case brivo::kOpAlternateNodeName:
      field = &h.differentNodeNames;
      break;
    case brivo::kOpAutoDriveFirmware:
      field = &h.autoDriveFirmware;
      break;
    case brivo::kOpSingleControllerMode:
      field = &h.singleControllerMode;
      break;
    case brivo::kOpBackgroundVerify:
      field = &h.backgroundVerify;
      break;
    case brivo::kOpAutoSpare:
      field = &h.autoSpare;
      break;
    case brivo::kOpEnclosureSupport:
      field = &h.enclosureSupport;
      break;
    case brivo::kOpRebuildPriority:
      field = &h.rebuildPriority;
      flag = false;
      break;
    case brivo::kOpInitPriority:
      field = &h.initPriority;
      flag = false;
      break;
    case brivo::kOpControllerWwnIndex:
      field = &h.controllerWwnIndex;
      flag = false;
      break;
    default:
      return illegal(brivo::kAscUnknownBuffer);
  }
  if (flag) {
    if (!flagValue(value, &value)) return illegal(brivo::kAscInvalidCdbField);
  } else if (id == brivo::kOpControllerWwnIndex ? value > 3 : (value < 10 || value > 90)) {
    return illegal(brivo::kAscInvalidCdbField);
  }
  bool changed = *field != value;
  *field = value;
  if (changed && id == brivo::kOpAutoRebuild)
    queueEvent(brivo::kEvAutoRebuild, {1, value});
  else if (changed)
    queueEvent(brivo::kEvConfiguration, {brivo::kCfgSetting, id, value});
  return ModelResult::good();
}

ModelResult BrivoModel::opHostPortSettings(Op& op) {
  uint8_t rate = op.cdbByte3() >> 4;
  uint8_t connection = op.cdbByte3() & 0x0F & ~brivo::kHostPortPackBit;
  bool pack = (op.cdbByte3() & brivo::kHostPortPackBit) != 0;
  uint8_t mask = op.cdbByte4();
  uint8_t id = op.cdbByte5();
  if ((rate != 0 && rate != 1 && rate != 2 && rate != 4) || connection > 2 || mask == 0 ||
      (mask & 0xF0) != 0 || (id > 127 && id != 0xFF) || (pack && options_.hostPortPacking == 0)) {
    return illegal(brivo::kAscInvalidCdbField);
  }
  uint8_t packing = pack ? brivo::kOn : brivo::kOff;
  for (int port = 0; port < 4; ++port) {
    if ((mask & (1 << port)) != 0) working().header.hostPorts[port] = {rate, connection, id, packing};
  }
  queueEvent(brivo::kEvConfiguration, {brivo::kCfgHostPort, mask, rate, connection, id});
  return ModelResult::good();
}

ModelResult BrivoModel::opConfigName(Op& op) {
  std::memcpy(working().header.name, op.block.data(), sizeof(working().header.name));
  queueEvent(brivo::kEvConfiguration, {brivo::kCfgRenamed});
  return ModelResult::good();
}

ModelResult BrivoModel::opControllerLun(Op& op) {
  brivo::ConfigurationHeader& h = working().header;
  uint16_t lun = op.cdbWord3();
  if (lun == brivo::kLunEnable) {
    h.controllerLun = h.lastControllerLun;
  } else if (lun == brivo::kLunDisable) {
    h.controllerLun = brivo::kLunDisable;
  } else if (lun < brivo::kMaxHostLuns) {
    h.controllerLun = lun;
    h.lastControllerLun = lun;
  } else {
    return illegal(brivo::kAscInvalidCdbField);
  }
  queueEvent(brivo::kEvConfiguration,
             {brivo::kCfgSetting, brivo::kOpControllerLun, static_cast<uint8_t>(lun)});
  return ModelResult::good();
}

// ---- Hot spares ----

ModelResult BrivoModel::opAddSpare(Op& op) {
  brivo::HotSpareBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  brivo::ConfigurationBlock& cfg = working();
  int drive = driveIndexByWwn(op.pair, block.wwn);
  bool global = block.array == brivo::kSpareGlobal || block.array == 0xFF;
  if (drive < 0 || !driveUsable(op.pair, cfg, drive)) return illegal(brivo::kAscInvalidParameter);
  if (!global && (block.array >= brivo::kMaxArrays || cfg.arrays[block.array].valid != brivo::kOn))
    return illegal(brivo::kAscInvalidParameter);
  for (int n = 0; n < brivo::kMaxSpares; ++n) {
    brivo::SpareRecord& spare = cfg.spares[n];
    if (spare.valid == brivo::kOn) continue;
    spare = brivo::SpareRecord{};
    std::memcpy(spare.wwn, block.wwn, 8);
    spare.array = global ? brivo::kSpareGlobal : block.array;
    spare.valid = brivo::kOn;
    std::vector<uint8_t> reason = {static_cast<uint8_t>(drive), static_cast<uint8_t>(n), spare.array};
    reason.insert(reason.end(), block.wwn, block.wwn + 8);
    queueEvent(brivo::kEvSpareAdded, std::move(reason));
    refresh(op.pair, cfg);
    return ModelResult::good();
  }
  return illegal(brivo::kAscNoRoom);
}

ModelResult BrivoModel::opRemoveSpare(Op& op) {
  brivo::ConfigurationBlock& cfg = working();
  uint8_t n = op.cdbByte3();
  if (n >= brivo::kMaxSpares || cfg.spares[n].valid != brivo::kOn) return illegal(brivo::kAscInvalidCdbField);
  brivo::SpareRecord spare = cfg.spares[n];
  cfg.spares[n] = brivo::SpareRecord{};
  int drive = driveIndexByWwn(op.pair, spare.wwn);
  std::vector<uint8_t> reason = {static_cast<uint8_t>(drive), n, spare.array};
  reason.insert(reason.end(), spare.wwn, spare.wwn + 8);
  queueEvent(brivo::kEvSpareRemoved, std::move(reason));
  refresh(op.pair, cfg);
  return ModelResult::good();
}

// ---- LUN mapping ----

ModelResult BrivoModel::opWriteMapping(Op& op) {
  brivo::MappingTable table{};
  if (op.block.size() >= sizeof(brivo::MappingTable)) {
    std::memcpy(&table, op.block.data(), sizeof(table));
    if (table.count > brivo::kMaxMappings) return illegal(brivo::kAscInvalidParameter);
  } else {
    brivo::MappingTableOld old;
    std::memcpy(&old, op.block.data(), sizeof(old));
    if (old.count > brivo::kMaxMappings) return illegal(brivo::kAscInvalidParameter);
    table.count = old.count;
    for (int i = 0; i < old.count; ++i) {
      const brivo::MappingEntryOld& o = old.entries[i];
      brivo::MappingEntry& e = table.entries[i];
      std::memcpy(e.hostWwpn, o.hostWwpn, 8);
      e.logicalDrive = o.logicalDrive;
      e.lun = o.lun;
      e.portMask = o.portMask;
      e.permission = o.permission;
      e.valid = o.valid;
    }
  }
  table.layout = 2;
  brivo::ConfigurationBlock& cfg = working();
  for (int i = 0; i < table.count; ++i) {
    const brivo::MappingEntry& e = table.entries[i];
    if (e.valid != brivo::kOn || e.logicalDrive >= brivo::kMaxLogicalDrives ||
        cfg.logicalDrives[e.logicalDrive].valid != brivo::kOn || e.lun >= brivo::kMaxHostLuns ||
        (e.portMask & 0xF0) != 0 || e.permission > brivo::kMappingReadOnly) {
      return illegal(brivo::kAscInvalidParameter);
    }
  }
  for (int i = table.count; i < brivo::kMaxMappings; ++i) table.entries[i] = brivo::MappingEntry{};
  cfg.mapping = table;
  queueEvent(brivo::kEvConfiguration, {brivo::kCfgMapping, static_cast<uint8_t>(table.count)});
  refresh(op.pair, cfg);
  return ModelResult::good();
}

// ---- Restore ----

ModelResult BrivoModel::restoreChunk(PairState& pair, const BufferCommand& command,
                                     std::span<const uint8_t> data) {
  if (command.offset == 0) {
    restore_.assign(brivo::kConfigurationLength, 0);
    restoreNext_ = 0;
  }
  if (restore_.empty() || command.offset != restoreNext_ ||
      command.offset + data.size() > brivo::kConfigurationLength) {
    restore_.clear();
    return illegal(command.offset + data.size() > brivo::kConfigurationLength ? brivo::kAscInvalidCdbField
                                                                              : brivo::kAscSequenceError);
  }
  std::copy(data.begin(), data.end(), restore_.begin() + command.offset);
  restoreNext_ = command.offset + static_cast<uint32_t>(data.size());
  if (restoreNext_ < brivo::kConfigurationLength) return ModelResult::good();
  auto block = std::make_unique<brivo::ConfigurationBlock>();
  std::memcpy(block.get(), restore_.data(), sizeof(brivo::ConfigurationBlock));
  restore_.clear();
  if (!validRestore(*block)) return illegal(brivo::kAscInvalidParameter);
  applyRestore(pair, std::move(block));
  return ModelResult::good();
}

bool BrivoModel::validRestore(const brivo::ConfigurationBlock& block) const {
  const brivo::ConfigurationHeader& h = block.header;
  if (h.length != brivo::kConfigurationLength || std::memcmp(h.magic, brivo::kConfigMagic, 4) != 0 ||
      h.layoutVersion != brivo::kConfigLayoutVersion || block.mapping.count > brivo::kMaxMappings) {
    return false;
  }
  std::vector<const uint8_t*> used;  // every drive named once across arrays and spares
  auto claim = [&used](const uint8_t* wwn) {
    for (const uint8_t* other : used) {
      if (std::memcmp(other, wwn, 8) == 0) return false;
    }
    used.push_back(wwn);
    return true;
  };
  for (const brivo::ArrayRecord& a : block.arrays) {
    if (!arrayRecordSane(a)) return false;
    for (int m = 0; a.valid == brivo::kOn && m < a.driveCount; ++m) {
      if (!claim(a.memberWwn[m])) return false;
    }
  }
  for (const brivo::SpareRecord& s : block.spares) {
    if (s.valid == brivo::kOn && !claim(s.wwn)) return false;
  }
  for (const brivo::LogicalDriveRecord& d : block.logicalDrives) {
    if (!driveRecordSane(d)) return false;
    for (int s = 0; d.valid == brivo::kOn && s < d.segmentCount; ++s) {
      if (block.arrays[d.segments[s].array].valid != brivo::kOn) return false;
    }
  }
  return true;
}

void BrivoModel::applyRestore(PairState& pair, std::unique_ptr<brivo::ConfigurationBlock> block) {
  std::memcpy(block->header.configurationWwn, live_->header.configurationWwn, 8);
  block->header.configurationTime =
      std::max<uint32_t>(static_cast<uint32_t>(now()), live_->header.configurationTime + 1);
  ++block->header.changeCount;
  for (brivo::ArrayRecord& a : block->arrays) {
    if (a.valid != brivo::kOn) continue;
    for (int m = 0; m < a.driveCount; ++m) {
      int drive = driveIndexByWwn(pair, a.memberWwn[m]);
      if (drive < 0)
        a.memberStatus[m] = brivo::kMemberMissing;
      else if (pair.drives[drive].failed)
        a.memberStatus[m] = brivo::kMemberFailed;
      else if (a.memberStatus[m] == brivo::kMemberRebuilding)
        a.memberStatus[m] = brivo::kMemberFailed;
    }
  }
  live_ = std::move(block);
  edit_.reset();
  pending_.clear();
  jobs_.clear();
  snapshots_.clear();
  logPairEvent(pair, brivo::kEvConfiguration, {brivo::kCfgRestored});
  refresh(pair, *live_);
}

}  // namespace sim
