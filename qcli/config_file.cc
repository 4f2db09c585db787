// Reading of the client's configuration file into the Default set and the Device lines.
#include "qcli/config_file.h"

#include <cstdio>
#include <memory>

namespace qcli {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// Looks up prefix + label for each setting entry; true when at least one key exists.
bool collect(VariableTable table, const std::string& prefix, SettingSet* set) {
  bool any = false;
  for (size_t i = 0; i < kSettingCount; ++i) {
    const char* value = getVariable(table, (prefix + option(i).label).c_str());
    if (value == nullptr) continue;
    any = true;
    (*set)[i] = value;
  }
  return any;
}

}  // namespace

void configFromTable(VariableTable table, ConfigContents* contents) {
  *contents = ConfigContents();
  collect(table, "Default", &contents->defaults);
  if (const char* timeout = getVariable(table, "DefaultTimeout")) contents->timeout = timeout;
  if (const char* tls = getVariable(table, "DefaultTls")) contents->tls = tls;
  if (const char* caFile = getVariable(table, "DefaultCaFile")) contents->caFile = caFile;
  int numbersWithoutKey = 0;
  for (int n = 0; numbersWithoutKey < kDeviceGapLimit; ++n) {
    DeviceLine line;
    if (!collect(table, "Device" + std::to_string(n), &line.settings)) {
      ++numbersWithoutKey;
      continue;
    }
    numbersWithoutKey = 0;
    // A Num key renames the line; without one the section number is its number.
    if (line.settings[kNum].empty()) line.settings[kNum] = std::to_string(n);
    line.number = line.settings[kNum];
    contents->devices.push_back(std::move(line));
  }
}

bool readConfigFile(const std::string& path, ConfigContents* contents) {
  *contents = ConfigContents();
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
  if (!file) return false;
  TableOwner table(readVariableTableText(file.get()));
  configFromTable(table.get(), contents);
  return true;
}

}  // namespace qcli
