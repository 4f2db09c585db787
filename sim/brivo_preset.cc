// The brivo model's preset configuration: arrays, logical drives and hot spares that a pair's
// configuration section asks for, so that a simulated pair can start up already in service (the
// demo, tests that need a populated pair). See brivo_preset.h and, for the keys, brivo_model.h.
//
// The plan is built with the same operations a host would send (create array, create logical
// drive, host LUN, add spare) on a working copy, so it obeys every rule those operations check.
// It is all or nothing: one bad line prints its reason and the pair starts with an empty
// configuration. A preset logs no events: it stands for a configuration that existed before the
// controllers were powered on. Arrays are initialised unless "init" says otherwise.
//
// Thread safety: none; called from attach, which the simulated world serializes.
#include "sim/brivo_preset.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/brivo_model.h"
#include "sim/sim_text.h"

namespace sim {

namespace {

// "5" -> kRaid5, "10" -> kRaid10, ...; false for levels the controller does not know.
bool raidLevelOf(const std::string& text, uint8_t* level) {
  static constexpr std::pair<const char*, uint8_t> kLevels[] = {
      {"0", brivo::kRaid0}, {"1", brivo::kRaid1},   {"3", brivo::kRaid3},  {"5", brivo::kRaid5},
      {"6", brivo::kRaid6}, {"10", brivo::kRaid10}, {"50", brivo::kRaid50}};
  for (const auto& [name, value] : kLevels) {
    if (text == name) {
      *level = value;
      return true;
    }
  }
  return false;
}

// "0-5", "0,2,4", "0-3,8": drive indexes in the order given.
bool driveListOf(const std::string& text, int driveCount, std::vector<int>* drives) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t dash = item.find('-');
    int first = 0;
    int last = 0;
    if (dash == std::string::npos) {
      if (!parseInRange(item, 0, driveCount - 1, &first)) return false;
      last = first;
    } else if (!parseInRange(item.substr(0, dash), 0, driveCount - 1, &first) ||
               !parseInRange(item.substr(dash + 1), 0, driveCount - 1, &last) || last < first) {
      return false;
    }
    for (int d = first; d <= last; ++d) drives->push_back(d);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return !drives->empty();
}

// The "key=value" words of a preset value. False (with the word in *bad) for a word without "=",
// a key given twice or a key not in allowed.
bool presetWords(const std::string& value, std::initializer_list<const char*> allowed,
                 std::map<std::string, std::string>* out, std::string* bad) {
  for (const std::string& word : splitWords(value)) {
    size_t equals = word.find('=');
    std::string key = equals == std::string::npos ? std::string() : word.substr(0, equals);
    bool known = false;
    for (const char* name : allowed) known = known || key == name;
    if (!known || out->count(key) != 0) {
      *bad = word;
      return false;
    }
    (*out)[key] = word.substr(equals + 1);
  }
  return true;
}

void putWwn(uint64_t wwn, uint8_t* out) {
  for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(wwn >> (56 - 8 * k));
}

template <typename T>
std::span<const uint8_t> blockOf(const T& value) {
  return {reinterpret_cast<const uint8_t*>(&value), sizeof(T)};
}

// The preset kinds: key prefix and the highest number.
struct PresetKind {
  const char* prefix;
  int last;
};
constexpr PresetKind kPresetKinds[] = {{"array.", brivo::kMaxArrays - 1},
                                       {"logical.", brivo::kMaxLogicalDrives - 1},
                                       {"spare.", brivo::kMaxSpares - 1}};

// Reads the lines of one kind in number order; read returns false with *error set.
template <typename Read>
bool eachLine(const PairConfig& config, const PresetKind& kind, Read read) {
  for (int n = 0; n <= kind.last; ++n) {
    auto it = config.modelOptions.find(kind.prefix + std::to_string(n));
    if (it == config.modelOptions.end()) continue;
    if (!read(n, "model." + it->first + " = " + it->second, it->second)) return false;
  }
  return true;
}

class Planner {
 public:
  Planner(const std::vector<PairDrive>& drives, PresetPlan* plan, std::string* error)
      : drives_(drives), driveCount_(static_cast<int>(drives.size())), plan_(plan), error_(error) {}

  bool array(int n, const std::string& line, const std::string& value) {
    std::map<std::string, std::string> words;
    std::string bad;
    if (!presetWords(value, {"raid", "drives", "name", "chunk", "groups", "init"}, &words, &bad))
      return refuse(line, "unknown or repeated \"" + bad + "\"");
    PresetArray a;
    a.number = n;
    a.line = line;
    brivo::CreateArrayBlock& block = a.block;
    std::vector<int> drives;
    int chunk = 64;
    int groups = 0;
    const std::string init = words.count("init") != 0 ? words["init"] : "done";
    if (!raidLevelOf(words["raid"], &block.raidLevel))
      return refuse(line, "raid must be 0, 1, 3, 5, 6, 10 or 50");
    if (!driveListOf(words["drives"], driveCount_, &drives) || drives.size() > brivo::kMaxMembers)
      return refuse(line,
                    "drives must list 1 to 16 of the pair's drives 0-" + std::to_string(driveCount_ - 1));
    if (words["name"].size() > sizeof(block.name))
      return refuse(line, "the name is longer than 32 characters");
    if (words.count("chunk") != 0 &&
        (!parseInRange(words["chunk"], 64, 256, &chunk) || (chunk & (chunk - 1)) != 0))
      return refuse(line, "chunk must be 64, 128 or 256");
    if (words.count("groups") != 0 && !parseInRange(words["groups"], 2, 8, &groups))
      return refuse(line, "groups must be 2 to 8");
    if (init != "done" && init != "running" && init != "none")
      return refuse(line, "init must be done, running or none");
    if (n != static_cast<int>(plan_->arrays.size()))
      return refuse(line, "arrays are numbered from 0 without gaps (this one would be array " +
                              std::to_string(plan_->arrays.size()) + ")");
    for (int d : drives) {
      if (!claim(d, line)) return false;
    }
    a.init = init == "done"      ? PresetArray::kDone
             : init == "running" ? PresetArray::kRunning
                                 : PresetArray::kNone;
    block.driveCount = static_cast<uint8_t>(drives.size());
    block.chunkSizeKb = static_cast<uint16_t>(chunk);
    for (size_t i = 0; i < drives.size(); ++i) putWwn(drives_[drives[i]].wwn, block.driveWwn[i]);
    block.parityDrives = static_cast<uint8_t>(block.raidLevel == brivo::kRaid6 ? 2 : groups);
    block.cacheFlags = brivo::kCacheWriteBack | brivo::kCacheMirror;
    block.cacheFlush = 0xFF;
    block.writeBackMb = 16;
    block.initialize = brivo::kOff;
    block.unusedPercent = 0xFF;
    std::memcpy(block.name, words["name"].data(), words["name"].size());
    plan_->arrays.push_back(a);
    return true;
  }

  bool logicalDrive(int n, const std::string& line, const std::string& value) {
    std::map<std::string, std::string> words;
    std::string bad;
    if (!presetWords(value, {"array", "size", "name", "lun"}, &words, &bad))
      return refuse(line, "unknown or repeated \"" + bad + "\"");
    PresetLogicalDrive d;
    d.number = n;
    d.line = line;
    d.name = words["name"];
    if (!parseInRange(words["array"], 0, brivo::kMaxArrays - 1, &d.array) ||
        d.array >= static_cast<int>(plan_->arrays.size()))
      return refuse(line, "array must name one of the preset arrays");
    if (d.name.size() > sizeof(brivo::LogicalDriveRecord::name) ||
        (words.count("lun") != 0 && !parseInRange(words["lun"], 0, brivo::kMaxHostLuns - 1, &d.lun)))
      return refuse(line, "the name is longer than 32 characters or lun is not 0-511");
    if (words["size"] != "rest" && !parseInRange(words["size"], 1, 0xFFFF, &d.sizeGb))
      return refuse(line, "size must be 1-65535 (GiB) or rest");
    if (n != static_cast<int>(plan_->logicalDrives.size()))
      return refuse(line, "logical drives are numbered from 0 without gaps");
    for (const PresetLogicalDrive& other : plan_->logicalDrives) {
      if (d.lun >= 0 && other.lun == d.lun)
        return refuse(line, "host LUN " + std::to_string(d.lun) + " is taken");
    }
    plan_->logicalDrives.push_back(d);
    return true;
  }

  bool spare(int n, const std::string& line, const std::string& value) {
    std::map<std::string, std::string> words;
    std::string bad;
    if (!presetWords(value, {"drive", "array"}, &words, &bad))
      return refuse(line, "unknown or repeated \"" + bad + "\"");
    PresetSpare s;
    s.number = n;
    s.line = line;
    if (!parseInRange(words["drive"], 0, driveCount_ - 1, &s.drive) ||
        (words.count("array") != 0 && (!parseInRange(words["array"], 0, brivo::kMaxArrays - 1, &s.array) ||
                                       s.array >= static_cast<int>(plan_->arrays.size()))))
      return refuse(line, "drive must be one of the pair's drives, array one of the preset arrays");
    if (!claim(s.drive, line)) return false;
    plan_->spares.push_back(s);
    return true;
  }

 private:
  bool refuse(const std::string& line, const std::string& why) {
    *error_ = line + ": " + why;
    return false;
  }
  // A drive serves one array or spare line.
  bool claim(int drive, const std::string& line) {
    auto [it, fresh] = owners_.emplace(drive, line);
    if (fresh) return true;
    return refuse(line, "drive " + std::to_string(drive) + " is already used by " +
                            it->second.substr(0, it->second.find(" = ")));
  }

  const std::vector<PairDrive>& drives_;
  const int driveCount_;
  PresetPlan* plan_;
  std::string* error_;
  std::map<int, std::string> owners_;  // drive -> the line that took it
};

}  // namespace

bool planPreset(const PairConfig& config, const std::vector<PairDrive>& drives, PresetPlan* plan,
                std::string* error) {
  *plan = PresetPlan{};
  // A preset key that names no slot would otherwise be ignored without a word.
  for (const auto& [key, value] : config.modelOptions) {
    for (const PresetKind& kind : kPresetKinds) {
      std::string prefix = kind.prefix;
      int n = 0;
      if (key.rfind(prefix, 0) == 0 && !parseInRange(key.substr(prefix.size()), 0, kind.last, &n)) {
        *error = "model." + key + " = " + value + ": the number after " + prefix + " must be 0-" +
                 std::to_string(kind.last);
        return false;
      }
    }
  }
  Planner planner(drives, plan, error);
  return eachLine(config, kPresetKinds[0],
                  [&](int n, const std::string& line, const std::string& v) {
                    return planner.array(n, line, v);
                  }) &&
         eachLine(config, kPresetKinds[1],
                  [&](int n, const std::string& line, const std::string& v) {
                    return planner.logicalDrive(n, line, v);
                  }) &&
         eachLine(config, kPresetKinds[2], [&](int n, const std::string& line, const std::string& v) {
           return planner.spare(n, line, v);
         });
}

void BrivoModel::applyPreset(PairState& pair) {
  PresetPlan plan;
  std::string error;
  if (planPreset(*pair.config, pair.drives, &plan, &error) &&
      (plan.empty() || buildPreset(pair, plan, &error)))
    return;
  std::fprintf(stderr, "raidsim: pair %s: %s; the pair starts without arrays\n", pair.config->name.c_str(),
               error.c_str());
}

bool BrivoModel::buildPreset(PairState& pair, const PresetPlan& plan, std::string* error) {
  const uint16_t reference = config_.referenceMark();
  auto refuse = [&](const std::string& line, const std::string& why) {
    *error = line + ": " + why;
    config_.dropChange();
    config_.rewindReference(reference);  // the drives that took numbers are gone
    return false;
  };
  config_.beginChange();
  brivo::ConfigurationBlock& cfg = config_.working();
  std::vector<int> running;  // arrays that start with an initialisation
  for (const PresetArray& a : plan.arrays) {
    ModelResult result = presetOperation(pair, brivo::kOpCreateArray, blockOf(a.block));
    if (result.sense.key != 0)
      return refuse(
          a.line, "the controller refuses this array (a failed drive, or a layout the level does not allow)");
    if (cfg.arrays[a.number].valid != brivo::kOn)
      return refuse(a.line, "arrays are numbered from 0 without gaps");
    if (a.init == PresetArray::kDone) cfg.arrays[a.number].initialized = brivo::kOn;
    if (a.init == PresetArray::kRunning && a.block.raidLevel != brivo::kRaid0) running.push_back(a.number);
    refresh(pair, cfg);
  }
  for (const PresetLogicalDrive& d : plan.logicalDrives) {
    // The first free region of the array: its index among all free regions is what 0x91 takes.
    auto regions = std::make_unique<brivo::RegionInformation>();
    buildRegions(cfg, true, regions.get());
    int region = -1;
    for (int r = 0; r < regions->count && region < 0; ++r) {
      if (regions->entries[r].array == d.array) region = r;
    }
    const uint32_t room = region < 0 ? 0 : regions->entries[region].sizeGb;
    int size = d.sizeGb != 0 ? d.sizeGb : static_cast<int>(std::min<uint32_t>(room, 0xFFFF));
    if (region < 0 || size == 0 || static_cast<uint32_t>(size) > room)
      return refuse(d.line,
                    "array " + std::to_string(d.array) + " has " + std::to_string(room) + " GiB free");
    brivo::CreateLogicalDriveBlock block{};
    block.sizeGb = static_cast<uint16_t>(size);
    block.region = static_cast<uint16_t>(region);
    block.availability = 0x0F;  // all four host ports
    std::memcpy(block.name, d.name.data(), d.name.size());
    ModelResult result = presetOperation(pair, brivo::kOpCreateLogicalDrive, blockOf(block));
    if (result.sense.key != 0 || cfg.logicalDrives[d.number].valid != brivo::kOn)
      return refuse(d.line, "logical drives are numbered from 0 without gaps");
    if (d.lun >= 0) {
      brivo::SetHostLunBlock lunBlock{static_cast<uint16_t>(d.number), static_cast<uint16_t>(d.lun)};
      if (presetOperation(pair, brivo::kOpSetHostLun, blockOf(lunBlock)).sense.key != 0)
        return refuse(d.line, "host LUN " + std::to_string(d.lun) + " is taken");
    }
  }
  for (const PresetSpare& s : plan.spares) {
    brivo::HotSpareBlock block{};
    putWwn(pair.drives[s.drive].wwn, block.wwn);
    block.array = static_cast<uint8_t>(s.array);
    if (presetOperation(pair, brivo::kOpAddHotSpare, blockOf(block)).sense.key != 0)
      return refuse(s.line, "the drive is failed or the array does not take it");
  }
  auto block = std::make_unique<brivo::ConfigurationBlock>(cfg);
  block->header.changeCount = 1;
  config_.replace(std::move(block));  // a preset logs nothing: what the change queued goes
  for (int array : running) {
    BrivoJob job;
    job.kind = brivo::kJobInit;
    job.array = array;
    job.start = now();
    job.duration = options_.jobSeconds;
    jobs_.add(job);
  }
  refresh(pair, config_.live());
  return true;
}

ModelResult BrivoModel::presetOperation(PairState& pair, uint8_t id, std::span<const uint8_t> block) {
  std::vector<uint8_t> cdb(10, 0);
  cdb[0] = 0x3B;
  cdb[1] = brivo::kModeCommand;
  cdb[2] = id;
  BufferCommand command;
  command.mode = brivo::kModeCommand;
  command.bufferId = id;
  command.cdb = cdb;
  Op op{pair, command, block};
  switch (id) {
    case brivo::kOpCreateArray:
      return opCreateArray(op);
    case brivo::kOpCreateLogicalDrive:
      return opCreateLogicalDrive(op);
    case brivo::kOpSetHostLun:
      return opSetHostLun(op);
    default:
      return opAddSpare(op);
  }
}

}  // namespace sim
