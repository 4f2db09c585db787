// Taking devices; see device_acceptance.h.
#include "modules/brivo/device_acceptance.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "modules/brivo/controller_identity.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/module_hooks.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/pair_paths.h"

namespace brivo {

namespace {

constexpr int kVendorOffset = 8, kVendorLength = 8;
constexpr int kProductOffset = 16, kProductLength = 16;
constexpr char kAccepted[] = "TRUE";

std::atomic<int> g_settleMs{2000};

// prefix + the raw INQUIRY bytes (up to a NUL), trailing blanks removed.
std::string identityKey(const char* prefix, const uint8_t* bytes, int length) {
  std::string key = prefix;
  for (int i = 0; i < length && bytes[i] != 0; ++i) key += static_cast<char>(bytes[i]);
  while (!key.empty() && key.back() == ' ') key.pop_back();
  return key;
}

bool isCandidate(const DeviceRecord* device) {
  return device->valid == DEVICE_RECORD_VALID && device->info != nullptr &&
         device->info->deviceName[0] != '\0';
}

void appendItem(DeviceRecord* device, ModDeviceItem* item) {
  ModDeviceItem** link = &device->units;
  while (*link != nullptr) link = &(*link)->next;
  *link = item;
}

enum class TakeResult { kTaken, kOutOfMemory };

// Builds the item and its state, identifies the pair and appends the item.
TakeResult takeDevice(DeviceRecord* device) {
  auto* item = static_cast<ModDeviceItem*>(std::calloc(1, sizeof(ModDeviceItem)));
  BrivoDeviceState* state = newDeviceState();
  if (item == nullptr || state == nullptr) {
    std::free(item);
    freeDeviceState(state);
    return TakeResult::kOutOfMemory;
  }
  item->deviceStatus = 0;
  item->modStatus = UNCLAIMED;
  std::snprintf(item->name, sizeof(item->name), "%s", kBrivoNamePrefix);
  item->modState = state;
  // A path that does not answer now is taken all the same, as "BrivoNotRead": the monitor
  // identifies it again every cycle. Left out, it would stay unused until the next scan, and the
  // pair would be lost with its other paths although this one answers again.
  if (identifyControllerPair(device, item, state) != 0) {
    modulePrint(kDebugDeviceAcceptance, "mon: BrivoAcceptDeviceList: %s did not answer; tried again later\n",
                device->info->deviceName);
  }
  appendItem(device, item);
  return TakeResult::kTaken;
}

}  // namespace

bool isAcceptedIdentity(const DeviceInfo& info) {
  const std::string vendor = identityKey("vendor", info.inquiryData + kVendorOffset, kVendorLength);
  const std::string product = identityKey("product", info.inquiryData + kProductOffset, kProductLength);
  const ModuleFiles& files = moduleState().files;
  return files.value(PropertyTable::kSettings, vendor.c_str()) == kAccepted &&
         files.value(PropertyTable::kSettings, product.c_str()) == kAccepted;
}

void setAcceptSettleTimeForTesting(int milliseconds) { g_settleMs.store(milliseconds); }

int acceptDevices(DeviceRecord* list) {
  ModuleState& module = moduleState();
  module.accepting.store(true);
  module.deviceList.store(list);
  bool seenBefore = false;
  int taken = 0;
  for (DeviceRecord* device = list; device != nullptr; device = device->next) {
    if (device->info != nullptr) {
      modulePrint(kDebugDeviceAcceptance, "mon: BrivoAcceptDeviceList: Looking at device: %.16s (TID=%d)\n",
                  reinterpret_cast<const char*>(device->info->inquiryData + kProductOffset),
                  device->info->targetId);
    }
    if (!isCandidate(device)) continue;
    if (findBrivoItem(device) != nullptr) {
      seenBefore = true;
      continue;
    }
    const int type = peripheralType(device);
    if (!isAcceptedIdentity(*device->info) || (type != 0 && type != 3)) continue;
    const TakeResult result = takeDevice(device);
    if (result == TakeResult::kOutOfMemory) {
      consolePrint("Brivo: out of memory while taking devices\n");
      module.accepting.store(false);
      return 1;
    }
    if (result == TakeResult::kTaken) ++taken;
  }
  if (taken > 0 && !seenBefore) {
    if (StartMonitorFn start = moduleHooks().startMonitor) {
      if (start(list)) module.monitorStarted.store(true);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(g_settleMs.load()));
  updateGlobalStatus();
  module.accepting.store(false);
  module.devicesAccepted.store(true);
  return 0;
}

}  // namespace brivo
