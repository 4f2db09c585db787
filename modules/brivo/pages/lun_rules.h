// Rules shared by the logical-drive pages and the methods that create, change, expand and delete
// logical drives: which host ports a new drive is offered on for the pair's interface types, the
// host LUN an internal drive takes, the number the next created drive gets, and the free-region
// rows that the pages hand to the creation and expansion forms.
//
// Region rows: the pages list the free regions as "RegionNumber%d" (region index as the
// controller counts free regions) and "RegionSpace%d" (GB), row by row from 0, and the same values
// as the list "RegionLoop" (fields "RegionNumber", "RegionSpace", "RankNumber", "StartGb") for the
// templates; the forms post the rows the user ticked under the flat names.
//
// Thread safety: pure functions over the caller's buffers and tables.
#pragma once

#include <cstdint>

#include "common/variable_table.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/protocol.h"

namespace brivo {

inline constexpr uint16_t kNoDriveNumber = 0xFFFF;
inline constexpr int kNoHostLun = -1;

// True when the pair offers a host logical drive on port pairs across the controllers (a port
// key of either controller sets both controllers' bit of that port); false when every port is
// chosen on its own. Meaningful only when hostPortsSelectable() is true.
bool hostPortsPaired(const ControllerTraits& traits);
// False for interface combinations on which a host logical drive gets no port bits at all.
bool hostPortsSelectable(const ControllerTraits& traits);

// Availability byte of a new host logical drive from the request's "PortC0P0" ... "PortC1P1".
uint8_t newDriveAvailability(const ControllerTraits& traits, VariableTable request);
// Availability byte of a change: each port key its own bit, whatever the interfaces.
uint8_t changedDriveAvailability(VariableTable request);

// The host LUN for an internal logical drive: the highest of 0-511 that no logical drive of the
// configuration uses and that is not the controller's own LUN (counted only while the valid
// controller's 16-bit firmware level is below 516). kNoHostLun when every number is taken.
int freeHostLunForInternalDrive(const ConfigurationBlock& config, const ControllerInformation& info);
// The lowest host LUN that no logical drive uses (for the creation form's default), or kNoHostLun.
int lowestFreeHostLun(const ConfigurationBlock& config);
// The number the controller gives the next created logical drive (its lowest free slot), or
// kNoDriveNumber when all 512 are in use.
uint16_t nextDriveNumber(const ConfigurationBlock& config);

// Adds the free-region rows (flat keys and "RegionLoop") and "TotalFreeGb". Returns the row count.
int addFreeRegionRows(VariableTable* reply, const RegionInformation& regions);

}  // namespace brivo
