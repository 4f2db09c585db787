// `mapping display`: the detected host ports with the logical drives mapped to each, then the
// mapped host ports that no controller port sees at the moment. -hba, -mi and -li narrow the
// display to one host port, one mapping entry or one logical drive; -sum prints one line per
// mapping entry instead of the blocks.
//
// Thread safety: one command at a time (cli_context.h).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_mapping_hosts.h"
#include "modules/brivo/cli/cli_storage.h"

namespace brivo::cli {

namespace {

// What the modifiers narrow the display to.
struct Filter {
  int hba = -1;    // detected host index
  int entry = -1;  // mapping entry
  bool hostGiven = false;
  HostPortId host;  // from -mi WWNN-WWPN
  int drive = -1;
};

bool entryShown(const Filter& filter, const MappingTable& map, int i) {
  const MappingEntry& e = map.entries[i];
  if (e.valid != kOn) return false;
  if (filter.entry >= 0 && i != filter.entry) return false;
  if (filter.hostGiven && !sameHost(e, filter.host)) return false;
  return filter.drive < 0 || e.logicalDrive == filter.drive;
}

bool parseFilter(CliContext& ctx, const std::vector<DetectedHost>& hosts, Filter* filter) {
  const MappingTable& map = ctx.config->mapping;
  if (const char* word = modifierValue(ctx, kModHba)) {
    long index = 0;
    if (!parseNumber(word, &index)) {
      writeText(ctx, "Error: Parsing HBA index. Not a number.\n");
      return false;
    }
    if (index >= static_cast<long>(hosts.size())) {
      writeText(ctx, "Error: Parsing HBA index. Out of range.\n");
      return false;
    }
    filter->hba = static_cast<int>(index);
    filter->hostGiven = true;
    filter->host = hosts[index].id;
  }
  if (const char* word = modifierValue(ctx, kModMapIndex)) {
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
      filter->entry = static_cast<int>(index);
    } else if (!parseHostText(word, &filter->host) || entriesOf(map, filter->host).empty()) {
      writeText(ctx, "Error: Parsing Map Index. Not a number or WWNN-WWPN not found.\n");
      return false;
    } else {
      filter->hostGiven = true;
    }
  }
  if (const char* word = modifierValue(ctx, kModLogicalId)) {
    if (!findLogicalDrive(ctx, word, &filter->drive)) return false;
  }
  return true;
}

std::string entryText(CliContext& ctx, const MappingEntry& e) {
  const LogicalDriveRecord& ld = ctx.config->logicalDrives[e.logicalDrive % kMaxLogicalDrives];
  char text[160];
  std::snprintf(text, sizeof(text), "Logical Drive %d \"%s\" as LUN %d, %s, ports %s", e.logicalDrive,
                fieldText(ld.name, sizeof(ld.name)).c_str(), e.lun,
                e.permission == kMappingReadOnly ? "ro" : "rw", portsText(e.portMask).c_str());
  return text;
}

// One host port's block; nothing when -mi or -li leave none of its mappings.
void writeHost(CliContext& ctx, const char* title, const HostPortId& host, const char* seenOn,
               const Filter& filter) {
  const MappingTable& map = ctx.config->mapping;
  std::vector<int> shown;
  for (int i : entriesOf(map, host)) {
    if (entryShown(filter, map, i)) shown.push_back(i);
  }
  const bool narrowed = filter.entry >= 0 || filter.drive >= 0;
  if (narrowed && shown.empty()) return;
  writeRuler(ctx, '-', title);
  const std::string name = hostName(host);
  writeField(ctx, "Name*", name.empty() ? "(none)" : name);
  writeField(ctx, "WWNN", wwnText(host.wwnn));
  writeField(ctx, "WWPN", wwnText(host.wwpn));
  writeField(ctx, "Seen On", seenOn);
  if (shown.empty()) writeField(ctx, "Mappings", "none");
  for (int i : shown) writeField(ctx, ("Map " + std::to_string(i)).c_str(), entryText(ctx, map.entries[i]));
}

int detectedIndex(const std::vector<DetectedHost>& hosts, const MappingEntry& e) {
  for (size_t h = 0; h < hosts.size(); ++h) {
    if (sameHost(e, hosts[h].id)) return static_cast<int>(h);
  }
  return -1;
}

void writeSummary(CliContext& ctx, const std::vector<DetectedHost>& hosts, const Filter& filter) {
  const MappingTable& map = ctx.config->mapping;
  writeText(ctx, "Map HBA WWNN             WWPN               LD  LUN Perm Ports\n");
  writeText(ctx, "--- --- ---------------- ---------------- ---- ---- ---- -------------------\n");
  for (int i = 0; i < mappingCount(map); ++i) {
    if (!entryShown(filter, map, i)) continue;
    const MappingEntry& e = map.entries[i];
    const int hba = detectedIndex(hosts, e);
    writeText(ctx, "%3d %3s %-16s %-16s %4d %4d %-4s %s\n", i, hba >= 0 ? std::to_string(hba).c_str() : "-",
              wwnText(e.hostWwnn).c_str(), wwnText(e.hostWwpn).c_str(), e.logicalDrive, e.lun,
              e.permission == kMappingReadOnly ? "ro" : "rw", portsText(e.portMask).c_str());
  }
}

}  // namespace

int mappingDisplay(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  std::vector<DetectedHost> hosts;
  Filter filter;
  if (!detectHosts(ctx, &hosts) || !parseFilter(ctx, hosts, &filter)) return 1;
  writeText(ctx, "--- Detected HBA Total=%d ---\n", static_cast<int>(hosts.size()));
  if (hasModifier(ctx, kModSummary)) {
    writeSummary(ctx, hosts, filter);
    return 0;
  }
  const MappingTable& map = ctx.config->mapping;
  for (size_t h = 0; h < hosts.size(); ++h) {
    if (filter.hostGiven && !(std::memcmp(hosts[h].id.wwpn, filter.host.wwpn, 8) == 0)) continue;
    if (filter.entry >= 0 && !sameHost(map.entries[filter.entry], hosts[h].id)) continue;
    writeHost(ctx, ("HBA " + std::to_string(h)).c_str(), hosts[h].id, portsText(hosts[h].seenOn).c_str(),
              filter);
  }
  if (filter.hba >= 0) return 0;
  // Mapped host ports that nobody sees now, each once.
  std::vector<HostPortId> undetected;
  for (int i = 0; i < mappingCount(map); ++i) {
    const MappingEntry& e = map.entries[i];
    if (e.valid != kOn || detectedIndex(hosts, e) >= 0 || !entryShown(filter, map, i)) continue;
    const bool listed = std::any_of(undetected.begin(), undetected.end(),
                                    [&](const HostPortId& h) { return sameHost(e, h); });
    if (listed) continue;
    HostPortId host;
    std::memcpy(host.wwnn, e.hostWwnn, 8);
    std::memcpy(host.wwpn, e.hostWwpn, 8);
    undetected.push_back(host);
    writeHost(ctx, "Host port not detected", host, "not detected", filter);
  }
  return 0;
}

}  // namespace brivo::cli
