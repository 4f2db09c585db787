// LUN field encoding of iSCSI PDUs; see iscsi_luns.h.
#include "sim/iscsi_luns.h"

namespace iscsi {

uint64_t encodeLun(uint64_t lun) {
  if (lun < 256) return lun << 48;                       // peripheral device addressing, bus 0
  return ((0x4000 | (lun & 0x3FFF)) & 0xFFFF) << 48;     // flat space addressing
}

std::optional<uint64_t> decodeLun(uint64_t field) {
  uint64_t first = field >> 48;
  if ((field & 0x0000FFFFFFFFFFFFULL) != 0) return std::nullopt;  // a second level
  switch (first >> 14) {
    case 0:
      if ((first >> 8) != 0) return std::nullopt;  // a bus other than 0
      return first & 0xFF;
    case 1:
      return first & 0x3FFF;
    default:
      return std::nullopt;
  }
}

}  // namespace iscsi
