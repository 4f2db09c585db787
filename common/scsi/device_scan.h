// The SCSI device scan: asks every adapter of a ScsiTransport for its devices, keeps one
// DeviceRecord per device (common/device_list.h), names each record with the path through which
// commands reach it and reads the adapter's transfer limit. Also the scan flag and the list's
// destruction.
//
// Naming: the transport lists the system's names in its own order; a per-device name goes to the
// first unnamed record at its address, an adapter name to every unnamed, unclaimed record of its
// port. See common/scsi/README.md for the names each back end gives.
//
// Diagnostic lines (the "ADDING DEVICE" line, the record blocks, the transfer-size messages) go
// through a ScanPrinter; the default prints them with debugPrint code kScanDebugCode.
//
// Thread safety: one scan at a time (beginDeviceScan); the scan takes no lock. destroyDeviceList
// must not run while anyone still reads the list.
#pragma once

#include <cstdint>

#include "common/device_list.h"
#include "common/scsi/scsi_transport.h"

// scsi subsystem, Server module, level 1.
inline constexpr uint32_t kScanDebugCode = 0x80011;

typedef void (*ScanPrinter)(void* context, const char* text);

struct ScanOutput {
  ScanPrinter print = nullptr;  // null: debugPrint(kScanDebugCode, ...)
  void* context = nullptr;
};

// Scans into *head (in and out): new records are appended at its tail, so a null *head becomes
// the new list. A record equal to one already listed (same initiator bus ID, port, target, LUN
// and claimed flag; the path ID is not compared) is dropped. Returns the number of records added.
// REQUIRES: head != null.
int scanScsiDevices(ScsiTransport& transport, bool rescanBuses, DeviceRecord** head,
                    const ScanOutput* output = nullptr);

// The scan flag (isScanningSystem): true from a successful beginDeviceScan until endDeviceScan,
// that is while a scan and the hand-over to the modules run.
bool isScanningSystem();
// Sets the flag unless it is already set. False means another scan runs: return at once.
bool beginDeviceScan();
void endDeviceScan();

// Holds the scan flag for a scope.
class DeviceScanGuard {
 public:
  DeviceScanGuard() : owns_(beginDeviceScan()) {}
  ~DeviceScanGuard() {
    if (owns_) endDeviceScan();
  }
  DeviceScanGuard(const DeviceScanGuard&) = delete;
  DeviceScanGuard& operator=(const DeviceScanGuard&) = delete;
  bool owns() const { return owns_; }

 private:
  bool owns_;
};

// Frees every record: its information block, then each unit's module state and the unit, then
// the record. Everything is released with free(). Null is allowed.
void destroyDeviceList(DeviceRecord* head);
// destroyDeviceList with the function that releases each block (free() there), so that tests
// can see what is released without depending on the allocator.
void destroyDeviceListWith(DeviceRecord* head, void (*release)(void* block));

// Prints one record's block (name, address, identity, transfer size) through output.
void printDeviceRecord(const DeviceRecord& record, const ScanOutput* output);
