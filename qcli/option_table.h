// The client's fixed option table and the setting sets built from it. Every other part of the
// client (configuration file, command line, merge, displays, request) reads the table by index.
//
// Thread safety: the table is constant data; a SettingSet is a plain value owned by its holder.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace qcli {

enum class OptionKind { kSetting, kDisplay, kConfigFileName };

// Bits of OptionEntry::exampleMask: where the example configuration writes the entry.
inline constexpr unsigned kExampleDefault = 1;
inline constexpr unsigned kExampleDevice = 2;

struct OptionEntry {
  OptionKind kind;
  bool forward;              // option text and effective value are also sent to the server
  unsigned exampleMask;      // kExampleDefault / kExampleDevice
  const char* option;        // "--num"
  const char* environment;   // "QCLI_DEV_NUM", or null
  const char* defaultValue;  // built-in default; for a display its one-letter code
  const char* label;         // key label in the configuration file, or null
  const char* description;   // text of displays and messages
};

inline constexpr size_t kOptionCount = 21;
// The twelve setting entries come first (indices 0-11).
inline constexpr size_t kSettingCount = 12;

// Indices into the table.
enum OptionIndex : size_t {
  kNum = 0,
  kName = 1,
  kWwn = 2,
  kIp = 3,
  kPort = 4,
  kUser = 5,
  kPassword = 6,
  kWidth = 7,
  kType = 8,
  kMethod = 9,
  kRfile = 10,
  kSfile = 11,
  kCfgFile = 12,
  kFirstDisplay = 13,
};

const std::array<OptionEntry, kOptionCount>& optionTable();
inline const OptionEntry& option(size_t index) { return optionTable()[index]; }

// Longest slot value a set holds (the client refuses longer values).
inline constexpr size_t kSlotCapacity = 511;

// One text per table index; an empty slot means "not given".
using SettingSet = std::array<std::string, kOptionCount>;

// The built-in defaults of the setting entries and of the configuration-file name.
SettingSet builtInDefaults();

// Copies every non-empty slot of source over target.
void overlay(SettingSet& target, const SettingSet& source);

inline constexpr const char kProgramName[] = "qcli";
inline constexpr const char kVersion[] = "1.00";
inline constexpr const char kDefaultConfigFile[] = "qcliConfig.db";

}  // namespace qcli
