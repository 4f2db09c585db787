// Host ports (HBAs) for the mapping commands: the ones the controllers detect (READ BUFFER 0x42,
// initiator entries, each WWPN once with the controller ports that see it), the "WWNN-WWPN" text
// that names any host port, the mapping entries of one host port, and the names kept for host
// ports in NodePortNameList.db.
//
// Thread safety: one command at a time (cli_context.h); names through ModuleFiles' lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

struct HostPortId {
  uint8_t wwnn[8] = {};
  uint8_t wwpn[8] = {};
};

struct DetectedHost {
  HostPortId id;
  uint8_t seenOn = 0;  // controller ports that see it: bit 0 C0P0 ... bit 3 C1P1
};

// The detected host ports in topology order; false after "Error: Cannot read host topology. ...".
bool detectHosts(CliContext& ctx, std::vector<DetectedHost>* hosts);

// "WWNN-WWPN" (16 hexadecimal digits each) to a host port; false for any other text.
bool parseHostText(const char* text, HostPortId* host);
// "WWNN-WWPN", with the name in quotes behind it when one is kept.
std::string hostText(const HostPortId& host);
// The name kept for the host port, or "".
std::string hostName(const HostPortId& host);

// The valid entries of a table (its count, at most kMaxMappings).
int mappingCount(const MappingTable& map);
// Whether an entry belongs to the host port: the same WWPN, and the same WWNN unless the entry has
// none (tables written in the older layout carry no node name).
bool sameHost(const MappingEntry& entry, const HostPortId& host);
// The indexes of the entries of one host port.
std::vector<int> entriesOf(const MappingTable& map, const HostPortId& host);

}  // namespace brivo::cli
