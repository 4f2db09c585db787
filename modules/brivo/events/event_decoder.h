// Turns one controller event entry into what the server records: the message text (from the
// module's event string table, filled with the entry's reason bytes), the severity (from the
// severity table), the event ID and, for enclosure element events, the enclosure's name as the
// source. Used by the event reader (monitoring and start-up replay) and by the CSV export.
//
// Thread safety: decodeEvent may run on several threads at once as long as the EventTexts and
// the arrayName callback allow it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "modules/brivo/events/event_host.h"
#include "modules/brivo/protocol.h"

namespace brivo::events {

struct DecodeOptions {
  uint8_t driveInterface = 0;  // the pair's interface word byte 0
  uint8_t hostInterface = 0;   // the pair's host interface type
  bool exporting = false;      // the CSV export: array names are not read from the controller
  // Name of an array as the controller keeps it; nothing when it cannot be read. May be empty.
  std::function<std::optional<std::string>(uint8_t array)> arrayName;
};

struct DecodedEvent {
  std::string text;
  std::string source;         // enclosure element events: the enclosure; empty = the controller
  uint32_t severity = 2;      // 0 information, 1 warning, 2 error
  bool severityFound = true;  // false: severity 2 because missingKey is absent from the table
  std::string missingKey;     // the severity key that was not found
  uint32_t eventId = 0;       // 0xB00 + code, or 0xC00 + code for enclosure element events
  bool complete = true;       // every text key was found and every format filled as written
};

DecodedEvent decodeEvent(const EventTexts& texts, const DecodeOptions& options, const EventEntry& entry);

// Enclosure element events (codes 0x6B-0x6E); decodeEvent hands them here.
DecodedEvent decodeEnclosureEvent(const EventTexts& texts, const EventEntry& entry);

// A severity value in C notation (decimal, 0x-hex or leading-0 octal), nothing when it is not one.
std::optional<uint32_t> parseSeverity(const std::string& text);

// Source name of a controller's events: "ControllerLogName" of the module settings (default
// "Brivo %s (%s)") filled with the pair name after its five-letter prefix and "0" for controller A
// or "1" for B.
std::string controllerSource(const EventTexts& texts, std::string_view pairName, int side);

// "%.2X" x 8: 16 upper-case hexadecimal digits.
std::string wwnText(const uint8_t* bytes);

}  // namespace brivo::events
