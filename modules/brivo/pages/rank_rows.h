// Rows that the array pages share: the drives free for a new array or an expansion, and the
// controller reads those pages start with.
//
// Keys: "FreeDriveLoop%d{Index,Wwn,Enclosure,Slot,CapacityGb,Vendor,Product,Serial,Checked}" with
// the count "FreeDriveLoop". A drive is free when it is unused and good. Checked marks a drive the
// request chose: a key named by its WWN with the value "true", or a "Drive%d" key holding its
// WWN (the form sent back after a failed attempt keeps its choice).
//
// Thread safety: pure functions, and reads for a request thread holding the admission gate.
#pragma once

#include <memory>

#include "common/variable_table.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/pair_access.h"
#include "modules/brivo/protocol.h"

namespace brivo {

// What the array pages read: the configuration (0x01) and the drive list (0x41).
struct ArrayPageBuffers {
  std::unique_ptr<ConfigurationBlock> config;
  std::unique_ptr<DriveList> drives;
};
// 0, kResultNoMemory (full_view_reads.h) or the first failing read's result (failed gets it).
int readArrayPageBuffers(const PairTarget& pair, ArrayPageBuffers* out, ControllerCommand* failed);

// True for a drive a new array or an expansion may take.
bool isFreeDrive(const DriveListEntry& entry);

// The free drives of list; returns their number.
int addFreeDriveRows(VariableTable* reply, VariableTable request, const DriveList& list);

// Number of arrays in use in a configuration.
int arraysInUse(const ConfigurationBlock& config);
// Host-visible and internal logical drives with a segment on array.
int logicalDrivesOnArray(const ConfigurationBlock& config, int array);


}  // namespace brivo
