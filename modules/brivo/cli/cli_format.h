// Display texts shared by the interpreter's handlers: sizes with units, RAID levels, array, member,
// drive and logical-drive states in words, job kinds and job IDs, host-port sets, cache settings,
// times and progress bars. Any handler that shows storage may use them (array, logical, mapping,
// jobs, drive and config displays), so that one thing reads the same wherever it is shown.
//
// Sizes are the controller's GB (2^30 bytes), as the array and logical-drive records count them.
//
// Thread safety: pure functions; the returned C strings are static.
#pragma once

#include <cstdint>
#include <string>

#include "modules/brivo/protocol.h"

namespace brivo::cli {

// "931 GB"; from 1024 GB on with the TB value beside it: "1862 GB (1.82 TB)".
std::string sizeText(uint64_t gb);
// At most 5 characters for table columns: "931G", "1.8T", "14.6T", "1862T", then P, E, ...
std::string compactSize(uint64_t gb);
// A drive's capacity in GB (blocks x block size, 512 when the size is 0).
uint64_t driveCapacityGb(const DriveListEntry& drive);

// "RAID 5", "RAID 10", "RAID 50"; "level 0x%02X" for a level this module does not know.
std::string raidLevelText(uint8_t level);
// The RAID level a user types (0, 1, 3, 5, 6, 10, 50) as the record's code; false otherwise.
bool raidLevelFromNumber(long number, uint8_t* level);

// Array fault status in words ("Fault tolerant", "Degraded", ...) and in at most 8 characters.
const char* arrayStatusText(uint8_t faultStatus);
const char* arrayStatusShort(uint8_t faultStatus);
const char* memberStatusText(uint8_t memberStatus);
const char* driveStatusText(uint8_t driveStatus);
// "Free", "Member of array 2", "Global spare", "Dedicated spare of array 1".
std::string driveUsageText(const DriveListEntry& drive);
const char* logicalStateText(uint8_t state);

// "Initialization", "Rebuild", "Parity Check", "Expansion"; "None" for kJobNone.
const char* jobKindText(uint8_t kind);
// Job IDs as users see them: 1xx initialisation, 2xx rebuild, 3xx parity check, 4xx expansion, xx
// being the array number. -1 for kJobNone.
int jobId(uint8_t kind, int array);
// "Verify", "Rewrite", "Verify and Rewrite" for parity check modes 1-3.
const char* parityModeText(uint8_t mode);

// Host ports of an availability byte or a mapping's port mask: "C0P0 C0P1 C1P0 C1P1", "none", or
// "internal" for an internal (snapshot) logical drive.
std::string portsText(uint8_t availability);

// Read-ahead size of an array record (0 auto, kReadAheadDisabled) and write-back size (0
// disabled, kWriteBackMaximum): "auto", "disabled", "256 KB", "16 MB", "max".
std::string readAheadText(uint16_t kb);
std::string writeBackText(uint16_t mb);

// Seconds since 1970 as local "yyyy-mm-dd HH:MM:SS"; "-" for 0.
std::string timeText(uint32_t seconds);

// "[#######.............]  35%" with the given number of cells between the brackets.
std::string progressBar(int percent, int cells);

// "on" / "off".
const char* onOff(bool on);

}  // namespace brivo::cli
