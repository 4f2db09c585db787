// A simulated plain disk; see sim_disk.h.
#include "sim/sim_disk.h"

namespace sim {

bool SimDisk::extraVpdPage(uint8_t page, std::vector<uint8_t>* data) const {
  if (page == 0xB0) {
    // Block limits: no limit on a transfer's length, no UNMAP, no atomic writes.
    data->resize(data->size() + 0x3C, 0);
    return true;
  }
  if (page == 0xB1) {
    std::vector<uint8_t> body(0x3C, 0);
    putBe16(&body[0], 7200);  // medium rotation rate, revolutions per minute
    body[3] = 0x02;           // nominal form factor 3.5 inch
    data->insert(data->end(), body.begin(), body.end());
    return true;
  }
  return false;
}

bool SimDisk::handle(const SimCommand& command, SimReply* reply) { return handleBlockCommand(media_, command, reply); }

}  // namespace sim
