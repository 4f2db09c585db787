// Identifying a controller pair behind a device: read the controller information (READ BUFFER
// mode 2, 0x40), note which controllers are valid, keep the family byte, the interface word and
// the controller type in the pair's state, and name the item "Brivo" followed by the pair's
// configuration WWN in 16 upper-case hexadecimal digits. A pair whose information cannot be read
// is named "BrivoNotRead" (the monitor tries again). After a successful identification the event
// reader's start-up replay runs (module_hooks.h).
//
// Thread safety: called by acceptDeviceList (before the item is visible) and by the monitor's
// pass under the admission gate; the state is then the caller's.
#pragma once

#include <cstdint>
#include <string>

#include "common/device_list.h"
#include "modules/brivo/device_state.h"

namespace brivo {

// Fills item->name and state; returns 0, or the result of the failed read.
[[nodiscard]] int identifyControllerPair(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state);

// Decodes a controller-information buffer (1792 bytes) into state and the pair's name. Returns
// false when the buffer is too short.
bool applyControllerInformation(const uint8_t* info, uint32_t length, BrivoDeviceState* state,
                                std::string* name);

// "Brivo" and the 8 bytes of wwn as 16 upper-case hexadecimal digits.
std::string pairNameFromWwn(const uint8_t wwn[8]);

}  // namespace brivo
