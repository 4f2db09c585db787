// The lines the Windows scan writes into the device list file, and what SCSI_OpenDevice takes
// back from them, plus the entries of getSysDrives. Every text that comes from a device (vendor,
// product, serial, revision, model) is made one token of letters and digits before it joins a
// line, so that a device cannot add fields or lines to the list or to the drive description.
// Plain logic, built and tested on every platform; the Windows scan fills it from the system.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace blnkwin {

// "\\.\PhysicalDrive<drive> path=<bus> id=<target> lun=<lun> type=<type> <vendor> <product> <size>
// <serial> <revision>" from the standard INQUIRY data (at least 36 bytes) and the capacity in
// bytes; serial 12 and revision 4 characters. Empty when inquiry is null.
std::string physicalDriveLine(int drive, int bus, int target, int lun, const unsigned char* inquiry,
                              uint64_t sizeBytes, std::string_view serial);
// "\\.\SCSI<adapter>:<bus>:<target> path=<bus> id=<target> lun=<lun> type=<type> <vendor> <product>
// 0 ____ ____________" from the INQUIRY data the adapter reports. Empty when inquiry is null.
std::string adapterDeviceLine(int adapter, int bus, int target, int lun, const unsigned char* inquiry);

// The address of a list line: the numbers after "path=", "id=" and "lun=". False when a field is
// missing or not a number from 0 to 255.
struct ListAddress {
  int bus = 0;
  int target = 0;
  int lun = 0;
};
bool parseListAddress(std::string_view line, ListAddress* address);

// What getSysDrives tells about one physical drive.
struct SysDrive {
  std::string handle;  // "\\.\PhysicalDrive<n>"
  std::string name;    // the drive letters on it, e.g. "C:D:"
  std::string vendor, product, serial, firmware;
  int64_t sizeBytes = 0;
  std::string format;  // "MBR", "GPT" or "RAW"
};
// "Handle %s^Name %s^Vendor %s^Product %s^Size %lld^Serial %s^FW %s^Format %s#", each text of the
// drive made one token (no "^" or "#" can come from a device); handle and name are the library's.
std::string sysDriveEntry(const SysDrive& drive);
// A device's text as one token: letters and digits kept, anything else (blanks, NUL, "^", "#")
// "_"; at most width characters (0: any length).
std::string listToken(std::string_view text, size_t width = 0);

}  // namespace blnkwin
