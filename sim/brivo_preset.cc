// The brivo model's preset configuration: arrays, logical drives and hot spares that a pair's
// configuration section asks for, so that a simulated pair can start up already in service (the
// demo, tests that need a populated pair). See brivo_model.h for the keys.
//
// The preset is built with the same operations a host would send (create array, create logical
// drive, host LUN, add spare) on a working copy, so it obeys every rule those operations check.
// It is all or nothing: one bad key prints its reason and the pair starts with an empty
// configuration. A preset logs no events: it stands for a configuration that existed before the
// controllers were powered on. Arrays are initialised unless "init" says otherwise.
//
// Thread safety: none; called from attach, which the simulated world serializes.
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

}  // namespace

bool BrivoModel::hasPreset(const PairConfig& config) {
  for (const auto& [key, value] : config.modelOptions) {
    if (key.rfind("array.", 0) == 0 || key.rfind("logical.", 0) == 0 || key.rfind("spare.", 0) == 0)
      return true;
  }
  return false;
}

void BrivoModel::applyPreset(PairState& pair) {
  const PairConfig& config = *pair.config;
  if (!hasPreset(config)) return;
  edit_ = std::make_unique<brivo::ConfigurationBlock>(*live_);
  pending_.clear();
  std::vector<int> running;  // arrays that start with an initialisation
  std::string error;
  bool ok =
      presetArrays(pair, &running, &error) && presetLogicalDrives(pair, &error) && presetSpares(pair, &error);
  pending_.clear();  // a preset logs nothing
  if (!ok) {
    std::fprintf(stderr, "raidsim: pair %s: %s; the pair starts without arrays\n", config.name.c_str(),
                 error.c_str());
    edit_.reset();
    return;
  }
  edit_->header.changeCount = 1;
  live_ = std::move(edit_);
  for (int array : running) {
    BrivoJob job;
    job.kind = brivo::kJobInit;
    job.array = array;
    job.start = now();
    job.duration = options_.jobSeconds;
    jobs_.push_back(job);
  }
  refresh(pair, *live_);
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

bool BrivoModel::presetArrays(PairState& pair, std::vector<int>* running, std::string* error) {
  const auto& options = pair.config->modelOptions;
  const int driveCount = static_cast<int>(pair.drives.size());
  for (int n = 0; n < brivo::kMaxArrays; ++n) {
    auto it = options.find("array." + std::to_string(n));
    if (it == options.end()) continue;
    const std::string where = "model.array." + std::to_string(n) + " = " + it->second;
    std::map<std::string, std::string> words;
    std::string bad;
    if (!presetWords(it->second, {"raid", "drives", "name", "chunk", "groups", "init"}, &words, &bad)) {
      *error = where + ": unknown or repeated \"" + bad + "\"";
      return false;
    }
    brivo::CreateArrayBlock block{};
    std::vector<int> drives;
    int chunk = 64;
    int groups = 0;
    const std::string init = words.count("init") != 0 ? words["init"] : "done";
    if (!raidLevelOf(words["raid"], &block.raidLevel)) {
      *error = where + ": raid must be 0, 1, 3, 5, 6, 10 or 50";
    } else if (!driveListOf(words["drives"], driveCount, &drives) || drives.size() > brivo::kMaxMembers) {
      *error = where + ": drives must list 1 to 16 of the pair's drives 0-" + std::to_string(driveCount - 1);
    } else if (words["name"].size() > sizeof(block.name)) {
      *error = where + ": the name is longer than 32 characters";
    } else if (words.count("chunk") != 0 &&
               (!parseInRange(words["chunk"], 64, 256, &chunk) || (chunk & (chunk - 1)) != 0)) {
      *error = where + ": chunk must be 64, 128 or 256";
    } else if (words.count("groups") != 0 && !parseInRange(words["groups"], 2, 8, &groups)) {
      *error = where + ": groups must be 2 to 8";
    } else if (init != "done" && init != "running" && init != "none") {
      *error = where + ": init must be done, running or none";
    }
    if (!error->empty()) return false;
    block.driveCount = static_cast<uint8_t>(drives.size());
    block.chunkSizeKb = static_cast<uint16_t>(chunk);
    for (size_t i = 0; i < drives.size(); ++i) putWwn(pair.drives[drives[i]].wwn, block.driveWwn[i]);
    block.parityDrives = static_cast<uint8_t>(block.raidLevel == brivo::kRaid6 ? 2 : groups);
    block.cacheFlags = brivo::kCacheWriteBack | brivo::kCacheMirror;
    block.cacheFlush = 0xFF;
    block.writeBackMb = 16;
    block.initialize = brivo::kOff;
    block.unusedPercent = 0xFF;
    std::memcpy(block.name, words["name"].data(), words["name"].size());
    const int before = edit_->header.arrayCount;
    ModelResult result = presetOperation(pair, brivo::kOpCreateArray,
                                         {reinterpret_cast<const uint8_t*>(&block), sizeof(block)});
    if (result.sense.key != 0) {
      *error = where +
               ": the controller refuses this array (drives in use, failed, or a layout the level "
               "does not allow)";
      return false;
    }
    if (edit_->arrays[n].valid != brivo::kOn) {
      *error = where + ": arrays are numbered from 0 without gaps (this one became array " +
               std::to_string(before) + ")";
      return false;
    }
    if (init == "done") edit_->arrays[n].initialized = brivo::kOn;
    if (init == "running" && block.raidLevel != brivo::kRaid0) running->push_back(n);
    refresh(pair, *edit_);
  }
  return true;
}

bool BrivoModel::presetLogicalDrives(PairState& pair, std::string* error) {
  const auto& options = pair.config->modelOptions;
  for (int d = 0; d < brivo::kMaxLogicalDrives; ++d) {
    auto it = options.find("logical." + std::to_string(d));
    if (it == options.end()) continue;
    const std::string where = "model.logical." + std::to_string(d) + " = " + it->second;
    std::map<std::string, std::string> words;
    std::string bad;
    if (!presetWords(it->second, {"array", "size", "name", "lun"}, &words, &bad)) {
      *error = where + ": unknown or repeated \"" + bad + "\"";
      return false;
    }
    int array = 0;
    int lun = -1;
    if (!parseInRange(words["array"], 0, brivo::kMaxArrays - 1, &array) ||
        edit_->arrays[array].valid != brivo::kOn) {
      *error = where + ": array must name one of the preset arrays";
      return false;
    }
    if (words["name"].size() > sizeof(brivo::LogicalDriveRecord::name) ||
        (words.count("lun") != 0 && !parseInRange(words["lun"], 0, brivo::kMaxHostLuns - 1, &lun))) {
      *error = where + ": the name is longer than 32 characters or lun is not 0-511";
      return false;
    }
    // The first free region of the array: its index among all free regions is what 0x91 takes.
    auto regions = std::make_unique<brivo::RegionInformation>();
    buildRegions(*edit_, true, regions.get());
    int region = -1;
    for (int r = 0; r < regions->count && region < 0; ++r) {
      if (regions->entries[r].array == array) region = r;
    }
    int size = 0;
    const uint32_t room = region < 0 ? 0 : regions->entries[region].sizeGb;
    if (words["size"] == "rest") {
      size = static_cast<int>(std::min<uint32_t>(room, 0xFFFF));
    } else if (!parseInRange(words["size"], 1, 0xFFFF, &size)) {
      *error = where + ": size must be 1-65535 (GiB) or rest";
      return false;
    }
    if (region < 0 || size == 0 || static_cast<uint32_t>(size) > room) {
      *error = where + ": array " + std::to_string(array) + " has " + std::to_string(room) + " GiB free";
      return false;
    }
    brivo::CreateLogicalDriveBlock block{};
    block.sizeGb = static_cast<uint16_t>(size);
    block.region = static_cast<uint16_t>(region);
    block.availability = 0x0F;  // all four host ports
    std::memcpy(block.name, words["name"].data(), words["name"].size());
    ModelResult result = presetOperation(pair, brivo::kOpCreateLogicalDrive,
                                         {reinterpret_cast<const uint8_t*>(&block), sizeof(block)});
    if (result.sense.key != 0 || edit_->logicalDrives[d].valid != brivo::kOn) {
      *error = where + ": logical drives are numbered from 0 without gaps";
      return false;
    }
    if (lun >= 0) {
      brivo::SetHostLunBlock lunBlock{static_cast<uint16_t>(d), static_cast<uint16_t>(lun)};
      result = presetOperation(pair, brivo::kOpSetHostLun,
                               {reinterpret_cast<const uint8_t*>(&lunBlock), sizeof(lunBlock)});
      if (result.sense.key != 0) {
        *error = where + ": host LUN " + std::to_string(lun) + " is taken";
        return false;
      }
    }
  }
  return true;
}

bool BrivoModel::presetSpares(PairState& pair, std::string* error) {
  const auto& options = pair.config->modelOptions;
  for (int s = 0; s < brivo::kMaxSpares; ++s) {
    auto it = options.find("spare." + std::to_string(s));
    if (it == options.end()) continue;
    const std::string where = "model.spare." + std::to_string(s) + " = " + it->second;
    std::map<std::string, std::string> words;
    std::string bad;
    if (!presetWords(it->second, {"drive", "array"}, &words, &bad)) {
      *error = where + ": unknown or repeated \"" + bad + "\"";
      return false;
    }
    int drive = 0;
    int array = brivo::kSpareGlobal;
    if (!parseInRange(words["drive"], 0, static_cast<int>(pair.drives.size()) - 1, &drive) ||
        (words.count("array") != 0 && !parseInRange(words["array"], 0, brivo::kMaxArrays - 1, &array))) {
      *error = where + ": drive must be one of the pair's drives, array an array number";
      return false;
    }
    brivo::HotSpareBlock block{};
    putWwn(pair.drives[drive].wwn, block.wwn);
    block.array = static_cast<uint8_t>(array);
    ModelResult result = presetOperation(pair, brivo::kOpAddHotSpare,
                                         {reinterpret_cast<const uint8_t*>(&block), sizeof(block)});
    if (result.sense.key != 0) {
      *error = where + ": the drive is in use or failed, or the array does not exist";
      return false;
    }
  }
  return true;
}

}  // namespace sim
