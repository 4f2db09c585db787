// What a Brivo controller pair is, decoded from its controller record: the family (bit 7 of the
// family byte), the controller type code, the drive and host interface types and the numbers of
// host ports and drive loops. The identification stores the family byte, the type and the
// interface word in the pair's BrivoDeviceState; everything else is derived here.
//
// Rules: in the newer family the interface word gives the interface types and the counts; in the
// older family both interface types are taken as 1 (FC), a pair has 2 host ports when the family
// byte is 2 or 4 (else 1) and 2 drive loops when it is 2 or 5 (else 1). The type code follows
// brivo::controllerType (protocol_sensors.h).
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>

#include "modules/brivo/device_state.h"

namespace brivo {

struct ControllerTraits {
  bool newerFamily = false;
  uint8_t family = 0;  // the record's family byte (offset 182)
  uint8_t type = 0;
  uint8_t driveInterface = 0;  // 1 FC, 2 SATA, 3 SAS, 4 SATA A/A, 100/101 FC, 102 SA, 103 SS
  uint8_t hostInterface = 0;   // 1 FC, 2 U320 SCSI, 3 iSCSI, 6 SAS
  uint8_t hostPorts = 0;
  uint8_t driveLoops = 0;
};

// From a controller record's family byte, byte 188 and interface word (record bytes 214-217).
ControllerTraits traitsFromRecord(uint8_t family, uint8_t byte188, const uint8_t interfaceWord[4]);
// From what the identification stored in a pair's state.
ControllerTraits traitsOf(const BrivoDeviceState& state);

// Whether the drive checks treat the pair as having two drive loops: a family byte of 2 or 5, or
// exactly 0x80 with a loop count (record byte 215) of 2. Other families of the newer generation
// report their loop count for display only.
bool hasDualLoops(const ControllerTraits& traits);

// Display name of a drive interface type: "FC", "SATA", "SAS", "SATA A/A", "SA", "SS", "Unknown".
const char* driveInterfaceName(uint8_t type);

// True when the pair reads buffer IDs 1-5 as 0x21-0x25 (drive and host interface types both 2).
bool usesAliasBufferIds(const BrivoDeviceState* state);

}  // namespace brivo
