// Enclosure element events (codes 0x6B-0x6E): an SES element of an enclosure changed its status.
// Their texts come from the server's string table (db/strings.db), their severities from the
// module's severity table; see event_decoder.h.
//
// Entry layout: r0 element index, r1-r4 the element's four SES status bytes (r1 low 4 bits =
// element status code), r5 enclosure number (254 = none), r6-r13 the enclosure's WWN.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "modules/brivo/events/enclosure_texts.h"
#include "modules/brivo/events/event_decoder.h"
#include "modules/brivo/events/text_format.h"

namespace brivo::events {

namespace {

using Args = std::vector<FormatArg>;

// The monitor's status rule: 254 leaves s alone; 255 turns only an OK (0) into 255; any other r
// replaces s when (s AND 3) is below r.
uint32_t combineStatus(uint32_t s, uint32_t r) {
  if (r == 254) return s;
  if (r == 255) return s == 0 ? 255 : s;
  return (s & 3) < r ? r : s;
}

std::string key2(const char* pattern, unsigned value) {
  char key[64];
  std::snprintf(key, sizeof key, pattern, value);
  return key;
}

// Server text by key; the key itself (and an incomplete mark) when it is missing.
std::string serverTextOr(const EventTexts& texts, const std::string& key, bool* complete) {
  if (std::optional<std::string> text = texts.serverText(key)) return *text;
  *complete = false;
  return key;
}

uint8_t elementType(uint8_t code) {
  switch (code) {
    case kEvSesPowerSupply:
      return kSesElementPowerSupply;
    case kEvSesCooling:
      return kSesElementCooling;
    case kEvSesTemperature:
      return kSesElementTemperature;
    default:
      return kSesElementAlarm;
  }
}

// The detail after the status: a fan's speed, a sensor's reading. status is the element's four
// status bytes (entry bytes 11-14).
std::string detailText(const EventTexts& texts, uint8_t type, const uint8_t* status, bool* complete) {
  if (type == kSesElementCooling) return serverTextOr(texts, key2("SESFanSpeed%.2X", status[3] & 7), complete);
  if (type != kSesElementTemperature) return {};
  Args degrees = {FormatArg::of(static_cast<int>(status[2]) - 20)};
  bool ok = true;
  std::string detail = formatted(serverTextOr(texts, "SESTemperature", complete), degrees, &ok);
  if (!ok) *complete = false;
  if ((status[3] & 0x08) != 0) {
    detail += " " + serverTextOr(texts, "SESTempSensorOTF", complete);
  } else if ((status[3] & 0x04) != 0) {
    detail += " " + serverTextOr(texts, "SESTempSensorOTW", complete);
  }
  return detail;
}

// Looks key up; on a miss marks the event (the first missing key is the one reported).
std::optional<uint32_t> severityOf(const EventTexts& texts, const std::string& key, DecodedEvent* event) {
  if (std::optional<std::string> value = texts.severity(key)) {
    if (std::optional<uint32_t> severity = parseSeverity(*value)) return severity;
  }
  if (event->severityFound) event->missingKey = key;
  event->severityFound = false;
  return std::nullopt;
}

void enclosureSeverity(const EventTexts& texts, uint8_t code, const uint8_t* r, DecodedEvent* event) {
  std::string generic = key2("0xSesGeneric_%.2X", r[1] & 0x0F);
  std::optional<uint32_t> severity;
  if (code == kEvSesAlarm) {
    std::optional<std::string> value = texts.severity(key2("0xSes%.2X_", code) + alarmStateName(r[4]));
    if (value) severity = parseSeverity(*value);
  }
  if (!severity) severity = severityOf(texts, generic, event);
  uint32_t s = severity.value_or(2);
  if (code == kEvSesTemperature && (r[4] & 0x0F) != 0) {
    const char* which = (r[4] & 0x0A) != 0 ? "_Failure" : "_Warning";
    s = combineStatus(s, severityOf(texts, key2("0xSes%.2X", code) + which, event).value_or(2));
  }
  event->severity = event->severityFound ? s : 2;
}

}  // namespace

const char* alarmStateName(uint8_t byte3) {
  if ((byte3 & 0x0E) == 0x0E) return "OnIntermittent";
  if ((byte3 & 0x10) != 0) return "OnRemind";
  if ((byte3 & 0x40) != 0) return "OffMuted";
  if ((byte3 & 0x01) != 0) return "OnContinuous";
  if ((byte3 & 0x04) != 0) return "On";
  return "Off";
}

std::string enclosureSourceName(const EventTexts& texts, int number, const uint8_t* wwnBytes, bool* complete) {
  std::string wwn = wwnText(wwnBytes);
  std::optional<std::string> format;
  Args args;
  if (number != kNoEnclosureNumber) {
    format = texts.serverText("SESEnclosureNameWithNumber");
    args = {FormatArg::of(number + 1), FormatArg::of(wwn)};
  } else {
    format = texts.serverText("SESEnclosureName");
    args = {FormatArg::of(wwn)};
  }
  if (!format) {
    *complete = false;
    args = {FormatArg::of(wwn)};
    format = "Enclosure %s";
  }
  bool ok = true;
  std::string source = formatted(*format, args, &ok);
  if (!ok) *complete = false;
  return source;
}

std::string enclosureElementStatusText(const EventTexts& texts, uint8_t type, const uint8_t status[4],
                                       bool* complete) {
  return type == kSesElementAlarm
             ? serverTextOr(texts, std::string("SESAlarm") + alarmStateName(status[3]), complete)
             : serverTextOr(texts, key2("SESStatus%.2X", status[0] & 0x0F), complete);
}

std::string enclosureElementName(const EventTexts& texts, uint8_t type, int index) {
  bool complete = true;
  return serverTextOr(texts, key2("SESElement%.2X", type), &complete) + " " + std::to_string(index + 1);
}

std::string enclosureElementText(const EventTexts& texts, uint8_t type, int index, const uint8_t status[4],
                                 bool* complete) {
  Args args = {FormatArg::of(serverTextOr(texts, key2("SESElement%.2X", type), complete)),
               FormatArg::of(index + 1), FormatArg::of(enclosureElementStatusText(texts, type, status, complete))};
  std::optional<std::string> format = texts.serverText("SESGenericMessage");
  if (!format) *complete = false;
  bool ok = true;
  std::string text = formatted(format.value_or("%s %d: %s"), args, &ok);
  if (!ok) *complete = false;
  std::string detail = detailText(texts, type, status, complete);
  if (!detail.empty()) text += " " + detail;
  return text;
}

DecodedEvent decodeEnclosureEvent(const EventTexts& texts, const EventEntry& entry) {
  const uint8_t* r = entry.reason;
  DecodedEvent event;
  event.eventId = 0xC00 + entry.code;
  event.source = enclosureSourceName(texts, r[5], r + 6, &event.complete);
  event.text = enclosureElementText(texts, elementType(entry.code), r[0], r + 1, &event.complete);
  enclosureSeverity(texts, entry.code, r, &event);
  return event;
}

}  // namespace brivo::events
