// Information displays and the example configuration.
#include "qcli/displays.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "qcli/tls_settings.h"

namespace qcli {

namespace {

enum class KeyColumn { kOption, kEnvironment };

const char* keyText(size_t index, KeyColumn column) {
  const OptionEntry& e = option(index);
  if (column == KeyColumn::kOption) return e.option;
  return e.environment != nullptr ? e.environment : "";
}

int longestDescription() {
  size_t width = 0;
  for (const OptionEntry& e : optionTable()) width = std::max(width, std::strlen(e.description));
  return static_cast<int>(width);
}

int longestKey(KeyColumn column) {
  size_t width = 0;
  for (size_t i = 0; i < kOptionCount; ++i) width = std::max(width, std::strlen(keyText(i, column)));
  return static_cast<int>(width);
}

const char* shownValue(size_t index, const std::string& value) {
  if (index == kPassword && !value.empty()) return kMaskedPassword;
  return value.c_str();
}

void printHeader(FILE* out, int w1, int w2) {
  std::fprintf(out, "%-*s   %-*s   %s\n", w1, "Label", w2, "Key", "Value");
}

void settingsListing(FILE* out, const char* title, const SettingSet& set, KeyColumn column) {
  int w1 = longestDescription();
  int w2 = longestKey(column);
  std::fprintf(out, "\n%s:\n", title);
  printHeader(out, w1, w2);
  for (size_t i = 0; i < kSettingCount; ++i) {
    std::fprintf(out, "%-*s = %-*s = %s\n", w1, option(i).description, w2, keyText(i, column),
                 shownValue(i, set[i]));
  }
}

void displayInfo(const ClientState& state, FILE* out) {
  std::fprintf(out, "%s :: Quorvex Command Line Tool - %s\n", kProgramName, kVersion);
  std::fprintf(out, "Program base name   = %s\n", state.baseName.c_str());
  std::fprintf(out, "Configuration file  = %s\n", state.configFileName.c_str());
  settingsListing(out, "Settings used for execution", state.effective, KeyColumn::kOption);
  std::fputs("\n", out);
}

void displayDefaults(FILE* out) {
  int w1 = longestDescription();
  int w2 = longestKey(KeyColumn::kOption);
  std::fputs("\nDefault settings:\n", out);
  printHeader(out, w1, w2);
  for (size_t i = 0; i < kSettingCount; ++i) {
    std::fprintf(out, "%-*s = %-*s = %s\n", w1, option(i).description, w2, option(i).option,
                 option(i).defaultValue);
  }
  const OptionEntry& cfg = option(kCfgFile);
  std::fprintf(out, "%-*s = %-*s = %s\n", 19, cfg.description, 9, cfg.option, cfg.defaultValue);
  std::fputs("\n", out);
}

void displayConfigFile(const ClientState& state, FILE* out) {
  settingsListing(out, "Config file Default settings", state.config.defaults, KeyColumn::kOption);
  std::fputs("\n\n", out);
  for (const DeviceLine& line : state.config.devices) {
    settingsListing(out, "Config file Device line settings", line.settings, KeyColumn::kOption);
  }
  std::fputs("\n", out);
}

void displayOptionsVsEnvironment(FILE* out) {
  int w1 = longestDescription();
  std::fputs("\nArguments vs Environment:\n", out);
  for (size_t i = 0; i < kOptionCount; ++i) {
    std::fprintf(out, "%-*s = %-*s = %-*s\n", w1, option(i).description, 9, option(i).option, 20,
                 keyText(i, KeyColumn::kEnvironment));
  }
  std::fputs("\n", out);
}

}  // namespace

bool runDisplay(char code, ClientState* state, FILE* out) {
  switch (code) {
    case 'I':
      displayInfo(*state, out);
      break;
    case 'D':
      displayDefaults(out);
      break;
    case 'X':
      displayConfigFile(*state, out);
      break;
    case 'E':
      settingsListing(out, "Environmental settings", state->environment, KeyColumn::kEnvironment);
      std::fputs("\n", out);
      break;
    case 'A':
      settingsListing(out, "Argument settings", state->arguments, KeyColumn::kOption);
      std::fputs("\n", out);
      break;
    case 'P':
      displayOptionsVsEnvironment(out);
      break;
    case 'C':
      writeExampleConfiguration(state->baseName, out);
      return true;
    case 'Q':
      state->showRequest = true;
      break;
    default:
      break;
  }
  return false;
}

void writeExampleConfiguration(const std::string& baseName, FILE* out) {
  std::fprintf(out, "# %s Configuration File\n", baseName.c_str());
  for (int i = 0; i < 6; ++i) std::fputs("#\n", out);
  std::fprintf(out, "#     If present, these individual settings override the %s settings.\n", "Default");
  std::fputs("#\n###############################\n#\n# Default settings\n#\n\n", out);
  for (const OptionEntry& e : optionTable()) {
    if (e.exampleMask & kExampleDefault) std::fprintf(out, "Default%s=\"%s\"\n", e.label, e.defaultValue);
  }
  // No "=" in these comment lines: the reader would take them for keys.
  std::fputs("\n# HTTPS: set Tls to \"yes\" to send every request over TLS, and CaFile to the PEM file\n"
             "# of the certificate to trust instead of the system's store (a self-signed front end).\n",
             out);
  std::fprintf(out, "%s=\"no\"\n%s=\"\"\n", kTlsConfigKey, kCaFileConfigKey);
  int deviceNumber = std::atoi(option(kNum).defaultValue);
  std::fprintf(out, "\n#\n# %s %d settings\n#\n\n", "Device", deviceNumber);
  for (const OptionEntry& e : optionTable()) {
    if (e.exampleMask & kExampleDevice) {
      std::fprintf(out, "Device%d%s=\"%s\"\n", deviceNumber, e.label, e.defaultValue);
    }
  }
  std::fprintf(out, "\n# Add additional %s settings here -- Use sequential numbering.\n", "Device");
}

}  // namespace qcli
