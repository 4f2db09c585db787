// Array creation profiles; see rank_profiles.h.
#include "modules/brivo/pages/rank_profiles.h"

#include <strings.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/protocol.h"

namespace brivo {

namespace {

constexpr char kProfileLoop[] = "ProfileLoop";

std::string profileValue(const std::string& key) {
  return moduleState().files.value(PropertyTable::kProfiles, key.c_str());
}

int countOf(const char* key, int limit) {
  const std::string text = profileValue(key);
  if (text == kMissing) return 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return value < 0 ? 0 : (value > limit ? limit : static_cast<int>(value));
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = line.find(',', start);
    std::string field = line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    while (!field.empty() && field.front() == ' ') field.erase(field.begin());
    while (!field.empty() && field.back() == ' ') field.pop_back();
    fields.push_back(field);
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

// A decimal number of at most 5 digits, or -1.
long smallNumber(const std::string& text, int base = 10) {
  if (text.empty() || text.size() > 5) return -1;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, base);
  return *end == '\0' && value >= 0 ? value : -1;
}

long formValue(const std::string& field, const std::string& text) {
  if (field == "RaidLevel") {
    const long code = smallNumber(text, 16);
    return code <= 0xFF ? code : -1;
  }
  if (field == "ReadAheadKb") {
    if (strcasecmp(text.c_str(), "auto") == 0) return 0;
    if (strcasecmp(text.c_str(), "disabled") == 0) return kReadAheadDisabled;
  }
  if (field == "WriteBackMb") {
    if (strcasecmp(text.c_str(), "disabled") == 0) return 0;
    if (strcasecmp(text.c_str(), "max") == 0 || strcasecmp(text.c_str(), "maximum") == 0)
      return kWriteBackMaximum;
  }
  const long value = smallNumber(text);
  return value <= 0xFFFF ? value : -1;
}

const char* formKey(const std::string& field) {
  if (field == "RaidLevel") return "FormRaidLevel";
  if (field == "StripeSizeKb") return "FormChunkSize";
  if (field == "ReadAheadKb") return "FormReadAhead";
  if (field == "WriteBackMb") return "FormWriteBack";
  if (field == "BackoffPercent") return "FormUnusedPercent";
  return nullptr;
}

}  // namespace

void addProfileKeys(VariableTable* reply) {
  const int fieldCount = countOf("ProfileFieldCount", kMaxProfileFields);
  const int profileCount = countOf("ProfileCount", kMaxProfiles);
  std::vector<std::string> fields;
  for (int f = 0; f < fieldCount; ++f) {
    const std::string key = "ProfileField" + std::to_string(f);
    fields.push_back(profileValue(key));
    addText(reply, key.c_str(), fields.back());
  }
  int row = 0;
  for (int p = 0; p < profileCount; ++p) {
    const std::string key = "Profile" + std::to_string(p);
    const std::string line = profileValue(key);
    if (line == kMissing) continue;
    addText(reply, key.c_str(), line);
    const std::vector<std::string> values = splitFields(line);
    for (size_t f = 0; f < fields.size() && f < values.size(); ++f) {
      if (fields[f] == kMissing || fields[f].empty()) continue;
      addRowText(reply, kProfileLoop, row, fields[f].c_str(), values[f]);
      const char* form = formKey(fields[f]);
      const long value = form != nullptr ? formValue(fields[f], values[f]) : -1;
      if (value >= 0) addRowNumber(reply, kProfileLoop, row, form, value);
    }
    ++row;
  }
  addNumber(reply, "ProfileFieldCount", fieldCount);
  addNumber(reply, "ProfileCount", profileCount);
  setCount(reply, kProfileLoop, row);
}

}  // namespace brivo
