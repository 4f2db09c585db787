// The snapshots of a brivo pair, by source logical drive: areas given to host logical drives,
// snapshots that fill their area as time passes (snapshot_fill_per_hour), the warning and overrun
// flags with their events, and snapbacks that run like jobs; the operations on them and the reads
// of both generations (protocol_snapshots.h). Saved as snap.SOURCE
// "area,warning,present,time,fillBase,snapbackStart,reportedFlags".
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "modules/brivo/protocol.h"
#include "sim/brivo_fields.h"
#include "sim/controller_model.h"

namespace sim {

struct BrivoSnapshot {
  uint16_t area = 0;
  uint8_t warning = 80;
  bool present = false;
  int64_t time = 0;           // model seconds when taken
  int fillBase = 0;           // percent at `time` (set by the snapfill key)
  int64_t snapbackStart = 0;  // 0: none
  uint8_t reportedFlags = 0;  // warning/overrun flags already logged
};

// What the reports of a snapshot depend on besides the snapshot.
struct SnapshotClock {
  int64_t now = 0;
  int fillPerHour = 0;     // how fast an area fills
  int64_t jobSeconds = 1;  // how long a snapback runs
};

class BrivoSnapshotList {
 public:
  // What the operations need of the rest of the model.
  struct Context {
    const brivo::ConfigurationBlock& live;  // the saved configuration
    SnapshotClock clock;
    uint8_t generation = 0;  // 0: the controllers have no snapshots
    std::function<void(uint8_t code, const std::vector<uint8_t>& reason)> log;  // a pair event
  };

  // WRITE BUFFER operations, with the parameter block after the signature: 0x70 create, 0x71
  // release and 0x76 change an area; 0x73 take one snapshot, 0x75 a set at one instant; 0x74 delete;
  // 0x77 snapback.
  ModelResult changeArea(uint8_t id, std::span<const uint8_t> data, const Context& ctx);
  ModelResult take(std::span<const uint8_t> data, const Context& ctx);
  ModelResult takeSet(std::span<const uint8_t> data, const Context& ctx);
  ModelResult remove(std::span<const uint8_t> data, const Context& ctx);
  ModelResult snapback(std::span<const uint8_t> data, const Context& ctx);
  // READ BUFFER 0x61-0x67 (mode 1).
  ModelResult read(const BufferCommand& command, const Context& ctx, std::vector<uint8_t>* out) const;
  // Time passed: snapbacks end, areas that filled past a mark are logged once.
  void advance(const Context& ctx);
  // Areas whose source or area drive is gone are released.
  void prune(const Context& ctx);
  // Releases the areas of a logical drive (as source or as area) that a saved change deleted, or
  // all areas (none: the configuration was cleared), even when the number went to a new drive.
  void release(std::optional<uint16_t> drive, const Context& ctx);

  const std::map<uint16_t, BrivoSnapshot>& all() const { return snapshots_; }
  BrivoSnapshot* find(uint16_t source);
  // Whether a logical drive is a source or an area already.
  bool uses(uint16_t drive) const;
  void clear() { snapshots_.clear(); }

  static int used(const BrivoSnapshot& snap, const SnapshotClock& clock);
  static uint8_t flags(const BrivoSnapshot& snap, const SnapshotClock& clock);
  static brivo::SnapshotArea area(uint16_t source, const BrivoSnapshot& snap,
                                  const brivo::ConfigurationBlock& cfg, const SnapshotClock& clock);
  static brivo::SnapshotEntry entry(uint16_t source, const BrivoSnapshot& snap,
                                    const brivo::ConfigurationBlock& cfg, const SnapshotClock& clock);
  // The buffers 0x61, 0x62, 0x64, 0x65 and 0x67 (by buffer ID); 0x63 is readLun.
  void readList(uint8_t id, const brivo::ConfigurationBlock& cfg, const SnapshotClock& clock,
                std::vector<uint8_t>* out) const;
  void readLun(int lun, const brivo::ConfigurationBlock& cfg, const SnapshotClock& clock,
               std::vector<uint8_t>* out) const;

  static const SavedKeys<BrivoSnapshotList>& savedKeys();

 private:
  std::map<uint16_t, BrivoSnapshot> snapshots_;
};

}  // namespace sim
