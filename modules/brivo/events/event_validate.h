// Validation of one controller event log as READ BUFFER 0x46/0x47 returned it, and the count of
// entries that are new since the side's bookmark. Used by the event reader for every read.
//
// Thread safety: pure functions over the caller's buffer.
#pragma once

#include <cstdint>

#include "modules/brivo/protocol.h"

namespace brivo::events {

// Bookmark value left by a log that was seen empty: every entry of the next log is new.
inline constexpr int32_t kEmptyLogBookmark = 0xFFFF;

struct Validation {
  bool ok = false;
  int newCount = 0;             // entries new since the bookmark: the last newCount of the log
  bool emptyLog = false;        // the count was 0
  bool badEventTime = false;    // failed because a new entry's time is invalid
  bool rebuildStarted = false;  // a new entry has code 0x30 (rebuild started)
};

// Checks the header (valid time, newest index below 4096, count at most 4096, length at most
// 98320), zeroes the bytes beyond the length, counts the new entries from *bookmark (-1: first
// sight, nothing new; outside 0-4095: counted from 0, except kEmptyLogBookmark) and checks the
// time of each new entry. On success *bookmark becomes the newest index (kEmptyLogBookmark for an
// empty log, whose newest index is set to 0xFFFF too); on failure *bookmark is left alone.
Validation validateEventLog(EventLog* log, int32_t* bookmark);

// The i-th of the last n entries (i from 0, oldest first) of a validated log.
inline const EventEntry& newEntry(const EventLog& log, int n, int i) {
  return log.entries[log.count - n + i];
}

}  // namespace brivo::events
