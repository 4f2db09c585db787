// The RAID module's files under mods/Brivo/ (relative to the server's working folder): six
// property tables held in memory while the module runs, and three string tables loaded into the
// module's own string-table slots 2-4.
//
// | File                      | Kind         | Written back                         |
// |---------------------------|--------------|--------------------------------------|
// | BrivoSettings.ini         | property     | no                                   |
// | NodePortNameList.db       | property     | at shutdown                          |
// | BrivoConfigurations.db    | property     | at shutdown and after monitor cycles |
// | EventSeverity.db          | property     | no                                   |
// | Profiles.ini              | property     | no                                   |
// | db/server.ini             | property     | no (the server's own settings)       |
// | StatusStrings.db, EventStrings.db, CommandStrings.db | string table | no            |
//
// Thread safety: load and unload run at start-up and shutdown while no other thread uses the
// files. In between, every accessor may be called from any thread: one mutex guards the property
// tables, and values are handed out as copies. text() reads the string tables without a lock
// (they do not change while the module runs).
#pragma once

#include <mutex>
#include <string>

#include "common/thread_annotations.h"
#include "common/variable_table.h"

namespace brivo {

inline constexpr char kModuleFolder[] = "mods/Brivo";
inline constexpr char kStatusStringsPath[] = "mods/Brivo/StatusStrings.db";
inline constexpr char kEventStringsPath[] = "mods/Brivo/EventStrings.db";
inline constexpr char kCommandStringsPath[] = "mods/Brivo/CommandStrings.db";
inline constexpr char kSettingsPath[] = "mods/Brivo/BrivoSettings.ini";
inline constexpr char kNodePortNamesPath[] = "mods/Brivo/NodePortNameList.db";
inline constexpr char kConfigurationsPath[] = "mods/Brivo/BrivoConfigurations.db";
inline constexpr char kEventSeverityPath[] = "mods/Brivo/EventSeverity.db";
inline constexpr char kProfilesPath[] = "mods/Brivo/Profiles.ini";
inline constexpr char kModuleServerIniPath[] = "db/server.ini";

inline constexpr char kNodePortNamesHeader[] =
    "This file contains logical names assigned to specific node-ports";
inline constexpr char kConfigurationsHeader[] = "This file contains information about brivo configurations";

// Keys of BrivoSettings.ini.
inline constexpr char kModuleLogNameKey[] = "ModuleLogName";
inline constexpr char kControllerLogNameKey[] = "ControllerLogName";
inline constexpr char kBatteryPercentWarningKey[] = "BatteryPercentWarning";
inline constexpr char kDefaultControllerLogName[] = "Brivo %s (%s)";

enum class PropertyTable : int {
  kSettings = 0,    // BrivoSettings.ini
  kNodePortNames,   // NodePortNameList.db
  kConfigurations,  // BrivoConfigurations.db
  kEventSeverity,   // EventSeverity.db
  kProfiles,        // Profiles.ini
  kServerSettings,  // db/server.ini
  kCount,
};

enum class StringTable { kStatus, kEvent, kCommand };

class ModuleFiles {
 public:
  ModuleFiles() = default;
  ~ModuleFiles();
  ModuleFiles(const ModuleFiles&) = delete;
  ModuleFiles& operator=(const ModuleFiles&) = delete;

  // Reads the six property tables (a missing file gives an empty table) and loads the three
  // string tables into this binary's slots 2-4.
  void load();
  // Writes NodePortNameList.db and BrivoConfigurations.db back with their header lines, then frees
  // every table. Returns the number of files that could not be written (each is printed).
  int saveAndUnload();

  // Value of key, or "(missing)".
  std::string value(PropertyTable table, const char* key) const;
  bool has(PropertyTable table, const char* key) const;
  // Adds or replaces key in the in-memory table (written back by save or saveAndUnload).
  void setValue(PropertyTable table, const char* key, const char* value);
  // Writes one of the two written-back tables now (BrivoConfigurations.db after a monitor cycle).
  // 0 on success, -1 when the file could not be written, the table is not one of the two, or the
  // files are not loaded (a table never read is never written over its file).
  int save(PropertyTable table) const;
  // Copy of the whole table (caller frees), for pages that list a file.
  VariableTable copy(PropertyTable table) const;

  // Text of key in a string table, or "(missing)".
  static std::string text(StringTable table, const char* key);
  static const char* pathOf(StringTable table);

 private:
  mutable Mutex mu_;
  VariableTable tables_[static_cast<int>(PropertyTable::kCount)] GUARDED_BY(mu_) = {};
  bool loaded_ GUARDED_BY(mu_) = false;
};

}  // namespace brivo
