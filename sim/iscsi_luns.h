// What an iSCSI connection needs from the devices behind it: the targets with their
// authentication, which LUNs exist, and the execution of one SCSI command on a LUN. raidsim's
// implementation (iscsi_sim_luns.h) maps every simulated host to a target and its devices to
// LUNs; tests use small fakes.
//
// LUN numbers travel in the 8-byte LUN field of the PDUs in the SAM single-level forms:
// peripheral addressing for 0-255 and flat space addressing for 256-16383.
//
// Thread safety: implementations answer from any number of connection threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/iscsi_login.h"

namespace iscsi {

struct TaskRequest {
  std::string_view target;
  uint64_t lun = 0;
  std::span<const uint8_t> cdb;
  std::span<const uint8_t> dataOut;
  uint32_t expectedIn = 0;  // the initiator's expected data-in length
};

struct TaskReply {
  // False: the device did not answer. The task stays open until the initiator gives up on it
  // (task management), as a real target does with a command its device never completes.
  bool answered = true;
  uint8_t status = 0;
  std::vector<uint8_t> sense;
  // May be longer than the expected length; the excess is reported as a residual overflow.
  std::vector<uint8_t> data;
  // The bytes the command itself names (in or out) when the device knows, else -1; the target
  // reports the difference from the initiator's expected length as a residual.
  int64_t commandLength = -1;
};

class LunBackend {
 public:
  virtual ~LunBackend() = default;
  // The target of that name, or null. The entry lives as long as the backend.
  virtual const TargetEntry* findTarget(std::string_view name) const = 0;
  virtual std::vector<std::string> targetNames() const = 0;
  virtual bool hasLun(std::string_view target, uint64_t lun) const = 0;
  virtual TaskReply execute(const TaskRequest& request) = 0;
};

// The 8-byte LUN field of a LUN number, and back (nullopt for addressing forms not used here).
uint64_t encodeLun(uint64_t lun);
std::optional<uint64_t> decodeLun(uint64_t field);

}  // namespace iscsi
