// Controller pair traits; see controller_traits.h.
#include "modules/brivo/controller_traits.h"

#include "modules/brivo/protocol.h"

namespace brivo {

namespace {

ControllerTraits traitsFrom(uint8_t family, uint8_t type, const uint8_t interfaceWord[4]) {
  ControllerTraits traits;
  traits.newerFamily = (family & 0x80) != 0;
  traits.family = family;
  traits.type = type;
  if (traits.newerFamily) {
    traits.driveInterface = interfaceWord[0];
    traits.driveLoops = interfaceWord[1];
    traits.hostInterface = interfaceWord[2] & 0x0F;
    traits.hostPorts = interfaceWord[2] >> 4;
  } else {
    traits.driveInterface = kInterfaceFc;
    traits.hostInterface = kInterfaceFc;
    traits.hostPorts = family == 2 || family == 4 ? 2 : 1;
    traits.driveLoops = family == 2 || family == 5 ? 2 : 1;
  }
  return traits;
}

}  // namespace

ControllerTraits traitsFromRecord(uint8_t family, uint8_t byte188, const uint8_t interfaceWord[4]) {
  const uint8_t type = controllerType(family, byte188, interfaceWord[0], interfaceWord[2] & 0x0F);
  return traitsFrom(family, type, interfaceWord);
}

ControllerTraits traitsOf(const BrivoDeviceState& state) {
  return traitsFrom(state.controllerInfo, state.controllerType, state.interfaceWord);
}

bool hasDualLoops(const ControllerTraits& traits) {
  return traits.family == 2 || traits.family == 5 || (traits.family == 0x80 && traits.driveLoops == 2);
}

const char* driveInterfaceName(uint8_t type) {
  switch (type) {
    case 1:
    case 100:
    case 101:
      return "FC";
    case 2:
      return "SATA";
    case 3:
      return "SAS";
    case 4:
      return "SATA A/A";
    case 102:
      return "SA";
    case 103:
      return "SS";
    default:
      return "Unknown";
  }
}

bool usesAliasBufferIds(const BrivoDeviceState* state) {
  if (state == nullptr) return false;
  const ControllerTraits traits = traitsOf(*state);
  return traits.driveInterface == 2 && traits.hostInterface == 2;
}

}  // namespace brivo
