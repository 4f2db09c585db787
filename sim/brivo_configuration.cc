// The brivo pair's configuration: the change bracket, settings, restore and saved keys; see
// brivo_configuration.h.
#include "sim/brivo_configuration.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

void putWwn(uint64_t wwn, uint8_t* out) {
  for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(wwn >> (56 - 8 * k));
}

// The settings a single operation changes in the header. On/off settings take kOn/kOff (or 1/0);
// the others a number in [low, high].
struct Setting {
  uint8_t id;
  uint8_t brivo::ConfigurationHeader::*field;
  bool onOff;
  uint8_t low;
  uint8_t high;
};
constexpr Setting kSettings[] = {
    {brivo::kOpAutoRebuild, &brivo::ConfigurationHeader::autoRebuild, true, 0, 0},
    {brivo::kOpAlternateNodeName, &brivo::ConfigurationHeader::differentNodeNames, true, 0, 0},
    {brivo::kOpAutoDriveFirmware, &brivo::ConfigurationHeader::autoDriveFirmware, true, 0, 0},
    {brivo::kOpSingleControllerMode, &brivo::ConfigurationHeader::singleControllerMode, true, 0, 0},
    {brivo::kOpBackgroundVerify, &brivo::ConfigurationHeader::backgroundVerify, true, 0, 0},
    {brivo::kOpAutoSpare, &brivo::ConfigurationHeader::autoSpare, true, 0, 0},
    {brivo::kOpEnclosureSupport, &brivo::ConfigurationHeader::enclosureSupport, true, 0, 0},
    {brivo::kOpRebuildPriority, &brivo::ConfigurationHeader::rebuildPriority, false, 10, 90},
    {brivo::kOpInitPriority, &brivo::ConfigurationHeader::initPriority, false, 10, 90},
    {brivo::kOpControllerWwnIndex, &brivo::ConfigurationHeader::controllerWwnIndex, false, 0, 3},
};

// A configuration without records: free array slots report no fault, free drives no LUN.
void emptyRecords(brivo::ConfigurationBlock& cfg) {
  for (brivo::ArrayRecord& a : cfg.arrays) {
    a = brivo::ArrayRecord{};
    a.faultStatus = brivo::kFaultNone;
  }
  for (brivo::LogicalDriveRecord& d : cfg.logicalDrives) {
    d = brivo::LogicalDriveRecord{};
    d.hostLun = brivo::kLunNone;
  }
  for (brivo::SpareRecord& s : cfg.spares) s = brivo::SpareRecord{};
  cfg.mapping = brivo::MappingTable{};
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

BrivoConfiguration::BrivoConfiguration() : live_(std::make_unique<brivo::ConfigurationBlock>()) {}

void BrivoConfiguration::beginChange() {
  edit_ = std::make_unique<brivo::ConfigurationBlock>(*live_);
  pending_.clear();
}

void BrivoConfiguration::dropChange() {
  edit_.reset();
  pending_.clear();
}

std::vector<Pending> BrivoConfiguration::commitChange(int64_t now) {
  brivo::ConfigurationHeader& h = edit_->header;
  h.configurationTime = std::max<uint32_t>(static_cast<uint32_t>(now), live_->header.configurationTime + 1);
  ++h.changeCount;
  live_ = std::move(edit_);
  std::vector<Pending> work = std::move(pending_);
  pending_.clear();
  return work;
}

void BrivoConfiguration::queueEvent(uint8_t code, std::vector<uint8_t> reason) {
  Pending p;
  p.kind = Pending::kEvent;
  p.code = code;
  p.reason = std::move(reason);
  pending_.push_back(std::move(p));
}

uint16_t BrivoConfiguration::takeReference() {
  uint16_t reference = nextReference_;
  nextReference_ = static_cast<uint16_t>(nextReference_ == 0xFFFF ? 1 : nextReference_ + 1);
  return reference;
}

void BrivoConfiguration::reset(const PairConfig& config, int64_t now) {
  *live_ = brivo::ConfigurationBlock{};
  brivo::ConfigurationHeader& h = live_->header;
  h.length = brivo::kConfigurationLength;
  std::memcpy(h.magic, brivo::kConfigMagic, sizeof(h.magic));
  h.layoutVersion = brivo::kConfigLayoutVersion;
  h.configurationTime = static_cast<uint32_t>(now);
  putWwn(config.wwn, h.configurationWwn);
  // NUL-padded, not necessarily terminated (the block is zeroed above).
  std::memcpy(h.name, config.name.data(), std::min(config.name.size(), sizeof(h.name)));
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
}

void BrivoConfiguration::replace(std::unique_ptr<brivo::ConfigurationBlock> block) {
  live_ = std::move(block);
  dropChange();
}

ModelResult BrivoConfiguration::addRestoreChunk(uint32_t offset, std::span<const uint8_t> data,
                                                std::unique_ptr<brivo::ConfigurationBlock>* complete) {
  if (offset == 0) {
    restore_.assign(brivo::kConfigurationLength, 0);
    restoreNext_ = 0;
  }
  if (restore_.empty() || offset != restoreNext_ || offset + data.size() > brivo::kConfigurationLength) {
    restore_.clear();
    return illegal(offset + data.size() > brivo::kConfigurationLength ? brivo::kAscInvalidCdbField
                                                                      : brivo::kAscSequenceError);
  }
  std::copy(data.begin(), data.end(), restore_.begin() + offset);
  restoreNext_ = offset + static_cast<uint32_t>(data.size());
  if (restoreNext_ < brivo::kConfigurationLength) return ModelResult::good();
  auto block = std::make_unique<brivo::ConfigurationBlock>();
  std::memcpy(block.get(), restore_.data(), sizeof(brivo::ConfigurationBlock));
  restore_.clear();
  if (!validRestore(*block)) return illegal(brivo::kAscInvalidParameter);
  *complete = std::move(block);
  return ModelResult::good();
}

bool BrivoConfiguration::validRestore(const brivo::ConfigurationBlock& block) {
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

ModelResult BrivoConfiguration::applySetting(uint8_t id, uint8_t value) {
  const Setting* setting = nullptr;
  for (const Setting& s : kSettings) {
    if (s.id == id) setting = &s;
  }
  if (setting == nullptr) return illegal(brivo::kAscUnknownBuffer);
  if (setting->onOff && (value == brivo::kOn || value == 1)) {
    value = brivo::kOn;
  } else if (setting->onOff && (value == brivo::kOff || value == 0)) {
    value = brivo::kOff;
  } else if (setting->onOff || value < setting->low || value > setting->high) {
    return illegal(brivo::kAscInvalidCdbField);
  }
  uint8_t& field = working().header.*(setting->field);
  bool changed = field != value;
  field = value;
  if (changed && id == brivo::kOpAutoRebuild)
    queueEvent(brivo::kEvAutoRebuild, {1, value});
  else if (changed)
    queueEvent(brivo::kEvConfiguration, {brivo::kCfgSetting, id, value});
  return ModelResult::good();
}

const SavedKeys<BrivoConfiguration>& BrivoConfiguration::savedKeys() {
  using Cfg = BrivoConfiguration;
  using Header = brivo::ConfigurationHeader;
  using Array = brivo::ArrayRecord;
  using Drive = brivo::LogicalDriveRecord;
  using Mapping = brivo::MappingTable;
  struct Spares {
    brivo::SpareRecord records[brivo::kMaxSpares];
  };
  static_assert(sizeof(Spares) == sizeof(brivo::ConfigurationBlock::spares));
  static const SavedKeys<Cfg> keys = {
      // The saved configuration begins here and replaces the whole configuration (a preset
      // included): records the state does not list are free slots.
      recordKey<Cfg, Header>(
          "config.header", {}, {{"record", FieldKind::kBytes, [](Header& h) { return bytesOf(h); }}},
          [](const Cfg&) { return single(); },
          [](const Cfg& cfg, const KeyIndex&) { return std::optional<Header>(cfg.live_->header); },
          [](Cfg& cfg, const KeyIndex&, const Header& h) {
            cfg.live_->header = h;
            emptyRecords(*cfg.live_);
            return true;
          }),
      recordKey<Cfg, Array>(
          "config.array.#", {brivo::kMaxArrays - 1},
          {{"record", FieldKind::kBytes, [](Array& a) { return bytesOf(a); }}},
          [](const Cfg&) { return numbered(brivo::kMaxArrays); },
          [](const Cfg& cfg, const KeyIndex& k) {
            const Array& a = cfg.live_->arrays[k.number()];
            return a.valid == brivo::kOn ? std::optional<Array>(a) : std::nullopt;
          },
          [](Cfg& cfg, const KeyIndex& k, const Array& a) {
            if (!arrayRecordSane(a)) return false;
            cfg.live_->arrays[k.number()] = a;
            return true;
          }),
      recordKey<Cfg, Drive>(
          "config.ld.#", {brivo::kMaxLogicalDrives - 1},
          {{"record", FieldKind::kBytes, [](Drive& d) { return bytesOf(d); }}},
          [](const Cfg&) { return numbered(brivo::kMaxLogicalDrives); },
          [](const Cfg& cfg, const KeyIndex& k) {
            const Drive& d = cfg.live_->logicalDrives[k.number()];
            return d.valid == brivo::kOn ? std::optional<Drive>(d) : std::nullopt;
          },
          [](Cfg& cfg, const KeyIndex& k, const Drive& d) {
            if (!driveRecordSane(d)) return false;
            cfg.live_->logicalDrives[k.number()] = d;
            return true;
          }),
      recordKey<Cfg, Spares>(
          "config.spares", {}, {{"records", FieldKind::kBytes, [](Spares& s) { return bytesOf(s); }}},
          [](const Cfg&) { return single(); },
          [](const Cfg& cfg, const KeyIndex&) {
            if (cfg.live_->header.hotSpareCount == 0) return std::optional<Spares>();
            Spares s{};
            std::memcpy(static_cast<void*>(&s), cfg.live_->spares, sizeof(s));
            return std::optional<Spares>(s);
          },
          [](Cfg& cfg, const KeyIndex&, const Spares& s) {
            std::memcpy(static_cast<void*>(cfg.live_->spares), &s, sizeof(s));
            return true;
          }),
      recordKey<Cfg, Mapping>(
          "config.mapping", {}, {{"table", FieldKind::kBytes, [](Mapping& m) { return bytesOf(m); }}},
          [](const Cfg&) { return single(); },
          [](const Cfg& cfg, const KeyIndex&) {
            return cfg.live_->mapping.count != 0 ? std::optional<Mapping>(cfg.live_->mapping) : std::nullopt;
          },
          [](Cfg& cfg, const KeyIndex&, const Mapping& m) {
            if (m.count > brivo::kMaxMappings) return false;
            cfg.live_->mapping = m;
            return true;
          }),
      recordKey<Cfg, uint16_t>(
          "config.reference", {},
          {{"next", FieldKind::kNumber, [](uint16_t& v) -> FieldRef { return &v; }, 1, 0xFFFF}},
          [](const Cfg&) { return single(); },
          [](const Cfg& cfg, const KeyIndex&) { return std::optional<uint16_t>(cfg.nextReference_); },
          [](Cfg& cfg, const KeyIndex&, const uint16_t& v) {
            cfg.nextReference_ = v;
            return true;
          }),
  };
  return keys;
}

}  // namespace sim
