// raidsim's devices behind its iSCSI target: every simulated host is one target, named by its
// iscsi_name or "iqn.2024-01.org.kestrova.raidsim:<configuration name>.host<N>", and its devices
// are LUNs 0, 1, 2 ... in address order (bus, target, LUN). Commands go through the simulated
// world exactly as commands from the Unix socket do, with the same injected faults; REPORT LUNS
// is the target's own, and a LUN that does not exist answers as SPC says a missing logical unit
// does (peripheral qualifier 3, LOGICAL UNIT NOT SUPPORTED).
//
// Thread safety: the target list is fixed at construction; execute may run on any number of
// threads (the world serializes the devices).
#pragma once

#include <string>
#include <vector>

#include "sim/iscsi_luns.h"
#include "sim/sim_config.h"
#include "sim/sim_world.h"

namespace sim {

// "iqn.2024-01.org.kestrova.raidsim:<stem>.host<N>", the stem being the configuration file's
// name without its folder and extension, lower-cased, other characters than letters, digits,
// '.' and '-' made '-'.
std::string defaultIscsiName(const std::string& configPath, int host);

class SimLunBackend : public iscsi::LunBackend {
 public:
  // REQUIRES: world outlives the backend. hosts: the configuration's hosts; configPath names
  // the targets that have no iscsi_name.
  SimLunBackend(SimWorld& world, const std::vector<HostConfig>& hosts, const std::string& configPath);

  const iscsi::TargetEntry* findTarget(std::string_view name) const override;
  std::vector<std::string> targetNames() const override;
  bool hasLun(std::string_view target, uint64_t lun) const override;
  iscsi::TaskReply execute(const iscsi::TaskRequest& request) override;

  // "TARGET LUN HOST:BUS:TARGET:LUN" lines, one per LUN, for the daemon's start message.
  std::string describe() const;

 private:
  struct Target {
    iscsi::TargetEntry entry;
    int host = 0;
    std::vector<SimAddress> luns;  // index = LUN number
  };
  const Target* find(std::string_view name) const;

  SimWorld& world_;
  std::vector<Target> targets_;
};

}  // namespace sim
