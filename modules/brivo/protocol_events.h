// The controller event logs of the Brivo protocol (READ BUFFER mode 2, 0x46 for controller A and
// 0x47 for B): the log buffer, the 24-byte entry, the event codes this controller logs with the
// layout of their reason bytes, and the flag table by which the RAID module picks the text key
// family of a code. Part of protocol.h; include that.
//
// Each controller keeps a circular log of 4096 entries. The sequence index of the newest entry
// runs 0-4095 and wraps; it keeps running when the log is cleared, and a cleared log holds one
// entry (kEvMaintenance / kMaintLogCleared), so a reader's bookmark never meets an empty log.
// The buffer lists the entries oldest first. Times are the controller's local time.
//
// Reason bytes: "r0" is entry byte 10. Multi-byte values are little-endian unless noted; WWNs are
// in display order. Codes marked "sub" pick a second text key by r0 (for example
// "BrivoEvent_42_01").
//
// Thread safety: types and constants only.
#pragma once

#include <cstdint>

#include "modules/brivo/protocol.h"  // the types these build on (safe in either order)

namespace brivo {

inline constexpr int kEventLogEntries = 4096;
inline constexpr uint32_t kEventLogLength = 16 + kEventLogEntries * 24;  // 98320

#pragma pack(push, 1)

struct EventEntry {
  EventTime time;      // 0
  uint8_t eventClass;  // 8: kClass...
  uint8_t code;        // 9: event code, 0 = empty entry
  uint8_t reason[14];  // 10: parameters (layouts below)
};
static_assert(sizeof(EventEntry) == 24);

struct EventLog {
  uint32_t length;                       // 0: valid bytes: 16 + 24 x count
  EventTime time;                        // 4: the controller's clock when the log was read
  uint16_t count;                        // 12: entries, at most 4096
  uint16_t newest;                       // 14: sequence index of the newest entry
  EventEntry entries[kEventLogEntries];  // 16: oldest first
};
static_assert(sizeof(EventLog) == kEventLogLength);

#pragma pack(pop)

// Event classes (entry byte 8).
inline constexpr uint8_t kClassNormal = 0;
inline constexpr uint8_t kClassInternal = 1;  // bookkeeping: not recorded in the server log

// ---- Event codes and their reason bytes ----

inline constexpr uint8_t kEvController = 0x01;       // sub r0 kCtl...; r1 = controller 0 A / 1 B
inline constexpr uint8_t kCtlStarted = 0x01;         //   controller started (power-on, after reset or repair)
inline constexpr uint8_t kCtlResetByHost = 0x02;     //   reset requested by the host (0xC3)
inline constexpr uint8_t kCtlDriveInterface = 0x05;  // drive interface status: r1-r4 32-bit big-endian
inline constexpr uint8_t kEvConfigSaved = 0x02;      // class 1; r0-r3 change count, r4-r7 configuration time
inline constexpr uint8_t kEvArrayCreated = 0x03;     // r0 array, r1 RAID level, r2 members
inline constexpr uint8_t kEvArrayDeleted = 0x04;     // r0 array
inline constexpr uint8_t kEvDriveCreated = 0x06;     // r0-r1 logical drive, r2 array, r3-r4 size GB
inline constexpr uint8_t kEvDriveDeleted = 0x07;     // r0-r1 logical drive
inline constexpr uint8_t kEvDriveGrown = 0x08;       // r0-r1 logical drive, r2-r5 new size GB
inline constexpr uint8_t kEvDriveChanged = 0x09;     // r0-r1 logical drive, r2 kChange..., r3-r4 new value
inline constexpr uint8_t kChangeAvailability = 1, kChangeName = 2, kChangeLun = 3;
inline constexpr uint8_t kEvArrayCritical = 0x0A;    // r0 array, r1 failed member, r2-r9 its WWN
inline constexpr uint8_t kEvArrayOffline = 0x0B;     // r0 array
inline constexpr uint8_t kEvDriveInserted = 0x0C;    // r0 drive ID, r1 slot, r2-r9 WWN (drive back)
inline constexpr uint8_t kEvDriveBypassed = 0x0D;    // r0 drive ID, r1 slot, r2-r9 WWN
inline constexpr uint8_t kEvDriveEnabled = 0x0E;     // r0 drive ID, r1 slot, r2-r9 WWN
inline constexpr uint8_t kEvArrayRenamed = 0x10;     // r0 array
inline constexpr uint8_t kEvArrayChanged = 0x11;     // r0 array, r1 cache flags, r2 read-ahead code,
                                                     // r3 write-back code
inline constexpr uint8_t kEvInitStarted = 0x12;      // r0 array
inline constexpr uint8_t kEvInitCompleted = 0x14;    // r0 array
inline constexpr uint8_t kEvInitCancelled = 0x17;    // r0 array
inline constexpr uint8_t kEvInitPaused = 0x18;       // r0 array, r1 1 paused / 0 resumed
inline constexpr uint8_t kEvVoltage = 0x19;          // sub r0 = sensor index i (offset 154 + 2 i), r1-r2 mV,
                                                     // r3 kOff out of range / kOn back, r4-r5 low, r6-r7 high
inline constexpr uint8_t kEvTemperatureHigh = 0x1A;  // r0 sensor (0 air, 1 expander, 2 CPU), r1 degrees,
inline constexpr uint8_t kEvTemperatureNormal = 0x1B;  // r2 limit
inline constexpr uint8_t kEvPartner = 0x1C;  // r0 0 "This" / 1 "The other" controller, r1 kPartner...
inline constexpr uint8_t kPartnerFailed = 1, kPartnerRestored = 2, kPartnerShutDown = 3, kPartnerReset = 4;
inline constexpr uint8_t kEvDriveFailed = 0x27;     // r0 drive ID, r1 slot, r2 array, r3 member (0xFF none),
                                                    // r4-r11 WWN
inline constexpr uint8_t kEvRebuildStarted = 0x30;  // r0 array, r1 member, r2 drive ID, r3-r10 WWN
inline constexpr uint8_t kEvRebuildCompleted = 0x31;  // r0 array, r1 member, r2 drive ID, r3-r10 WWN
inline constexpr uint8_t kEvRebuildAborted = 0x32;    // r0 array, r1 member, r2 kAbort..., r3-r10 WWN
inline constexpr uint8_t kAbortCancelled = 1, kAbortDriveFailed = 2, kAbortArrayGone = 3;
inline constexpr uint8_t kEvExpansionStarted = 0x3C;    // r0 array, r1 drives added
inline constexpr uint8_t kEvExpansionCompleted = 0x3D;  // r0 array, r1-r4 new capacity GB
inline constexpr uint8_t kEvBattery = 0x42;             // sub r0 kBattery...; r1 charge percent
inline constexpr uint8_t kBatteryFailed = 1, kBatteryGood = 2, kBatteryLow = 3, kBatteryCharged = 4,
                         kBatteryDisabled = 5, kBatteryEnabled = 6;
inline constexpr uint8_t kBatteryLowPercent = 80;    // the controller's own low-charge threshold
inline constexpr uint8_t kEvParityStarted = 0x43;    // r0 mode 1-3 (sub "ParityType"), r1 array
inline constexpr uint8_t kEvParityCompleted = 0x44;  // r0 mode, r1 array, r2-r3 inconsistencies found
inline constexpr uint8_t kEvParityCancelled = 0x45;  // r0 mode, r1 array
inline constexpr uint8_t kEvShutdown = 0x58;         // sub r0 1 graceful / 2 immediate; r1 controller
inline constexpr uint8_t kEvSpareAdded = 0x61;       // r0 drive ID, r1 spare number, r2 array, r3-r10 WWN
inline constexpr uint8_t kEvSpareRemoved = 0x66;     // r0 drive ID, r1 spare number, r2 array, r3-r10 WWN
inline constexpr uint8_t kEvSpareUsed = 0x67;        // r0 drive ID, r1 array, r2 member, r3-r10 WWN
// SES element events: r0 element index, r1-r4 the element's four SES status bytes (r1 low 4 bits =
// status code), r5 enclosure number (254 none), r6-r13 enclosure WWN.
inline constexpr uint8_t kEvSesPowerSupply = 0x6B;  // element type 2
inline constexpr uint8_t kEvSesCooling = 0x6C;      // element type 3
inline constexpr uint8_t kEvSesTemperature = 0x6D;  // element type 4
inline constexpr uint8_t kEvSesAlarm = 0x6E;        // element type 6
inline constexpr uint8_t kEvCacheDisabled = 0x6F;   // sub r0 1 battery failed, 2 partner failed; r1 ctl
inline constexpr uint8_t kEvConfiguration = 0x81;   // sub r0 kCfg...
inline constexpr uint8_t kCfgCleared = 1, kCfgRestored = 2, kCfgRenamed = 3,
                         kCfgSetting = 4,              // r1 operation code, r2 new value
    kCfgMapping = 5,                                   // r1 entries
    kCfgHostPort = 6;                                  // r1 port mask, r2 rate, r3 connection, r4 ID
inline constexpr uint8_t kEvMaintenance = 0x82;        // sub r0 kMaint...
inline constexpr uint8_t kMaintStatisticsCleared = 1,  // r1 controller, r2 port selector, r3-r4 drive
    kMaintLogCleared = 2,                              // r1 controller
    kMaintClockSet = 3,                                // r1 controller, r2-r9 new EventTime
    kMaintDumpPrepared = 4;                            // class 1
inline constexpr uint8_t kEvDriveFirmware = 0x84;      // sub r0 1 drive selected, 2 image loaded, 3 disk
                                                       // I/O module image loaded; r1 drive ID, r2-r5 level
inline constexpr uint8_t kEvSnapshot = 0x87;  // sub r0 kSnapshot...; r1-r2 source drive, r3 used percent
inline constexpr uint8_t kSnapshotAreaCreated = 1, kSnapshotAreaReleased = 2, kSnapshotTaken = 3,
                         kSnapshotDeleted = 4, kSnapshotWarning = 5, kSnapshotOverrun = 6;
inline constexpr uint8_t kEvSnapback = 0x88;     // sub r0 1 started, 2 completed; r1-r2 drive
inline constexpr uint8_t kEvAutoRebuild = 0x89;  // r0 1; r1 kOn automatic / kOff manual
inline constexpr uint8_t kEvAlarm = 0x8A;        // sub r0 1 muted, 2 enabled, 3 disabled
inline constexpr uint8_t kEvFirmware = 0x8B;     // r0 1 loaded / 2 rejected, r1 part (bootrom,
                                                 // initstring, application), r2-r5 level
inline constexpr uint8_t kEvIdentify = 0x91;     // class 1; sub r0 1 enclosure (r1 number, r2 s),
                                                 // 2 drive (r1 loop, r2 ID, r3 s)
inline constexpr uint8_t kEvMemory = 0x92;       // sub r0 0 256M, 1 512M, 2 1G, 3 2G; at start

// ---- Flag table: key families of the RAID module's event texts ----

inline constexpr uint8_t kFlagSata = 0x01;       // variant for SATA drives, key suffix "s"
inline constexpr uint8_t kFlagEnclosure = 0x02;  // enclosure element event: event ID base 0xC00
inline constexpr uint8_t kFlagScsiHost = 0x04;   // variant for host interface type 2, suffix "sc"
inline constexpr uint8_t kFlagSas = 0x08;        // variant for SAS drives, suffix "sas"
inline constexpr uint8_t kFlagSasHost = 0x10;    // variant for host interface type 6, suffix "hsas"
inline constexpr uint8_t kFlagUnused = 0x80;     // code not in use

constexpr uint8_t eventFlags(uint8_t code) {
  uint8_t flags = 0;
  auto in = [code](int low, int high) { return code >= low && code <= high; };
  if (in(0x0A, 0x0E) || code == 0x27 || code == 0x28 || code == 0x30 || code == 0x32 || code == 0x3B ||
      code == 0x61 || code == 0x66 || code == 0x67 || code == 0x7B)
    flags |= kFlagSata;
  if (in(0x6B, 0x6E)) flags |= kFlagEnclosure;
  if (code == 0x24 || code == 0x2E) flags |= kFlagScsiHost;
  if (in(0x0A, 0x0F) || code == 0x13 || code == 0x22 || code == 0x23 || code == 0x27 || code == 0x28 ||
      code == 0x30 || code == 0x32 || code == 0x39 || code == 0x3B || code == 0x61 || code == 0x66 ||
      code == 0x67 || code == 0x71 || code == 0x76 || code == 0x7B)
    flags |= kFlagSas;
  if (code == 0x15 || code == 0x16 || in(0x24, 0x26) || code == 0x37 || code == 0x38 || code == 0x3F ||
      code == 0x7C || code == 0x7D)
    flags |= kFlagSasHost;
  if (code == 0x00 || code == 0x05 || in(0x1D, 0x20) || in(0x46, 0x4F) || code == 0x77 || code == 0x83 ||
      code >= 0x93)
    flags |= kFlagUnused;
  return flags;
}
static_assert(eventFlags(0x0A) == 0x09 && eventFlags(0x24) == 0x14 && eventFlags(0x6C) == 0x02);
static_assert(eventFlags(0x30) == 0x09 && eventFlags(0xA0) == 0x80 && eventFlags(0x42) == 0);

}  // namespace brivo
