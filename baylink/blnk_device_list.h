// The device list file: one device per line, first blank-separated token the device name.
// "/tmp/blnkscan" by default ("%TEMP%\blnkscan" on Windows; env BAYLINK_DEVICE_LIST names another
// file). The scan writes it; every later device operation looks its device up in it.
//
// The file is replaced whole: written to a fresh temporary file beside it and renamed over it, so
// a link planted under its name is replaced, never followed. On POSIX it is read only when it is
// a plain file of this user that nobody else may write; on Windows only when it is a plain file
// (no link or junction), in a folder that is the user's own (%TEMP%).
//
// Thread safety: none; callers serialise.
#pragma once

#include <string>
#include <vector>

inline constexpr const char kBlnkDeviceListDefault[] = "/tmp/blnkscan";
inline constexpr size_t kBlnkListLineMax = 255;

std::string blnkDeviceListPath();
// The platform's default (the env variable unset).
std::string blnkDefaultDeviceListPath();
// Lines of the file (each cut to 255 characters). False when it cannot be opened or is not safe
// to trust.
bool blnkReadDeviceList(std::vector<std::string>* lines);
// Replaces the file with the lines. False (with a debug line) when it could not.
bool blnkWriteDeviceList(const std::vector<std::string>& lines);
// Appends lines to an existing list file that passes the same checks as reading.
bool blnkAppendDeviceList(const std::string& path, const std::vector<std::string>& lines);
// First blank-separated token of a line.
std::string blnkFirstToken(const std::string& line);

// The lines joined for the file, each cut to kBlnkListLineMax characters.
std::string blnkJoinListLines(const std::vector<std::string>& lines);

// The host's devices in list order: the native ones (blnkListNativeDevices), then every device
// of the simulators the SCSI layer knows (KESTROVA_SCSI_SIM).
std::vector<std::string> blnkListHostDevices();
// Linux: the SCSI generic nodes, then the "sd" disks of the partition table, one name per line.
// Windows: the scan's lines of the physical drives, then the adapters' unclaimed devices
// (blnk_win_list.h; blnk_scan_win.cc).
std::vector<std::string> blnkListNativeDevices();
