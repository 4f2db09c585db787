// Controller pair identification; see controller_identity.h.
#include "modules/brivo/controller_identity.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "modules/brivo/controller_command.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/module_hooks.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/protocol.h"

namespace brivo {

namespace {

void setItemName(ModDeviceItem* item, const std::string& name) {
  std::snprintf(item->name, sizeof(item->name), "%s", name.c_str());
}

}  // namespace

std::string pairNameFromWwn(const uint8_t wwn[8]) {
  char text[kBrivoNamePrefixLength + 17];
  std::snprintf(text, sizeof(text), "%s%02X%02X%02X%02X%02X%02X%02X%02X", kBrivoNamePrefix, wwn[0], wwn[1],
                wwn[2], wwn[3], wwn[4], wwn[5], wwn[6], wwn[7]);
  return text;
}

bool applyControllerInformation(const uint8_t* info, uint32_t length, BrivoDeviceState* state,
                                std::string* name) {
  if (info == nullptr || length < kControllerInfoLength) return false;
  const auto* buffer = reinterpret_cast<const ControllerInformation*>(info);
  bool aValid = buffer->stateA == kOn;
  const bool bValid = buffer->stateB == kOn;
  if (!aValid && !bValid) {
    consolePrint("BRIVO ERROR: Both A and B were FALSE\n");
    aValid = true;
  }
  storeField(state->controllerAValid, aValid ? 1 : 0);
  storeField(state->controllerBValid, bValid ? 1 : 0);
  const ControllerRecord& record = buffer->controllers[aValid ? 0 : 1];
  const auto* interfaceWord = reinterpret_cast<const uint8_t*>(&record.driveInterface);
  state->controllerInfo = record.family;
  std::memcpy(state->interfaceWord, interfaceWord, sizeof(state->interfaceWord));
  state->controllerType = traitsFromRecord(record.family, record.olderFamilyType2, interfaceWord).type;
  *name = pairNameFromWwn(record.configurationWwn);
  return true;
}

int identifyControllerPair(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state) {
  if (device == nullptr || item == nullptr || state == nullptr) return kResultBadArguments;
  resetDeviceState(state);
  std::vector<uint8_t> info(kControllerInfoLength, 0);
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, kModeData, kOpReadControllerInfo);
  const int result = transferCommandFor(device, state, &command, info.data(), kControllerInfoLength);
  if (result != kResultGood) {
    setItemName(item, std::string(kBrivoNamePrefix) + kNotReadSuffix);
    return result;
  }
  std::string name;
  applyControllerInformation(info.data(), kControllerInfoLength, state, &name);
  setItemName(item, name);
  if (StartupReplayFn replay = moduleHooks().startupReplay) replay(device, item, state);
  return kResultGood;
}

}  // namespace brivo
