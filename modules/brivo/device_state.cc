// Per-path pair state; see device_state.h.
#include "modules/brivo/device_state.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace brivo {

namespace {

void setInitialValues(BrivoDeviceState* state) {
  state->controllerAValid = 1;
  state->controllerBValid = 0;
  state->lastAEventIndex = -1;
  state->lastBEventIndex = -1;
  state->enclosureRefresh = 1;
}

}  // namespace

BrivoDeviceState* newDeviceState() {
  auto* state = static_cast<BrivoDeviceState*>(std::calloc(1, sizeof(BrivoDeviceState)));
  if (state != nullptr) setInitialValues(state);
  return state;
}

void resetDeviceState(BrivoDeviceState* state) {
  if (state == nullptr) return;
  freeEnclosureSlots(state);
  const int32_t failures = loadField(state->failureCount);
  const int32_t modStatus = state->lastModStatus;
  std::memset(static_cast<void*>(state), 0, sizeof(*state));
  setInitialValues(state);
  storeField(state->failureCount, failures);
  state->lastModStatus = modStatus;
}

void freeEnclosureSlots(BrivoDeviceState* state) {
  if (state == nullptr) return;
  for (BrivoEnclosureSlot*& slot : state->enclosures) {
    if (slot == nullptr) continue;
    std::free(slot->configPage);
    std::free(slot->statusPage);
    std::free(slot->stringPage);
    std::free(slot);
    slot = nullptr;
  }
}

void freeDeviceState(BrivoDeviceState* state) {
  if (state == nullptr) return;
  freeEnclosureSlots(state);
  std::free(state);
}

uint32_t nextBookmarkSerial() {
  static std::atomic<uint32_t> serial{0};
  return serial.fetch_add(1, std::memory_order_relaxed) + 1;
}

bool isBrivoItem(const ModDeviceItem* item) {
  return item != nullptr && std::strncmp(item->name, kBrivoNamePrefix, kBrivoNamePrefixLength) == 0;
}

bool isUnreadItem(const ModDeviceItem* item) {
  return isBrivoItem(item) && std::strcmp(item->name + kBrivoNamePrefixLength, kNotReadSuffix) == 0;
}

bool isPairItem(const ModDeviceItem* item) { return isBrivoItem(item) && !isUnreadItem(item); }

ModDeviceItem* findBrivoItem(const DeviceRecord* device) {
  if (device == nullptr) return nullptr;
  for (ModDeviceItem* item = device->units; item != nullptr; item = item->next) {
    if (isBrivoItem(item)) return item;
  }
  return nullptr;
}

BrivoDeviceState* stateOf(const ModDeviceItem* item) {
  if (item == nullptr) return nullptr;
  void* state = std::atomic_ref<void*>(const_cast<void*&>(item->modState)).load(std::memory_order_acquire);
  return static_cast<BrivoDeviceState*>(state);
}

void setStateOf(ModDeviceItem* item, BrivoDeviceState* state) {
  std::atomic_ref<void*>(item->modState).store(state, std::memory_order_release);
}

}  // namespace brivo
