// EventRecord: one event on its way from whoever raised it to the notification channels. Plain C
// layout because modules build and hand records across the module boundary.
//
// Ownership: a record and its two texts are malloc'ed; whoever holds a record frees it with
// freeEventRecord (each channel gets its own copy).
#pragma once

#include <cstdint>

#include "common/module_abi.h"  // struct EventRecord

// New record with copies of the texts, or null when memory runs out. Caller frees.
EventRecord* copyEventRecord(const EventRecord* source);
// Frees the record and both texts; null is ignored.
void freeEventRecord(EventRecord* record);
