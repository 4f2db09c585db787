// The enclosure watch of the monitor's per-pair pass: keeps the SES pages of each enclosure a
// pair reaches (page 1 configuration, page 2 status, page 4 strings, fetched through the
// controller with READ BUFFER 0xF0) in the pair's sixteen BrivoEnclosureSlots, compares them cycle
// by cycle and counts the changes that pages must show. It records no events for element changes
// (the controller logs those itself, codes 0x6B-0x6E); it reports an enclosure that disappeared
// with the text of "SESEnclosureMissing".
//
// While the pair's enclosure-refresh flag is set, the watch first reads the configuration header
// (mode 1, 0x03): enclosure support is on when its byte 210 is 0xF1. On, the enclosures are
// discovered again from the controller information (0x40, up to sixteen entries with their SES
// addresses); off, or when the header cannot be read, the cached pages are dropped (a failed read
// keeps the flag set for the next pass). A status page that cannot be fetched sets the flag.
//
// Thread safety: the slots of every pair are guarded by enclosureLock(). The watch runs in the
// monitor's pass (admission gate held as a reader); anyone else reads the pages through
// enclosureSnapshot. The support flag and change count are atomics of the state.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "common/device_list.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/monitor/solution_status.h"

namespace brivo::monitor {

// Event ID of "SESEnclosureMissing" (severity 2).
inline constexpr uint32_t kEventIdEnclosureMissing = 0xA02;
// Bytes asked for each SES page.
inline constexpr uint32_t kSesPageAllocation = 4096;

// Copies of the pages cached for a pair, slot by slot (empty when none or state is null).
std::vector<EnclosurePages> enclosureSnapshot(const BrivoDeviceState* state);
// Whether the controller logs SES events (as last read), and the number of enclosure changes seen.
bool enclosureSupportOn(const BrivoDeviceState* state);
uint32_t enclosureChangeCount(const BrivoDeviceState* state);

// One SES page of the enclosure at address (READ BUFFER mode 1, 0xF0; byte 3 address, byte 4
// 0x1C, byte 5 1, byte 6 page code, bytes 7-8 allocation). The result is noted for failure
// counting; on success *page holds the page as long as its header says.
int readSesPage(DeviceRecord* device, const BrivoDeviceState* state, uint8_t address, uint8_t pageCode,
                std::vector<uint8_t>* page);

// The watch for one pass over the pair reached through device (item names it). True when the
// enclosures changed (pages differ, an enclosure came or went, support was switched). Skipped
// while the monitor-cycle-complete flag is set (outside a monitor cycle).
bool watchEnclosures(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state);

}  // namespace brivo::monitor
