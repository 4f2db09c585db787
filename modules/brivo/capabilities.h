// The capability keys with which the module decorates every reply that names a controller pair:
// the page templates show or hide sections by them. Each key is the pair's ModDeviceName followed
// by the capability ("Brivo20000004CF8A1B2CIsBrivo2" = "true"); the same keys serve pages that
// list several pairs under another prefix ("SolutionLoop0IsBrivo2").
//
// Values: "true"/"false" for the flags; decimal numbers for the counts, "ControllerType" and
// "SlotOffset" (1 on SATA and SAS drive interfaces, whose enclosures may label their bays from 1,
// else 0; the module's own pages show the controller's slot numbers, from 0, as the event log
// and qcli do, and leave the bay to the slot's locator).
//
// Thread safety: pure functions of the state (read-only).
#pragma once

#include "common/variable_table.h"
#include "modules/brivo/device_state.h"

namespace brivo {

// The 22 capability names, in the order they are added.
extern const char* const kCapabilityNames[22];

// Adds prefix + name = value for every capability of the pair whose state is given.
void addCapabilityKeys(VariableTable* reply, const char* prefix, const BrivoDeviceState& state);

}  // namespace brivo
