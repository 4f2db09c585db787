// The preset configuration of a brivo pair (model.array.N, model.logical.N, model.spare.N; see
// brivo_model.h for the keys): every line is read and checked into a plan first, and the model
// builds the plan only when all of it is valid, so a bad line changes nothing and its error
// names it ("model.array.1 = ...: ...").
//
// What the plan cannot know before it is built (the capacity of an array, say) the model checks
// as it builds on a copy of the configuration, which it drops on the first refusal.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <vector>

#include "modules/brivo/protocol.h"
#include "sim/pair_state.h"

namespace sim {

struct PresetArray {
  int number = 0;
  std::string line;  // "model.array.N = VALUE", for errors
  brivo::CreateArrayBlock block{};
  enum Init { kDone, kRunning, kNone } init = kDone;
};

struct PresetLogicalDrive {
  int number = 0;
  std::string line;
  int array = 0;
  int sizeGb = 0;  // 0: the rest of the array's first free region
  std::string name;
  int lun = -1;  // -1: none
};

struct PresetSpare {
  int number = 0;
  std::string line;
  int drive = 0;
  int array = brivo::kSpareGlobal;
};

struct PresetPlan {
  std::vector<PresetArray> arrays;  // by number, from 0 without gaps
  std::vector<PresetLogicalDrive> logicalDrives;
  std::vector<PresetSpare> spares;
  bool empty() const { return arrays.empty() && logicalDrives.empty() && spares.empty(); }
};

// Reads the preset keys of a pair's configuration; false with *error naming the first bad line.
bool planPreset(const PairConfig& config, const std::vector<PairDrive>& drives, PresetPlan* plan,
                std::string* error);

}  // namespace sim
