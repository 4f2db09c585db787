// The storelib interface as this library uses it: the one entry ProcessLibCommand, the library
// command packet, and the layouts of the four requests (initialise, controller list, physical
// drive list, SCSI pass-through). Shared with the simulator's storelib substitute
// (sim/storelib/), which answers exactly these.
//
// All multi-byte fields are in the host's byte order. The packet holds the data buffer's address
// as a native pointer at byte 32, so on a 64-bit host it occupies bytes 32-39.
//
// Thread safety: plain layouts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace storelib {

struct LibCommand {
  uint8_t commandClass = 0;  // 0
  uint8_t command = 0;       // 1
  uint8_t reserved1[2] = {};
  uint32_t controllerId = 0;  // 4-7
  uint32_t deviceId = 0;      // 8-11
  uint8_t reserved2[16] = {};
  uint32_t dataSize = 0;  // 28-31
  void* data = nullptr;   // 32-
};
static_assert(offsetof(LibCommand, controllerId) == 4);
static_assert(offsetof(LibCommand, deviceId) == 8);
static_assert(offsetof(LibCommand, dataSize) == 28);
static_assert(offsetof(LibCommand, data) == 32);

using ProcessLibCommandFn = uint32_t (*)(LibCommand* command);
inline constexpr const char kEntryName[] = "ProcessLibCommand";

inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kDeviceNotFound = 12;
inline constexpr uint32_t kInvalidController = 0x800A;
inline constexpr uint32_t kNotInitialized = 0x8001;  // any request before a successful initialise
inline constexpr uint32_t kScsiError = 0x2D;         // the device answered with an error status

// Requests: class, command, buffer size.
inline constexpr uint8_t kClassLibrary = 0;
inline constexpr uint8_t kClassController = 1;
inline constexpr uint8_t kClassPassThrough = 6;
inline constexpr uint8_t kCommandInit = 0;
inline constexpr uint8_t kCommandControllerList = 3;
inline constexpr uint8_t kCommandPhysicalDriveList = 4;
inline constexpr uint32_t kInitBytes = 68;
inline constexpr uint32_t kControllerListBytes = 68;
inline constexpr uint32_t kDriveListBytes = 6152;

// Controller list: u16 count at 0, simulation flag at 2, entries of 4 bytes from 4.
inline constexpr size_t kControllerEntriesOffset = 4;
inline constexpr size_t kMaxControllers = (kControllerListBytes - kControllerEntriesOffset) / 4;
inline constexpr uint8_t kControllerTypeSasItIr = 1;

// Physical drive list: u32 count at 4, 24-byte entries from 8.
struct DriveEntry {
  uint16_t deviceId;
  uint16_t enclosureDeviceId;  // the drive's own ID for an enclosure; 0xFF or 0xFFFF: none
  uint8_t enclosureIndex;
  uint8_t slot;
  uint8_t scsiType;  // 0 disk, 13 enclosure
  uint8_t portMap;
  uint64_t sasAddress[2];
};
static_assert(sizeof(DriveEntry) == 24);
inline constexpr size_t kDriveEntriesOffset = 8;
inline constexpr size_t kMaxDrives = (kDriveListBytes - kDriveEntriesOffset) / sizeof(DriveEntry);

// Pass-through block: 64 bytes of header, then the data.
inline constexpr size_t kPassHeaderBytes = 64;
inline constexpr size_t kPassDeviceId = 0;   // u16
inline constexpr size_t kPassFlag = 2;       // 1
inline constexpr size_t kPassStatus = 3;     // SCSI status, filled by storelib
inline constexpr size_t kPassDirection = 4;  // 2 data in, 1 otherwise
inline constexpr size_t kPassTimeout = 8;    // u16 seconds
inline constexpr size_t kPassCdbLength = 11;
inline constexpr size_t kPassCdb = 12;  // up to 16 bytes
inline constexpr size_t kPassSense = 28;
inline constexpr size_t kPassSenseBytes = 32;
inline constexpr size_t kPassDataLength = 60;  // u32
inline constexpr uint8_t kPassDataIn = 2;
inline constexpr uint8_t kPassOther = 1;

}  // namespace storelib
