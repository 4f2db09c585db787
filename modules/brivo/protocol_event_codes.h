// The rest of the Brivo controller's event definitions: every event code in use (not marked
// kFlagUnused by eventFlags) that protocol_events.h does not define, with the layout of its reason
// bytes, plus the reason values that protocol_events.h leaves open. The RAID module's decoder
// reads events by these layouts; a simulator that logs one of these codes writes the same bytes.
//
// Notation as in protocol_events.h: "r0" is entry byte 10; multi-byte values little-endian unless
// noted; WWNs in display order; "ctl" = controller 0 A / 1 B; "level" = a 32-bit firmware level
// in the controller record form (bits 24-31 major, 16-23 minor, 0-15 build); "rev" = 4 ASCII
// characters. "sub" marks codes whose text is chosen by a reason byte.
//
// Thread safety: constants only.
#pragma once

#include <cstdint>

#include "modules/brivo/protocol_events.h"

namespace brivo {

// ---- Reason values left open by protocol_events.h ----

// kEvController sub r0, besides kCtlStarted, kCtlResetByHost and kCtlDriveInterface:
inline constexpr uint8_t kCtlWatchdogRestart = 0x03;  // restarted after the firmware watchdog expired
inline constexpr uint8_t kCtlFirmwareRestart = 0x04;  // restarted to activate new firmware
// kCtlDriveInterface on SAS pairs: r1-r4 (big-endian) is one of these states.
inline constexpr uint32_t kDriveIfLinksUp = 0, kDriveIfLinkDown = 1, kDriveIfLinkUp = 2,
                          kDriveIfExpanderReset = 3, kDriveIfCabling = 4;
// kEvDriveFailed: r12 says what r4-r11 hold; kEvDriveIdentity: r10 says what r2-r9 hold.
inline constexpr uint8_t kIdentityWwn = 0;     // the drive's WWN
inline constexpr uint8_t kIdentitySerial = 1;  // the first 8 characters of its serial number
inline constexpr int kDriveFailedIdentityKind = 12;
// kEvTemperatureHigh/Normal r0: 0 air, 1 expander, 2 CPU (protocol_events.h).

// ---- Drives ----
inline constexpr uint8_t kEvDriveLink = 0x0F;  // r0 drive ID, r1 slot, r2-r5 link state bits
                                               // (sub on SAS pairs: kLink...), r6-r13 WWN
inline constexpr uint32_t kLinkPhyReset = 0x01, kLinkSyncLost = 0x02, kLinkInvalidDwords = 0x04,
                          kLinkDisparity = 0x08, kLinkRateDropped = 0x10;
inline constexpr uint8_t kEvDriveChannel = 0x13;  // sub r0 kChannel... (SAS pairs), r1 drive ID,
                                                  // r2 slot, r3-r10 WWN
inline constexpr uint8_t kChannelTimeout = 1, kChannelAborted = 2, kChannelMedium = 3, kChannelHardware = 4,
                         kChannelReset = 5;
inline constexpr uint8_t kEvDriveRejected = 0x21;  // r0 drive ID, r1 slot, sub r2 kReject..., r3-r10 WWN
inline constexpr uint8_t kRejectUnsupported = 1, kRejectTooSmall = 2, kRejectFirmware = 3;
inline constexpr uint8_t kEvDriveMediumError = 0x22;  // r0 drive ID, r1 slot, r2-r5 block, r6-r13 WWN
inline constexpr uint8_t kEvDrivePredicted = 0x23;    // r0 drive ID, r1 slot, r2-r9 WWN (failure predicted)
inline constexpr uint8_t kEvDriveRemoved = 0x28;      // r0 drive ID, r1 slot, r2-r9 WWN
inline constexpr uint8_t kEvDriveTimeout = 0x29;      // r0 drive ID, r1 slot, r2-r9 WWN
inline constexpr uint8_t kEvDriveReset = 0x2A;        // r0 drive ID, r1 slot, r2-r9 WWN
inline constexpr uint8_t kEvDriveReady = 0x2B;        // r0 drive ID, r1 slot, r2-r9 WWN
inline constexpr uint8_t kEvDriveHot = 0x2C;          // r0 drive ID, r1 slot, r2 degrees, r3-r10 WWN
inline constexpr uint8_t kEvDriveRevision = 0x2D;     // r0 drive ID, r1 slot, r2-r5 rev, r6-r13 WWN
inline constexpr uint8_t kEvDriveSlowLink = 0x39;     // r0 drive ID, r1 slot, r2 Gb/s, r3-r10 WWN
inline constexpr uint8_t kEvDriveTooSmall = 0x3B;     // r0 drive ID, r1 slot, r2 array, r3-r10 WWN
inline constexpr uint8_t kEvDriveWriteCache = 0x71;   // r0 drive ID, r1 slot, r2-r9 WWN (cache turned off)
inline constexpr uint8_t kEvDriveForeign = 0x76;      // r0 drive ID, r1 slot, r2-r9 WWN
inline constexpr uint8_t kEvDriveIdentity = 0x79;  // r0 drive ID, r1 slot, r2-r9 identity, r10 kIdentity...
inline constexpr uint8_t kEvDriveFirmwareDone = 0x7A;    // r0 drive ID, r1 slot, r2-r5 rev, r6-r13 WWN
inline constexpr uint8_t kEvDriveFirmwareFailed = 0x7B;  // r0 drive ID, r1 slot, r2-r9 WWN

// ---- Host ports ----
inline constexpr uint8_t kEvHostPortUp = 0x15;    // r0 ctl, r1 port, r2 Gb/s
inline constexpr uint8_t kEvHostPortDown = 0x16;  // r0 ctl, r1 port
inline constexpr uint8_t kEvHostLoop = 0x24;      // sub r0 by host interface: kLoop... (FC), kBus...
                                                  // (SCSI), kSas... (SAS); r1 loops (FC: bit 0 loop 0,
                                                  // bit 1 loop 1) or the port, r2 Gb/s, r3 loop ID
inline constexpr uint8_t kLoopAcquiredId = 1, kLoopReinitByHost = 2, kLoopReinitByController = 3,
                         kLoopNoSignal = 4, kLoopInitFailed = 5;
inline constexpr uint8_t kBusResetByHost = 1, kBusRenegotiated = 2;            // host interface type 2
inline constexpr uint8_t kSasLinkUp = 1, kSasLinkDown = 2, kSasPortReset = 3;  // host interface type 6
inline constexpr uint8_t kEvHostLinkErrors = 0x25;       // r0 ctl, r1 port, r2-r3 errors
inline constexpr uint8_t kEvHostLogin = 0x26;            // r0 ctl, r1 port, r2-r9 host port WWN
inline constexpr uint8_t kEvHostReset = 0x2E;            // r0 ctl, r1 port (bus)
inline constexpr uint8_t kEvHostAbort = 0x2F;            // r0 ctl, r1 port, r2-r3 LUN
inline constexpr uint8_t kEvHostRate = 0x37;             // r0 ctl, r1 port, r2 Gb/s
inline constexpr uint8_t kEvHostPortDisabled = 0x38;     // r0 ctl, r1 port
inline constexpr uint8_t kEvHostInterfaceFailed = 0x3F;  // r0 ctl
inline constexpr uint8_t kEvHostInterfaceReset = 0x7C;   // r0 ctl
inline constexpr uint8_t kEvHostInterfaceLoaded = 0x7D;  // r0 ctl, r1-r4 level
inline constexpr uint8_t kEvHostDenied = 0x85;           // r0-r7 host port WWN, r8-r9 LUN

// ---- Drive loops ----
inline constexpr uint8_t kEvDriveLoopReinit = 0x3A;  // r0 loop (0, 1)
inline constexpr uint8_t kEvDriveLoopFailed = 0x3E;  // sub r0 loop (0, 1)
inline constexpr uint8_t kEvDeviceChange = 0x74;     // sub r0 kDevice..., sub r1 kChange..., r2 loop,
                                                     // r3 ID, r4-r11 WWN
inline constexpr uint8_t kDeviceDrive = 1, kDeviceEnclosure = 2, kDeviceController = 3;
inline constexpr uint8_t kDeviceAdded = 1, kDeviceRemoved = 2, kDeviceMoved = 3;

// ---- Arrays and logical drives ----
inline constexpr uint8_t kEvArrayTolerant = 0x33;     // r0 array (redundant again)
inline constexpr uint8_t kEvParityMismatch = 0x34;    // r0 array, r1-r4 block
inline constexpr uint8_t kEvMediumRecovered = 0x35;   // r0 array, r1-r4 block
inline constexpr uint8_t kEvMediumLost = 0x36;        // r0 array, r1-r4 block
inline constexpr uint8_t kEvDriveOffline = 0x50;      // r0-r1 logical drive
inline constexpr uint8_t kEvDriveDegraded = 0x51;     // r0-r1 logical drive
inline constexpr uint8_t kEvDriveOnline = 0x52;       // r0-r1 logical drive
inline constexpr uint8_t kEvLunConflict = 0x53;       // r0-r1 LUN, r2-r3 logical drive
inline constexpr uint8_t kEvVerifyStarted = 0x54;     // r0 array
inline constexpr uint8_t kEvVerifyCompleted = 0x55;   // r0 array
inline constexpr uint8_t kEvVerifyCorrected = 0x56;   // r0 array, r1-r2 blocks corrected
inline constexpr uint8_t kEvSpareUnusable = 0x57;     // r0 spare number, r1-r8 WWN
inline constexpr uint8_t kEvSpareTooSmall = 0x62;     // r0 spare number, r1 array
inline constexpr uint8_t kEvNoSpare = 0x63;           // r0 array
inline constexpr uint8_t kEvRebuildPaused = 0x64;     // r0 array
inline constexpr uint8_t kEvRebuildResumed = 0x65;    // r0 array
inline constexpr uint8_t kEvDriveEarlyAccess = 0x70;  // r0-r1 logical drive (usable while initialising)
inline constexpr uint8_t kEvLunAssigned = 0x72;       // r0-r1 LUN, r2-r3 logical drive
inline constexpr uint8_t kEvLunRemoved = 0x73;        // r0-r1 LUN, r2-r3 logical drive
inline constexpr uint8_t kEvScheduledVerify = 0x8E;   // no reason bytes

// ---- Controllers ----
inline constexpr uint8_t kEvCacheRestored = 0x40;      // r0 ctl, r1-r4 blocks written after a power loss
inline constexpr uint8_t kEvCacheLost = 0x41;          // r0 ctl, r1-r4 blocks lost
inline constexpr uint8_t kEvClockBattery = 0x59;       // r0 ctl
inline constexpr uint8_t kEvMemoryCorrected = 0x5A;    // r0 ctl, r1-r4 count
inline constexpr uint8_t kEvMemoryFailed = 0x5B;       // r0 ctl
inline constexpr uint8_t kEvFailover = 0x5C;           // r0 ctl (took over its partner's drives)
inline constexpr uint8_t kEvFailback = 0x5D;           // r0 ctl (handed them back)
inline constexpr uint8_t kEvMirrorLost = 0x5E;         // r0 ctl
inline constexpr uint8_t kEvMirrorRestored = 0x5F;     // r0 ctl
inline constexpr uint8_t kEvFirmwareMismatch = 0x60;   // r0-r3 this level, r4-r7 partner's level
inline constexpr uint8_t kEvOverheatShutdown = 0x75;   // r0 ctl
inline constexpr uint8_t kEvConfigMismatch = 0x78;     // r0 ctl (took its partner's configuration)
inline constexpr uint8_t kEvFanFailed = 0x7E;          // r0 ctl
inline constexpr uint8_t kEvFanRestored = 0x7F;        // r0 ctl
inline constexpr uint8_t kEvPowerSupplyFailed = 0x80;  // r0 power supply of the controller enclosure
inline constexpr uint8_t kEvSelfTestPassed = 0x86;     // r0 ctl
inline constexpr uint8_t kEvWriteThrough = 0x8C;       // r0 ctl
inline constexpr uint8_t kEvWriteBack = 0x8D;          // r0 ctl
inline constexpr uint8_t kEvStatisticsOn = 0x8F;       // r0 ctl
inline constexpr uint8_t kEvStatisticsOff = 0x90;      // r0 ctl

// ---- Enclosures ----
inline constexpr uint8_t kEvEnclosureFound = 0x68;     // r0 number, r1-r8 WWN
inline constexpr uint8_t kEvEnclosureLost = 0x69;      // r0 number, r1-r8 WWN
inline constexpr uint8_t kEvEnclosureRevision = 0x6A;  // r0 number, r1-r8 WWN, r9-r12 rev

}  // namespace brivo
