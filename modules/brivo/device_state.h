// Per-path state of a Brivo controller pair: the BrivoDeviceState that the module hangs, through
// the module-specific pointer of a ModDeviceItem, on every device through which it reaches a
// pair. Several paths to one pair each carry an item of the same name with a state of its own.
//
// The state is a plain struct allocated with calloc, as the server frees a unit's module state
// with free() when it frees a device list the module has not cleaned up. Everything a state owns
// besides itself (the cached enclosure pages) is freed by freeDeviceState, which the module calls
// at its shutdown.
//
// Thread safety: the monitor thread and request threads read and write a state concurrently;
// the fields that both sides change (failure count, valid flags, bookmarks) are accessed through
// the atomic helpers below. Enclosure slots belong to the monitor's pass (under the admission
// gate as a reader) and to pages that read them under the same gate, both under enclosureLock().
#pragma once

#include <atomic>
#include <cstdint>

#include "common/device_list.h"
#include "common/thread_annotations.h"

namespace brivo {

namespace monitor {
// The lock of every state's enclosure slots (enclosure_watch.h).
Mutex& enclosureLock();
}  // namespace monitor

inline constexpr int kEnclosureSlots = 16;
inline constexpr char kBrivoNamePrefix[] = "Brivo";
inline constexpr size_t kBrivoNamePrefixLength = 5;

// One cached SES enclosure: the three pages the monitor compares cycle by cycle.
struct BrivoEnclosureSlot {
  uint8_t address;      // pass-through address byte: (loop << 7) | SES device ID
  uint8_t* configPage;  // page 1, malloc'ed (element types and counts)
  uint32_t configLength;
  uint8_t* statusPage;  // page 2, malloc'ed
  uint32_t statusLength;
  uint8_t* stringPage;  // page 4, malloc'ed
  uint32_t stringLength;
};

struct BrivoDeviceState {
  int32_t controllerAValid;  // 1 when controller A answers (initially 1)
  int32_t controllerBValid;  // 1 when controller B answers (initially 0)
  int32_t lastAEventIndex;   // sequence index of the last handled A-side event; -1 none
  int32_t lastBEventIndex;
  uint32_t lastAEventTime;  // seconds since 1970 of the last handled A-side event
  uint32_t lastBEventTime;
  int32_t replayingA;  // set while start-up events of that side are replayed
  int32_t replayingB;
  uint8_t controllerInfo;    // family byte of the controller record (bit 7: newer family)
  uint8_t controllerType;    // controller type code (controller_identity.h)
  uint8_t interfaceWord[4];  // controller record bytes 214-217
  // Owned; null = empty slot.
  BrivoEnclosureSlot* enclosures[kEnclosureSlots] GUARDED_BY(monitor::enclosureLock());
  int32_t enclosureRefresh;                         // 1: re-discover the enclosures (initially 1)
  int32_t lastModStatus;                            // module status seen last by the monitor (claim changes)
  uint32_t lastSolutionStatus;                      // status of the pair's solution at the last update
  int32_t failureCount;                             // consecutive failed commands through this path
  int32_t enclosureSupport;                         // 1 while the controller logs SES events (header byte 210)
  uint32_t enclosureChanges;                        // enclosure changes the monitor has seen (pages reload)
  uint32_t bookmarkSerial;  // module-wide order of the last event read through this state; 0 none
};

// New state with the initial values (A valid, bookmarks -1, enclosure refresh), or null when
// memory runs out. Free with freeDeviceState.
BrivoDeviceState* newDeviceState();
// Sets the initial values again, keeping the failure count and the last seen module status (they
// belong to the path, not to what was read from the controller). Frees the cached enclosures.
void resetDeviceState(BrivoDeviceState* state);
// Frees every enclosure slot with its pages.
void freeEnclosureSlots(BrivoDeviceState* state);
// Frees the cached enclosures and the state itself. Null is allowed.
void freeDeviceState(BrivoDeviceState* state);

// The name of an item whose pair could not be identified yet is "Brivo" followed by this suffix.
// The monitor identifies it again every cycle; until then it stands for no pair, and the lists of
// pairs (pages, qcli, metrics, the global status) leave it out.
inline constexpr char kNotReadSuffix[] = "NotRead";

// True for an item of this module (name beginning "Brivo").
bool isBrivoItem(const ModDeviceItem* item);
// True for a Brivo item whose pair has not been identified ("BrivoNotRead").
bool isUnreadItem(const ModDeviceItem* item);
// True for a Brivo item that names an identified pair.
bool isPairItem(const ModDeviceItem* item);
// First Brivo item of a device, or null.
ModDeviceItem* findBrivoItem(const DeviceRecord* device);
// The state hanging on a Brivo item (null when none). Safe against a concurrent path swap.
BrivoDeviceState* stateOf(const ModDeviceItem* item);
void setStateOf(ModDeviceItem* item, BrivoDeviceState* state);

// The next value for bookmarkSerial: every event read through a state takes a higher one, so
// that among several states of one pair the one read last (whose bookmarks are current) is known.
uint32_t nextBookmarkSerial();

// Atomic access to the fields shared between the monitor and request threads.
inline int32_t loadField(const int32_t& field) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(field)).load(std::memory_order_relaxed);
}
inline void storeField(int32_t& field, int32_t value) {
  std::atomic_ref<int32_t>(field).store(value, std::memory_order_relaxed);
}
inline uint32_t loadField(const uint32_t& field) {
  return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(field)).load(std::memory_order_relaxed);
}
inline void storeField(uint32_t& field, uint32_t value) {
  std::atomic_ref<uint32_t>(field).store(value, std::memory_order_relaxed);
}

}  // namespace brivo
