// Host ports of the mapping commands; see cli_mapping_hosts.h.
//
// Thread safety: one command at a time; names through ModuleFiles' lock.
#include "modules/brivo/cli/cli_mapping_hosts.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "modules/brivo/module_state.h"

namespace brivo::cli {

namespace {

constexpr uint8_t kNoWwn[8] = {};

}  // namespace

bool detectHosts(CliContext& ctx, std::vector<DetectedHost>* hosts) {
  hosts->clear();
  auto topology = std::make_unique<HostTopology>();
  ControllerCommand failed{};
  const int result = readHostTopology(ctx.pair, topology.get(), &failed);
  if (result != kResultGood) {
    writeCommandFailure(ctx, "read host topology", result, failed);
    return false;
  }
  const int count = std::min<int>(topology->count, 256);
  for (int i = 0; i < count; ++i) {
    const HostTopologyEntry& e = topology->entries[i];
    if (e.kind != kTopologyInitiator) continue;
    const uint8_t port = static_cast<uint8_t>(1 << ((e.controller & 1) * 2 + (e.port & 1)));
    auto known = std::find_if(hosts->begin(), hosts->end(),
                              [&](const DetectedHost& h) { return std::memcmp(h.id.wwpn, e.wwpn, 8) == 0; });
    if (known != hosts->end()) {
      known->seenOn = static_cast<uint8_t>(known->seenOn | port);
      continue;
    }
    DetectedHost host;
    std::memcpy(host.id.wwnn, e.wwnn, 8);
    std::memcpy(host.id.wwpn, e.wwpn, 8);
    host.seenOn = port;
    hosts->push_back(host);
  }
  return true;
}

bool parseHostText(const char* text, HostPortId* host) {
  if (text == nullptr || std::strlen(text) != 33 || text[16] != '-') return false;
  const std::string nodeName(text, 16);
  HostPortId parsed;
  if (!parseWwn(nodeName.c_str(), parsed.wwnn) || !parseWwn(text + 17, parsed.wwpn)) return false;
  *host = parsed;
  return true;
}

std::string hostText(const HostPortId& host) {
  std::string text = wwnText(host.wwnn) + "-" + wwnText(host.wwpn);
  const std::string name = hostName(host);
  if (!name.empty()) text += " \"" + name + "\"";
  return text;
}

std::string hostName(const HostPortId& host) {
  const std::string key = wwnText(host.wwpn);
  if (!moduleState().files.has(PropertyTable::kNodePortNames, key.c_str())) return "";
  return moduleState().files.value(PropertyTable::kNodePortNames, key.c_str());
}

int mappingCount(const MappingTable& map) { return std::min<int>(map.count, kMaxMappings); }

bool sameHost(const MappingEntry& entry, const HostPortId& host) {
  if (std::memcmp(entry.hostWwpn, host.wwpn, 8) != 0) return false;
  return std::memcmp(entry.hostWwnn, kNoWwn, 8) == 0 || std::memcmp(host.wwnn, kNoWwn, 8) == 0 ||
         std::memcmp(entry.hostWwnn, host.wwnn, 8) == 0;
}

std::vector<int> entriesOf(const MappingTable& map, const HostPortId& host) {
  std::vector<int> entries;
  for (int i = 0; i < mappingCount(map); ++i) {
    if (map.entries[i].valid == kOn && sameHost(map.entries[i], host)) entries.push_back(i);
  }
  return entries;
}

}  // namespace brivo::cli
