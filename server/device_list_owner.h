// The server's device list: built by the scan at each start of the main loop, handed by pointer
// to every enabled module, freed at shutdown after the modules have shut down.
//
// Thread safety: the list head changes only during start-up (scan) and shutdown (free), while no
// request or module thread walks it; claim fields of the units are guarded by the network's
// device-claim lock.
#pragma once

#include "common/device_list.h"

// Head of the list, or null before the scan / after the free. Borrowed.
DeviceRecord* serverDeviceList();

// Scans every adapter (real ones and the simulators named by "ScsiSimulator" lines of
// db/server.ini or by KESTROVA_SCSI_SIM) into the list, printing the records on the console.
void scanServerDevices(bool rescanBuses);

// Frees the list with every unit hung on it.
void freeServerDeviceList();
