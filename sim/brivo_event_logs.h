// The event logs of a brivo pair: each controller's circular 4096-entry log, the entries ctl
// injects, and their saved keys (eventlog.A|B "newest,count,started" and eventlog.A|B.K, the
// entries oldest first, 512 to a chunk).
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "modules/brivo/protocol.h"
#include "sim/brivo_fields.h"
#include "sim/pair_state.h"

namespace sim {

// The controller's clock reading of a host time (local time, as the controller shows it).
brivo::EventTime eventTime(int64_t seconds);

// One controller's circular event log.
class EventRing {
 public:
  struct Meta {
    int newest = 0;
    int count = 0;
    bool started = false;  // newest names a real entry
  };

  void append(const brivo::EventEntry& entry);
  void clear() { count_ = 0; }
  int count() const { return count_; }
  uint16_t newest() const { return newest_; }
  // Entry i counted from the oldest (REQUIRES: i < count()).
  const brivo::EventEntry& at(int i) const;
  // The READ BUFFER 0x46/0x47 image, with the controller's clock in the header.
  void build(const brivo::EventTime& now, std::vector<uint8_t>* out) const;
  // Persistence: the position, then the entries oldest first in chunks of kChunkEntries.
  Meta meta() const { return {newest_, count_, started_}; }
  bool setMeta(const Meta& meta);  // empties the ring; false for an impossible position
  std::vector<std::vector<uint8_t>> chunks() const;
  bool setChunk(int index, const std::vector<uint8_t>& bytes);

  static constexpr int kChunkEntries = 512;

 private:
  std::array<brivo::EventEntry, brivo::kEventLogEntries> ring_{};  // at sequence index
  uint16_t newest_ = 0;
  int count_ = 0;
  bool started_ = false;
};

class BrivoEventLogs {
 public:
  EventRing& of(int c) { return rings_[c]; }
  const EventRing& of(int c) const { return rings_[c]; }
  void append(int c, const brivo::EventTime& time, uint8_t code, const std::vector<uint8_t>& reason,
              uint8_t eventClass);
  // Moves the events ctl injected ("event PAIR A|B ...") into their controllers' logs.
  void drainInjected(PairState& pair);

  static const SavedKeys<BrivoEventLogs>& savedKeys();

 private:
  EventRing rings_[2];
};

}  // namespace sim
