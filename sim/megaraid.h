// A simulated LSI MegaRAID controller, reached only through the storelib substitute
// (sim/storelib/): its physical drives are plain disks outside any enclosure (system drives),
// optionally an SES enclosure behind it with disks in its first slots. The host never sees these
// devices as SCSI devices; the substitute lists them and passes CDBs to them with the
// "megaraid" control commands.
//
// Device IDs: the enclosure (when configured) is device 0, its disks 1..N in slots 0..N-1, then
// the system drives; system drives report enclosure device ID 0xFFFF.
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/ses_enclosure.h"
#include "sim/sim_disk.h"

namespace sim {

struct MegaRaidConfig {
  std::string name;
  int id = -1;           // controller ID; -1: its position among the [megaraid] sections
  bool sasItIr = false;  // type "sas": a SAS IT/IR controller rather than a MegaRAID one
  int systemDrives = 0;
  std::string enclosure;  // an [enclosure] section behind this controller, or empty
  int enclosureDrives = 0;
  uint64_t driveBlocks = 1953525168ULL;
};

class MegaRaidController {
 public:
  struct Drive {
    uint16_t deviceId = 0;
    uint16_t enclosureDeviceId = 0xFFFF;
    uint8_t enclosureIndex = 0xFF;
    uint8_t slot = 0xFF;
    uint8_t type = 0;  // 0 disk, 13 enclosure
    SimTarget* target = nullptr;
  };

  // enclosure: the device named by config.enclosure (not owned), or null.
  MegaRaidController(const MegaRaidConfig& config, int id, SesEnclosure* enclosure);

  int id() const { return id_; }
  const std::string& name() const { return name_; }
  uint8_t type() const { return sasItIr_ ? 1 : 0; }
  const std::vector<Drive>& drives() const { return drives_; }
  SimTarget* find(int deviceId) const;

 private:
  int id_;
  std::string name_;
  bool sasItIr_;
  std::vector<std::unique_ptr<SimDisk>> disks_;
  std::vector<Drive> drives_;
};

// The "megaraid" control commands (README); 0 done with *reply, 1 refused with the reason.
//   megaraid list                                    "ID TYPE NAME" per controller
//   megaraid drives CTRL                             "DEV ENCLOSURE_DEV INDEX SLOT TYPE" per drive
//   megaraid exec CTRL DEV in|out|none ALLOC CDB [DATA]   "STATUS SENSE DATA" (hex, "-" if empty)
int megaRaidCommand(const std::vector<std::unique_ptr<MegaRaidController>>& controllers,
                    const std::vector<std::string>& words, std::string* reply);

}  // namespace sim
