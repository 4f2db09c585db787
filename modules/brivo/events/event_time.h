// Controller time stamps (brivo::EventTime, the controller's local time): the validity rule of
// the event logs, conversion to seconds since 1970 with the host's local-time rules, the texts
// the event code writes, and the ordering key by which the two controllers' logs are merged.
//
// Thread safety: pure functions (the conversion uses mktime, which reads the TZ setting).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "modules/brivo/protocol.h"

namespace brivo::events {

// The controller-time rule (controller_time.h): a real date from 2001 to 2135, hour at most 23,
// minute and second at most 59. The weekday is not checked.
bool isValidEventTime(const EventTime& time);

// Seconds since 1970 of a valid controller time, read as host local time (daylight saving left
// to the library); nothing for an invalid time or one outside the 32-bit range.
std::optional<uint32_t> eventSeconds(const EventTime& time);

// Orders times field by field (year first); equal keys are equal times. Any bytes give a key.
uint64_t timeOrderKey(const EventTime& time);

// "MM/DD/YY" and "HH:MM:SS" as the server's event log writes them; "??" for an invalid time.
std::string eventDateText(const EventTime& time);
std::string eventTimeText(const EventTime& time);

// "%d/%02d/%02d %02d:%02d:%02d" (year first), the form of the export page's controller clocks.
std::string controllerClockText(const EventTime& time);

}  // namespace brivo::events
