// The parameter blocks of the Brivo protocol's WRITE BUFFER mode 1 operations (the bytes after the
// command signature), the firmware image header of WRITE BUFFER mode 5/7, and two buffers read
// with READ BUFFER mode 2: the diagnostics dump (0x56) and drive failure prediction (0x59). Part
// of protocol.h; include that.
//
// Thread safety: types and constants only.
#pragma once

#include <cstdint>

#include "modules/brivo/protocol.h"  // the types these build on (safe in either order)

namespace brivo {

#pragma pack(push, 1)

// ---- Parameter blocks of WRITE BUFFER mode 1 (after the signature) ----

struct CreateArrayBlock {            // 0x90
  uint8_t reserved0;                 // 0
  uint8_t raidLevel;                 // 1: 0xFF missing: refused
  uint8_t driveCount;                // 2: 1-16
  uint8_t reserved3;                 // 3
  uint16_t chunkSizeKb;              // 4: 64, 128, 256; 0xFFFF default 64
  uint8_t reserved6[26];             // 6
  uint8_t driveWwn[kMaxMembers][8];  // 32
  uint8_t reserved160[16];           // 160
  uint8_t parityDrives;              // 176: RAID 6 (2) and RAID 50 (groups) only
  uint8_t reserved177;               // 177
  uint8_t cacheFlags;                // 178
  uint8_t cacheFlush;                // 179: 0xFF default 4
  uint16_t readAheadKb;              // 180
  uint16_t writeBackMb;              // 182
  uint8_t initialize;                // 184: 0 or kOff = no; 1, kOn or 0xFF (missing) = initialise
  uint8_t reserved185;               // 185
  uint8_t unusedPercent;             // 186: 0-99, 0xFF default 1
  char name[32];                     // 187
  uint8_t reserved219[21];           // 219
};
static_assert(sizeof(CreateArrayBlock) == 240);
static_assert(offsetof(CreateArrayBlock, parityDrives) == 176);
static_assert(offsetof(CreateArrayBlock, name) == 187);

struct ExpandArrayBlock {            // 0xAB
  uint8_t array;                     // 0
  uint8_t driveCount;                // 1: drives added, 1-16 (members may not exceed 16)
  uint8_t parityGiven;               // 2: kOn when parityDrives is given, else kOff
  uint8_t parityDrives;              // 3
  uint8_t reserved4[4];              // 4
  uint8_t driveWwn[kMaxMembers][8];  // 8
};
static_assert(sizeof(ExpandArrayBlock) == 136);

struct CreateLogicalDriveBlock {  // 0x91
  uint16_t sizeGb;                // 0
  uint16_t region;                // 2: free region index
  uint8_t availability;           // 4
  uint8_t zero;                   // 5
  uint16_t blockSizeCode;         // 6: 0 = 512
  char name[32];                  // 8
};
static_assert(sizeof(CreateLogicalDriveBlock) == 40);

struct GrowLogicalDriveBlock {  // 0xA5
  uint16_t sizeGb;              // 0
  uint16_t region;              // 2
  uint8_t zero[4];              // 4
};
static_assert(sizeof(GrowLogicalDriveBlock) == 8);

struct SetHostLunBlock {  // 0xA9
  uint16_t logicalDrive;  // 0
  uint16_t hostLun;       // 2: 0-511, kLunNone removes it
};
static_assert(sizeof(SetHostLunBlock) == 4);

struct HotSpareBlock {  // 0x93
  uint8_t wwn[8];       // 0
  uint8_t array;        // 8: 0-63 dedicated, kSpareGlobal (or 0xFF) global
  uint8_t zero[7];      // 9
};
static_assert(sizeof(HotSpareBlock) == 16);

struct RebuildBlock {  // 0xCA: rebuild member `member` of `array` onto the drive `wwn`
  uint8_t array;       // 0
  uint8_t member;      // 1
  uint8_t wwn[8];      // 2: a free drive, a spare, or the member's own drive once it is good
  uint8_t zero[6];     // 10
};
static_assert(sizeof(RebuildBlock) == 16);

struct NameBlock32 {  // 0xA7, 0xA8
  char name[32];
};
struct NameBlock64 {  // 0xA3
  char name[64];
};

struct DriveFirmwareSelectBlock {  // 0xC6
  uint8_t wwn[8];                  // 0
  uint8_t select;                  // 8: 1 select for the next drive firmware image, 0 deselect
  uint8_t zero[7];                 // 9
};
static_assert(sizeof(DriveFirmwareSelectBlock) == 16);

// First bytes of every firmware image (WRITE BUFFER mode 5 / 7).
inline constexpr char kFirmwareMagic[4] = {'B', 'F', 'W', '1'};
inline constexpr uint8_t kFirmwareBootrom = 0, kFirmwareInitString = 1, kFirmwareApplication = 2;
struct FirmwareImageHeader {
  uint32_t length;       // 0: whole image in bytes, header included
  char magic[4];         // 4: kFirmwareMagic
  uint8_t part;          // 8: kFirmwareBootrom, kFirmwareInitString, kFirmwareApplication
  uint8_t reserved9[3];  // 9
  uint32_t level;        // 12: firmware level the image carries (record offset 104 form)
};
static_assert(sizeof(FirmwareImageHeader) == 16);

// A drive firmware image (buffer kFirmwareDrive) names the drive model it is for right after its
// header: the vendor and product identification as the drives report them, blank- or
// NUL-padded. A blank vendor fits every vendor; a blank product names no model, and such an image
// is loaded onto no drive.
struct DriveFirmwareModel {
  char vendor[8];    // 16
  char product[16];  // 24
};
static_assert(sizeof(DriveFirmwareModel) == 24);

// ---- Diagnostics dump (READ BUFFER mode 2, 0x56) ----
// A 32-bit length followed by text lines; read only after 0xD3 prepared it.
struct DiagnosticsDumpHeader {
  uint32_t length;  // 0: the whole dump, header included
};

// ---- Drive failure prediction (READ BUFFER mode 2, 0x59) ----

struct PredictionEntry {
  uint8_t wwn[8];               // 0
  uint8_t driveId;              // 8
  uint8_t predicted;            // 9: kOn when the drive expects to fail
  uint8_t reserved10[2];        // 10
  uint8_t temperature;          // 12: degrees Celsius
  uint8_t reserved13[3];        // 13
  uint32_t powerOnHours;        // 16
  uint32_t reallocatedSectors;  // 20
  uint32_t pendingSectors;      // 24
  uint8_t reserved28[116];      // 28
};
static_assert(sizeof(PredictionEntry) == 144);
struct FailurePrediction {
  uint32_t length;                      // 0: 18152
  uint16_t count;                       // 4
  uint16_t reserved6;                   // 6
  PredictionEntry entries[kMaxDrives];  // 8
};
static_assert(sizeof(FailurePrediction) == 18152);

#pragma pack(pop)

}  // namespace brivo
