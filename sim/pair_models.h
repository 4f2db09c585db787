// The registry of controller-pair models that a configuration can name ("model = NAME"):
//   default   every READ/WRITE BUFFER fails with ILLEGAL REQUEST (the controller protocol is absent)
//   loopback  a test model: WRITE BUFFER mode 2 stores data per buffer ID, READ BUFFER returns it;
//             a buffer never written reads as a patterned buffer of "model.size" bytes (default
//             940032) whose first 32-bit little-endian word is its size. Mode 1 reads return the
//             CDB's length of pattern bytes. For transport tests and benchmarks.
//   brivo     the Brivo RAID controller protocol (brivo_model.h, modules/brivo/protocol.h)
// A new model is added by one line in makePairModel (pair_models.cc).
//
// Thread safety: the functions are pure; each model object is used under the world's lock.
#pragma once

#include <memory>
#include <string>

#include "sim/controller_model.h"

namespace sim {

// A new model of that name, or null for an unknown name.
std::unique_ptr<ControllerPairModel> makePairModel(const std::string& name);

}  // namespace sim
