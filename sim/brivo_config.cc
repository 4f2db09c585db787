// The brivo model's configuration bracket and the configuration-wide operations: starting and
// saving a change, clearing, settings, the configuration name, hot spares, the LUN mapping table
// and the restore of a whole block; see brivo_model.h.
//
// A change (0x80) works on a copy of the saved configuration; 0x82 makes the copy the saved one,
// renews the configuration time and then logs the change's events and starts its jobs. What the
// controller itself changes meanwhile (a failed member, a rebuild) is applied to both copies.
#include <algorithm>
#include <cstring>
#include <optional>

#include "sim/brivo_model.h"

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

}  // namespace

void BrivoModel::newConfiguration(const PairState& pair) {
  config_.reset(*pair.config, now());
  refresh(pair, config_.live());
}

// ---- The bracket ----

ModelResult BrivoModel::opConfigStart(Op& op) {
  (void)op;
  config_.beginChange();
  return ModelResult::good();
}

ModelResult BrivoModel::opConfigSave(Op& op) {
  if (config_.change() == nullptr) return illegal(brivo::kAscSequenceError);
  PairState& pair = op.pair;
  std::vector<Pending> work = config_.commitChange(now());
  for (const Pending& p : work) {
    if (p.kind == Pending::kEvent) logPairEvent(pair, p.code, p.reason);
  }
  dropReplaced(pair, work);
  pruneJobs();
  snapshots_.prune(snapshotContext(pair));
  for (const Pending& p : work) {
    if (p.kind != Pending::kEvent && config_.live().arrays[p.array].valid == brivo::kOn &&
        jobs_.of(p.array) == nullptr) {
      startJob(pair, p.kind == Pending::kStartInit ? brivo::kJobInit : brivo::kJobExpansion, p.array, 0,
               static_cast<uint8_t>(p.count));
    }
  }
  uint32_t count = config_.live().header.changeCount;
  uint32_t time = config_.live().header.configurationTime;
  logPairEvent(
      pair, brivo::kEvConfigSaved,
      {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count >> 16),
       static_cast<uint8_t>(count >> 24), static_cast<uint8_t>(time), static_cast<uint8_t>(time >> 8),
       static_cast<uint8_t>(time >> 16), static_cast<uint8_t>(time >> 24)},
      brivo::kClassInternal);
  refresh(pair, config_.live());
  return ModelResult::good();
}

// Jobs and snapshot areas of arrays and logical drives that the saved change deleted (or cleared)
// end, even when their numbers were given to new ones in the same change.
void BrivoModel::dropReplaced(PairState& pair, const std::vector<Pending>& work) {
  for (const Pending& p : work) {
    if (p.kind != Pending::kEvent || p.reason.empty()) continue;
    bool cleared = p.code == brivo::kEvConfiguration && p.reason[0] == brivo::kCfgCleared;
    if (cleared || p.code == brivo::kEvArrayDeleted)
      jobs_.removeIf([&](const BrivoJob& j) { return cleared || j.array == p.reason[0]; });
    if (!cleared && (p.code != brivo::kEvDriveDeleted || p.reason.size() < 2)) continue;
    std::optional<uint16_t> drive;  // none: every area goes
    if (!cleared) drive = static_cast<uint16_t>(p.reason[0] | p.reason[1] << 8);
    snapshots_.release(drive, snapshotContext(pair));
  }
}

ModelResult BrivoModel::opConfigClear(Op& op) {
  brivo::ConfigurationBlock& cfg = config_.working();
  brivo::ConfigurationHeader header = cfg.header;
  std::memset(header.name, 0, sizeof(header.name));
  cfg = brivo::ConfigurationBlock{};
  cfg.header = header;
  for (brivo::ArrayRecord& a : cfg.arrays) a.faultStatus = brivo::kFaultNone;
  for (brivo::LogicalDriveRecord& d : cfg.logicalDrives) d.hostLun = brivo::kLunNone;
  std::erase_if(config_.pending(), [](const Pending& p) { return p.kind != Pending::kEvent; });
  config_.queueEvent(brivo::kEvConfiguration, {brivo::kCfgCleared});
  refresh(op.pair, cfg);
  return ModelResult::good();
}

// ---- Settings ----

ModelResult BrivoModel::opSetting(Op& op) {
  return config_.applySetting(op.command.bufferId, op.settingValue());
}

ModelResult BrivoModel::opHostPortSettings(Op& op) {
  uint8_t rate = op.portSettings() >> 4;
  uint8_t connection = op.portSettings() & 0x0F & ~brivo::kHostPortPackBit;
  bool pack = (op.portSettings() & brivo::kHostPortPackBit) != 0;
  uint8_t mask = op.portMask();
  uint8_t id = op.hardId();
  if ((rate != 0 && rate != 1 && rate != 2 && rate != 4) || connection > 2 || mask == 0 ||
      (mask & 0xF0) != 0 || (id > 127 && id != 0xFF) || (pack && options_.hostPortPacking == 0)) {
    return illegal(brivo::kAscInvalidCdbField);
  }
  uint8_t packing = pack ? brivo::kOn : brivo::kOff;
  for (int port = 0; port < 4; ++port) {
    if ((mask & (1 << port)) != 0) config_.working().header.hostPorts[port] = {rate, connection, id, packing};
  }
  config_.queueEvent(brivo::kEvConfiguration, {brivo::kCfgHostPort, mask, rate, connection, id});
  return ModelResult::good();
}

ModelResult BrivoModel::opConfigName(Op& op) {
  std::memcpy(config_.working().header.name, op.block.data(), sizeof(config_.working().header.name));
  config_.queueEvent(brivo::kEvConfiguration, {brivo::kCfgRenamed});
  return ModelResult::good();
}

ModelResult BrivoModel::opControllerLun(Op& op) {
  brivo::ConfigurationHeader& h = config_.working().header;
  uint16_t lun = op.controllerLun();
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
  config_.queueEvent(brivo::kEvConfiguration,
                     {brivo::kCfgSetting, brivo::kOpControllerLun, static_cast<uint8_t>(lun)});
  return ModelResult::good();
}

// ---- Hot spares ----

ModelResult BrivoModel::opAddSpare(Op& op) {
  brivo::HotSpareBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  brivo::ConfigurationBlock& cfg = config_.working();
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
    config_.queueEvent(brivo::kEvSpareAdded, std::move(reason));
    refresh(op.pair, cfg);
    return ModelResult::good();
  }
  return illegal(brivo::kAscNoRoom);
}

ModelResult BrivoModel::opRemoveSpare(Op& op) {
  brivo::ConfigurationBlock& cfg = config_.working();
  uint8_t n = op.spareNumber();
  if (n >= brivo::kMaxSpares || cfg.spares[n].valid != brivo::kOn) return illegal(brivo::kAscInvalidCdbField);
  brivo::SpareRecord spare = cfg.spares[n];
  cfg.spares[n] = brivo::SpareRecord{};
  int drive = driveIndexByWwn(op.pair, spare.wwn);
  std::vector<uint8_t> reason = {static_cast<uint8_t>(drive), n, spare.array};
  reason.insert(reason.end(), spare.wwn, spare.wwn + 8);
  config_.queueEvent(brivo::kEvSpareRemoved, std::move(reason));
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
  brivo::ConfigurationBlock& cfg = config_.working();
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
  config_.queueEvent(brivo::kEvConfiguration, {brivo::kCfgMapping, static_cast<uint8_t>(table.count)});
  refresh(op.pair, cfg);
  return ModelResult::good();
}

// ---- Restore ----

ModelResult BrivoModel::restoreChunk(PairState& pair, const BufferCommand& command,
                                     std::span<const uint8_t> data) {
  std::unique_ptr<brivo::ConfigurationBlock> block;
  ModelResult result = config_.addRestoreChunk(command.offset, data, &block);
  if (block) applyRestore(pair, std::move(block));
  return result;
}

void BrivoModel::applyRestore(PairState& pair, std::unique_ptr<brivo::ConfigurationBlock> block) {
  std::memcpy(block->header.configurationWwn, config_.live().header.configurationWwn, 8);
  block->header.configurationTime =
      std::max<uint32_t>(static_cast<uint32_t>(now()), config_.live().header.configurationTime + 1);
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
  config_.replace(std::move(block));
  jobs_.clear();
  snapshots_.clear();
  logPairEvent(pair, brivo::kEvConfiguration, {brivo::kCfgRestored});
  refresh(pair, config_.live());
}

}  // namespace sim
