// Capability keys; see capabilities.h.
#include "modules/brivo/capabilities.h"

#include <string>

#include "modules/brivo/controller_traits.h"
#include "modules/brivo/protocol.h"

namespace brivo {

const char* const kCapabilityNames[22] = {
    "IsBrivo2",
    "DualHostLoops",
    "HostInterfaceFibre",
    "HostInterfaceFibre0IsOldFibre",
    "HostInterfaceFibrePorts",
    "HostInterfaceU320SCSI",
    "HostInterfaceSCSIChannels",
    "HostInterfaceiSCSI",
    "HostInterfaceiSCSIChannels",
    "HostInterfaceSAS",
    "NoHostInterfaceSAS",
    "HostInterfaceSASPorts",
    "DualDriveLoops",
    "TargetInterfaceFibre",
    "TargetInterfaceFibre0IsOldFibre",
    "TargetInterfaceFibrePorts",
    "TargetInterfaceSATA",
    "TargetInterfaceSATAChannels",
    "TargetInterfaceSAS",
    "TargetInterfaceSASChannels",
    "ControllerType",
    "SlotOffset",
};

namespace {

constexpr uint8_t kHostInterfaceIscsi = 3;

const char* flag(bool value) { return value ? "true" : "false"; }

std::string count(bool applies, int value) { return std::to_string(applies ? value : 0); }

}  // namespace

void addCapabilityKeys(VariableTable* reply, const char* prefix, const BrivoDeviceState& state) {
  const ControllerTraits t = traitsOf(state);
  const bool hostFibre = t.hostInterface == kInterfaceFc;
  const bool hostScsi = t.hostInterface == kHostInterfaceScsi;
  const bool hostIscsi = t.hostInterface == kHostInterfaceIscsi;
  const bool hostSas = t.hostInterface == kHostInterfaceSas;
  const bool driveFibre =
      t.driveInterface == kInterfaceFc || t.driveInterface == 100 || t.driveInterface == 101;
  const bool driveSata = t.driveInterface == kInterfaceSata || t.driveInterface == kInterfaceSataActive;
  const bool driveSas = t.driveInterface == kInterfaceSas;
  const std::string values[22] = {
      flag(t.newerFamily),
      flag(t.hostPorts >= 2),
      flag(hostFibre),
      flag(hostFibre && !t.newerFamily),
      count(hostFibre, t.hostPorts),
      flag(hostScsi),
      count(hostScsi, t.hostPorts),
      flag(hostIscsi),
      count(hostIscsi, t.hostPorts),
      flag(hostSas),
      flag(!hostSas),
      count(hostSas, t.hostPorts),
      flag(t.driveLoops >= 2),
      flag(driveFibre),
      flag(driveFibre && !t.newerFamily),
      count(driveFibre, t.driveLoops),
      flag(driveSata),
      count(driveSata, t.driveLoops),
      flag(driveSas),
      count(driveSas, t.driveLoops),
      std::to_string(t.type),
      std::to_string(driveSata || driveSas ? 1 : 0),
  };
  const std::string base = prefix != nullptr ? prefix : "";
  for (size_t i = 0; i < std::size(kCapabilityNames); ++i) {
    addVariable(reply, (base + kCapabilityNames[i]).c_str(), values[i].c_str());
  }
}

}  // namespace brivo
