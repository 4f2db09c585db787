// The behaviour of a simulated controller pair behind READ BUFFER (0x3C) and WRITE BUFFER (0x3B):
// the controller's command protocol lives in a model that plugs into the pair. The base class
// answers every buffer command with CHECK CONDITION, ILLEGAL REQUEST, INVALID FIELD IN CDB; a real
// model (the RAID controller semantics) derives from it and is registered in pair_models.cc.
//
// The pair hands the model the decoded CDB fields and its PairState; the model may keep its own
// state in its object, saved and restored through saveState/loadState as key/value texts.
//
// Thread safety: calls are serialized by the simulated world; a model needs no locking.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/pair_state.h"
#include "sim/sim_scsi.h"

namespace sim {

struct BufferCommand {
  int controller = 0;  // 0 = A, 1 = B: the controller whose path carried the command
  uint8_t mode = 0;    // CDB byte 1, low 5 bits
  uint8_t bufferId = 0;
  uint32_t offset = 0;           // CDB bytes 3-5 (in mode 1 the three parameter bytes)
  uint32_t length = 0;           // CDB bytes 6-8 (for some buffer IDs parameters instead)
  std::span<const uint8_t> cdb;  // the whole CDB
  uint32_t dataInLength = 0;     // READ BUFFER: the most the initiator accepts
};

struct ModelResult {
  bool noAnswer = false;  // the controller does not answer at all
  SenseCode sense;        // key 0: GOOD
  static ModelResult good() { return {}; }
  static ModelResult check(SenseCode code) { return {false, code}; }
};

class ControllerPairModel {
 public:
  virtual ~ControllerPairModel() = default;
  virtual const char* name() const { return "default"; }

  // Called once the pair's state is built (at start and after a state reset).
  virtual void attach(PairState& pair) { (void)pair; }

  // READ BUFFER: fill *data. It is cut to the initiator's length only: the model applies the
  // CDB's transfer length itself (some buffer IDs carry parameters in those bytes).
  virtual ModelResult readBuffer(PairState& pair, const BufferCommand& command, std::vector<uint8_t>* data) {
    (void)pair, (void)command, (void)data;
    return ModelResult::check({kSenseIllegalRequest, kAscInvalidFieldInCdb, 0});
  }
  // WRITE BUFFER with the data sent.
  virtual ModelResult writeBuffer(PairState& pair, const BufferCommand& command,
                                  std::span<const uint8_t> data) {
    (void)pair, (void)command, (void)data;
    return ModelResult::check({kSenseIllegalRequest, kAscInvalidFieldInCdb, 0});
  }

  // A fault-injection command changed the pair (already applied to the state).
  virtual void onChange(PairState& pair, const PairChange& change) { (void)pair, (void)change; }

  // Persistent state of the model as key/value texts (no newlines in either).
  virtual void saveState(const PairState& pair, std::vector<std::pair<std::string, std::string>>* out) const {
    (void)pair, (void)out;
  }
  // One saved key/value; false when the model does not know the key.
  virtual bool loadState(PairState& pair, const std::string& key, const std::string& value) {
    (void)pair, (void)key, (void)value;
    return false;
  }

  // One line for the ctl "status" command, or empty.
  virtual std::string describe(const PairState& pair) const {
    (void)pair;
    return "";
  }
};

}  // namespace sim
