// Event log validation; see event_validate.h.
#include "modules/brivo/events/event_validate.h"

#include <algorithm>
#include <cstring>

#include "modules/brivo/events/event_time.h"

namespace brivo::events {

Validation validateEventLog(EventLog* log, int32_t* bookmark) {
  Validation result;
  if (!isValidEventTime(log->time) || log->newest >= kEventLogEntries || log->count > kEventLogEntries ||
      log->length > kEventLogLength) {
    return result;
  }
  auto* bytes = reinterpret_cast<uint8_t*>(log);
  std::memset(bytes + log->length, 0, kEventLogLength - log->length);

  int32_t mark = *bookmark;
  if (mark == -1) mark = log->newest;
  bool wasEmpty = mark == kEmptyLogBookmark;
  if (mark < 0 || mark >= kEventLogEntries) mark = 0;

  if (log->count == 0) {
    log->newest = 0xFFFF;
    result.ok = true;
    result.emptyLog = true;
    *bookmark = kEmptyLogBookmark;
    return result;
  }
  int fresh = wasEmpty ? log->count : (log->newest - mark + kEventLogEntries) % kEventLogEntries;
  fresh = std::min(fresh, static_cast<int>(log->count));
  for (int i = 0; i < fresh; ++i) {
    const EventEntry& entry = newEntry(*log, fresh, i);
    if (!isValidEventTime(entry.time)) {
      result.badEventTime = true;
      return result;
    }
    if (entry.code == kEvRebuildStarted) result.rebuildStarted = true;
  }
  result.ok = true;
  result.newCount = fresh;
  *bookmark = log->newest;
  return result;
}

}  // namespace brivo::events
