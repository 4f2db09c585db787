// Event decoding by the code table of event_catalog.h; see event_decoder.h. Enclosure element
// events: enclosure_events.cc.
#include "modules/brivo/events/event_decoder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "modules/brivo/events/event_catalog.h"
#include "modules/brivo/events/event_time.h"
#include "modules/brivo/events/text_format.h"
#include "modules/brivo/protocol_event_codes.h"

namespace brivo::events {

namespace {

using Args = std::vector<FormatArg>;

// Fills a compile-time key pattern (one or two unsigned values).
std::string keyOf(const char* pattern, uint32_t a, uint32_t b = 0) {
  char key[96];
  std::snprintf(key, sizeof key, pattern, a, b);
  return key;
}

uint32_t readLe(const uint8_t* bytes, int n) {
  uint32_t value = 0;
  for (int k = n - 1; k >= 0; --k) value = value << 8 | bytes[k];
  return value;
}

std::string characters(const uint8_t* bytes, int n) {
  std::string text;
  for (int k = 0; k < n && bytes[k] != 0; ++k)
    text += bytes[k] >= 0x20 && bytes[k] < 0x7F ? char(bytes[k]) : ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string levelText(uint32_t level) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u", level >> 24, (level >> 16) & 0xFF, level & 0xFFFF);
  return text;
}

std::string identityText(const uint8_t* bytes) {
  return bytes[8] == kIdentitySerial ? "SN " + characters(bytes, 8) : "WWN " + wwnText(bytes);
}

std::string memorySizeText(uint8_t value) {
  static const char* const kSizes[] = {"256M", "512M", "1G", "2G"};
  return value < 4 ? kSizes[value] : "unknown";
}

std::string firmwarePartText(uint8_t value) {
  if (value == kFirmwareBootrom) return "bootrom";
  return value == kFirmwareInitString ? "initstring" : "application";
}

std::string arrayDesignation(const EventTexts& texts, const DecodeOptions& options, uint8_t array,
                             bool* complete) {
  if (!options.exporting && options.arrayName) {
    std::optional<std::string> name = options.arrayName(array);
    if (name && !name->empty()) {
      std::optional<std::string> form = texts.eventText("BrivoEvent_ArrayNameNotExporting");
      if (!form) *complete = false;
      Args args = {FormatArg::of(*name), FormatArg::of(array)};
      return formatted(form.value_or("%s (Array %d)"), args);
    }
  }
  std::optional<std::string> form = texts.eventText("BrivoEvent_ArrayNameWhenExporting");
  if (!form) *complete = false;
  Args args = {FormatArg::of(array)};
  return formatted(form.value_or("Array %d"), args);
}

FormatArg argValue(const ArgRule& rule, const EventEntry& entry, const EventTexts& texts,
                   const DecodeOptions& options, bool* complete) {
  const uint8_t* r = entry.reason + rule.at;
  switch (rule.kind) {
    case Arg::kByte:
      return FormatArg::of(r[0]);
    case Arg::kBytePlusOne:
      return FormatArg::of(r[0] + 1);
    case Arg::kWord:
      return FormatArg::of(readLe(r, 2));
    case Arg::kDword:
      return FormatArg::of(readLe(r, 4));
    case Arg::kWwn:
      return FormatArg::of(wwnText(r));
    case Arg::kLevel:
      return FormatArg::of(levelText(readLe(r, 4)));
    case Arg::kRevision:
      return FormatArg::of(characters(r, 4));
    case Arg::kController:
      return FormatArg::of(r[0] == 0   ? std::string("A")
                           : r[0] == 1 ? std::string("B")
                                       : std::to_string(r[0]));
    case Arg::kTime: {
      EventTime time;
      std::memcpy(&time, r, sizeof time);
      return FormatArg::of(eventDateText(time) + " " + eventTimeText(time));
    }
    case Arg::kArrayName:
      return FormatArg::of(arrayDesignation(texts, options, r[0], complete));
    case Arg::kIdentity:
      return FormatArg::of(identityText(r));
    case Arg::kThisOther:
      return FormatArg::of(std::string(r[0] == 0 ? "This" : "The other"));
    case Arg::kMemorySize:
      return FormatArg::of(memorySizeText(r[0]));
    case Arg::kRebuildMode:
      return FormatArg::of(std::string(r[0] == kOn ? "Automatic" : "Manual"));
    case Arg::kFirmwarePart:
      return FormatArg::of(firmwarePartText(r[0]));
    case Arg::kSub:
      break;
  }
  return FormatArg::of(std::string());
}

// The sub text of an entry, when its code and family use one.
struct Sub {
  bool applies = false;
  std::string text;
  uint32_t value = 0;  // selects the severity key of codes whose severity depends on it
};

// A sub format looked up by key, or the fallback for a value the table does not know.
std::string subFormatOrFallback(const EventTexts& texts, const std::string& key, const CodeRule& rule,
                                uint32_t value, const Args& args, bool* complete) {
  if (std::optional<std::string> format = texts.eventText(key)) return formatted(*format, args);
  *complete = false;
  if (rule.subFallback != nullptr) return rule.subFallback;
  Args valueArg = {FormatArg::of(value)};
  std::optional<std::string> unknown = texts.eventText("BrivoEvent_UnknownReason");
  return formatted(unknown.value_or("0x%.2X"), valueArg);
}

// Host loop events (0x24): keys by host interface family.
Sub hostLoopSub(const EventTexts& texts, Family family, const uint8_t* r, bool* complete) {
  Sub sub{true, {}, r[0]};
  std::optional<std::string> format;
  Args args;
  if (family == Family::kScsiHost || family == Family::kSasHost) {
    format = texts.eventText(
        keyOf(family == Family::kScsiHost ? "BrivoEvent_24sc_%.2X" : "BrivoEvent_24hsas.%.2X", r[0]));
    args = {FormatArg::of(r[1] + 1)};
  } else {
    static const char* const kKeys[] = {"BrivoEvent_LIP_AcquireId", "BrivoEvent_LIP_Reinit0",
                                        "BrivoEvent_LIP_Reinit1", "BrivoEvent_LIP_LoopFailure0",
                                        "BrivoEvent_LIP_LoopFailure1"};
    if (r[0] >= kLoopAcquiredId && r[0] <= kLoopInitFailed) format = texts.eventText(kKeys[r[0] - 1]);
    const char* loops = (r[1] & 3) == 3 ? "s 0 and 1 are" : (r[1] & 3) == 2 ? " 1 is" : " 0 is";
    const char* rate = r[2] == 1   ? " at data rate 1 Gb/sec"
                       : r[2] == 2 ? " at data rate 2 Gb/sec"
                       : r[2] == 4 ? " at data rate 4 Gb/sec"
                                   : "";
    args = {FormatArg::of(std::string(loops)), FormatArg::of(std::string(rate)), FormatArg::of(r[3])};
  }
  if (format) {
    sub.text = formatted(*format, args);
  } else {
    *complete = false;
    Args valueArg = {FormatArg::of(r[0])};
    sub.text = formatted(texts.eventText("BrivoEvent_UnknownReason").value_or("0x%.2X"), valueArg);
  }
  return sub;
}

// Device changes (0x74): key by device kind and change.
Sub deviceChangeSub(const EventTexts& texts, const uint8_t* r, const Args& args, bool* complete) {
  Sub sub{true, {}, r[0]};
  if (std::optional<std::string> format = texts.eventText(keyOf("BrivoEvent_74_%.2X_%.2X", r[0], r[1]))) {
    sub.text = formatted(*format, args);
    return sub;
  }
  *complete = false;
  if (r[0] >= kDeviceDrive && r[0] <= kDeviceController) {
    sub.text = "Unresolved change";
  } else {
    Args kind = {FormatArg::of(r[0])};
    sub.text = "Unknown Device: " + formatted("Unknown device changed ( %d )", kind);
  }
  return sub;
}

Sub resolveSub(const EventTexts& texts, const CodeRule& rule, Family family, const EventEntry& entry,
               const DecodeOptions& options, const Args& args, bool* complete) {
  const uint8_t* r = entry.reason;
  if (entry.code == kEvHostLoop) return hostLoopSub(texts, family, r, complete);
  if (entry.code == kEvDeviceChange) return deviceChangeSub(texts, r, args, complete);
  if (rule.subKey == nullptr || (rule.subFamilies & (1u << static_cast<int>(family))) == 0) return {};
  Sub sub;
  sub.applies = true;
  sub.value = rule.subDword ? readLe(r + rule.subAt, 4) : r[rule.subAt];
  if (entry.code == kEvController && r[0] == kCtlDriveInterface && options.driveInterface == kInterfaceSas) {
    uint32_t state = uint32_t(r[1]) << 24 | uint32_t(r[2]) << 16 | uint32_t(r[3]) << 8 | r[4];
    std::optional<std::string> format = texts.eventText(keyOf("BrivoEvent_01_%.2X_%X", r[0], state));
    if (!format) format = texts.eventText(keyOf("BrivoEvent_01_%.2X_Unknown", r[0]));
    if (format) {
      sub.text = formatted(*format, args);
      return sub;
    }
    *complete = false;
  }
  if (rule.subKey2 != nullptr) {
    if (std::optional<std::string> format = texts.eventText(keyOf(rule.subKey2, sub.value, r[rule.subAt2]))) {
      sub.text = formatted(*format, args);
      return sub;
    }
  }
  sub.text = subFormatOrFallback(texts, keyOf(rule.subKey, sub.value), rule, sub.value, args, complete);
  return sub;
}

std::string undocumentedText(const EventEntry& entry) {
  const uint8_t* r = entry.reason;
  char text[256];
  std::snprintf(
      text, sizeof text,
      "Undocumented Event 0x%.2X. Extra Info: 0x%.2X, 0x%.2X, 0x%.2X, 0x%.2X, 0x%.2X, 0x%.2X, 0x%.2X, "
      "0x%.2X, 0x%.2X, 0x%.2X, 0x%.2X, 0x%.2X, 0x%.2X, 0x%.2X",
      entry.code, r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8], r[9], r[10], r[11], r[12], r[13]);
  return text;
}

// Severity by key, then by the plain key of the code.
void lookUpSeverity(const EventTexts& texts, const std::string& key, uint8_t code, DecodedEvent* event) {
  for (const std::string& k : {key, keyOf("0x%.2X", code)}) {
    if (std::optional<std::string> value = texts.severity(k)) {
      if (std::optional<uint32_t> severity = parseSeverity(*value)) {
        event->severity = *severity;
        event->severityFound = true;
        return;
      }
    }
  }
  event->severity = 2;
  event->severityFound = false;
  event->missingKey = key;
}

}  // namespace

std::string controllerSource(const EventTexts& texts, std::string_view pairName, int side) {
  std::string_view shortName = pairName.size() >= 5 ? pairName.substr(5) : pairName;
  Args args = {FormatArg::of(std::string(shortName)), FormatArg::of(std::string(side == kSideA ? "0" : "1"))};
  return formatted(texts.setting("ControllerLogName").value_or("Brivo %s (%s)"), args);
}

std::string wwnText(const uint8_t* bytes) {
  char text[17];
  for (int k = 0; k < 8; ++k) std::snprintf(text + 2 * k, 3, "%.2X", bytes[k]);
  return text;
}

std::optional<uint32_t> parseSeverity(const std::string& text) {
  const char* start = text.c_str();
  while (*start == ' ' || *start == '\t') ++start;
  if (*start < '0' || *start > '9') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(start, &end, 0);
  while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

DecodedEvent decodeEvent(const EventTexts& texts, const DecodeOptions& options, const EventEntry& entry) {
  uint8_t code = entry.code;
  if ((eventFlags(code) & kFlagEnclosure) != 0) return decodeEnclosureEvent(texts, entry);
  DecodedEvent event;
  event.eventId = 0xB00 + code;
  const CodeRule& rule = codeRule(code);
  if (!rule.inUse) {
    event.text = undocumentedText(entry);
    lookUpSeverity(texts, keyOf("0x%.2X", code), code, &event);
    return event;
  }
  Family family = keyFamily(code, options.driveInterface, options.hostInterface);
  std::string suffix = familySuffix(family);
  Args values;  // the values of the texts without the sub text
  for (const ArgRule& arg : rule.args) {
    if (arg.kind != Arg::kSub) values.push_back(argValue(arg, entry, texts, options, &event.complete));
  }
  Sub sub = resolveSub(texts, rule, family, entry, options, values, &event.complete);
  Args mainArgs;
  size_t next = 0;
  for (const ArgRule& arg : rule.args) {
    if (arg.kind != Arg::kSub) {
      mainArgs.push_back(values[next++]);
    } else if (sub.applies) {
      mainArgs.push_back(FormatArg::of(sub.text));
    }
  }
  std::optional<std::string> format = texts.eventText(keyOf("BrivoEvent_%.2X", code) + suffix);
  if (!format) {
    event.complete = false;
    format = texts.eventText(keyOf("BrivoEvent_%.2X", code));
  }
  bool filled = true;
  event.text = format ? formatted(*format, mainArgs, &filled) : undocumentedText(entry);
  if (!filled) event.complete = false;
  std::string severityKey = keyOf("0x%.2X", code) + suffix;
  if (sub.applies && (rule.subSeverity || code == kEvHostLoop)) severityKey += keyOf("_%.2X", sub.value);
  lookUpSeverity(texts, severityKey, code, &event);
  return event;
}

}  // namespace brivo::events
