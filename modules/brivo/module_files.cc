// The module's files; see module_files.h.
#include "modules/brivo/module_files.h"

#include <cstdio>
#include <cstdlib>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/thread_annotations.h"

namespace brivo {

namespace {

struct TableFile {
  const char* path;
  const char* header;  // null: never written back
};

constexpr TableFile kTableFiles[] = {
    {kSettingsPath, nullptr},
    {kNodePortNamesPath, kNodePortNamesHeader},
    {kConfigurationsPath, kConfigurationsHeader},
    {kEventSeverityPath, nullptr},
    {kProfilesPath, nullptr},
    {kModuleServerIniPath, nullptr},
};
static_assert(std::size(kTableFiles) == static_cast<size_t>(PropertyTable::kCount));

int indexOf(PropertyTable table) { return static_cast<int>(table); }

}  // namespace

ModuleFiles::~ModuleFiles() {
  for (VariableTable& table : tables_) freeVariableTable(&table);
}

void ModuleFiles::load() {
  MutexLock lock(mu_);
  for (size_t i = 0; i < std::size(kTableFiles); ++i) {
    freeVariableTable(&tables_[i]);
    tables_[i] = readPropertyFile(kTableFiles[i].path);
  }
  loadStringTables(kStatusStringsPath, kEventStringsPath, kCommandStringsPath);
  loaded_ = true;
}

int ModuleFiles::saveAndUnload() {
  int failures = 0;
  bool wasLoaded = false;
  {
    MutexLock lock(mu_);
    wasLoaded = loaded_;
  }
  // Tables that were never read are never written: that would empty the files on disk.
  if (wasLoaded) {
    for (PropertyTable table : {PropertyTable::kNodePortNames, PropertyTable::kConfigurations}) {
      if (save(table) != 0) ++failures;
    }
  }
  MutexLock lock(mu_);
  for (VariableTable& table : tables_) freeVariableTable(&table);
  if (wasLoaded) clearStringTables();
  loaded_ = false;
  return failures;
}

std::string ModuleFiles::value(PropertyTable table, const char* key) const {
  MutexLock lock(mu_);
  const char* found = key != nullptr ? getVariable(tables_[indexOf(table)], key) : nullptr;
  return found != nullptr ? found : kMissing;
}

bool ModuleFiles::has(PropertyTable table, const char* key) const {
  MutexLock lock(mu_);
  return key != nullptr && getVariable(tables_[indexOf(table)], key) != nullptr;
}

void ModuleFiles::setValue(PropertyTable table, const char* key, const char* value) {
  MutexLock lock(mu_);
  replaceVariable(&tables_[indexOf(table)], key, value);
}

int ModuleFiles::save(PropertyTable table) const {
  const TableFile& file = kTableFiles[indexOf(table)];
  if (file.header == nullptr) return -1;
  MutexLock lock(mu_);
  if (!loaded_) return -1;
  // An empty table still gives a file with its header, so a cleared list stays cleared.
  if (writePropertyFile(file.path, file.header, tables_[indexOf(table)]) != 0) {
    std::printf("Brivo could not write %s\n", file.path);
    return -1;
  }
  return 0;
}

VariableTable ModuleFiles::copy(PropertyTable table) const {
  MutexLock lock(mu_);
  return copyVariableTable(tables_[indexOf(table)]);
}

const char* ModuleFiles::pathOf(StringTable table) {
  switch (table) {
    case StringTable::kStatus:
      return kStatusStringsPath;
    case StringTable::kEvent:
      return kEventStringsPath;
    case StringTable::kCommand:
      return kCommandStringsPath;
  }
  return kCommandStringsPath;
}

std::string ModuleFiles::text(StringTable table, const char* key) {
  char* found = lookupString(pathOf(table), key != nullptr ? key : "");
  std::string value = found != nullptr ? found : kMissing;
  std::free(found);
  return value;
}

}  // namespace brivo
