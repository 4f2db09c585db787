// The library's single open-device slot and its SCSI command function (blnk_scsi.cc), as the
// other parts of the library use them.
//
// Thread safety: none; one device is open at a time per process and callers serialise.
#pragma once

#include <string>

inline constexpr const char kBlnkMegaRaidClosed[] = "closed";

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
