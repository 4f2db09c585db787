// The library's single open-device slot and its SCSI command function (blnk_scsi.cc), as the
// other parts of the library use them.
//
// Thread safety: none; one device is open at a time per process and callers serialise.
#pragma once

#include <string>

inline constexpr const char kBlnkMegaRaidClosed[] = "closed";

// Opens the device a device list line names (its first token), with the line's address fields:
// 1 opened, 0 failed. As SCSI_OpenDevice otherwise.
int blnkOpenListedDevice(const std::string& line);
// Empties the list of WeHaveFoundITLAlready: each scan starts with none found, or a rescan would
// leave out every adapter device the previous scan had listed.
void blnkForgetFoundItl();
// Name of the open MegaRAID device, "closed" when none is open.
const std::string& blnkOpenMegaRaidName();
// Closes the slot when it goes out of scope: every device operation closes what it opened.
class BlnkDeviceCloser {
 public:
  BlnkDeviceCloser() = default;
  ~BlnkDeviceCloser();
  BlnkDeviceCloser(const BlnkDeviceCloser&) = delete;
  BlnkDeviceCloser& operator=(const BlnkDeviceCloser&) = delete;
};
