// The order in which the entries of the two controllers' logs are handled: repeatedly the oldest
// remaining entry of each side is taken (entries of class 1, when skipped, and empty entries are
// consumed on the way); controller A's goes first only when its time is strictly earlier than
// B's, so equal times put B first. Used for recording and for the CSV export.
//
// Thread safety: a pure walk over the caller's logs.
#pragma once

#include "modules/brivo/events/event_host.h"
#include "modules/brivo/events/event_time.h"
#include "modules/brivo/protocol.h"

namespace brivo::events {

// Entries [first[s], end[s]) of logs[s] (a null log has none). visit(side, entry) returns false to
// stop the walk (that entry is not counted). Returns the number of entries visited.
template <class Visit>
int walkMerged(const EventLog* const logs[2], const int first[2], const int end[2], bool skipInternal,
               Visit visit) {
  int next[2] = {logs[0] != nullptr ? first[0] : 0, logs[1] != nullptr ? first[1] : 0};
  int stop[2] = {logs[0] != nullptr ? end[0] : 0, logs[1] != nullptr ? end[1] : 0};
  auto skip = [&](int s) {
    while (next[s] < stop[s]) {
      const EventEntry& e = logs[s]->entries[next[s]];
      if (e.code != 0 && !(skipInternal && e.eventClass == kClassInternal)) return;
      ++next[s];
    }
  };
  int visited = 0;
  for (;;) {
    skip(0);
    skip(1);
    bool haveA = next[0] < stop[0];
    bool haveB = next[1] < stop[1];
    if (!haveA && !haveB) break;
    int side = kSideB;
    if (!haveB || (haveA && timeOrderKey(logs[0]->entries[next[0]].time) <
                                timeOrderKey(logs[1]->entries[next[1]].time))) {
      side = kSideA;
    }
    if (!visit(side, logs[side]->entries[next[side]++])) break;
    ++visited;
  }
  return visited;
}

}  // namespace brivo::events
