// The raidsim configuration file: which hosts, controller pairs, SES enclosures and disks the
// simulator presents, and where the host sees each of them. Format and examples: sim/README.md.
//
// Thread safety: pure functions over plain values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/megaraid.h"
#include "sim/pair_state.h"
#include "sim/ses_enclosure.h"
#include "sim/sim_disk.h"

namespace sim {

struct SimAddress {
  int host = 0;
  int bus = 0;
  int target = 0;
  int lun = 0;
  bool operator==(const SimAddress&) const = default;
};

struct HostConfig {
  int host = 0;
  int initiatorId = 7;
  bool limitFails = false;          // the transfer-limit query of this host fails
  uint32_t maxPhysicalPages = 257;  // 1024 KB; 0xFFFFFFFF for "unlimited"
  // As an iSCSI target (raidsim --iscsi): its name (empty: derived from the configuration file's
  // name) and CHAP (empty user: none; the target pair answers mutual CHAP).
  std::string iscsiName;
  std::string chapUser;
  std::string chapSecret;
  std::string chapTargetUser;
  std::string chapTargetSecret;
};

struct EnclosureEntry {
  SesConfig ses;
  bool hasPath = false;  // false: reachable only through its controller pair
  SimAddress address;
  bool claimed = false;
};

struct DiskEntry {
  DiskConfig disk;
  SimAddress address;
  bool claimed = true;
};

struct SimConfig {
  std::vector<HostConfig> hosts;  // every host a path names, in host order
  std::vector<PairConfig> pairs;
  std::vector<EnclosureEntry> enclosures;
  std::vector<DiskEntry> disks;
  std::vector<MegaRaidConfig> megaraids;  // ids settled: each has its controller ID
};

// Parses and checks a configuration. On failure *error names the line and the problem and
// *config is unspecified.
bool parseSimConfig(std::string_view text, SimConfig* config, std::string* error);
bool loadSimConfig(const std::string& path, SimConfig* config, std::string* error);

// An iSCSI name of the iqn., eui. or naa. form in the characters the protocol allows.
bool validIscsiName(std::string_view name);

// "H:B:T:L" with H 0-65535 and the rest 0-255.
bool parseSimAddress(std::string_view text, SimAddress* address);
std::string formatSimAddress(const SimAddress& address);

}  // namespace sim
