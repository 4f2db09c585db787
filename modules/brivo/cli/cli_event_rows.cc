// Rows and table of `events display`; see cli_event_rows.h.
//
// Thread safety: as cli_event_rows.h.
#include "modules/brivo/cli/cli_event_rows.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "modules/brivo/events/event_merge.h"
#include "modules/brivo/events/event_time.h"

namespace brivo::cli {

namespace {

constexpr int kMessageColumn = 37;  // "%5d %-8s %-8s %4d %-7s "
constexpr int kMinMessageWidth = 20;
constexpr int kBreakLookBack = 15;

// The message in pieces of at most width characters, broken at a blank near the edge when there
// is one.
std::vector<std::string> pieces(const std::string& text, size_t width) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t length = std::min(width, text.size() - start);
    size_t next = start + length;
    if (start + length < text.size()) {
      for (size_t at = start + length; at > start + length - std::min<size_t>(length - 1, kBreakLookBack);
           --at) {
        if (text[at] == ' ') {
          length = at - start;
          next = at + 1;
          break;
        }
      }
    }
    out.push_back(text.substr(start, length));
    start = next;
  }
  if (out.empty()) out.emplace_back();
  return out;
}

}  // namespace

bool parseEventFilter(CliContext& ctx, EventFilter* out) {
  *out = EventFilter{};
  if (const char* status = modifierValue(ctx, kModStatus); status != nullptr) {
    static const char* const kNames[3] = {"info", "warning", "error"};
    for (int s = 0; s < 3; ++s) {
      if (strcasecmp(status, kNames[s]) == 0) out->severity = s;
    }
    if (out->severity < 0) {
      writeText(ctx, "Error: Parsing status value. Use info, warning or error.\n");
      return false;
    }
  }
  if (const char* text = modifierValue(ctx, kModLast); text != nullptr) {
    long count = 0;
    if (!parseNumber(text, &count)) {
      writeText(ctx, "Error: Parsing last count. Not a number.\n");
      return false;
    }
    if (count < 1 || count > 2 * kEventLogEntries) {
      writeText(ctx, "Error: Parsing last count. Out of range.\n");
      return false;
    }
    out->last = static_cast<int>(count);
  }
  return true;
}

const char* severityText(uint32_t severity) {
  switch (severity) {
    case 1:
      return "Warning";
    case 2:
      return "Error";
    default:
      return "Info";
  }
}

std::vector<EventRow> eventRows(const events::EventTexts& texts, const events::DecodeOptions& options,
                                const EventLog* const logs[2], const EventFilter& filter) {
  std::vector<EventRow> rows;
  const int first[2] = {0, 0};
  const int end[2] = {logs[0] != nullptr ? logs[0]->count : 0, logs[1] != nullptr ? logs[1]->count : 0};
  int number = 0;
  events::walkMerged(logs, first, end, true, [&](int side, const EventEntry& entry) {
    ++number;
    events::DecodedEvent event;
    try {
      event = events::decodeEvent(texts, options, entry);
    } catch (const std::bad_alloc&) {
      return true;  // skipped, as the event reader skips it
    }
    const uint32_t severity = event.severity == 4 ? 0 : event.severity;
    if (filter.severity >= 0 && severity != static_cast<uint32_t>(filter.severity)) return true;
    EventRow row;
    row.number = number;
    row.side = side;
    row.time = entry.time;
    row.severity = severity;
    row.text = event.source.empty() ? event.text : event.source + ": " + event.text;
    rows.push_back(std::move(row));
    return true;
  });
  std::reverse(rows.begin(), rows.end());  // newest first
  if (filter.last > 0 && rows.size() > static_cast<size_t>(filter.last))
    rows.resize(static_cast<size_t>(filter.last));
  return rows;
}

void writeEventTable(CliContext& ctx, const std::vector<EventRow>& rows) {
  const int width = std::max(ctx.width - 1 - kMessageColumn, kMinMessageWidth);
  writeText(ctx, "  Num Date     Time     Ctlr Status  Message\n");
  writeText(ctx, "----- -------- -------- ---- ------- %s\n",
            std::string(static_cast<size_t>(width), '-').c_str());
  const std::string margin(kMessageColumn, ' ');
  for (const EventRow& row : rows) {
    const std::vector<std::string> lines = pieces(row.text, static_cast<size_t>(width));
    writeText(ctx, "%5d %-8s %-8s %4d %-7s %s\n", row.number, events::eventDateText(row.time).c_str(),
              events::eventTimeText(row.time).c_str(), row.side, severityText(row.severity),
              lines[0].c_str());
    for (size_t i = 1; i < lines.size(); ++i) writeText(ctx, "%s%s\n", margin.c_str(), lines[i].c_str());
  }
}

}  // namespace brivo::cli
