// The rows of `events display`: both controllers' event logs decoded by the module's event
// decoder, in the merged time order the server's event log uses (A's entry first only when it is
// strictly older) and listed newest first, without the controllers' internal bookkeeping entries, narrowed to
// one severity (-status) and to the newest N (-last), and written as a table whose messages wrap under their
// own column.
//
// Thread safety: pure functions over the caller's logs and context.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_context.h"
#include "modules/brivo/events/event_decoder.h"
#include "modules/brivo/protocol.h"

namespace brivo::cli {

struct EventRow {
  int number = 0;  // position in the merged order of both logs, from 1
  int side = 0;    // 0 controller A, 1 controller B
  EventTime time{};
  uint32_t severity = 0;
  std::string text;  // the source first when it is not the controller (enclosure events)
};

struct EventFilter {
  int severity = -1;  // -1 every severity; 0 information, 1 warning, 2 error
  int last = 0;       // 0 every row; else the newest rows only
};

// -status (info, warning, error) and -last (a count of rows). False after writing "Error: Parsing
// status value. ..." or "Error: Parsing last count. ...".
bool parseEventFilter(CliContext& ctx, EventFilter* out);

// The rows newest first. logs[s] may be null (side not read). REQUIRES: each log validated
// (validateEventLog).
std::vector<EventRow> eventRows(const events::EventTexts& texts, const events::DecodeOptions& options,
                                const EventLog* const logs[2], const EventFilter& filter);

// "Info", "Warning", "Error" (severity 4, information that passes every filter, is "Info").
const char* severityText(uint32_t severity);

// The table: a header, then each row "%5d %-8s %-8s %4d %-7s " and its message wrapped in the
// remaining columns of the output width.
void writeEventTable(CliContext& ctx, const std::vector<EventRow>& rows);

}  // namespace brivo::cli
