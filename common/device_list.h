// The device list shared between the server and its modules: one DeviceRecord per SCSI device found
// by the scan, each with its 256-byte information block and the chain of ModDeviceItem units that
// modules hang on it.
//
// These are plain C structs because they cross the module boundary: the server and every module
// include this header and read the list in place. Field order and sizes are fixed; do not reorder.
//
// Ownership: the list belongs to the server (built by scanScsiDevices, freed by destroyDeviceList
// in common/scsi/device_scan.h). Modules allocate their units and each unit's module state with
// malloc and link them under a record's units; they may unlink and free their own units at their
// shutdown, and the server frees whatever remains when it destroys the list.
//
// Thread safety: the list is built before modules see it and is not restructured while the server
// runs; a unit's claim fields (modStatus, ownerAddress) are read and written under the
// device-claim lock of the network code.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Claim status of a unit (ModDeviceItem.modStatus).
enum ClaimStatus {
  MINE = 1,       // this server monitors the unit
  NOT_MINE = 2,   // another server (ownerAddress) monitors it
  UNCLAIMED = 4,  // nobody has claimed it yet; modules create units in this state
};

// Value of DeviceRecord.valid for a record made by the scan; modules consider only those.
#define DEVICE_RECORD_VALID 1

#define DEVICE_INFO_SIZE 256
#define DEVICE_NAME_SIZE 150
#define DEVICE_INQUIRY_SIZE 96
#define MOD_DEVICE_NAME_SIZE 152

// Zero-filled at creation.
typedef struct DeviceInfo {
  uint8_t initiatorBusId;  // the adapter's own ID on the device's bus
  uint8_t port;            // adapter number of the scan
  uint8_t pathId;          // bus
  uint8_t targetId;
  uint8_t lun;
  uint8_t claimed;  // nonzero when an operating-system class driver owns the device
  // Path to open for commands, NUL-terminated; empty until the scan names the device. Either a
  // per-device name or, for devices no class driver owns on an adapter that has one, the
  // adapter's own name (commands then carry pathId/targetId/lun). See common/scsi/README.md.
  char deviceName[DEVICE_NAME_SIZE];
  uint32_t maxTransferSize;  // bytes; 0 = the module uses its default
  // First 96 bytes of the standard INQUIRY data as the adapter reported them.
  uint8_t inquiryData[DEVICE_INQUIRY_SIZE];
} DeviceInfo;

typedef struct ModDeviceItem {
  int32_t deviceStatus;  // modules set it to 0
  int32_t modStatus;     // claim status: MINE, NOT_MINE or UNCLAIMED
  // The unit's network-wide identity, NUL-terminated; begins with the module's name.
  char name[MOD_DEVICE_NAME_SIZE];
  void* modState;         // owned by the module; malloc'ed, freed with the unit by the server
  uint32_t ownerAddress;  // IPv4 address of the owner when NOT_MINE (host order)
  struct ModDeviceItem* next;
} ModDeviceItem;

typedef struct DeviceRecord {
  int32_t valid;              // DEVICE_RECORD_VALID
  DeviceInfo* info;           // malloc'ed, owned by the record
  ModDeviceItem* units;       // head of the record's units, initially null
  int32_t handle;             // 0 when the record is created
  struct DeviceRecord* next;  // next record in discovery order
} DeviceRecord;

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(DeviceInfo) == DEVICE_INFO_SIZE, "device information block is 256 bytes");
static_assert(offsetof(DeviceInfo, deviceName) == 6);
static_assert(offsetof(DeviceInfo, maxTransferSize) == 156);
static_assert(offsetof(DeviceInfo, inquiryData) == 160);
#endif
