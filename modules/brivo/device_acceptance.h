// Taking devices: acceptDeviceList walks the server's device list and hangs one Brivo item, with
// its BrivoDeviceState, on every device through which it reaches a controller pair.
//
// A device is taken when it is a valid record with a device path, carries no Brivo item yet, its
// INQUIRY vendor and product are accepted by BrivoSettings.ini ("vendor" + the 8 vendor bytes and
// "product" + the 16 product bytes, each with the value "TRUE"; the file's reader trims keys, so
// the identification is compared without its trailing blanks), its peripheral type is 0 (direct
// access) or 3 (processor). New items are UNCLAIMED with device status 0, appended at the end of
// the device's items. A device whose controller information cannot be read is taken as
// "BrivoNotRead" (device_state.h), which the monitor identifies again.
//
// Thread safety: called on the server's main thread (scan); the monitor may already be running
// from an earlier call, and finds new items only once they are fully built and linked.
#pragma once

#include <cstdint>

#include "common/device_list.h"

namespace brivo {

// 0, or 1 when memory ran out (items already appended stay).
int acceptDevices(DeviceRecord* list);

// True when BrivoSettings.ini accepts the INQUIRY identification of info.
bool isAcceptedIdentity(const DeviceInfo& info);

// Pause between taking the devices and the first status computation (2 s; tests shorten it).
void setAcceptSettleTimeForTesting(int milliseconds);

}  // namespace brivo
