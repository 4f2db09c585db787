// The decoder's table of event codes: for each code in use, which values its text is filled with
// (taken from the reason bytes by the layouts of protocol_events.h and protocol_event_codes.h),
// and, for codes whose text depends on a reason byte, how the second ("sub") key is built, which
// of its values the firmware defines and whether the severity depends on it too. Codes with an
// irregular key scheme (0x01 on SAS pairs, 0x24, 0x74, 0x6B-0x6E) are marked custom and decoded by
// their own code; the table still lists their values.
//
// Thread safety: the table is built once on first use (thread-safe static) and read-only after.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace brivo::events {

// Key families of the flag table, in the order the decoder tests them.
enum class Family : uint8_t { kPlain, kSata, kScsiHost, kSas, kSasHost };
const char* familySuffix(Family family);  // "", "s", "sc", "sas", "hsas"

// How one value of a text is taken from the reason bytes.
enum class Arg : uint8_t {
  kByte,          // r[at], unsigned
  kBytePlusOne,   // r[at] + 1 (loops and ports counted from 1 in texts)
  kWord,          // r[at..at+1], little-endian
  kDword,         // r[at..at+3], little-endian
  kWwn,           // r[at..at+7] as 16 upper-case hexadecimal digits
  kLevel,         // r[at..at+3]: firmware level as "major.minor.build"
  kRevision,      // r[at..at+3]: 4 characters
  kController,    // r[at]: "A" for 0, "B" for 1, else the number
  kTime,          // r[at..at+7]: an EventTime as "MM/DD/YY HH:MM:SS"
  kSub,           // the text of the sub key
  kArrayName,     // r[at]: the array's designation (name and number, see decoder)
  kIdentity,      // r[at..at+7] WWN or serial number by the kind byte r[at+8]: "WWN %s" / "SN %s"
  kThisOther,     // r[at]: "This" for 0, "The other" otherwise
  kMemorySize,    // r[at]: "256M", "512M", "1G", "2G" for 0-3, else "unknown"
  kRebuildMode,   // r[at]: "Automatic" for 0xF1, else "Manual"
  kFirmwarePart,  // r[at]: "bootrom", "initstring", "application"
};

struct ArgRule {
  Arg kind;
  uint8_t at;
};

struct CodeRule {
  bool inUse = false;
  bool custom = false;            // decoded by its own code
  std::vector<ArgRule> args;      // values of the main text, in order (kSub where the sub text goes)
  const char* subKey = nullptr;   // printf pattern of the sub key (one unsigned value)
  const char* subKey2 = nullptr;  // two-level pattern (values r[subAt], r[subAt2]) tried first
  uint8_t subAt = 0;
  uint8_t subAt2 = 0;
  bool subDword = false;              // the sub value is the 32-bit value at subAt
  uint8_t subFamilies = 0xFF;         // bit (1 << Family) set: that family uses the sub key
  bool subSeverity = false;           // severity key = family severity key + "_%.2X" of the sub value
  const char* subFallback = nullptr;  // text when the sub key is missing (else "BrivoEvent_UnknownReason")
  std::vector<uint32_t> known;        // sub values the firmware defines
};

// The rule of a code (inUse false for codes the flag table marks unused).
const CodeRule& codeRule(uint8_t code);

// The key family of a code on a pair with these interface types (first match wins).
Family keyFamily(uint8_t code, uint8_t driveInterface, uint8_t hostInterface);

// Reason bytes that exercise every text and severity key the decoder can build for the code on a
// pair with these interface types: one set per defined sub value (all defined combinations for
// the custom codes). Used to check the shipped data files; empty for codes not in use.
std::vector<std::array<uint8_t, 14>> exampleReasons(uint8_t code, uint8_t driveInterface,
                                                    uint8_t hostInterface);

}  // namespace brivo::events
