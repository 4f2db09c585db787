// The client's configuration file ("qcliConfig.db"): "Default<Label>" keys and numbered
// "Device<n><Label>" sections, read with the variable table's text reader. Used by the start-up
// steps; the result feeds the merge and the "--infodb" display.
//
// Thread safety: none needed; the client is single-threaded.
#pragma once

#include <string>
#include <vector>

#include "common/variable_table.h"
#include "qcli/option_table.h"

namespace qcli {

// One numbered Device section. number is its decimal number text, or the value of its Num key;
// settings[kNum] holds the same text.
struct DeviceLine {
  std::string number;
  SettingSet settings;
};

struct ConfigContents {
  SettingSet defaults;              // the "Default" keys
  std::vector<DeviceLine> devices;  // in the order of their numbers
  std::string timeout;              // "DefaultTimeout" (request_timeout.h), empty when absent
  std::string tls;                  // "DefaultTls" (tls_settings.h), empty when absent
  std::string caFile;               // "DefaultCaFile" (tls_settings.h), empty when absent
};

// Device numbers are scanned from 0 upwards; the scan stops after this many numbers in a row
// without any key, so gaps of up to nine numbers are allowed.
inline constexpr int kDeviceGapLimit = 10;

// Fills *contents from a table read from the file's text form. Only the twelve setting labels are
// looked at; a key that occurs twice counts with its later line.
void configFromTable(VariableTable table, ConfigContents* contents);

// Reads the named file (relative to the working directory). False when it cannot be opened;
// *contents is then left empty.
[[nodiscard]] bool readConfigFile(const std::string& path, ConfigContents* contents);

}  // namespace qcli
