// The brivo pair's event logs; see brivo_event_logs.h.
#include "sim/brivo_event_logs.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "modules/brivo/controller_time.h"

namespace sim {

brivo::EventTime eventTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  return brivo::controllerTimeOf(tm);
}

// ---- EventRing ----

void EventRing::append(const brivo::EventEntry& entry) {
  newest_ = started_ ? static_cast<uint16_t>((newest_ + 1) % brivo::kEventLogEntries) : 0;
  started_ = true;
  ring_[newest_] = entry;
  count_ = std::min(count_ + 1, brivo::kEventLogEntries);
}

const brivo::EventEntry& EventRing::at(int i) const {
  int oldest = (newest_ - count_ + 1 + brivo::kEventLogEntries) % brivo::kEventLogEntries;
  return ring_[(oldest + i) % brivo::kEventLogEntries];
}

void EventRing::build(const brivo::EventTime& now, std::vector<uint8_t>* out) const {
  out->assign(brivo::kEventLogLength, 0);
  auto* log = reinterpret_cast<brivo::EventLog*>(out->data());
  log->length = 16 + 24 * static_cast<uint32_t>(count_);
  log->time = now;
  log->count = static_cast<uint16_t>(count_);
  log->newest = newest_;
  for (int i = 0; i < count_; ++i) log->entries[i] = at(i);
}

bool EventRing::setMeta(const Meta& meta) {
  if (meta.newest < 0 || meta.newest >= brivo::kEventLogEntries || meta.count < 0 ||
      meta.count > brivo::kEventLogEntries || (!meta.started && meta.count != 0)) {
    return false;
  }
  ring_.fill(brivo::EventEntry{});
  newest_ = static_cast<uint16_t>(meta.newest);
  count_ = meta.count;
  started_ = meta.started;
  return true;
}

std::vector<std::vector<uint8_t>> EventRing::chunks() const {
  std::vector<std::vector<uint8_t>> out;
  for (int first = 0; first < count_; first += kChunkEntries) {
    std::vector<uint8_t> bytes;
    for (int i = first; i < std::min(count_, first + kChunkEntries); ++i) {
      const auto* p = reinterpret_cast<const uint8_t*>(&at(i));
      bytes.insert(bytes.end(), p, p + sizeof(brivo::EventEntry));
    }
    out.push_back(std::move(bytes));
  }
  return out;
}

bool EventRing::setChunk(int index, const std::vector<uint8_t>& bytes) {
  int first = index * kChunkEntries;
  if (index < 0 || first >= count_ || bytes.size() % sizeof(brivo::EventEntry) != 0 ||
      first + static_cast<int>(bytes.size() / sizeof(brivo::EventEntry)) > count_) {
    return false;
  }
  int oldest = (newest_ - count_ + 1 + brivo::kEventLogEntries) % brivo::kEventLogEntries;
  for (size_t k = 0; k < bytes.size() / sizeof(brivo::EventEntry); ++k) {
    std::memcpy(&ring_[(oldest + first + static_cast<int>(k)) % brivo::kEventLogEntries],
                &bytes[k * sizeof(brivo::EventEntry)], sizeof(brivo::EventEntry));
  }
  return true;
}

// ---- Both logs ----

void BrivoEventLogs::append(int c, const brivo::EventTime& time, uint8_t code,
                            const std::vector<uint8_t>& reason, uint8_t eventClass) {
  brivo::EventEntry entry{};
  entry.time = time;
  entry.eventClass = eventClass;
  entry.code = code;
  std::copy_n(reason.begin(), std::min(reason.size(), sizeof(entry.reason)), entry.reason);
  rings_[c].append(entry);
}

void BrivoEventLogs::drainInjected(PairState& pair) {
  for (const PairEvent& injected : pair.events) {
    brivo::EventEntry entry{};
    entry.time = eventTime(injected.time);
    entry.eventClass = static_cast<uint8_t>(injected.code >> 8);
    entry.code = static_cast<uint8_t>(injected.code);
    std::copy_n(injected.data.begin(), std::min(injected.data.size(), sizeof(entry.reason)), entry.reason);
    rings_[injected.controller == 0 ? 0 : 1].append(entry);
  }
  pair.events.clear();
}

const SavedKeys<BrivoEventLogs>& BrivoEventLogs::savedKeys() {
  using Logs = BrivoEventLogs;
  using Meta = EventRing::Meta;
  using Chunk = std::vector<uint8_t>;
  static const SavedKeys<Logs> keys = {
      recordKey<Logs, Meta>(
          "eventlog.@", {},
          {{"newest", FieldKind::kNumber, [](Meta& m) -> FieldRef { return &m.newest; }},
           {"count", FieldKind::kNumber, [](Meta& m) -> FieldRef { return &m.count; }},
           {"started", FieldKind::kNumber, [](Meta& m) -> FieldRef { return &m.started; }}},
          [](const Logs&) { return perController(); },
          [](const Logs& logs, const KeyIndex& k) { return std::optional<Meta>(logs.rings_[k.side].meta()); },
          [](Logs& logs, const KeyIndex& k, const Meta& m) { return logs.rings_[k.side].setMeta(m); }),
      recordKey<Logs, Chunk>(
          "eventlog.@.#", {brivo::kEventLogEntries / EventRing::kChunkEntries - 1},
          {{"entries", FieldKind::kBytes, [](Chunk& c) -> FieldRef { return &c; }}},
          [](const Logs& logs) {
            std::vector<KeyIndex> out;
            for (int c = 0; c < 2; ++c) {
              auto more = numbered(static_cast<int>(logs.rings_[c].chunks().size()), c);
              out.insert(out.end(), more.begin(), more.end());
            }
            return out;
          },
          [](const Logs& logs, const KeyIndex& k) {
            std::vector<Chunk> chunks = logs.rings_[k.side].chunks();
            size_t n = static_cast<size_t>(k.number());
            return n < chunks.size() ? std::optional<Chunk>(chunks[n]) : std::optional<Chunk>();
          },
          [](Logs& logs, const KeyIndex& k, const Chunk& c) {
            return logs.rings_[k.side].setChunk(k.number(), c);
          }),
  };
  return keys;
}

}  // namespace sim
