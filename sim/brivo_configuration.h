// The configuration of a brivo pair: the saved configuration block (arrays, logical drives, hot
// spares, LUN mapping, settings), the open change of a 0x80 ... 0x82 bracket with the work it
// queued for the save, the next logical-drive reference number, a whole block being restored, and
// the saved keys config.header, config.array.N, config.ld.N, config.spares, config.mapping (records
// as hexadecimal bytes) and config.reference. An open change is not saved: it would not survive
// a controller restart either.
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "modules/brivo/protocol.h"
#include "sim/brivo_fields.h"
#include "sim/controller_model.h"
#include "sim/pair_state.h"

namespace sim {

// Work to do when the open change is saved.
struct Pending {
  enum Kind { kEvent, kStartInit, kStartExpansion } kind = kEvent;
  uint8_t code = 0;
  std::vector<uint8_t> reason;
  int array = 0;
  int count = 0;
};

// Whether a record from outside (a restored block, a state file) can be used without reading past
// its arrays: valid byte 0 or kOn, at most 16 members, 1-32 segments on arrays 0-63.
bool arrayRecordSane(const brivo::ArrayRecord& array);
bool driveRecordSane(const brivo::LogicalDriveRecord& drive);

class BrivoConfiguration {
 public:
  BrivoConfiguration();

  brivo::ConfigurationBlock& live() { return *live_; }
  const brivo::ConfigurationBlock& live() const { return *live_; }
  // The open change, or null.
  brivo::ConfigurationBlock* change() { return edit_.get(); }
  const brivo::ConfigurationBlock* change() const { return edit_.get(); }
  // The open change (REQUIRES: one is open; the dispatch checks it for bracket operations).
  brivo::ConfigurationBlock& working() { return *edit_; }
  void beginChange();
  void dropChange();
  // Makes the change the saved configuration with a configuration time after the last one (now
  // when the clock allows) and returns the work it queued.
  std::vector<Pending> commitChange(int64_t now);
  std::vector<Pending>& pending() { return pending_; }
  void queueEvent(uint8_t code, std::vector<uint8_t> reason);
  // The reference number for a new logical drive (1-65535, wrapping).
  uint16_t takeReference();
  // The next reference number, and going back to it when what took numbers since was dropped.
  uint16_t referenceMark() const { return nextReference_; }
  void rewindReference(uint16_t mark) { nextReference_ = mark; }

  // An empty configuration of the pair, made at now.
  void reset(const PairConfig& config, int64_t now);
  // Makes block the saved configuration; an open change is dropped.
  void replace(std::unique_ptr<brivo::ConfigurationBlock> block);

  // One piece of a block restored with mode 2 buffer 0x83, in order from offset 0. Once the last
  // piece is there and the block is sound, *complete gets it.
  ModelResult addRestoreChunk(uint32_t offset, std::span<const uint8_t> data,
                              std::unique_ptr<brivo::ConfigurationBlock>* complete);
  static bool validRestore(const brivo::ConfigurationBlock& block);

  // A header setting of the open change (0x97, 0x99-0x9B, 0xA2, 0xB7-0xBA, 0xBE), logged at the
  // save when it changed.
  ModelResult applySetting(uint8_t id, uint8_t value);

  static const SavedKeys<BrivoConfiguration>& savedKeys();

 private:
  std::unique_ptr<brivo::ConfigurationBlock> live_;  // the saved configuration
  std::unique_ptr<brivo::ConfigurationBlock> edit_;  // the open change, null when none
  std::vector<Pending> pending_;                     // done when edit_ is saved
  uint16_t nextReference_ = 1;
  std::vector<uint8_t> restore_;  // configuration block being restored
  uint32_t restoreNext_ = 0;
};

}  // namespace sim
