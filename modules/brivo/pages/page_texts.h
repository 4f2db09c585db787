// Display texts and classes that several pages share: RAID level names, the health class of an
// array, a logical drive or a drive (the templates colour by it), capacities, and the
// texts of StatusStrings.db for the codes the pages show. Texts come from the string table; the
// fallbacks only keep a page readable when the shipped file lacks a key.
//
// Health classes: "ok", "warn", "fail" or "unknown" (the CSS classes of the status badges).
//
// Thread safety: pure functions (the string tables do not change while the module runs).
#pragma once

#include <cstdint>
#include <string>

#include "modules/brivo/protocol.h"

namespace brivo {

// Class of a module status value (0 OK, 1 Warning, 2 Error, 255 Unknown).
const char* statusClass(uint32_t status);

// "RAID 5" etc. (text of "RaidLevel%.2X").
std::string raidLevelText(uint8_t level);
// True for the levels that keep redundancy (all but RAID 0).
bool isRedundantLevel(uint8_t level);
// Class of an array by its fault status: tolerant (3) and RAID 0 in order (255) are fine, invalid
// (2) fails, degraded, rebuilding and uninitialised (0, 1, 254) warn on redundant levels.
const char* arrayStatusClass(const ArrayRecord& array);
// Class of a logical drive state (kDrive...).
const char* logicalDriveStateClass(uint8_t state);
// Class of a drive: good (0) ok; rebuilding warn; anything else fails. predicted makes a good
// drive warn.
const char* driveStatusClass(uint8_t status, bool predicted);

// Capacity of a drive in GB (2^30 bytes) from its block count and size.
uint64_t driveCapacityGb(const DriveListEntry& entry);

// Read-ahead and write-back sizes of an array record as shown ("Auto", "Disabled", "256 KB",
// "Maximum", "16 MB").
std::string readAheadText(uint16_t kb);
std::string writeBackText(uint16_t mb);

// Two upper-case hexadecimal digits.
std::string hexByte(unsigned value);

// "A" or "B".
const char* controllerLetter(int controller);

// A host port's state as the pages show it: the text of "HostLoopStatus%.2X.%.2X" (state byte,
// controller type), else of "HostLoopStatus%.2X", filled with the loop ID ("N/A" for 255).
std::string hostLoopStatusText(uint8_t state, uint8_t controllerType, uint8_t loopId);

}  // namespace brivo
