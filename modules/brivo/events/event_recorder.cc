// Recording of new controller events in the server's event log; see event_reader.h.
#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "modules/brivo/events/event_decoder.h"
#include "modules/brivo/events/event_merge.h"
#include "modules/brivo/events/event_reader.h"
#include "modules/brivo/events/event_time.h"
#include "modules/brivo/events/text_format.h"

namespace brivo::events {

namespace {

// Array names read from the controller during one recording, each at most once.
class ArrayNames {
 public:
  explicit ArrayNames(EventPair& pair) : pair_(pair) {}

  std::optional<std::string> operator()(uint8_t array) {
    auto known = names_.find(array);
    if (known != names_.end()) return known->second;
    ArrayRecord record{};
    PairCommand command;
    command.mode = kModeCommand;
    command.bufferId = kOpReadArray;
    command.p4 = array;
    command.data = {reinterpret_cast<uint8_t*>(&record), sizeof record};
    int result = pair_.send(command);
    pair_.noteResult(result);
    std::optional<std::string> name;
    if (result == 0 && record.valid == kOn) {
      std::string text;
      for (char c : record.name) {
        if (c == '\0') break;
        text += c >= 0x20 && c < 0x7F ? c : ' ';
      }
      name = text;
    }
    names_[array] = name;
    return name;
  }

 private:
  EventPair& pair_;
  std::map<uint8_t, std::optional<std::string>> names_;
};

std::string debugLines(int side, const EventEntry& entry, const DecodedEvent& event) {
  const EventTime& t = entry.time;
  const uint8_t* r = entry.reason;
  char text[512];
  int n = std::snprintf(
      text, sizeof text,
      "mon: Event (%d): Date: %2d/%02d/%04d %2d:%02d:%02d Code = %.2X Reason = %.2X, %.2X, %.2X, "
      "%.2X, %.2X, %.2X\n",
      side, t.month, t.day, t.year, t.hour, t.minute, t.second, entry.code, r[0], r[1], r[2], r[3], r[4],
      r[5]);
  std::string lines(text, n > 0 ? std::min<size_t>(n, sizeof text - 1) : 0);
  std::snprintf(text, sizeof text, "   Status = %xx Msg = ", event.severity);
  return lines + text + event.text + " \n";
}

struct Recorder {
  EventModule& module;
  EventPair& pair;
  std::string sources[2];
  std::optional<std::string> syncFormat;
  ArrayNames names;
  DecodeOptions options;

  Recorder(EventModule& m, EventPair& p) : module(m), pair(p), names(p) {
    const EventTexts& texts = module.texts();
    for (int side : {kSideA, kSideB}) sources[side] = controllerSource(texts, pair.name(), side);
    syncFormat = texts.eventText("BrivoEvent_SyncUp");
    options.driveInterface = pair.driveInterface();
    options.hostInterface = pair.hostInterface();
    options.arrayName = [this](uint8_t array) { return names(array); };
  }

  void record(int side, const EventEntry& entry) {
    DecodedEvent event;
    try {
      event = decodeEvent(module.texts(), options, entry);
    } catch (const std::bad_alloc&) {
      module.print("eventsReader: out of memory, event skipped\n");
      return;
    }
    module.debugPrint(kEventDebugCode, debugLines(side, entry, event));
    std::optional<uint32_t> seconds = eventSeconds(entry.time);
    RaisedEvent raised{event.source.empty() ? sources[side] : event.source,
                       event.text,
                       event.severity,
                       seconds.value_or(0),
                       event.eventId,
                       0};
    if (pair.replaying(side)) {
      if (syncFormat) {
        std::vector<FormatArg> args = {FormatArg::of(eventDateText(entry.time)),
                                       FormatArg::of(eventTimeText(entry.time))};
        raised.text += " " + formatted(*syncFormat, args);
      }
      raised.syncFlag = 1;
    }
    if (!event.severityFound) {
      module.raiseEvent(RaisedEvent{"Internal",
                                    "Event status of event: " + event.missingKey + " was not found.", 2, 0,
                                    event.eventId, 0});
    }
    module.raiseEvent(raised);
    if (seconds) {
      // The bookmark is the second of the entry and how many of that second are recorded. A count
      // that was never kept (kWholeSecond) stays so while the second lasts: it means all of them.
      uint32_t count = 1;
      if (*seconds == module.storedEventTime(pair.name(), side)) {
        const uint32_t before = module.storedEventCount(pair.name(), side);
        count = before == kWholeSecond ? kWholeSecond : before + 1;
      }
      pair.setLastTime(side, *seconds);
      module.storeEventTime(pair.name(), side, *seconds);
      module.storeEventCount(pair.name(), side, count);
    }
  }
};

}  // namespace

int recordEntries(EventModule& module, EventPair& pair, const EventLog* const logs[2], const int first[2]) {
  Recorder recorder(module, pair);
  int end[2] = {logs[0] != nullptr ? logs[0]->count : 0, logs[1] != nullptr ? logs[1]->count : 0};
  return walkMerged(logs, first, end, true, [&](int side, const EventEntry& entry) {
    if (!module.running()) return false;
    recorder.record(side, entry);
    return true;
  });
}

}  // namespace brivo::events
