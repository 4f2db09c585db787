// Snapshots in the Brivo protocol. A host logical drive (the source) gets a snapshot area: an
// internal logical drive (availability kAvailabilityInternal) that receives the old contents of
// blocks overwritten after a snapshot was taken (the "overwrite data area"). Each source has at
// most one area and one snapshot; a snapback copies the snapshot back onto the source as a job.
//
// The controller record's byte 189 names the generation the pair speaks: 1 reads the areas with
// 0x61 and the snapshots with 0x62; 2 reads them with 0x66 and 0x65, and area statistics with 0x67.
// 0x63 (mode 1, CDB bytes 4-5 = host LUN) returns one source's data in both generations. The
// writes (mode 1, after the signature) are the same in both; none needs a configuration bracket.
// Part of protocol.h; include that.
//
// Thread safety: types and constants only.
#pragma once

#include <cstdint>

#include "modules/brivo/protocol.h"  // the types these build on (safe in either order)

namespace brivo {

inline constexpr uint8_t kOpReadSnapshotAreasV1 = 0x61;  // mode 1, SnapshotAreasV1 (2056)
inline constexpr uint8_t kOpReadSnapshotsV1 = 0x62;      // mode 1, SnapshotListV1 (868)
inline constexpr uint8_t kOpReadSnapshotLun = 0x63;      // mode 1, bytes 4-5 host LUN; SnapshotLunData
inline constexpr uint8_t kOpReadSnapshotsV2 = 0x65;      // mode 1, SnapshotListV2
inline constexpr uint8_t kOpReadSnapshotAreasV2 = 0x66;  // mode 1, SnapshotAreasV2 (16396)
inline constexpr uint8_t kOpReadSnapshotStatsV2 = 0x67;  // mode 1, SnapshotStatisticsV2

inline constexpr uint8_t kOpCreateSnapshotArea = 0x70;   // SnapshotAreaBlock: give `source` the area `area`
inline constexpr uint8_t kOpAssignSnapshotArea = 0x71;   // SnapshotAreaBlock: change the warning level
inline constexpr uint8_t kOpTakeSnapshot = 0x73;         // SnapshotBlock; replaces an earlier snapshot
inline constexpr uint8_t kOpDeleteSnapshot = 0x74;       // SnapshotBlock
inline constexpr uint8_t kOpTakeSnapshotSet = 0x75;      // SnapshotSetBlock: several sources at one instant
inline constexpr uint8_t kOpReleaseSnapshotArea = 0x76;  // SnapshotAreaBlock (source only): drop the area
inline constexpr uint8_t kOpSnapback = 0x77;             // SnapshotBlock

// Area flags (SnapshotArea byte 1).
inline constexpr uint8_t kSnapOverrun = 0x01;   // the area filled up: the snapshot is lost
inline constexpr uint8_t kSnapSnapback = 0x02;  // a snapback runs
inline constexpr uint8_t kSnapPresent = 0x04;   // a snapshot exists
inline constexpr uint8_t kSnapInvalid = 0x08;   // the snapshot is unusable
inline constexpr uint8_t kSnapWarning1 = 0x10;  // used percent reached the area's warning level
inline constexpr uint8_t kSnapWarning2 = 0x20;  // used percent reached 90

#pragma pack(push, 1)

struct SnapshotArea {
  uint8_t valid;            // 0: kOn
  uint8_t flags;            // 1: kSnap... bits
  uint16_t sourceDrive;     // 2
  uint16_t areaDrive;       // 4: the internal logical drive
  uint16_t snapshotCount;   // 6: 0 or 1
  uint32_t areaSizeGb;      // 8
  uint8_t usedPercent;      // 12
  uint8_t warningPercent;   // 13
  uint8_t snapbackPercent;  // 14: progress while kSnapSnapback
  uint8_t reserved15;       // 15
  uint32_t snapshotTime;    // 16: seconds since 1970, 0 none
  uint16_t sourceHostLun;   // 20: kLunNone when the source has none
  uint8_t reserved22[10];   // 22
};
static_assert(sizeof(SnapshotArea) == 32);

struct SnapshotAreasV2 {                  // 0x66
  uint32_t length;                        // 0: 16396
  uint16_t count;                         // 4: areas in use
  uint16_t generation;                    // 6: 2
  uint32_t reserved8;                     // 8
  SnapshotArea areas[kMaxLogicalDrives];  // 12: the area of source drive n at index n
};
static_assert(sizeof(SnapshotAreasV2) == 16396);

struct SnapshotAreasV1 {   // 0x61
  uint32_t length;         // 0: 2056
  uint16_t count;          // 4
  uint16_t generation;     // 6: 1
  SnapshotArea areas[64];  // 8: areas in use at the front, by source drive
};
static_assert(sizeof(SnapshotAreasV1) == 2056);

struct SnapshotEntry {
  uint8_t valid;           // 0: kOn
  uint8_t flags;           // 1: the area's flags
  uint16_t sourceDrive;    // 2
  uint32_t time;           // 4: seconds since 1970
  uint32_t usedMb;         // 8: data kept in the area
  uint16_t areaDrive;      // 12
  uint8_t reserved14[10];  // 14
};
static_assert(sizeof(SnapshotEntry) == 24);

struct SnapshotListV1 {       // 0x62
  uint32_t length;            // 0: 868
  SnapshotEntry entries[36];  // 4: snapshots at the front, by source drive
};
static_assert(sizeof(SnapshotListV1) == 868);

struct SnapshotListV2 {                      // 0x65
  uint32_t length;                           // 0: 12296
  uint16_t count;                            // 4
  uint16_t reserved6;                        // 6
  SnapshotEntry entries[kMaxLogicalDrives];  // 8: snapshots at the front, by source drive
};
static_assert(sizeof(SnapshotListV2) == 12296);

struct SnapshotStatisticsEntry {
  uint16_t sourceDrive;   // 0
  uint16_t reserved2;     // 2
  uint32_t copyOnWrites;  // 4: blocks copied into the area
  uint32_t reads;         // 8: reads served from the snapshot
  uint32_t writes;        // 12
};
static_assert(sizeof(SnapshotStatisticsEntry) == 16);

struct SnapshotStatisticsV2 {                          // 0x67
  uint32_t length;                                     // 0: 8200
  uint16_t count;                                      // 4
  uint16_t reserved6;                                  // 6
  SnapshotStatisticsEntry entries[kMaxLogicalDrives];  // 8: areas in use at the front
};
static_assert(sizeof(SnapshotStatisticsV2) == 8200);

struct SnapshotLunData {   // 0x63
  uint32_t length;         // 0: 64
  SnapshotArea area;       // 4: valid 0 when the drive has no area
  SnapshotEntry snapshot;  // 36: valid 0 when there is no snapshot
  uint8_t reserved60[4];   // 60
};
static_assert(sizeof(SnapshotLunData) == 64);

struct SnapshotAreaBlock {  // 0x70, 0x71, 0x76
  uint16_t sourceDrive;     // 0
  uint16_t areaDrive;       // 2: an internal logical drive not used by another area (0x70)
  uint8_t warningPercent;   // 4: 1-99; 0 = 80
  uint8_t reserved5[5];     // 5
};
static_assert(sizeof(SnapshotAreaBlock) == 10);

struct SnapshotBlock {   // 0x73, 0x74, 0x77
  uint16_t sourceDrive;  // 0
  uint8_t reserved2[8];  // 2
};
static_assert(sizeof(SnapshotBlock) == 10);

struct SnapshotSetBlock {    // 0x75
  uint16_t count;            // 0: 1-4
  uint16_t sourceDrives[4];  // 2
};
static_assert(sizeof(SnapshotSetBlock) == 10);

#pragma pack(pop)

}  // namespace brivo
