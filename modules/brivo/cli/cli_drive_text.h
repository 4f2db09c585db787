// Texts of one drive of the pair's drive list as the drive displays show it: the capacity with its
// blocks, the usage with member or spare number, and the line of the `drive display -sum` table.
//
// Thread safety: pure functions.
#pragma once

#include <string>

#include "modules/brivo/protocol.h"

namespace brivo::cli {

// "931 GB (1953525168 blocks of 512 bytes)".
std::string driveCapacityText(const DriveListEntry& drive);
// "Member 2 of array 0", "Global spare (spare 3)", "Dedicated spare of array 1 (spare 0)", "Free".
std::string driveUsageDetail(const DriveListEntry& drive);
// At most 12 characters for the table: "Array 12", "Spare", "Spare A3", "Free".
std::string driveUsageShort(const DriveListEntry& drive);
// One row of the -sum table (no line end):
// "  # Encl Slot  Size Status     Usage        Product          Rev  Serial".
std::string driveSummaryLine(int index, const DriveListEntry& drive);

}  // namespace brivo::cli
