// Path selection for a controller pair; see pair_paths.h.
#include "modules/brivo/pair_paths.h"

#include <strings.h>

#include <mutex>

#include "modules/brivo/device_state.h"
#include "modules/brivo/module_state.h"

namespace brivo {

namespace {

constexpr int kDirectAccess = 0;
constexpr int kProcessor = 3;

std::mutex& pathLock() {
  static std::mutex lock;
  return lock;
}

struct Candidate {
  DeviceRecord* device = nullptr;
  ModDeviceItem* item = nullptr;
  BrivoDeviceState* state = nullptr;
};

bool hasBookmarks(const BrivoDeviceState* state) {
  return loadField(state->lastAEventIndex) != -1 || loadField(state->lastBEventIndex) != -1;
}

// A later candidate replaces the chosen one when it has failed fewer times in a row, or as
// often and it is the processor path where the chosen is a direct-access one. (A processor path
// that keeps failing is never preferred to a working direct-access path.)
bool isBetter(const Candidate& later, const Candidate& chosen) {
  const int32_t laterFailures = loadField(later.state->failureCount);
  const int32_t chosenFailures = loadField(chosen.state->failureCount);
  if (laterFailures != chosenFailures) return laterFailures < chosenFailures;
  return peripheralType(later.device) == kProcessor && peripheralType(chosen.device) == kDirectAccess;
}

// REQUIRES: pathLock held. Moves the bookmarked state onto the chosen item.
void swapStates(const Candidate& chosen, const Candidate& bookmarked) {
  const int32_t chosenFailures = loadField(chosen.state->failureCount);
  const int32_t otherFailures = loadField(bookmarked.state->failureCount);
  setStateOf(chosen.item, bookmarked.state);
  setStateOf(bookmarked.item, chosen.state);
  storeField(bookmarked.state->failureCount, chosenFailures);
  storeField(chosen.state->failureCount, otherFailures);
}

}  // namespace

int peripheralType(const DeviceRecord* device) {
  if (device == nullptr || device->info == nullptr) return -1;
  return device->info->inquiryData[0] & 0x1F;
}

DeviceRecord* findControllerPairIn(DeviceRecord* list, const char* name, ModDeviceItem** item,
                                   const DeviceRecord* avoid) {
  if (item != nullptr) *item = nullptr;
  if (name == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(pathLock());
  Candidate chosen;
  Candidate bookmarked;
  for (DeviceRecord* device = list; device != nullptr; device = device->next) {
    for (ModDeviceItem* unit = device->units; unit != nullptr; unit = unit->next) {
      BrivoDeviceState* state = stateOf(unit);
      if (state == nullptr || strcasecmp(unit->name, name) != 0) continue;
      const Candidate candidate{device, unit, state};
      if (device != avoid && (chosen.item == nullptr || isBetter(candidate, chosen))) chosen = candidate;
      // Every path of the pair was identified with bookmarks of its own, but only the state read
      // last has current ones: reading through another would record its events again.
      if (hasBookmarks(state) &&
          (bookmarked.item == nullptr ||
           loadField(state->bookmarkSerial) > loadField(bookmarked.state->bookmarkSerial))) {
        bookmarked = candidate;
      }
    }
  }
  if (chosen.item == nullptr) return nullptr;
  if (bookmarked.item != nullptr && bookmarked.state != chosen.state &&
      (!hasBookmarks(chosen.state) ||
       loadField(bookmarked.state->bookmarkSerial) > loadField(chosen.state->bookmarkSerial))) {
    swapStates(chosen, bookmarked);
  }
  if (item != nullptr) *item = chosen.item;
  return chosen.device;
}

DeviceRecord* findControllerPair(const char* name, ModDeviceItem** item, const DeviceRecord* avoid) {
  return findControllerPairIn(moduleState().deviceList.load(std::memory_order_acquire), name, item, avoid);
}

}  // namespace brivo
