// Windows back end of the SCSI layer: the SCSI port interface.
//
// Adapters are the ports "\\.\SCSI<n>:" for n = 0..24 that open; they are numbered from 0 in the
// order of n (so the first adapter that opens is port 0, as the Linux back end numbers its
// hosts). A bus table comes from IOCTL_SCSI_GET_INQUIRY_DATA (SCSI_ADAPTER_BUS_INFO with its
// chained SCSI_INQUIRY_DATA entries). Device names come from QueryDosDevice: every
// "\\.\PHYSICALDRIVE<n>", "\\.\SCSI<n>:" and "\\.\SCANNER<n>" without a '#', upper case; the
// "\\.\SCSI<n>:" names are adapter names. Addresses come from IOCTL_SCSI_GET_ADDRESS, transfer
// limits from IOCTL_SCSI_GET_CAPABILITIES (MaximumPhysicalPages), commands go out as one
// IOCTL_SCSI_PASS_THROUGH_DIRECT each, on a handle opened for that command alone.
//
// The system calls go through WinScsiOps so that the tests can fake the driver's answers and
// check the requests built for it.
//
// Thread safety: the adapter numbering is guarded by a lock; execute may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/scsi/scsi_transport.h"

struct WinScsiOps {
  // CreateFileA with read and write access, shared read and write, open existing. Returns an
  // opaque handle, or null when the name does not open. Default: the system call.
  std::function<void*(const std::string& path)> open;
  // DeviceIoControl. False when the call fails; *error then holds the system's error number.
  std::function<bool(void* handle, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* returned, uint32_t* error)>
      ioctl;
  std::function<void(void* handle)> close;
  // QueryDosDevice with no name: every device name of the system, each NUL-terminated.
  std::function<std::string()> listDosDevices;
};

std::unique_ptr<ScsiTransport> makeWinScsiTransport(WinScsiOps ops);

// Reads a SCSI_ADAPTER_BUS_INFO block of `size` bytes into entries (bus by bus, each bus's
// inquiry chain in order). Entries whose offsets or lengths point outside the block end the
// walk of that bus. False when the block is too short for its bus count.
bool parseAdapterBusInfo(const uint8_t* block, size_t size, std::vector<ScsiBusEntry>* entries);

// The filtered, upper-cased "\\.\" names of a QueryDosDevice list (NUL-separated names).
std::vector<std::string> scsiNamesFromDosDevices(const std::string& list);
