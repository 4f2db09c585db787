// The platform seam of the SCSI layer: one open device that issues a CDB and reports the raw
// outcome (SCSI status, host and driver status, sense), before the library's retry rule and
// result codes (blnk_scsi.cc) are applied.
//
// Back ends: the host's own (blnkOpenHostDevice): the SCSI generic driver for "/dev/..." names
// (linux/blnk_sg_device.cc), the SCSI port interface for "\\.\PhysicalDriveN" and
// "\\.\SCSIn:b:t" names on Windows (blnk_device_win.cc, through the common SCSI layer); and the
// raidsim simulator for "sim:..." names (blnk_sim_device.cc). MegaRAID names never get a device:
// their commands go through storelib (blnk_storelib.cc).
//
// Thread safety: a device is used by one caller at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

inline constexpr int kBlnkSenseBytes = 32;   // sense buffer of every request
inline constexpr int kBlnkCallerSense = 16;  // sense bytes handed to the caller
inline constexpr uint32_t kBlnkTimeoutMs = 10000;

// Host status values of the SCSI midlayer that the categories look at.
inline constexpr uint16_t kBlnkHostNoConnect = 0x01;
inline constexpr uint16_t kBlnkHostBusBusy = 0x02;
inline constexpr uint16_t kBlnkHostTimeOut = 0x03;
inline constexpr uint16_t kBlnkDriverTimeout = 0x06;
inline constexpr uint16_t kBlnkDriverSense = 0x08;

struct BlnkRawOutcome {
  bool issued = false;  // false: the request never reached the device (ioctl or transport failed)
  uint8_t status = 0;   // SCSI status byte
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  uint8_t sense[kBlnkSenseBytes] = {};
  int senseLength = 0;
};

// direction: 1 data in, 2 data out, 3 none.
class BlnkDevice {
 public:
  virtual ~BlnkDevice() = default;
  virtual BlnkRawOutcome issue(int direction, const uint8_t* cdb, int cdbLength, uint8_t* buffer,
                               int bufferLength) = 0;
};

// Opens a device of the host's own kind. listLine is the device list line that names it (its
// address fields give bus, target and LUN on Windows); empty: the device list file is searched
// for the first line of that name. Null when the name is not the host's or does not open.
std::unique_ptr<BlnkDevice> blnkOpenHostDevice(const std::string& name, const std::string& listLine);
// Opens a "/dev/..." node through the SCSI generic driver. Null (with the reason printed on
// standard output) when it does not open or is not a SCSI generic device.
std::unique_ptr<BlnkDevice> blnkOpenSgDevice(const std::string& name);
// Opens a simulator device "sim:<socket>:<h>:<b>:<t>:<l>". Null for anything else.
std::unique_ptr<BlnkDevice> blnkOpenSimDevice(const std::string& name);
// A device whose commands go to name (and, for an adapter's name, to path, target and LUN)
// through the process's SCSI transport (scsiSystem()).
std::unique_ptr<BlnkDevice> blnkMakeTransportDevice(const std::string& name, uint8_t path, uint8_t target,
                                                    uint8_t lun);
