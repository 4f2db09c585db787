// The words the event log uses for an enclosure and its SES elements, shared by the decoder of the
// controller's enclosure events (codes 0x6B-0x6E) and by the pages that show the same enclosure,
// so that a page, the log and the e-mail name a power supply, fan, sensor or alarm identically.
//
//   enclosure  "SESEnclosureNameWithNumber" of db/strings.db filled with the controller's
//              enclosure number plus 1 and the WWN ("Enclosure 1 (500A0B8000112233)"), or
//              "SESEnclosureName" with the WWN when the number is unknown;
//   element    "SESGenericMessage" filled with the text of "SESElement%.2X" (type), the element
//              index plus 1 and the status text ("Power supply 1: Critical"), then the detail of
//              fans (speed) and temperature sensors (reading, warning or failure).
//
// Thread safety: pure functions over the caller's texts.
#pragma once

#include <cstdint>
#include <string>

#include "modules/brivo/events/event_host.h"

namespace brivo::events {

// The enclosure number that stands for "not known".
inline constexpr int kNoEnclosureNumber = 254;

// SES element types with words in the string table.
inline constexpr uint8_t kSesElementPowerSupply = 0x02;
inline constexpr uint8_t kSesElementCooling = 0x03;
inline constexpr uint8_t kSesElementTemperature = 0x04;
inline constexpr uint8_t kSesElementAlarm = 0x06;

// The source name of the enclosure's events. *complete turns false when a text is missing (the
// built-in fallback is used then). REQUIRES: wwn holds 8 bytes.
std::string enclosureSourceName(const EventTexts& texts, int number, const uint8_t* wwn, bool* complete);

// The text of one element (type, index from 0) with its four SES status bytes. The audible alarm
// is worded by its state ("SESAlarm..."), every other element by its status code.
std::string enclosureElementText(const EventTexts& texts, uint8_t type, int index, const uint8_t status[4],
                                 bool* complete);

// The element's name alone: the text of "SESElement%.2X" and the index plus 1 ("Temperature
// sensor 2").
std::string enclosureElementName(const EventTexts& texts, uint8_t type, int index);

// The status words alone: "SESStatus%.2X" of the element's code, or the alarm's state.
std::string enclosureElementStatusText(const EventTexts& texts, uint8_t type, const uint8_t status[4],
                                       bool* complete);

// The alarm's state name ("OnIntermittent", "OnRemind", "OffMuted", "OnContinuous", "On", "Off")
// from its status byte 3.
const char* alarmStateName(uint8_t byte3);

}  // namespace brivo::events
