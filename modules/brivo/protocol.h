// The Brivo controller command protocol: every buffer that travels between the host and a Brivo
// RAID controller pair through SCSI READ BUFFER (0x3C) and WRITE BUFFER (0x3B), as plain structs.
// Shared by the RAID module (modules/brivo) and the controller simulator (sim/brivo_*), so both
// sides read and write exactly the same bytes. Header-only; it depends on nothing but <cstdint>.
//
// Conventions of the protocol:
//   - Structures travel in the host's byte order (little-endian); nobody converts them. CDB fields
//     are big-endian as SCSI requires ("bytes 3-4" of a CDB: high byte first).
//   - Every buffer a READ BUFFER returns starts with its length as a 32-bit word (except the job
//     progress buffer, which is one read of 256 bytes); a reader that asked for more stops there.
//   - WWNs are 8 bytes in display order: byte 0 is the first two hexadecimal digits of the text.
//   - Flag bytes use 0xF1 for on/present/valid and 0xF0 for off/failed.
//   - Text fields are NUL-padded unless a comment says otherwise.
//   - WRITE BUFFER mode 1 data is the 16-byte command signature followed by the operation's
//     parameter block (signature alone for operations without one).
//   - Operations that change the configuration must come between kOpConfigStart (0x80) and
//     kOpConfigSave (0x82). The controller keeps them in a working copy that 0x82 saves; a new
//     0x80, a controller going down (reset, shutdown, failure) or a restart drops them.
//
// WRITE BUFFER parameter blocks, firmware images, the diagnostics dump and failure prediction:
// protocol_blocks.h. Event logs and codes: protocol_events.h. Sensor tables and the controller
// type: protocol_sensors.h. Snapshot areas: protocol_snapshots.h. All are included here.
//
// Thread safety: types and constants only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brivo {

// ---- Flag values and the command signature ----

inline constexpr uint8_t kOn = 0xF1;        // on, present, valid
inline constexpr uint8_t kOff = 0xF0;       // off, failed
inline constexpr uint8_t kDisabled = 0xF2;  // battery state: disabled

// WRITE BUFFER mode 1 data begins with these 16 bytes; the controller refuses anything else with
// ILLEGAL REQUEST / INVALID FIELD IN PARAMETER LIST.
inline constexpr uint8_t kCommandSignature[16] = {0x42, 0x52, 0x56, 0x4F, 0x2D, 0x43, 0x4D, 0x44,
                                                  0x5A, 0xA5, 0x3C, 0xC3, 0x01, 0x10, 0x7E, 0xE7};
inline constexpr uint32_t kSignatureLength = sizeof(kCommandSignature);

// READ/WRITE BUFFER modes (CDB byte 1).
inline constexpr uint8_t kModeCommand = 1;          // controller command: CDB bytes 3-5 are parameters
inline constexpr uint8_t kModeData = 2;             // data buffer: CDB bytes 3-5 are the offset
inline constexpr uint8_t kModeFirmware = 5;         // download firmware and save
inline constexpr uint8_t kModeFirmwareOffsets = 7;  // download firmware in pieces with offsets, save

// Controller selector (CDB byte 3 of 0xC1, 0xC3, 0xC4, 0xC5): any other value is refused.
inline constexpr uint8_t kSelectA = 1;
inline constexpr uint8_t kSelectB = 2;
inline constexpr uint8_t kSelectBoth = 3;

// ---- Sense data the controller returns with CHECK CONDITION (key / ASC / ASCQ) ----
// ILLEGAL REQUEST (5): 0x20/00 unknown buffer ID for the mode; 0x24/00 a CDB parameter out of range
// or naming nothing (array, logical drive, drive, controller); 0x26/00 bad parameter block
// (signature, values, a configuration that does not fit); 0x1A/00 parameter block too short;
// 0x2C/00 command sequence error (a configuration change without 0x80, a job already running,
// reading the diagnostics dump before 0xD3, a rebuild while one runs); 0x55/00 no room (64 arrays, 512
// logical drives, 32 spares, mapping entries). Controllers that are resetting or shut down do not
// answer at all.
inline constexpr uint8_t kSenseIllegalRequest = 0x05;
inline constexpr uint8_t kAscUnknownBuffer = 0x20;
inline constexpr uint8_t kAscInvalidCdbField = 0x24;
inline constexpr uint8_t kAscInvalidParameter = 0x26;
inline constexpr uint8_t kAscParameterLength = 0x1A;
inline constexpr uint8_t kAscSequenceError = 0x2C;
inline constexpr uint8_t kAscNoRoom = 0x55;

// ---- READ BUFFER operations (buffer ID = operation code) ----

inline constexpr uint8_t kOpReadConfiguration = 0x01;    // mode 2, ConfigurationBlock
inline constexpr uint8_t kOpReadConfigHeader = 0x03;     // mode 1, ConfigurationHeader (512)
inline constexpr uint8_t kOpReadArray = 0x04;            // mode 1, CDB byte 4 = array; ArrayRecord
inline constexpr uint8_t kOpReadLogicalDrive = 0x05;     // mode 1, CDB bytes 4-5 = drive; LogicalDriveRecord
inline constexpr uint8_t kOpReadRegions = 0x20;          // mode 1, RegionInformation (see kRegion...)
inline constexpr uint8_t kOpReadControllerInfo = 0x40;   // mode 2, ControllerInformation
inline constexpr uint8_t kOpReadDriveList = 0x41;        // mode 2, DriveList
inline constexpr uint8_t kOpReadTopology = 0x42;         // mode 2, HostTopology
inline constexpr uint8_t kOpReadStatisticsA = 0x44;      // mode 1, StatisticsBuffer of controller A
inline constexpr uint8_t kOpReadStatisticsB = 0x45;      // mode 1, StatisticsBuffer of controller B
inline constexpr uint8_t kOpReadEventLogA = 0x46;        // mode 2, EventLog of controller A
inline constexpr uint8_t kOpReadEventLogB = 0x47;        // mode 2, EventLog of controller B
inline constexpr uint8_t kOpReadDiagnosticsDump = 0x56;  // mode 2, DiagnosticsDump (after 0xD3)
inline constexpr uint8_t kOpReadJobProgress = 0x57;      // mode 1, JobProgress (256)
inline constexpr uint8_t kOpReadFailurePrediction = 0x59;  // mode 2, FailurePrediction
inline constexpr uint8_t kOpReadSesPage = 0xF0;            // mode 1, SES page through the controller
// Snapshot reads 0x61, 0x62, 0x63, 0x65, 0x66, 0x67: protocol_snapshots.h.

// A pair whose drive and host interface types are both 2 is read with the buffer IDs 0x01-0x05
// OR 0x20 (0x21, 0x23, 0x24, 0x25); the controller answers both forms on every pair.
inline constexpr uint8_t kAliasBit = 0x20;

// Region information forms (CDB bytes 3 and 4 of 0x20).
inline constexpr uint8_t kRegionsAllByte3 = 0, kRegionsAllByte4 = kOn;     // used and free regions
inline constexpr uint8_t kRegionsFreeByte3 = 1, kRegionsFreeByte4 = kOff;  // free regions only

// ---- WRITE BUFFER operations, mode 1 (after the signature: the block named) ----
// "(cfg)" marks configuration changes, accepted only inside a 0x80 ... 0x82 bracket.

inline constexpr uint8_t kOpConfigStart = 0x80;  // open a working copy of the configuration; an
                                                 // open one is dropped first
inline constexpr uint8_t kOpConfigClear = 0x81;  // (cfg) arrays, drives, spares, mapping, name
inline constexpr uint8_t kOpConfigSave = 0x82;   // save the working copy; renews the time (> last)
inline constexpr uint8_t kOpCreateArray = 0x90;  // (cfg) CreateArrayBlock; takes the lowest free number
inline constexpr uint8_t kOpCreateLogicalDrive = 0x91;  // (cfg) CreateLogicalDriveBlock; lowest free number
inline constexpr uint8_t kOpWriteMapping = 0x92;        // (cfg) MappingTable or MappingTableOld (by length)
inline constexpr uint8_t kOpAddHotSpare = 0x93;         // (cfg) HotSpareBlock
inline constexpr uint8_t kOpAutoRebuild = 0x97;         // (cfg) byte 3 = kOn/kOff (1/0 accepted)
inline constexpr uint8_t kOpHostPortSettings = 0x98;    // (cfg) byte 3 = rate << 4 | connection,
                                                        // byte 4 = port mask, byte 5 = ID (0xFF soft);
                                                        // connection | kHostPortPackBit packs the port
inline constexpr uint8_t kHostPortPackBit = 0x08;       // only where kFeatureHostPortPacking is reported
inline constexpr uint8_t kOpAlternateNodeName = 0x99;   // (cfg) byte 3 = kOn/kOff
inline constexpr uint8_t kOpRebuildPriority = 0x9A;     // (cfg) byte 3 = percent, 10-90
inline constexpr uint8_t kOpAutoDriveFirmware = 0x9B;   // (cfg) byte 3 = kOn/kOff
inline constexpr uint8_t kOpChangeArray = 0x9C;         // (cfg) byte 3 = array, byte 4 = cache flags,
                                                        // byte 5 = write-back code << 4 | read-ahead code
inline constexpr uint8_t kOpChangeAvailability = 0x9D;  // (cfg) bytes 3-4 = drive, byte 5 = availability
inline constexpr uint8_t kOpControllerWwnIndex = 0xA2;  // (cfg) byte 3 = index 0-3
inline constexpr uint8_t kOpConfigName = 0xA3;          // (cfg) NameBlock64
inline constexpr uint8_t kOpGrowLogicalDrive = 0xA5;    // (cfg) bytes 3-4 = drive; GrowLogicalDriveBlock
inline constexpr uint8_t kOpInitializeArray = 0xA6;     // byte 3 = array, byte 4 = kInit... action
inline constexpr uint8_t kOpRenameArray = 0xA7;         // (cfg) byte 3 = array; NameBlock32
inline constexpr uint8_t kOpRenameLogicalDrive = 0xA8;  // (cfg) bytes 3-4 = drive; NameBlock32
inline constexpr uint8_t kOpSetHostLun = 0xA9;          // (cfg) SetHostLunBlock
inline constexpr uint8_t kOpControllerLun = 0xAA;  // (cfg) bytes 3-4 = LUN 0-511, kLunDisable, kLunEnable
inline constexpr uint8_t kOpExpandArray = 0xAB;    // (cfg) ExpandArrayBlock
inline constexpr uint8_t kOpCancelInitialization = 0xAC;  // byte 3 = array
inline constexpr uint8_t kOpDeleteLogicalDrive = 0xB1;    // (cfg) bytes 3-4 = drive; also drops its mapping
                                                          // entries and its snapshot area
// 0xB2 is listed by the firmware as "delete logical drive"; logical drives are deleted with 0xB1,
// and this controller uses 0xB2 for arrays: bytes 3-4 = array number. An array that still carries
// logical drives is refused (ILLEGAL REQUEST / 0x26): delete them first.
inline constexpr uint8_t kOpDeleteArray = 0xB2;           // (cfg)
inline constexpr uint8_t kOpRemoveHotSpare = 0xB3;        // (cfg) byte 3 = hot spare number
inline constexpr uint8_t kOpSingleControllerMode = 0xB7;  // (cfg) byte 3 = kOn single, kOff dual
inline constexpr uint8_t kOpBackgroundVerify = 0xB8;      // (cfg) byte 3 = kOn/kOff
inline constexpr uint8_t kOpAutoSpare = 0xB9;             // (cfg) byte 3 = kOn/kOff
inline constexpr uint8_t kOpEnclosureSupport = 0xBA;      // (cfg) byte 3 = kOn/kOff (header byte 210)
inline constexpr uint8_t kOpInitPriority = 0xBE;          // (cfg) byte 3 = percent, 10-90
inline constexpr uint8_t kOpClearEventLog = 0xC1;         // byte 3 = selector; the cleared log then holds
                                                          // one kEvMaintenance / kMaintLogCleared entry
// 0xC2: byte 3 = drive loop 0/1 or kIdentifyEnclosure, byte 4 = drive ID or enclosure number,
// byte 5 = seconds (0 stops the blinking).
inline constexpr uint8_t kOpIdentify = 0xC2;
inline constexpr uint8_t kOpResetController = 0xC3;      // byte 3 = selector
inline constexpr uint8_t kOpShutdownController = 0xC4;   // byte 3 = selector, byte 4 = 1 graceful, 0 not
inline constexpr uint8_t kOpSetTime = 0xC5;              // byte 3 = selector; EventTime (local time)
inline constexpr uint8_t kOpSelectDriveFirmware = 0xC6;  // DriveFirmwareSelectBlock
inline constexpr uint8_t kOpClearStatisticsA = 0xCB;     // byte 3 = port selector, bytes 4-5 = drive
inline constexpr uint8_t kOpClearStatisticsB = 0xCC;     //   (0xFFFF = all drives and the totals)
inline constexpr uint8_t kOpRebuildDrive = 0xCA;         // RebuildBlock
inline constexpr uint8_t kOpCancelRebuild = 0xCD;        // no parameters: cancels the running rebuild
inline constexpr uint8_t kOpStartParityCheck = 0xCE;     // byte 3 = 0xF0, byte 4 = array, byte 5 = mode 1-3
inline constexpr uint8_t kOpCancelParityCheck = 0xCF;    // no parameters: cancels every parity check
inline constexpr uint8_t kOpBypassDrive = 0xD0;          // byte 4 = drive ID
inline constexpr uint8_t kOpEnableDrive = 0xD1;          // byte 4 = drive ID
inline constexpr uint8_t kOpPrepareDiagnostics = 0xD3;   // builds the dump that 0x56 reads
inline constexpr uint8_t kOpAlarmMute = 0xD7;
inline constexpr uint8_t kOpAlarmEnable = 0xD8;
inline constexpr uint8_t kOpAlarmDisable = 0xD9;
inline constexpr uint8_t kOpSendSesPage = 0xF2;  // byte 3 = address, 4 = 0x1D, 5 = 0x10, 6 = 0,
                                                 // 7-8 = page length (big-endian); data: signature and
                                                 // page (a bare page of that length is accepted too)
// Snapshot writes 0x70, 0x71, 0x73-0x77: protocol_snapshots.h.

// WRITE BUFFER mode 2: restore a whole ConfigurationBlock, in pieces at increasing offsets (CDB
// bytes 3-5) starting at 0. The block is checked and applied when its last byte arrives; the pair
// keeps its own configuration WWN. Not bracketed.
inline constexpr uint8_t kOpRestoreConfiguration = 0x83;
// WRITE BUFFER mode 5/7: firmware images (FirmwareImageHeader first).
inline constexpr uint8_t kFirmwareController = 0;
inline constexpr uint8_t kFirmwareDrive = 1;  // to the drives chosen with 0xC6
inline constexpr uint8_t kFirmwareDiskIo = 2;

// Values of single CDB parameters.
inline constexpr uint8_t kIdentifyEnclosure = 0x80;
inline constexpr uint16_t kLunNone = 0xFFFF;     // a logical drive without host LUN
inline constexpr uint16_t kLunDisable = 0xFFFF;  // 0xAA: no controller LUN
inline constexpr uint16_t kLunEnable = 0xFFFE;   // 0xAA: back to the last controller LUN (default 31)
inline constexpr uint16_t kAllLogicalDrives = 0xFFFF;
inline constexpr uint8_t kInitStart = 0, kInitPause = 1, kInitResume = 2;  // 0xA6 byte 4
inline constexpr uint8_t kPortBoth = 0, kPort0 = 1, kPort1 = 2;            // statistics port selector
inline constexpr uint8_t kParityVerify = 1, kParityRewrite = 2, kParityVerifyRewrite = 3;

// Read-ahead codes of 0x9C (KB): 0 auto, 1 disabled, 2 256, 3 512, 4 1024, 5 2048.
// Write-back codes of 0x9C (MB): 0 disabled, 1-9 = 1 << (code - 1) (1 ... 256), 10 maximum.
// In array records the sizes themselves are kept: read-ahead 0 = auto, 0xFFFF = disabled;
// write-back 0 = disabled, 0xFFFF = maximum.
inline constexpr uint16_t kReadAheadDisabled = 0xFFFF;
inline constexpr uint16_t kWriteBackMaximum = 0xFFFF;

#pragma pack(push, 1)

// Date and time as the controller keeps it (its local time). Weekday 0 = Sunday.
struct EventTime {
  uint16_t year;    // 0: 2001-2135 for a valid time
  uint8_t month;    // 2: 1-12
  uint8_t day;      // 3
  uint8_t weekday;  // 4
  uint8_t hour;     // 5
  uint8_t minute;   // 6
  uint8_t second;   // 7
};
static_assert(sizeof(EventTime) == 8);

// ---- Controller information (READ BUFFER mode 2, 0x40) ----

// Interface types (controller record bytes 214 and 216).
inline constexpr uint8_t kInterfaceFc = 1;
inline constexpr uint8_t kInterfaceSata = 2;
inline constexpr uint8_t kInterfaceSas = 3;  // drives; as a host interface type 3 is iSCSI
inline constexpr uint8_t kInterfaceSataActive = 4;
inline constexpr uint8_t kHostInterfaceScsi = 2;  // U320 SCSI host ports
inline constexpr uint8_t kHostInterfaceSas = 6;

// Family byte (record byte 182): bit 7 clear = older family; 0x80-0xBF newer family; 0xC0 and up =
// explicit controller type in the low 6 bits.
inline constexpr uint8_t kFamilyNewer = 0x80;
inline constexpr uint8_t kFamilyExplicitType = 0xC0;

// Alarm states (record byte 190).
inline constexpr uint8_t kAlarmEnabled = 0, kAlarmMuted = 1, kAlarmDisabled = 2;

// One controller's record, 220 bytes.
struct ControllerRecord {
  char serial[16];              // 0: serial number text
  char boardName[16];           // 16: board name text
  uint8_t reserved32[32];       // 32
  uint8_t controllerWwn[8];     // 64: this controller's WWN
  uint8_t configurationWwn[8];  // 72: the pair's configuration WWN (the pair's name)
  uint8_t nodeName[8];          // 80: node name presented on the host ports
  uint32_t powerOnSeconds;      // 88
  uint8_t reserved92[12];       // 92
  uint32_t firmwareLevel;       // 104: 105-104 build, 106 minor, 107 major (16-bit level at 106)
  char firmwareText[4];         // 108: e.g. "R301", not terminated
  uint8_t reserved112[32];      // 112
  uint8_t hostPort0State;       // 144: kOn up, kOff failed
  uint8_t hostPort0LoopId;      // 145: loop ID, 255 none
  uint8_t hostPort1State;       // 146
  uint8_t hostPort1LoopId;      // 147
  uint8_t driveLoop1State;      // 148: kOn up, kOff failed
  uint8_t driveLoop1Id;         // 149: the controller's own ID on the drive loop
  uint8_t driveLoop2State;      // 150
  uint8_t driveLoop2Id;         // 151
  uint8_t airTemperature;       // 152: degrees Celsius
  uint8_t reserved153;          // 153
  uint16_t voltages[12];        // 154: millivolts; sensor i at offset 154 + 2 i (protocol_sensors.h)
  uint8_t expanderTemperature;  // 178: degrees Celsius
  uint8_t cpuTemperature;       // 179: degrees Celsius
  uint8_t batteryState;         // 180: kOff failed, kOn present and good, kDisabled
  uint8_t controllerId;         // 181: 0 A, 1 B
  uint8_t family;               // 182: family byte (above)
  uint8_t cpldRevision;         // 183: decoder revision high 4 bits, arbiter low 4 bits
  uint16_t memoryMb;            // 184
  uint16_t processorMhz;        // 186
  uint8_t olderFamilyType2;     // 188: older family: kOn marks controller type 2
  uint8_t snapshotGeneration;   // 189: 0 no snapshots, 1 or 2 (protocol_snapshots.h)
  uint8_t alarmState;           // 190: kAlarm...
  uint8_t reserved191;          // 191
  EventTime clock;              // 192: the controller's clock when the buffer was read
  uint8_t reserved200[12];      // 200
  uint8_t batteryCharge;        // 212: percent
  uint8_t batteryHoldUpHours;   // 213
  uint8_t driveInterface;       // 214: interface word byte 0: drive interface type
  uint8_t driveLoops;           // 215: byte 1: number of drive loops (2 = dual)
  uint8_t hostInterface;        // 216: byte 2: low 4 bits type, high 4 bits number of host ports
  uint8_t interfaceReserved;    // 217: byte 3
  uint8_t features;             // 218: kFeature... bits
  uint8_t reserved219;          // 219
};
static_assert(sizeof(ControllerRecord) == 220);
inline constexpr uint8_t kFeatureDiskIoFirmware = 0x10;   // disk I/O module firmware can be loaded
inline constexpr uint8_t kFeatureHostPortPacking = 0x20;  // host ports can pack frames (0x98)
static_assert(offsetof(ControllerRecord, configurationWwn) == 72);
static_assert(offsetof(ControllerRecord, powerOnSeconds) == 88);
static_assert(offsetof(ControllerRecord, firmwareLevel) == 104);
static_assert(offsetof(ControllerRecord, hostPort0State) == 144);
static_assert(offsetof(ControllerRecord, driveLoop2State) == 150);
static_assert(offsetof(ControllerRecord, voltages) == 154);
static_assert(offsetof(ControllerRecord, expanderTemperature) == 178);
static_assert(offsetof(ControllerRecord, batteryState) == 180);
static_assert(offsetof(ControllerRecord, family) == 182);
static_assert(offsetof(ControllerRecord, memoryMb) == 184);
static_assert(offsetof(ControllerRecord, olderFamilyType2) == 188);
static_assert(offsetof(ControllerRecord, batteryCharge) == 212);
static_assert(offsetof(ControllerRecord, driveInterface) == 214);
static_assert(offsetof(ControllerRecord, features) == 218);

// Where the controller reaches one SES enclosure: up to four SES processor addresses, each with
// the device ID on drive loop 1 and on loop 2 (0xFF: not on that loop). The pass-through address
// byte is (loop << 7) | (ID & 0x7F), loop 0 for the first drive loop and 1 for the second.
struct EnclosureAddress {
  uint8_t loop1Id;
  uint8_t loop2Id;
};
struct EnclosureEntry {
  uint8_t valid;                  // 0: kOn
  uint8_t number;                 // 1: enclosure number 0-15
  uint8_t slots;                  // 2: drive slots
  uint8_t reserved3;              // 3
  uint8_t wwn[8];                 // 4: enclosure logical identifier
  EnclosureAddress addresses[4];  // 12
  uint8_t reserved20[4];          // 20
};
static_assert(sizeof(EnclosureEntry) == 24);

inline constexpr uint32_t kControllerInfoLength = 1792;
inline constexpr int kMaxEnclosures = 16;

struct ControllerInformation {
  uint32_t length;                  // 0: 1792
  uint8_t layoutVersion;            // 4: 1
  uint8_t reserved5;                // 5
  uint8_t stateA;                   // 6: kOn present and valid, kOff failed (or resetting, shut down)
  uint8_t stateB;                   // 7
  ControllerRecord controllers[2];  // 8: A, 228: B
  // Progress records, one per kind of job (the first running job of that kind).
  uint8_t rebuildValid;                       // 448: kOn while a rebuild runs
  uint8_t rebuildArray;                       // 449
  uint8_t rebuildMember;                      // 450: the member being rebuilt
  uint8_t rebuildPercent;                     // 451
  uint8_t reserved452[8];                     // 452
  uint8_t initValid;                          // 460: kOn while an initialisation runs
  uint8_t initArray;                          // 461
  uint8_t initPercent;                        // 462
  uint8_t jobBufferAvailable;                 // 463: kOn: JobProgress (0x57) can be read
  uint8_t parityValid;                        // 464: kOn while a parity check runs
  uint8_t parityArray;                        // 465
  uint8_t parityPercent;                      // 466
  uint8_t parityMode;                         // 467
  uint8_t expansionValid;                     // 468: kOn while an expansion runs
  uint8_t expansionArray;                     // 469
  uint8_t expansionPercent;                   // 470
  uint8_t reserved471[41];                    // 471
  EnclosureEntry enclosures[kMaxEnclosures];  // 512
  uint8_t reserved896[896];                   // 896
};
static_assert(sizeof(ControllerInformation) == kControllerInfoLength);
static_assert(offsetof(ControllerInformation, controllers) == 8);
static_assert(offsetof(ControllerInformation, rebuildValid) == 448);
static_assert(offsetof(ControllerInformation, rebuildMember) == 450);
static_assert(offsetof(ControllerInformation, initValid) == 460);
static_assert(offsetof(ControllerInformation, jobBufferAvailable) == 463);
static_assert(offsetof(ControllerInformation, parityValid) == 464);
static_assert(offsetof(ControllerInformation, expansionArray) == 469);
static_assert(offsetof(ControllerInformation, enclosures) == 512);

// ---- Configuration (READ BUFFER mode 2, 0x01; header alone: mode 1, 0x03) ----

inline constexpr uint32_t kConfigurationLength = 940032;
inline constexpr uint32_t kConfigHeaderLength = 512;
inline constexpr int kMaxArrays = 64;
inline constexpr int kMaxMembers = 16;
inline constexpr int kMaxLogicalDrives = 512;
inline constexpr int kMaxHostLuns = 512;
inline constexpr int kMaxSpares = 32;
inline constexpr int kMaxSegments = 32;
inline constexpr char kConfigMagic[4] = {'B', 'R', 'C', 'F'};
inline constexpr uint16_t kConfigLayoutVersion = 1;

// Host port settings (0x98). Ports 0-3 are C0P0, C0P1, C1P0, C1P1 (port mask bits 0-3).
struct HostPortSetting {
  uint8_t dataRate;    // 0 auto, 1, 2, 4 Gb/s
  uint8_t connection;  // 0 auto, 1 point-to-point, 2 loop
  uint8_t hardId;      // 0-127, 0xFF soft addressing
  uint8_t packing;     // kOn: the port packs frames (controllers with kFeatureHostPortPacking)
};

struct ConfigurationHeader {
  uint32_t length;               // 0: 512 for 0x03; 940032 at the start of the block
  char magic[4];                 // 4: kConfigMagic
  uint16_t layoutVersion;        // 8: kConfigLayoutVersion
  uint16_t reserved10;           // 10
  uint32_t changeCount;          // 12: saved changes since the configuration was created
  uint32_t reserved16;           // 16
  uint32_t configurationTime;    // 20: seconds since 1970 of the last saved change
  uint8_t configurationWwn[8];   // 24
  uint8_t reserved32[16];        // 32
  char name[64];                 // 48: configuration name (0xA3)
  uint8_t reserved112[32];       // 112
  uint16_t arrayCount;           // 144: array slots in use: highest array number + 1
  uint16_t logicalDriveCount;    // 146: highest logical drive number + 1
  uint16_t hotSpareCount;        // 148: spares in the spare table
  uint16_t mappingCount;         // 150: entries of the mapping table
  uint8_t reserved152[18];       // 152
  uint8_t autoRebuild;           // 170: kOn/kOff (0x97)
  uint8_t singleControllerMode;  // 171: kOff dual-controller mode, kOn single (0xB7)
  uint8_t controllerWwnIndex;    // 172: (0xA2)
  uint8_t rebuildPriority;       // 173: percent (0x9A)
  uint8_t autoDriveFirmware;     // 174: (0x9B)
  uint8_t backgroundVerify;      // 175: (0xB8)
  uint8_t autoSpare;             // 176: (0xB9)
  uint8_t initPriority;          // 177: percent (0xBE)
  uint8_t reserved178[26];       // 178
  uint16_t controllerLun;        // 204: LUN of the controller itself, kLunDisable (0xAA)
  uint16_t lastControllerLun;    // 206: the LUN that kLunEnable restores
  uint8_t reserved208[2];        // 208
  uint8_t enclosureSupport;      // 210: kOn: SES enclosures watched and their events logged (0xBA)
  uint8_t differentNodeNames;    // 211: kOn: each host port has its own node name (0x99)
  uint8_t reserved212[12];       // 212
  HostPortSetting hostPorts[4];  // 224
  uint8_t reserved240[272];      // 240
};
static_assert(sizeof(ConfigurationHeader) == kConfigHeaderLength);
static_assert(offsetof(ConfigurationHeader, configurationTime) == 20);
static_assert(offsetof(ConfigurationHeader, configurationWwn) == 24);
static_assert(offsetof(ConfigurationHeader, name) == 48);
static_assert(offsetof(ConfigurationHeader, arrayCount) == 144);
static_assert(offsetof(ConfigurationHeader, logicalDriveCount) == 146);
static_assert(offsetof(ConfigurationHeader, singleControllerMode) == 171);
static_assert(offsetof(ConfigurationHeader, controllerLun) == 204);
static_assert(offsetof(ConfigurationHeader, enclosureSupport) == 210);
static_assert(offsetof(ConfigurationHeader, differentNodeNames) == 211);

// RAID levels (array record byte 1).
inline constexpr uint8_t kRaid0 = 0x00, kRaid1 = 0x01, kRaid3 = 0x03, kRaid5 = 0x05, kRaid6 = 0x06,
                         kRaid10 = 0x10, kRaid50 = 0x50;
// Array fault status (record byte 177).
inline constexpr uint8_t kFaultDegraded = 0;         // a member failed, no redundancy left
inline constexpr uint8_t kFaultRebuilding = 1;       // a member is being rebuilt
inline constexpr uint8_t kFaultInvalid = 2;          // more members failed than the level survives
inline constexpr uint8_t kFaultTolerant = 3;         // redundant and initialised
inline constexpr uint8_t kFaultUninitialized = 254;  // redundant level, not (yet) initialised
inline constexpr uint8_t kFaultNone = 255;           // RAID 0 in order, or an unused slot
// Member status (record bytes 160-175): 0 is the only good value.
inline constexpr uint8_t kMemberGood = 0, kMemberFailed = 1, kMemberRebuilding = 2, kMemberMissing = 3;
// Running job of an array (record byte 6, job buffer byte 2).
inline constexpr uint8_t kJobNone = 0, kJobInit = 1, kJobRebuild = 2, kJobParity = 3, kJobExpansion = 4;
// Cache flag bits (create block byte 178, record byte 178, 0x9C byte 4).
inline constexpr uint8_t kCacheWriteBack = 0x01, kCacheMirror = 0x02, kCacheUps = 0x04, kCacheBattery = 0x08,
                         kCacheFaultTolerant2 = 0x10, kCacheFlushEnabled = 0x20;

struct ArrayRecord {
  uint8_t valid;                      // 0: kOn in use, 0 free slot
  uint8_t raidLevel;                  // 1: kRaid...
  uint8_t driveCount;                 // 2: members
  uint8_t arrayNumber;                // 3
  uint16_t chunkSizeKb;               // 4: 64, 128 or 256
  uint8_t jobKind;                    // 6: kJob... running on the array
  uint8_t reserved7;                  // 7
  uint32_t capacityGb;                // 8: usable capacity (GiB)
  uint32_t memberCapacityGb;          // 12: space used on each member (GiB)
  uint32_t freeGb;                    // 16: capacity not given to logical drives
  uint32_t createdTime;               // 20: seconds since 1970
  uint8_t reserved24[8];              // 24
  uint8_t memberWwn[kMaxMembers][8];  // 32: member drives in member order
  uint8_t memberStatus[kMaxMembers];  // 160: kMember...
  uint8_t parityDrives;               // 176: RAID 6: 2; RAID 50: number of RAID 5 groups; else 0
  uint8_t faultStatus;                // 177: kFault...
  uint8_t cacheFlags;                 // 178: kCache... bits
  uint8_t cacheFlush;                 // 179: seconds between cache flushes
  uint16_t readAheadKb;               // 180: 0 auto, kReadAheadDisabled
  uint16_t writeBackMb;               // 182: 0 disabled, kWriteBackMaximum
  uint8_t initialized;                // 184: kOn once an initialisation completed
  uint8_t reserved185;                // 185
  uint8_t unusedPercent;              // 186: space held back on each member
  char name[32];                      // 187
  uint8_t reserved219[21];            // 219
};
static_assert(sizeof(ArrayRecord) == 240);
static_assert(offsetof(ArrayRecord, memberWwn) == 32);
static_assert(offsetof(ArrayRecord, memberStatus) == 160);
static_assert(offsetof(ArrayRecord, faultStatus) == 177);
static_assert(offsetof(ArrayRecord, name) == 187);

// Availability byte of a logical drive: bit 0 C0P0, bit 1 C0P1, bit 2 C1P0, bit 3 C1P1.
inline constexpr uint8_t kAvailabilityInternal = 0x80;  // internal drive (snapshot area)
// Logical drive state (record byte 1), from its arrays.
inline constexpr uint8_t kDriveOnline = 0, kDriveDegraded = 1, kDriveOffline = 2, kDriveInitializing = 3;

// One piece of a logical drive on one array.
struct Segment {
  uint8_t array;         // 0
  uint8_t reserved1[3];  // 1
  uint32_t startGb;      // 4: offset inside the array
  uint32_t sizeGb;       // 8
};
static_assert(sizeof(Segment) == 12);

struct LogicalDriveRecord {
  uint8_t valid;                   // 0: kOn in use, 0 free slot
  uint8_t state;                   // 1: kDrive...
  uint16_t number;                 // 2: logical drive number
  uint8_t availability;            // 4: port bits, kAvailabilityInternal
  uint8_t reserved5;               // 5
  uint16_t hostLun;                // 6: host LUN number 0-511, kLunNone
  uint16_t blockSizeCode;          // 8: 0 = 512 bytes, otherwise the block size in bytes
  uint16_t segmentCount;           // 10
  uint32_t sizeGb;                 // 12: sum of the segments
  char name[32];                   // 16
  Segment segments[kMaxSegments];  // 48
  uint8_t reserved432[122];        // 432
  uint16_t referenceNumber;        // 554: unique per creation; a reused number gets a new one
  uint32_t createdTime;            // 556: seconds since 1970
  uint8_t reserved560[16];         // 560
};
static_assert(sizeof(LogicalDriveRecord) == 576);
static_assert(offsetof(LogicalDriveRecord, hostLun) == 6);
static_assert(offsetof(LogicalDriveRecord, referenceNumber) == 554);

inline constexpr uint8_t kSpareGlobal = 254;  // spare array number: serves every array (0xFF too)

struct SpareRecord {
  uint8_t wwn[8];       // 0: the drive
  uint8_t array;        // 8: array served (0-63), kSpareGlobal
  uint8_t valid;        // 9: kOn in use
  uint8_t reserved[6];  // 10
};
static_assert(sizeof(SpareRecord) == 16);

// LUN mapping: which host (by its port WWN) sees which logical drive under which LUN.
inline constexpr uint8_t kMappingReadWrite = 0, kMappingReadOnly = 1;
struct MappingEntry {
  uint8_t hostWwpn[8];    // 0
  uint8_t hostWwnn[8];    // 8
  uint16_t logicalDrive;  // 16
  uint16_t lun;           // 18: 0-511
  uint8_t portMask;       // 20: availability bits 0-3
  uint8_t permission;     // 21: kMapping...
  uint8_t valid;          // 22: kOn
  uint8_t reserved23;     // 23
};
static_assert(sizeof(MappingEntry) == 24);
inline constexpr int kMaxMappings = 66;
struct MappingTable {                  // 0x92 block, newer layout; also the form kept in the configuration
  uint16_t count;                      // 0: valid entries, at the front
  uint16_t layout;                     // 2: 2
  MappingEntry entries[kMaxMappings];  // 4
};
static_assert(sizeof(MappingTable) == 1588);

struct MappingEntryOld {
  uint8_t hostWwpn[8];    // 0
  uint16_t logicalDrive;  // 8
  uint16_t lun;           // 10
  uint8_t portMask;       // 12
  uint8_t permission;     // 13
  uint8_t valid;          // 14
  uint8_t reserved15;     // 15
};
static_assert(sizeof(MappingEntryOld) == 16);
struct MappingTableOld {        // 0x92 block, older layout (converted on arrival; node WWN left 0)
  uint16_t count;               // 0
  uint16_t layout;              // 2: 1
  MappingEntryOld entries[67];  // 4
};
static_assert(sizeof(MappingTableOld) == 1076);

// The whole configuration block: what 0x01 returns and 0x83 restores.
struct ConfigurationBlock {
  ConfigurationHeader header;                           // 0 (length word = 940032)
  ArrayRecord arrays[kMaxArrays];                       // 512: record of array n at 512 + 240 n
  LogicalDriveRecord logicalDrives[kMaxLogicalDrives];  // 15872: drive n at 15872 + 576 n
  SpareRecord spares[kMaxSpares];                       // 310784: spare number n
  MappingTable mapping;                                 // 311296
  uint8_t reserved[kConfigurationLength - 312884];      // 312884
};
static_assert(sizeof(ConfigurationBlock) == kConfigurationLength);
static_assert(offsetof(ConfigurationBlock, arrays) == 512);
static_assert(offsetof(ConfigurationBlock, logicalDrives) == 15872);
static_assert(offsetof(ConfigurationBlock, logicalDrives) + offsetof(LogicalDriveRecord, hostLun) == 15878);

// ---- Drive list (READ BUFFER mode 2, 0x41) ----

inline constexpr int kMaxDrives = 126;
inline constexpr uint8_t kNotOnLoop = 0xFF;
// Drive usage (entry byte 8).
inline constexpr uint8_t kUsageFree = 0, kUsageMember = 1, kUsageGlobalSpare = 2, kUsageDedicatedSpare = 3;
// Drive status (entry byte 11): 0 is the only good value.
inline constexpr uint8_t kDriveGood = 0, kDriveFailed = 1, kDriveBypassed = 2, kDriveRebuilding = 3;
// Entry flags (byte 7).
inline constexpr uint8_t kDriveFlagPredicted = 0x01, kDriveFlagFirmwareSelected = 0x02,
                         kDriveFlagIdentify = 0x04;

struct DriveListEntry {
  uint8_t loop1Id;         // 0: ID on drive loop 1, kNotOnLoop
  uint8_t loop2Id;         // 1: ID on drive loop 2, kNotOnLoop
  uint8_t driveId;         // 2: the ID of 0xC2 (with the loop), 0xD0 and 0xD1
  uint8_t enclosure;       // 3: enclosure number, 0xFE none
  uint8_t slot;            // 4: slot in the enclosure
  uint8_t hotSpareNumber;  // 5: number in the spare table, 0xFF none
  uint8_t interfaceType;   // 6: drive interface type
  uint8_t flags;           // 7: kDriveFlag...
  uint8_t usage;           // 8: kUsage...
  uint8_t array;           // 9: array of a member or a dedicated spare, 0xFF none
  uint8_t member;          // 10: member index, 0xFF none
  uint8_t status;          // 11: kDrive...
  uint8_t wwn[8];          // 12
  uint64_t blocks;         // 20: capacity in blocks
  uint16_t blockSize;      // 28
  uint16_t reserved30;     // 30
  char vendor[8];          // 32: blank-padded
  char product[16];        // 40: blank-padded
  char revision[4];        // 56: blank-padded
  char serial[12];         // 60: blank-padded
};
static_assert(sizeof(DriveListEntry) == 72);

struct DriveList {
  uint32_t length;                     // 0: 9080
  uint8_t count;                       // 4: entries in use
  uint8_t reserved5[3];                // 5
  DriveListEntry entries[kMaxDrives];  // 8
};
static_assert(sizeof(DriveList) == 9080);
static_assert(offsetof(DriveList, entries) == 8);

// ---- Region information (READ BUFFER mode 1, 0x20) ----
// Regions in array order, by start. A region index of 0x91/0xA5 counts the free regions only, in
// this order; the free index of each free entry says which it is.

inline constexpr int kMaxRegions = 902;
inline constexpr uint8_t kRegionFree = 0, kRegionUsed = 1;
struct RegionEntry {
  uint8_t array;          // 0
  uint8_t kind;           // 1: kRegionFree, kRegionUsed
  uint16_t freeIndex;     // 2: region index of a free region, 0xFFFF for a used one
  uint16_t logicalDrive;  // 4: owner of a used region, 0xFFFF for a free one
  uint16_t reserved6;     // 6
  uint32_t startGb;       // 8
  uint32_t sizeGb;        // 12
  uint8_t reserved16[8];  // 16
};
static_assert(sizeof(RegionEntry) == 24);
struct RegionInformation {
  uint32_t length;                   // 0: 21656
  uint16_t count;                    // 4: entries
  uint16_t freeCount;                // 6: free regions among them
  RegionEntry entries[kMaxRegions];  // 8
};
static_assert(sizeof(RegionInformation) == 21656);

// ---- Host topology (READ BUFFER mode 2, 0x42) ----

inline constexpr uint8_t kTopologyHostPort = 1, kTopologyInitiator = 2;
struct HostTopologyEntry {
  uint8_t kind;            // 0: kTopologyHostPort (a controller port) or kTopologyInitiator (a host HBA)
  uint8_t controller;      // 1: 0 A, 1 B (the port that sees an initiator)
  uint8_t port;            // 2: 0 or 1
  uint8_t state;           // 3: kOn up, kOff failed
  uint8_t loopId;          // 4: 255 none
  uint8_t dataRate;        // 5: Gb/s
  uint8_t topology;        // 6: 1 point-to-point, 2 loop
  uint8_t reserved7;       // 7
  uint8_t wwpn[8];         // 8
  uint8_t wwnn[8];         // 16
  uint8_t reserved24[24];  // 24
};
static_assert(sizeof(HostTopologyEntry) == 48);
struct HostTopology {
  uint32_t length;                 // 0: 12296
  uint16_t count;                  // 4
  uint16_t reserved6;              // 6
  HostTopologyEntry entries[256];  // 8
};
static_assert(sizeof(HostTopology) == 12296);

// ---- Job progress (READ BUFFER mode 1, 0x57, 256 bytes; no length word) ----

struct JobRecord {
  uint8_t valid;    // 0: kOn while a job runs on the array
  uint8_t percent;  // 1
  uint8_t kind;     // 2: kJob...
  uint8_t flags;    // 3: bit 0 paused
};
struct JobProgress {
  JobRecord arrays[kMaxArrays];  // array n at 4 n
};
static_assert(sizeof(JobProgress) == 256);

// ---- Statistics (READ BUFFER mode 1, 0x44 controller A / 0x45 B, 288 bytes) ----
// CDB byte 3 = port selector (kPort0, kPort1, kPortBoth), bytes 4-5 = logical drive or
// kAllLogicalDrives. Record 0 counts reads, record 1 writes.

struct StatisticsRecord {
  uint64_t commands;             // 0
  uint64_t blocks;               // 8
  uint64_t latencyTotalUs;       // 16
  uint32_t latencyMaxUs;         // 24
  uint32_t reserved28;           // 28
  uint8_t sizeDistribution[33];  // 32: percent of commands by size, 2^i blocks (last: larger)
  uint8_t reserved65[3];         // 65
};
static_assert(sizeof(StatisticsRecord) == 68);
struct StatisticsBuffer {
  uint32_t length;              // 0: 288
  uint8_t controller;           // 4: 0 A, 1 B
  uint8_t portSelector;         // 5
  uint16_t logicalDrive;        // 6
  StatisticsRecord records[2];  // 8: reads, 76: writes
  uint8_t alignment[12];        // 144: percent of commands by start alignment (4 KB steps)
  uint8_t cacheHitPercent;      // 156
  uint8_t reserved157;          // 157
  uint8_t queueDepth[30];       // 158: percent of time at queue depth i
  uint8_t reserved188[100];     // 188
};
static_assert(sizeof(StatisticsBuffer) == 288);
static_assert(offsetof(StatisticsBuffer, records) + sizeof(StatisticsRecord) == 76);

#pragma pack(pop)

// ---- SES pass-through (0xF0 read, 0xF2 send) ----
// CDB byte 3 = (loop << 7) | (SES device ID & 0x7F); 0xF0: byte 4 = 0x1C, byte 5 = 1, byte 6 = page
// code, bytes 7-8 = allocation length (big-endian; 0 = the transfer length); 0xF2: as noted above.
inline constexpr uint8_t kSesReceiveByte4 = 0x1C, kSesReceiveByte5 = 0x01;
inline constexpr uint8_t kSesSendByte4 = 0x1D, kSesSendByte5 = 0x10;
inline constexpr uint8_t sesAddress(int loop, int deviceId) {
  return static_cast<uint8_t>((loop << 7) | (deviceId & 0x7F));
}

}  // namespace brivo

#include "modules/brivo/protocol_blocks.h"
#include "modules/brivo/protocol_events.h"
#include "modules/brivo/protocol_sensors.h"
#include "modules/brivo/protocol_snapshots.h"
