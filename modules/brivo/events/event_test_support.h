// Test support for the controller event code: in-memory texts, a module that records what it is
// asked to do, a controller pair whose two event logs are kept as a controller keeps them
// (circular, 4096 entries, running sequence index), and builders for entries and times.
//
// Thread safety: one instance per test; not shared between threads.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modules/brivo/events/event_host.h"
#include "modules/brivo/protocol.h"

namespace brivo::events::testing {

inline EventTime timeOf(int year, int month, int day, int hour, int minute, int second, int weekday = 0) {
  EventTime t{};
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint8_t>(month);
  t.day = static_cast<uint8_t>(day);
  t.weekday = static_cast<uint8_t>(weekday);
  t.hour = static_cast<uint8_t>(hour);
  t.minute = static_cast<uint8_t>(minute);
  t.second = static_cast<uint8_t>(second);
  return t;
}

inline EventEntry entryOf(const EventTime& time, uint8_t code, std::initializer_list<uint8_t> reason = {},
                          uint8_t eventClass = kClassNormal) {
  EventEntry e{};
  e.time = time;
  e.eventClass = eventClass;
  e.code = code;
  std::copy_n(reason.begin(), std::min(reason.size(), sizeof e.reason), e.reason);
  return e;
}

class FakeTexts : public EventTexts {
 public:
  std::map<std::string, std::string> events, server, severities, settings;

  std::optional<std::string> eventText(const std::string& key) const override { return find(events, key); }
  std::optional<std::string> serverText(const std::string& key) const override { return find(server, key); }
  std::optional<std::string> severity(const std::string& key) const override { return find(severities, key); }
  std::optional<std::string> setting(const std::string& key) const override { return find(settings, key); }

 private:
  static std::optional<std::string> find(const std::map<std::string, std::string>& table,
                                         const std::string& key) {
    auto it = table.find(key);
    return it == table.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
};

class FakeModule : public EventModule {
 public:
  FakeTexts fakeTexts;
  const EventTexts* textSource = &fakeTexts;
  bool isRunning = true;
  int stopAfterRaises = -1;  // running turns false after this many raised events
  std::vector<int> sleeps;
  std::vector<std::string> printed;
  std::vector<std::string> debugLines;
  std::vector<RaisedEvent> raised;
  std::map<std::string, uint32_t> stored;  // "<pair>/<side>" -> seconds
  std::map<std::string, uint32_t> storedCounts;  // "<pair>/<side>" -> entries of that second recorded

  const EventTexts& texts() const override { return *textSource; }
  bool running() const override { return isRunning; }
  void sleepMs(int ms) override { sleeps.push_back(ms); }
  void print(const std::string& text) override { printed.push_back(text); }
  void debugPrint(uint32_t, const std::string& text) override { debugLines.push_back(text); }
  void raiseEvent(const RaisedEvent& event) override {
    raised.push_back(event);
    if (stopAfterRaises >= 0 && static_cast<int>(raised.size()) >= stopAfterRaises) isRunning = false;
  }
  uint32_t storedEventTime(std::string_view pairName, int side) override {
    auto it = stored.find(key(pairName, side));
    return it == stored.end() ? 0 : it->second;
  }
  void storeEventTime(std::string_view pairName, int side, uint32_t seconds) override {
    stored[key(pairName, side)] = seconds;
  }
  uint32_t storedEventCount(std::string_view pairName, int side) override {
    auto it = storedCounts.find(key(pairName, side));
    return it == storedCounts.end() ? kWholeSecond : it->second;
  }
  void storeEventCount(std::string_view pairName, int side, uint32_t count) override {
    storedCounts[key(pairName, side)] = count;
  }
  void addCommandResult(VariableTable* reply, const char* commandKey, int result, const uint8_t*) override {
    addVariable(reply, "MessageSummary", commandKey);
    addIntVariable(reply, "TestResult", static_cast<uint32_t>(result), true);
    addVariable(reply, "MessageIsSuccess", result == 0 ? "true" : "false");
  }

  bool printedLine(const std::string& text) const {
    return std::find(printed.begin(), printed.end(), text) != printed.end();
  }
  std::vector<std::string> raisedTexts() const {
    std::vector<std::string> texts;
    for (const RaisedEvent& e : raised) texts.push_back(e.text);
    return texts;
  }

 private:
  static std::string key(std::string_view pairName, int side) {
    return std::string(pairName) + "/" + std::to_string(side);
  }
};

// One controller's circular event log.
class ControllerLog {
 public:
  EventTime clock = timeOf(2008, 3, 1, 12, 0, 0);

  void append(const EventEntry& entry) {
    newest_ = started_ ? static_cast<uint16_t>((newest_ + 1) % kEventLogEntries) : 0;
    started_ = true;
    entries_.push_back(entry);
    if (entries_.size() > static_cast<size_t>(kEventLogEntries)) entries_.pop_front();
  }
  // Makes the next appended entry get sequence index `index`.
  void startAt(uint16_t index) {
    newest_ = static_cast<uint16_t>((index + kEventLogEntries - 1) % kEventLogEntries);
    started_ = true;
  }
  void build(EventLog* log) const {
    std::memset(log, 0, sizeof *log);
    log->count = static_cast<uint16_t>(entries_.size());
    log->length = 16 + 24 * static_cast<uint32_t>(entries_.size());
    log->time = clock;
    log->newest = newest_;
    for (size_t i = 0; i < entries_.size(); ++i) log->entries[i] = entries_[i];
  }
  size_t size() const { return entries_.size(); }
  uint16_t newest() const { return newest_; }
  EventEntry& at(size_t i) { return entries_[i]; }

 private:
  std::deque<EventEntry> entries_;
  uint16_t newest_ = 0;
  bool started_ = false;
};

struct SentCommand {
  uint8_t opcode, mode, bufferId, p3, p4, p5;
  std::vector<uint8_t> data;
};

class FakePair : public EventPair {
 public:
  std::string pairName = "Brivo0123456789ABCDEF";
  uint8_t drive = kInterfaceFc;
  uint8_t host = kInterfaceFc;
  bool valid[2] = {true, true};
  int32_t index[2] = {-1, -1};
  uint32_t time[2] = {0, 0};
  bool replay[2] = {false, false};
  ControllerLog logs[2];
  uint8_t infoState[2] = {kOn, kOn};  // state bytes of the controller information
  std::map<uint8_t, std::string> arrayNames;
  std::map<uint8_t, int> failures;  // buffer ID -> result of every read of it
  int writeResult = 0;
  // When set, the first event log read waits (up to 200 ms) until a second thread reads one too,
  // and storing a bookmark takes 2 ms: callers that are not kept apart would both see the same
  // bookmark.
  bool meetOnRead = false;
  std::vector<SentCommand> sent;
  std::vector<int> noted;
  std::vector<std::pair<bool, bool>> validUpdates;

  std::string_view name() const override { return pairName; }
  uint8_t driveInterface() const override { return drive; }
  uint8_t hostInterface() const override { return host; }
  bool controllerValid(int side) const override { return valid[side]; }
  void setControllersValid(bool a, bool b) override {
    valid[0] = a;
    valid[1] = b;
    validUpdates.emplace_back(a, b);
  }
  int32_t lastIndex(int side) const override { return index[side]; }
  void setLastIndex(int side, int32_t value) override {
    if (meetOnRead) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    index[side] = value;
  }
  uint32_t lastTime(int side) const override { return time[side]; }
  void setLastTime(int side, uint32_t seconds) override { time[side] = seconds; }
  bool replaying(int side) const override { return replay[side]; }
  void setReplaying(int side, bool on) override { replay[side] = on; }
  void noteResult(int result) override { noted.push_back(result); }

  int send(PairCommand& c) override {
    sent.push_back({c.opcode, c.mode, c.bufferId, c.p3, c.p4, c.p5, {c.data.begin(), c.data.end()}});
    if (c.opcode == 0x3B) return writeResult;
    auto failing = failures.find(c.bufferId);
    if (failing != failures.end()) {
      c.sense[2] = kSenseIllegalRequest;
      c.sense[12] = kAscInvalidCdbField;
      return failing->second;
    }
    if (c.bufferId == kOpReadEventLogA || c.bufferId == kOpReadEventLogB) {
      if (meetOnRead) meet();
      auto log = std::make_unique<EventLog>();
      logs[c.bufferId == kOpReadEventLogA ? 0 : 1].build(log.get());
      std::memcpy(c.data.data(), log.get(), std::min(c.data.size(), sizeof(EventLog)));
    } else if (c.bufferId == kOpReadControllerInfo) {
      ControllerInformation info{};
      info.length = kControllerInfoLength;
      info.stateA = infoState[0];
      info.stateB = infoState[1];
      std::memcpy(c.data.data(), &info, std::min(c.data.size(), sizeof info));
    } else if (c.bufferId == kOpReadArray && c.mode == kModeCommand) {
      ArrayRecord record{};
      auto it = arrayNames.find(c.p4);
      if (it != arrayNames.end()) {
        record.valid = kOn;
        std::memcpy(record.name, it->second.data(), std::min(sizeof record.name, it->second.size()));
      }
      std::memcpy(c.data.data(), &record, std::min(c.data.size(), sizeof record));
    } else {
      return 255;
    }
    return 0;
  }

  void meet() {
    std::unique_lock<std::mutex> lock(meetMutex_);
    if (arrivals_ >= 2) return;
    ++arrivals_;
    met_.notify_all();
    met_.wait_for(lock, std::chrono::milliseconds(200), [this] { return arrivals_ >= 2; });
  }

  int readsOf(uint8_t bufferId) const {
    return static_cast<int>(std::count_if(sent.begin(), sent.end(), [&](const SentCommand& s) {
      return s.opcode == 0x3C && s.bufferId == bufferId;
    }));
  }

 private:
  std::mutex meetMutex_;
  std::condition_variable met_;
  int arrivals_ = 0;
};

}  // namespace brivo::events::testing
