// Choosing the path to a controller pair. A pair seen through several host paths carries one
// Brivo item of the same name on each of those devices; a request names the pair by its
// ModDeviceName and gets back the device through which to reach it.
//
// Choice: among the items of that name (compared without regard to case) that have a state, the
// one with the fewest consecutive failures; on equal counts a processor path (peripheral type 3)
// is preferred to a direct-access path (type 0). Event bookmarks follow the chosen path: when
// another item of the name has a state whose bookmarks are more current (the chosen one has none,
// or its events were read longer ago: bookmarkSerial), the two items exchange their states, each
// keeping its own failure count.
//
// Thread safety: any thread; the exchange of states runs under one module-wide lock, and state
// pointers are published atomically, so a caller holding a state keeps a valid one.
#pragma once

#include "common/device_list.h"

namespace brivo {

// The device for name in list (borrowed, or null), and its item in *item when item is given.
// avoid, when given, is not chosen (the path that has just failed); its state may still move to
// the chosen path with its bookmarks.
DeviceRecord* findControllerPairIn(DeviceRecord* list, const char* name, ModDeviceItem** item = nullptr,
                                   const DeviceRecord* avoid = nullptr);
// The same in the list last handed to acceptDeviceList.
DeviceRecord* findControllerPair(const char* name, ModDeviceItem** item = nullptr,
                                 const DeviceRecord* avoid = nullptr);

// Peripheral device type of a device (low 5 bits of INQUIRY byte 0).
int peripheralType(const DeviceRecord* device);

}  // namespace brivo
