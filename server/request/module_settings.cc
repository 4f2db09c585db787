// A module's settings file, mods/<name>/<name>Settings.ini: reading it into the record when the
// modules are scanned (creating it when missing), and writing the enabled flag back for the
// preferences page. See module_manager.h and module_internal.h.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/file_platform.h"
#include "common/private_file.h"
#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/request/module_internal.h"
#include "server/request/module_manager.h"

namespace {

constexpr int kDefaultTabOrder = 100;
constexpr const char kEnabledKey[] = "ModuleEnabled";
constexpr const char kTabOrderKey[] = "TabOrder";
constexpr const char kNameKey[] = "ModuleName";
constexpr const char kNewSettings[] = "ModuleEnabled=0\n";

bool isEnabledText(const char* text) {
  return text == nullptr || std::strcmp(text, kMissing) == 0 || std::strcmp(text, "true") == 0 ||
         std::strcmp(text, "1") == 0;
}

// Creates the settings file of a module that has none; never replaces one that appeared since.
void createSettingsFile(const std::string& path) {
  int fd = createExclusiveFile(path.c_str());
  const size_t size = sizeof(kNewSettings) - 1;
  bool written = fd >= 0 && applyPrivateMode(fd, kSharedFileMode, true) &&
                 writeFile(fd, kNewSettings, size) == static_cast<ssize_t>(size);
  if (fd >= 0 && closeFile(fd) != 0) written = false;
  if (!written) std::printf("Unable to create the module settings file %s.\n", path.c_str());
}

// The settings line kinds that saving cares about.
enum class LineKind { kOther, kEnabled, kTabOrder, kName };

// A line is key's line when, after leading blanks, it holds key, optional blanks and "=" (how the
// settings reader splits a line).
bool isKeyLine(const std::string& line, const char* key) {
  size_t at = line.find_first_not_of(' ');
  if (at == std::string::npos || line.compare(at, std::strlen(key), key) != 0) return false;
  at = line.find_first_not_of(' ', at + std::strlen(key));
  return at != std::string::npos && line[at] == '=';
}

LineKind kindOf(const std::string& line) {
  if (isKeyLine(line, kEnabledKey)) return LineKind::kEnabled;
  if (isKeyLine(line, kTabOrderKey)) return LineKind::kTabOrder;
  if (isKeyLine(line, kNameKey)) return LineKind::kName;
  return LineKind::kOther;
}

// Every line of the file, each with its line feed when it had one. False when the file cannot be
// opened or read.
bool readLines(const std::string& path, std::vector<std::string>* lines) {
  FILE* file = std::fopen(path.c_str(), "rbe");
  if (file == nullptr) return false;
  std::string line;
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    line += static_cast<char>(c);
    if (c == '\n') {
      lines->push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) lines->push_back(line);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

std::string keyLine(const char* key, int value) {
  return std::string(key) + "=" + std::to_string(value) + "\n";
}

// The new text: the same lines, the enabled line replaced, missing enabled and tab order lines
// put before the first name line (at the end when there is none).
std::string composeSettings(const std::vector<std::string>& lines, const ModuleRecord* record) {
  bool haveEnabled = false;
  bool haveTabOrder = false;
  for (const std::string& line : lines) {
    haveEnabled = haveEnabled || kindOf(line) == LineKind::kEnabled;
    haveTabOrder = haveTabOrder || kindOf(line) == LineKind::kTabOrder;
  }
  std::string missing;
  if (!haveEnabled) missing += keyLine(kEnabledKey, record->enabled);
  if (!haveTabOrder) missing += keyLine(kTabOrderKey, record->tabOrder);
  std::string text;
  for (const std::string& line : lines) {
    const LineKind kind = kindOf(line);
    if (kind == LineKind::kName && !missing.empty()) {
      text += missing;
      missing.clear();
    }
    text += kind == LineKind::kEnabled ? keyLine(kEnabledKey, record->enabled) : line;
  }
  if (!missing.empty()) {
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += missing;
  }
  return text;
}

}  // namespace

int parseTabOrder(const char* text) {
  if (text == nullptr) return kDefaultTabOrder;
  while (*text == ' ' || *text == '\t') ++text;
  int value = 0;
  bool digits = false;
  for (; *text >= '0' && *text <= '9'; ++text) {
    digits = true;
    value = value * 10 + (*text - '0');
    if (value > kDefaultTabOrder) return kDefaultTabOrder;
  }
  return digits && value > 0 ? value : kDefaultTabOrder;
}

void readModuleSettings(ModuleRecord* record) {
  const std::string path = moduleSettingsPath(record->name);
  FILE* file = std::fopen(path.c_str(), "rbe");
  if (file == nullptr) {
    createSettingsFile(path);
    record->enabled = 1;
    record->tabOrder = kDefaultTabOrder;
    record->displayName = nullptr;
    return;
  }
  std::fclose(file);
  char* enabled = lookupString(path.c_str(), kEnabledKey);
  char* tabOrder = lookupString(path.c_str(), kTabOrderKey);
  record->enabled = isEnabledText(enabled) ? 1 : 0;
  record->tabOrder = parseTabOrder(tabOrder);
  record->displayName = lookupString(path.c_str(), kNameKey);
  std::free(enabled);
  std::free(tabOrder);
}

int saveModuleSettings(ModuleRecord* record) {
  if (record == nullptr || record->name == nullptr) return -1;
  const std::string path = moduleSettingsPath(record->name);
  std::vector<std::string> lines;
  if (!readLines(path, &lines)) {
    std::printf("ERROR: Module settings file, %s, not found. Cannot make changes.\n", path.c_str());
    return -1;
  }
  const std::string text = composeSettings(lines, record);
  if (replaceFileContents(path.c_str(), text.data(), text.size()) != 0) {
    std::printf("ERROR: Module settings file, %s, could not be written. Cannot make changes.\n",
                path.c_str());
    return -1;
  }
  return 0;
}
