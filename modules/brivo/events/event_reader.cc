// Reading and validating the event logs, start-up replay and the monitor's event step; see
// event_reader.h. Recording: event_recorder.cc.
#include "modules/brivo/events/event_reader.h"

#include <cstdio>
#include <new>

#include "modules/brivo/events/event_time.h"
#include "modules/brivo/events/event_validate.h"

namespace brivo::events {

namespace {

constexpr int kRecentEventSeconds = 3;
constexpr int kRebuildSleepMs = 5000;

std::string printed(const char* format, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

char sideLetter(int side) { return side == kSideA ? 'A' : 'B'; }

// Refreshes the valid-controller flags from the controller information: a state byte other than
// 0xF0 counts as valid.
void checkAndSetValidControllers(EventModule& module, EventPair& pair) {
  module.print("checkAndSetValidControllers(): seeing if invalid\n");
  std::unique_ptr<ControllerInformation> info(new (std::nothrow) ControllerInformation());
  if (info == nullptr) {
    module.print("checkAndSetValidControllers(): out of memory\n");
    return;
  }
  PairCommand command;
  command.bufferId = kOpReadControllerInfo;
  command.data = {reinterpret_cast<uint8_t*>(info.get()), sizeof(ControllerInformation)};
  int result = pair.send(command);
  pair.noteResult(result);
  if (result != 0) return;
  bool a = info->stateA != kOff;
  bool b = info->stateB != kOff;
  if (!a && !b) a = true;  // as at identification: a pair with no valid side would never be read again
  pair.setControllersValid(a, b);
  module.print(printed("checkAndSetValidControllers(): A:%d B:%d\n", a ? 1 : 0, b ? 1 : 0));
}

// Reads and validates one side; the log on success, null otherwise.
std::unique_ptr<EventLog> readSide(EventModule& module, EventPair& pair, int side, int* newCount,
                                   int* failedResult, bool* invalid) {
  std::unique_ptr<EventLog> log(new (std::nothrow) EventLog());
  if (log == nullptr) {
    module.print(printed("eventsReader: %c side: out of memory\n", sideLetter(side)));
    return nullptr;
  }
  PairCommand command;
  command.bufferId = side == kSideA ? kOpReadEventLogA : kOpReadEventLogB;
  command.data = {reinterpret_cast<uint8_t*>(log.get()), kEventLogLength};
  int result = pair.send(command);
  pair.noteResult(result);
  if (result != 0) {
    if (*failedResult == 0) *failedResult = result;
    module.print(printed("eventsReader: %c side cmmd failed (%d)\n", sideLetter(side), result));
    module.print(
        printed("SENSE DATA %x/%02x/%02x\n", command.sense[2] & 0x0F, command.sense[12], command.sense[13]));
    return nullptr;
  }
  int32_t bookmark = pair.lastIndex(side);
  Validation v = validateEventLog(log.get(), &bookmark);
  pair.setLastIndex(side, bookmark);
  if (v.badEventTime) module.print("eventsValidator: INVALID EVENT TIME, invalidating event structure!\n");
  if (v.emptyLog) module.print("eventsValidator: wNoOfEntries=00000000000000000000  ===========\n");
  if (v.rebuildStarted) {
    module.print("Sleeping on rebuild started event for 5 seconds\n");
    module.sleepMs(kRebuildSleepMs);
  }
  module.print(printed("eventsReader: %c side cmmd evals =========== last%cEvent=%d. numNew%c=%d.\n",
                       sideLetter(side), sideLetter(side), bookmark, sideLetter(side), v.newCount));
  if (!v.ok) {
    module.print(printed("Error: '%c' side events returned in unknown format\n", sideLetter(side)));
    *invalid = true;
    return nullptr;
  }
  *newCount = v.newCount;
  return log;
}

}  // namespace

std::unique_lock<std::mutex> lockEventBookkeeping() {
  static std::mutex bookkeeping;
  return std::unique_lock<std::mutex>(bookkeeping);
}

EventRead readEvents(EventModule& module, EventPair& pair) {
  EventRead read;
  for (int side : {kSideA, kSideB}) {
    if (!pair.controllerValid(side)) continue;
    bool invalid = false;
    read.side[side].log = readSide(module, pair, side, &read.side[side].newCount, &read.result, &invalid);
    if (invalid) checkAndSetValidControllers(module, pair);
  }
  return read;
}

int startupReplay(EventModule& module, EventPair& pair) {
  std::unique_lock<std::mutex> lock = lockEventBookkeeping();
  uint32_t stored[2];
  for (int side : {kSideA, kSideB}) {
    stored[side] = module.storedEventTime(pair.name(), side);
    pair.setLastTime(side, stored[side]);
  }
  EventRead read = readEvents(module, pair);
  const EventLog* logs[2] = {read.side[0].log.get(), read.side[1].log.get()};
  int first[2] = {0, 0};
  for (int side : {kSideA, kSideB}) {
    const EventLog* log = logs[side];
    if (log == nullptr) {
      module.print(printed("eventsReader: %c side was not read at start-up\n", sideLetter(side)));
      continue;
    }
    first[side] = log->count;
    if (stored[side] == 0) {
      module.print(printed("eventsReader: %c side has no bookmark; its events count from the controller's clock\n",
                           sideLetter(side)));
      if (std::optional<uint32_t> clock = eventSeconds(log->time)) {
        pair.setLastTime(side, *clock);
        module.storeEventTime(pair.name(), side, *clock);
        module.storeEventCount(pair.name(), side, kWholeSecond);
      }
      continue;
    }
    // Entries of the stored second beyond the count recorded are new too: the controller went on
    // logging in that second after the last read.
    uint32_t recordedOfTheSecond = module.storedEventCount(pair.name(), side);
    for (int i = 0; i < log->count; ++i) {
      std::optional<uint32_t> seconds = eventSeconds(log->entries[i].time);
      if (!seconds || *seconds < stored[side]) continue;
      if (*seconds == stored[side] && recordedOfTheSecond != kWholeSecond) {
        if (recordedOfTheSecond == 0) {
          first[side] = i;
          break;
        }
        --recordedOfTheSecond;
        continue;
      }
      if (*seconds > stored[side]) {
        first[side] = i;
        break;
      }
    }
    module.print(printed("eventsReader: %c side replays %d of %d entries (bookmark %u, %u of its second)\n",
                         sideLetter(side), log->count - first[side], log->count, stored[side],
                         module.storedEventCount(pair.name(), side)));
    pair.setReplaying(side, true);
  }
  int recorded = recordEntries(module, pair, logs, first);
  pair.setReplaying(kSideA, false);
  pair.setReplaying(kSideB, false);
  return recorded;
}

MonitorOutcome monitorPairEvents(EventModule& module, EventPair& pair) {
  std::unique_lock<std::mutex> lock = lockEventBookkeeping();
  MonitorOutcome outcome;
  outcome.firstSight = pair.lastIndex(kSideA) == -1 && pair.lastIndex(kSideB) == -1;
  EventRead read = readEvents(module, pair);
  outcome.readOk = read.anyRead();
  bool recent = false;
  for (int side : {kSideA, kSideB}) {
    const SideLog& s = read.side[side];
    if (s.log == nullptr || s.newCount == 0) continue;
    outcome.newEvents = true;
    std::optional<uint32_t> clock = eventSeconds(s.log->time);
    std::optional<uint32_t> newest = eventSeconds(s.log->entries[s.log->count - 1].time);
    if (clock && newest &&
        static_cast<int64_t>(*clock) - static_cast<int64_t>(*newest) < kRecentEventSeconds) {
      module.print(
          printed("mon: Controller %d had event less than %d seconds ago\n", side, kRecentEventSeconds));
      recent = true;
    }
  }
  if (recent) module.sleepMs(kRecentEventSeconds * 1000);
  const EventLog* logs[2] = {read.side[0].log.get(), read.side[1].log.get()};
  int first[2] = {0, 0};
  for (int side : {kSideA, kSideB}) {
    if (logs[side] != nullptr) first[side] = logs[side]->count - read.side[side].newCount;
  }
  outcome.recorded = recordEntries(module, pair, logs, first);
  return outcome;
}

}  // namespace brivo::events
