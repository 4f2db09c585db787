// Controller event reader: reads both controllers' event logs of a pair, validates them, and
// records every entry not handled before in the server's event log, in merged time order and
// exactly once, across server restarts (start-up replay by the stored bookmark times). The
// module calls startupReplay after identifying a pair and monitorPairEvents in every monitor
// pass; readEvents and recordEntries are the steps they are made of.
//
// Thread safety: the top-level operations (startupReplay, monitorPairEvents and the export of
// event_export.h) take the module-wide bookkeeping lock, so the monitor thread and request
// threads never record the same entries twice. readEvents and recordEntries REQUIRE that lock
// held by the caller. Code that moves a pair's bookmarks between path items takes it too.
#pragma once

#include <memory>
#include <mutex>

#include "modules/brivo/events/event_host.h"
#include "modules/brivo/protocol.h"

namespace brivo::events {

// Debug code of the decoded-event lines (RAID module, device acceptance).
inline constexpr uint32_t kEventDebugCode = 0x20022;

std::unique_lock<std::mutex> lockEventBookkeeping();

struct SideLog {
  std::unique_ptr<EventLog> log;  // the validated log; null when not read or invalid
  int newCount = 0;               // its last newCount entries are new
};

struct EventRead {
  SideLog side[2];
  int result = 0;  // first non-zero command result of the reads, 0 when none failed
  bool anyRead() const { return side[0].log != nullptr || side[1].log != nullptr; }
};

// Reads and validates each side whose controller is valid (READ BUFFER 0x46 / 0x47), advancing
// the bookmark indexes. A log that fails validation is dropped for this cycle and the
// valid-controller flags are refreshed from the controller information.
EventRead readEvents(EventModule& module, EventPair& pair);

// Records entries [first[s], count) of each side's log in merged order (class 1 entries skipped)
// and stores each recorded entry's time as that side's last event time. Sides whose replaying
// flag is set get the sync text and flag. Ends early when the module stops. Returns the number
// of events recorded.
int recordEntries(EventModule& module, EventPair& pair, const EventLog* const logs[2], const int first[2]);

// Start-up replay: every entry later than the stored time of its side is recorded with the sync
// text; a side without a stored time stores its log's clock instead and replays nothing.
// Returns the number of events recorded.
int startupReplay(EventModule& module, EventPair& pair);

struct MonitorOutcome {
  bool firstSight = false;  // neither bookmark was set before this read (a status update is due)
  bool readOk = false;      // at least one side was read
  bool newEvents = false;   // at least one side had new entries
  int recorded = 0;
};

// The event part of the monitor's per-pair pass: reads both logs, waits 3 s once when a side's
// newest entry is less than 3 s older than its controller's clock (a controller that is still
// logging gets a moment before the next pass), and records the new entries.
MonitorOutcome monitorPairEvents(EventModule& module, EventPair& pair);

}  // namespace brivo::events
