// The `mapping` commands: which host ports (HBAs, by their WWNN and WWPN) see which logical drives
// under which LUN. The controller keeps the whole table (MappingTable in the configuration); every
// change writes it back whole with 0x92 between 0x80 and 0x82.
//
// Host ports are named by -hba (the index of a host port the controllers detect, in the order of
// the host topology, each WWPN once) or by -mi (the index of an entry of the mapping table, which
// names that entry's host port, or the text WWNN-WWPN of any host port). Names given with -n are
// this server's own: the controller has no room for them, so they are kept in
// NodePortNameList.db by WWPN, where the web pages find them too.
//
// Thread safety: one command at a time (cli_context.h); the name file through ModuleFiles' lock.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_mapping_hosts.h"
#include "modules/brivo/cli/cli_storage.h"
#include "modules/brivo/module_state.h"

namespace brivo::cli {

namespace {

constexpr size_t kMaxHostName = 32;

// The host port a command names by -hba or -mi; false after an error line. entry is the mapping
// index when -mi gave a number, else -1.
bool chooseHost(CliContext& ctx, bool mustBeMapped, HostPortId* host, int* entry) {
  *entry = -1;
  const MappingTable& map = ctx.config->mapping;
  if (const char* word = modifierValue(ctx, kModHba)) {
    std::vector<DetectedHost> hosts;
    if (!detectHosts(ctx, &hosts)) return false;
    long index = 0;
    if (!parseNumber(word, &index)) {
      writeText(ctx, "Error: Parsing HBA index. Not a number.\n");
      return false;
    }
    if (index >= static_cast<long>(hosts.size())) {
      writeText(ctx, "Error: Parsing HBA index. Out of range.\n");
      return false;
    }
    *host = hosts[index].id;
    return true;
  }
  const char* word = modifierValue(ctx, kModMapIndex);
  long index = 0;
  if (parseNumber(word, &index)) {
    if (mappingCount(map) == 0) {
      writeText(ctx, "Error: No existing Mappings.\n");
      return false;
    }
    if (index >= mappingCount(map)) {
      writeText(ctx, "Error: Parsing Map Index. Out of range.\n");
      return false;
    }
    *entry = static_cast<int>(index);
    std::memcpy(host->wwnn, map.entries[index].hostWwnn, 8);
    std::memcpy(host->wwpn, map.entries[index].hostWwpn, 8);
    return true;
  }
  if (!parseHostText(word, host) || (mustBeMapped && entriesOf(map, *host).empty())) {
    writeText(ctx, "Error: Parsing Map Index. Not a number or WWNN-WWPN not found.\n");
    return false;
  }
  return true;
}

// Writes table (its count entries, the rest cleared) in one configuration change.
bool writeTable(CliContext& ctx, const std::string& operation, MappingTable table) {
  table.layout = 2;
  for (int i = table.count; i < kMaxMappings; ++i) table.entries[i] = MappingEntry{};
  return changeConfiguration(ctx, operation, [&](ControllerCommand* failed) {
    return sendOperation(ctx.pair, kOpWriteMapping, 0, 0, 0, &table, sizeof(table), failed);
  });
}

// Keeps the entries for which keep() holds, in order; returns how many were dropped.
template <typename Keep>
int filterTable(MappingTable* table, Keep keep) {
  int kept = 0;
  const int count = mappingCount(*table);
  for (int i = 0; i < count; ++i) {
    if (keep(i, table->entries[i])) table->entries[kept++] = table->entries[i];
  }
  table->count = static_cast<uint16_t>(kept);
  return count - kept;
}

bool parsePermission(CliContext& ctx, const char* word, uint8_t* permission) {
  if (word == nullptr || strcasecmp(word, "rw") == 0) {
    *permission = kMappingReadWrite;
    return true;
  }
  if (strcasecmp(word, "ro") == 0) {
    *permission = kMappingReadOnly;
    return true;
  }
  writeText(ctx, "Error: Parsing permission value. Values are rw and ro.\n");
  return false;
}

bool parseLunNumber(CliContext& ctx, const char* word, uint16_t* lun) {
  long value = 0;
  if (!parseNumber(word, &value)) {
    writeText(ctx, "Error: Parsing LUN value. Not a number.\n");
    return false;
  }
  if (value >= kMaxHostLuns) {
    writeText(ctx, "Error: Parsing LUN value. Out of range.\n");
    return false;
  }
  *lun = static_cast<uint16_t>(value);
  return true;
}

// The LUN a new mapping gets without -lun: the drive's host LUN when this host port does not use
// it yet, else the lowest LUN the host port does not use.
uint16_t defaultLun(const MappingTable& map, const HostPortId& host, const LogicalDriveRecord& drive) {
  auto used = [&](uint16_t lun) {
    for (int i : entriesOf(map, host)) {
      if (map.entries[i].lun == lun) return true;
    }
    return false;
  };
  if (drive.hostLun != kLunNone && !used(drive.hostLun)) return drive.hostLun;
  for (int lun = 0; lun < kMaxHostLuns; ++lun) {
    if (!used(static_cast<uint16_t>(lun))) return static_cast<uint16_t>(lun);
  }
  return kLunNone;
}

bool saveHostName(CliContext& ctx, const HostPortId& host, const std::string& name) {
  const std::string key = wwnText(host.wwpn);
  moduleState().files.setValue(PropertyTable::kNodePortNames, key.c_str(), name.c_str());
  if (moduleState().files.save(PropertyTable::kNodePortNames) != 0) {
    writeText(ctx, "Error: Cannot save the host port name.\n");
    return false;
  }
  return true;
}

}  // namespace

int mappingCreate(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  HostPortId host;
  int entry = -1;
  int drive = 0;
  std::string name;
  uint8_t ports = 0x0F;
  uint8_t permission = kMappingReadWrite;
  if (!chooseHost(ctx, false, &host, &entry) ||
      !findLogicalDrive(ctx, modifierValue(ctx, kModLogicalId), &drive) ||
      !parseName(ctx, "Mapping", modifierValue(ctx, kModName), kMaxHostName, &name) ||
      (hasModifier(ctx, kModPorts) && !parsePorts(ctx, modifierValues(ctx, kModPorts), &ports)) ||
      !parsePermission(ctx, modifierValue(ctx, kModPermission), &permission)) {
    return 1;
  }
  MappingTable table = ctx.config->mapping;
  table.count = static_cast<uint16_t>(mappingCount(table));
  uint16_t lun = defaultLun(table, host, ctx.config->logicalDrives[drive]);
  if (const char* word = modifierValue(ctx, kModLun); word != nullptr && !parseLunNumber(ctx, word, &lun))
    return 1;
  for (int i : entriesOf(table, host)) {
    if (table.entries[i].logicalDrive == drive) {
      writeText(ctx, "Error: Logical Drive %d is already mapped to this host port (map %d).\n", drive, i);
      return 1;
    }
    if (table.entries[i].lun == lun) {
      writeText(ctx, "Error: LUN %d is already mapped for this host port (map %d).\n", lun, i);
      return 1;
    }
  }
  if (table.count >= kMaxMappings || lun == kLunNone) {
    writeText(ctx, "Error: No room for another mapping.\n");
    return 1;
  }
  MappingEntry& added = table.entries[table.count];
  added = MappingEntry{};
  std::memcpy(added.hostWwpn, host.wwpn, 8);
  std::memcpy(added.hostWwnn, host.wwnn, 8);
  added.logicalDrive = static_cast<uint16_t>(drive);
  added.lun = lun;
  added.portMask = ports;
  added.permission = permission;
  added.valid = kOn;
  const int index = table.count++;
  if (!writeTable(ctx, "create mapping", table)) return 1;
  // The mapping stands even when its name cannot be kept; the reply says both.
  writeText(ctx, "Mapping %d created: host port %s sees Logical Drive %d as LUN %d (%s, ports %s).\n", index,
            hostText(host).c_str(), drive, lun, permission == kMappingReadOnly ? "ro" : "rw",
            portsText(ports).c_str());
  if (!name.empty() && !saveHostName(ctx, host, name)) return 1;
  return 0;
}

int mappingDelete(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  MappingTable table = ctx.config->mapping;
  table.count = static_cast<uint16_t>(mappingCount(table));
  if (table.count == 0) {
    writeText(ctx, "Error: No existing Mappings.\n");
    return 1;
  }
  const bool hostGiven = hasModifier(ctx, kModHba) || hasModifier(ctx, kModMapIndex);
  HostPortId host;
  int entry = -1;
  int drive = -1;
  if (hostGiven && !chooseHost(ctx, true, &host, &entry)) return 1;
  if (const char* word = modifierValue(ctx, kModLogicalId);
      word != nullptr && !findLogicalDrive(ctx, word, &drive)) {
    return 1;
  }
  const int dropped = filterTable(&table, [&](int i, const MappingEntry& e) {
    const bool hostMatches = !hostGiven || (entry >= 0 ? i == entry : sameHost(e, host));
    const bool driveMatches = drive < 0 || e.logicalDrive == drive;
    return !(hostMatches && driveMatches);
  });
  if (dropped == 0) {
    writeText(ctx, "Error: No Mapping matches.\n");
    return 1;
  }
  if (!writeTable(ctx, "delete mapping", table)) return 1;
  writeText(ctx, "%d Mapping%s deleted.\n", dropped, dropped == 1 ? "" : "s");
  return 0;
}

int mappingSet(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  HostPortId host;
  int entry = -1;
  std::string name;
  const char* nameWord = modifierValue(ctx, kModName);
  const char* clearWord = modifierValue(ctx, kModClearLun);
  uint16_t lun = 0;
  if (!chooseHost(ctx, nameWord == nullptr, &host, &entry) ||
      (nameWord != nullptr && !parseName(ctx, "Mapping", nameWord, kMaxHostName, &name)) ||
      (clearWord != nullptr && !parseLunNumber(ctx, clearWord, &lun))) {
    return 1;
  }
  if (nameWord == nullptr && clearWord == nullptr) {
    writeText(ctx, "Error: Nothing to set. Give -n or -cl.\n");
    return 1;
  }
  if (clearWord != nullptr) {
    MappingTable table = ctx.config->mapping;
    table.count = static_cast<uint16_t>(mappingCount(table));
    const int dropped =
        filterTable(&table, [&](int, const MappingEntry& e) { return !(sameHost(e, host) && e.lun == lun); });
    if (dropped == 0) {
      writeText(ctx, "Error: LUN %d is not mapped for host port %s.\n", lun, hostText(host).c_str());
      return 1;
    }
    if (!writeTable(ctx, "set mapping", table)) return 1;
    writeText(ctx, "LUN %d removed from host port %s.\n", lun, hostText(host).c_str());
  }
  if (nameWord != nullptr) {
    if (!saveHostName(ctx, host, name)) return 1;
    writeText(ctx, "Host port %s is named \"%s\".\n", hostText(host).c_str(), name.c_str());
  }
  return 0;
}

}  // namespace brivo::cli
