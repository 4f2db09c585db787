// The device list file: one device per line, first blank-separated token the device name.
// "/tmp/blnkscan" by default (env BAYLINK_DEVICE_LIST names another file). The scan writes it;
// every later device operation looks its device up in it.
//
// The file is replaced whole: written to a fresh temporary file beside it and renamed over it, so
// a link planted under its name is replaced, never followed. It is read only when it is a plain
// file of this user that nobody else may write.
//
// Thread safety: none; callers serialise.
#pragma once

#include <string>
#include <vector>

inline constexpr const char kBlnkDeviceListDefault[] = "/tmp/blnkscan";
inline constexpr size_t kBlnkListLineMax = 255;

std::string blnkDeviceListPath();
// Lines of the file (each cut to 255 characters). False when it cannot be opened or is not safe
// to trust.
bool blnkReadDeviceList(std::vector<std::string>* lines);
// Replaces the file with the lines. False (with a debug line) when it could not.
bool blnkWriteDeviceList(const std::vector<std::string>& lines);
// Appends lines to an existing list file that passes the same checks as reading.
bool blnkAppendDeviceList(const std::string& path, const std::vector<std::string>& lines);
// First blank-separated token of a line.
std::string blnkFirstToken(const std::string& line);

// The host's devices in list order: SCSI generic nodes, then the "sd" disks of the partition
// table, then every device of the simulators the SCSI layer knows (KESTROVA_SCSI_SIM).
std::vector<std::string> blnkListHostDevices();
