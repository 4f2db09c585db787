// The array creation profiles of mods/Brivo/Profiles.ini as the create-array page offers them.
//
// The file names its fields ("ProfileFieldCount", "ProfileField%d") and its profiles
// ("ProfileCount", "Profile%d" = the field values separated by commas, in field order). The
// reply carries those keys as the file has them, and the rows "ProfileLoop%d<field>" with each
// field's text, plus the form values the page fills in when a profile is chosen:
//   FormRaidLevel      "RaidLevel" read as the level's name ("10" is RAID 10, code 16)
//   FormChunkSize      "StripeSizeKb"
//   FormReadAhead      "ReadAheadKb": "auto" 0, "disabled" 65535, else the number
//   FormWriteBack      "WriteBackMb": "disabled" 0, "max" 65535, else the number
//   FormUnusedPercent  "BackoffPercent"
// A profile whose value is unusable for a field leaves that form value out.
//
// Thread safety: any request thread (the module's files are read under their own lock).
#pragma once

#include "common/variable_table.h"

namespace brivo {

// At most this many profiles and fields are offered.
inline constexpr int kMaxProfiles = 64;
inline constexpr int kMaxProfileFields = 32;

void addProfileKeys(VariableTable* reply);

}  // namespace brivo
