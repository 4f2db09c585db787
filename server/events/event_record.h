// EventRecord: one event on its way from whoever raised it to the notification channels. Plain C
// layout because modules build and hand records across the module boundary.
//
// Ownership: a record and its two texts are malloc'ed; whoever holds a record frees it with
// freeEventRecord (each channel gets its own copy).
#pragma once

#include <cstdint>

extern "C" {

struct EventRecord {
  char* message;          // owned
  char* device;           // owned
  uint32_t concernLevel;  // 0 information, 1 warning, 2 error, 4 information passing every filter
  uint32_t eventTime;     // seconds since 1970 when it happened
  uint32_t raiseTime;     // seconds since 1970 when it was raised to the server
  uint32_t eventId;       // 0 = none
  uint8_t syncFlag;       // re-read from a device's own history
};

}  // extern "C"

// New record with copies of the texts, or null when memory runs out. Caller frees.
EventRecord* copyEventRecord(const EventRecord* source);
// Frees the record and both texts; null is ignored.
void freeEventRecord(EventRecord* record);
