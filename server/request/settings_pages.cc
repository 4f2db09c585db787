// The preferences page (GetPrefsConfig, SetPrefsConfig) and the checks of its values; the other
// pages of settings_pages.h are in status_pages.cc.
//
// A save is checked whole before anything is stored: the edit counter first (a missing or stale
// one refuses the save), then every value; the new tables are written to disk from copies, and
// only when both files are written are the same changes made to the live tables.
#include "server/request/settings_pages.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/property_file.h"
#include "common/thread_manager.h"
#include "server/main_loop.h"
#include "server/request/command_result.h"
#include "server/request/local_addresses.h"
#include "server/request/module_manager.h"
#include "server/server_state.h"

namespace {

constexpr int kPartnerCount = 10;
constexpr const char kRestartTag[] = "SetPrefsConfig/waitAndThenRestartServer";
constexpr const char kCommand[] = "CmdSetPrefs";

// What a valid save changes. Empty texts mean: port unchanged, partner removed.
struct PrefsChange {
  std::string version;  // the page's counter plus one
  std::string port;
  std::string partners[kPartnerCount];
};

struct MallocText {
  char* text;
  explicit MallocText(char* t) : text(t) {}
  ~MallocText() { std::free(text); }
  MallocText(const MallocText&) = delete;
  MallocText& operator=(const MallocText&) = delete;
  const char* orEmpty() const { return text != nullptr ? text : ""; }
};

std::string trimmed(const char* text) {
  std::string value = text != nullptr ? text : "";
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const size_t last = value.find_last_not_of(" \t");
  return value.substr(first, last - first + 1);
}

// A decimal edit counter that can still be raised by one.
bool parseVersion(const char* text, long* value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || number >= INT_MAX) return false;
  *value = number;
  return true;
}

std::string indexedKey(const char* name, int index) { return name + std::to_string(index); }

bool isLabelCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Returns the details key that refuses the page's values, or null when all are valid; fills
// change->port and change->partners.
const char* checkValues(VariableTable request, PrefsChange* change) {
  const char* port = getVariable(request, "MulticastPort");
  if (port != nullptr) {
    // An empty field keeps the stored port, so that a page shown without one can still be saved.
    change->port = trimmed(port);
    if (!change->port.empty() && !isValidPortText(change->port.c_str())) return "InvalidMulticastPort";
  }
  for (int i = 0; i < kPartnerCount; ++i) {
    change->partners[i] = trimmed(getVariable(request, indexedKey("DirectIpValue", i).c_str()));
    if (!change->partners[i].empty() && !isValidPartnerAddress(change->partners[i].c_str())) {
      return "InvalidPartnerAddress";
    }
  }
  return nullptr;
}

void applyChange(VariableTable* ip, VariableTable* prefs, const PrefsChange& change) {
  replaceVariable(prefs, "version", change.version.c_str());
  if (!change.port.empty()) replaceVariable(ip, "MulticastPort", change.port.c_str());
  for (int i = 0; i < kPartnerCount; ++i) {
    const std::string key = indexedKey("IP", i + 1);
    if (change.partners[i].empty()) {
      removeVariable(ip, key.c_str());
    } else {
      replaceVariable(ip, key.c_str(), change.partners[i].c_str());
    }
  }
}

// A copy in the same order (copyVariableTable reverses), so that the files keep their order.
VariableTable orderedCopy(VariableTable table) {
  VariableTable reversed = copyVariableTable(table);
  VariableTable copy = copyVariableTable(reversed);
  freeVariableTable(&reversed);
  return copy;
}

// Writes both files from copies of the live tables with the change made. Returns false when a
// file could not be written (IP.db is written first; when only prefs.ini fails, IP.db already
// holds the new values, which take effect at the next start).
bool writeFiles(const ServerSettings& settings, const PrefsChange& change) {
  TableOwner ip(orderedCopy(settings.ip));
  TableOwner prefs(orderedCopy(settings.prefs));
  applyChange(ip.address(), prefs.address(), change);
  if (writePropertyFile(kIpDbPath, kEmptyHeader, ip.get()) != 0) return false;
  return writePropertyFile(kPrefsIniPath, kEmptyHeader, prefs.get()) == 0;
}

// Enables exactly the modules whose "EnableMod<name>" is "true"; saves each record that changed.
// Returns whether any changed.
bool applyModuleChoices(VariableTable request) {
  bool changed = false;
  for (ModuleRecord* module = moduleList(); module != nullptr; module = module->next) {
    const std::string key = std::string("EnableMod") + module->name;
    const char* choice = getVariable(request, key.c_str());
    const int wanted = choice != nullptr && std::strcmp(choice, "true") == 0 ? 1 : 0;
    std::atomic_ref<int> enabled(module->enabled);
    if (enabled.load() == wanted) continue;
    enabled.store(wanted);
    if (saveModuleSettings(module) != 0)
      logServerError(("Unable to save the settings of module " + key.substr(9)).c_str());
    changed = true;
  }
  return changed;
}

void startRestart() {
  if (startThread(waitAndThenRestartServer, 0, kThreadKeep, kRestartTag) == 0) {
    logServerError("Unable to start the restart thread.");
  }
}

// Steps 1-5 of a save, holding the IP settings in-use word. Returns the details key of a failure,
// or null on success; *restart tells whether a module's enabled flag changed.
const char* saveLocked(VariableTable request, bool* restart) {
  ServerSettings& settings = serverSettings();
  long pageVersion = 0;
  if (!parseVersion(getVariable(request, "version"), &pageVersion)) return "MissingParams";
  PrefsChange change;
  change.version = std::to_string(pageVersion + 1);
  MallocText stored(getVariableCopyShared(&settings.prefs, "version"));
  long storedVersion = 0;
  if (stored.text != nullptr &&
      (!parseVersion(stored.text, &storedVersion) || storedVersion != pageVersion)) {
    replaceVariable(&settings.prefs, "version", change.version.c_str());
    return "OldVersionMsg";
  }
  if (const char* refused = checkValues(request, &change)) return refused;
  if (!writeFiles(settings, change)) {
    logServerError("Error saving the preferences");
    return "NoSaveSetting";
  }
  applyChange(&settings.ip, &settings.prefs, change);
  *restart = applyModuleChoices(request);
  return nullptr;
}

}  // namespace

bool isValidPortText(const char* text) {
  if (text == nullptr || *text < '1' || *text > '9') return false;
  long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || p - text >= 5) return false;
    value = value * 10 + (*p - '0');
  }
  return value >= 1 && value <= 65535;
}

bool isValidPartnerAddress(const char* text) {
  uint32_t address = 0;
  if (text == nullptr) return false;
  if (parseStrictDottedAddress(text, &address)) return true;
  const size_t length = std::strlen(text);
  if (length == 0 || length > 253) return false;
  size_t labelStart = 0;
  bool labelAllDigits = true;
  for (size_t i = 0; i <= length; ++i) {
    const char c = text[i];
    if (c == '.' || c == '\0') {
      const size_t labelLength = i - labelStart;
      if (labelLength == 0 || labelLength > 63) return false;
      if (text[labelStart] == '-' || text[i - 1] == '-') return false;
      if (c == '\0' && labelAllDigits) return false;  // a mistyped address, not a name
      labelStart = i + 1;
      labelAllDigits = true;
      continue;
    }
    if (!isLabelCharacter(c)) return false;
    if (c < '0' || c > '9') labelAllDigits = false;
  }
  return true;
}

VariableTable GetPrefsConfig(VariableTable) {
  ServerSettings& settings = serverSettings();
  VariableTable reply = nullptr;
  MallocText version(getVariableCopyShared(&settings.prefs, "version"));
  addVariable(&reply, "version", version.orEmpty());
  MallocText port(getVariableCopyShared(&settings.ip, "MulticastPort"));
  if (port.text != nullptr) addVariable(&reply, "MulticastPort", port.text);
  for (int i = 0; i < kPartnerCount; ++i) {
    MallocText partner(getVariableCopyShared(&settings.ip, indexedKey("IP", i + 1).c_str()));
    addVariable(&reply, ("DirectIpLoop" + std::to_string(i) + "DirectIpValue").c_str(), partner.orEmpty());
  }
  addVariable(&reply, "DirectIpLoop", "10");
  int row = 0;
  for (ModuleRecord* module = moduleList(); module != nullptr; module = module->next, ++row) {
    const std::string prefix = "EnableInband0ModuleEnableLoop" + std::to_string(row);
    const bool enabled = std::atomic_ref<int>(module->enabled).load() != 0;
    // A module whose settings file had to be created has no display name: show its folder name.
    const char* moniker = module->displayName != nullptr ? module->displayName : module->name;
    addVariable(&reply, (prefix + "ModEnaID").c_str(), (std::string("EnableMod") + module->name).c_str());
    addVariable(&reply, (prefix + "ModEnaChecked").c_str(), enabled ? "checked" : "");
    addVariable(&reply, (prefix + "ModEnaMoniker").c_str(), (std::string("Enable - ") + moniker).c_str());
  }
  if (row > 0) addIntVariable(&reply, "EnableInband0ModuleEnableLoop", static_cast<uint32_t>(row), true);
  addVariable(&reply, "EnableEmbedded", "0");
  addVariable(&reply, "EnableInband", "1");
  addVariable(&reply, "HTMLPath", "../Server/other/setting_prefs.htm");
  return reply;
}

VariableTable SetPrefsConfig(VariableTable request) {
  ServerSettings& settings = serverSettings();
  VariableTable reply = nullptr;
  bool restart = false;
  if (!acquireFileInUse(&settings.ipInUse)) {
    addCommandResult(&reply, true, kCommand, "SettingsTimeout");
  } else {
    const char* refused = saveLocked(request, &restart);
    releaseFileInUse(&settings.ipInUse);
    if (refused != nullptr) addCommandResult(&reply, true, kCommand, refused);
  }
  if (restart) startRestart();
  appendVariableTable(&reply, GetPrefsConfig(request));
  return reply;
}
