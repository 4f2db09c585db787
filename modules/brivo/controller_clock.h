// The host's clock beside the controllers' clocks: the host's local time as a controller time
// block, how far a controller's clock is from it, and the chosen date and time of a web form as
// a time block. qcli's clock object and the controller page share them, so both show and set the
// same thing.
//
// Thread safety: pure functions (the current time and time zone are read from the C library).
#pragma once

#include <string>

#include "modules/brivo/protocol.h"

namespace brivo {

// The host's local time now, weekday included.
EventTime hostClock();

// Seconds the controller's clock runs ahead of the host's (negative: behind); false when the
// clock is not a valid controller time (2001-2135, a real date), read as local time.
bool clockOffsetSeconds(const EventTime& clock, long long* seconds);

// A date "YYYY-MM-DD" and a time "HH:MM" or "HH:MM:SS" (as browsers send date and time fields)
// as a time block of a real date from 2001 to 2135, weekday worked out. False for anything else.
bool parseChosenClock(const char* date, const char* time, EventTime* out);

}  // namespace brivo
