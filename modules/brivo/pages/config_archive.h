// Configuration archives kept on the server: copies of a pair's configuration block taken by
// ArchiveConfiguration, one file per pair and configuration time, so that a configuration can be
// fetched again (and restored with RestoreConfiguration) after the controllers lost or changed it.
//
// Files: "mods/Brivo/Archives/<ModDeviceName>-<configuration time>.cfg" (the pair's item name, the
// time as a decimal number), exactly the 940032 bytes the controller returned. The newest
// kArchivesPerPair files of each pair are kept; older ones are removed when a new one is taken.
//
// Thread safety: any request thread; files are replaced whole (page_files.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/variable_table.h"
#include "modules/brivo/protocol.h"

namespace brivo {

inline constexpr char kConfigArchiveFolder[] = "mods/Brivo/Archives";
inline constexpr int kArchivesPerPair = 10;

struct ArchiveFile {
  std::string name;  // file name inside kConfigArchiveFolder
  uint32_t configurationTime = 0;
  uint64_t bytes = 0;
};

// The archives of pairName, newest first.
std::vector<ArchiveFile> listArchives(const std::string& pairName);
// Writes block as the archive of pairName for its configuration time and prunes the pair's old
// ones. True with *name set on success.
bool writeArchive(const std::string& pairName, const ConfigurationBlock& block, std::string* name);
// True when name is one of pairName's archives (never a path: no folder part is accepted).
bool isArchiveOf(const std::string& pairName, const std::string& name);

// The list "ArchiveLoop" (fields Name, ConfigurationTime, Time, Bytes) of pairName's archives.
void addArchiveRows(VariableTable* reply, const std::string& pairName);

// "YYYY-MM-DD HH:MM:SS" of seconds since 1970 in local time.
std::string localTimeText(uint32_t seconds);

}  // namespace brivo
