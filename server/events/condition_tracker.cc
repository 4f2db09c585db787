// De-duplication and reminders; see condition_tracker.h.
#include "server/events/condition_tracker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>

#include "common/atomic_file.h"
#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/thread_annotations.h"
#include "server/events/event_text.h"
#include "server/events/json_fields.h"

namespace {

using nlohmann::json;

constexpr size_t kMaxLabels = 65535;
constexpr char kReminderFallback[] = "Reminder: unresolved since %s: %s";

Mutex gLabelsMutex;
std::vector<ConditionLabel> gLabels GUARDED_BY(gLabelsMutex);  // number - 1
std::map<std::pair<std::string, std::string>, uint16_t> gNumbers GUARDED_BY(gLabelsMutex);

uint16_t labelNumber(const std::string& name, const std::string& subject) {
  MutexLock lock(gLabelsMutex);
  const auto found = gNumbers.find({name, subject});
  if (found != gNumbers.end()) return found->second;
  if (gLabels.size() >= kMaxLabels) return 0;
  gLabels.push_back({name, subject});
  const auto number = static_cast<uint16_t>(gLabels.size());
  gNumbers[{name, subject}] = number;
  return number;
}

std::string localMinute(time_t when) {
  std::tm parts{};
  if (localtime_r(&when, &parts) == nullptr) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min);
  return text;
}

// The reminder's message: the string table's text with the time the condition was raised and the
// original message put in place of its two %s (the text is data, never a format).
std::string reminderMessage(const std::string& message, time_t raisedAt) {
  char* looked = lookupString(kStringsDbPath, "ConditionReminder");
  std::string text = looked != nullptr && std::strcmp(looked, kMissing) != 0 ? looked : kReminderFallback;
  std::free(looked);
  for (const std::string& part : {localMinute(raisedAt), message}) {
    const size_t at = text.find("%s");
    if (at == std::string::npos) break;
    text.replace(at, 2, part);
  }
  char buffer[kEventMessageBufferSize];
  const size_t length = formatEventMessage(buffer, sizeof buffer, 0, text.c_str());
  return std::string(buffer, length);
}

EventRecord* newRecord(const std::string& device, const std::string& message, uint32_t level,
                       uint32_t eventTime, time_t now, uint32_t eventId) {
  EventRecord source{const_cast<char*>(message.c_str()),
                     const_cast<char*>(device.c_str()),
                     level,
                     eventTime,
                     static_cast<uint32_t>(now),
                     eventId,
                     0};
  return copyEventRecord(&source);
}

}  // namespace

const char* noticeKindText(uint8_t kind) {
  switch (kind) {
    case kNoticeRaised:
      return "raised";
    case kNoticeReminder:
      return "reminder";
    case kNoticeResolved:
      return "resolved";
    default:
      return "event";
  }
}

void stampRecord(EventRecord* record, const NoticeStamp& stamp) {
  record->notice = stamp.kind & 0x0F;
  record->noticeLevel = stamp.level < 15 ? stamp.level : 15;
  record->noticeCondition = stamp.condition;
}

ConditionLabel conditionLabel(uint16_t number) {
  MutexLock lock(gLabelsMutex);
  if (number == 0 || number > gLabels.size()) return {};
  return gLabels[number - 1];
}

std::string ConditionTracker::keyOf(const std::string& rule, const std::string& device,
                                    const std::string& subject) {
  return rule + '\x1f' + device + '\x1f' + subject;
}

void ConditionTracker::setRules(std::vector<ConditionRule> rules, const std::string& statePath) {
  MutexLock lock(mutex_);
  rules_ = std::move(rules);
  if (!loaded_) {
    loaded_ = true;
    statePath_ = statePath;
    loadLocked();
  }
  std::set<std::string> names;
  for (const ConditionRule& rule : rules_) names.insert(rule.name);
  bool changed = false;
  for (auto it = active_.begin(); it != active_.end();) {
    if (names.count(it->second.rule) != 0) {
      ++it;
    } else {
      it = active_.erase(it);
      changed = true;
    }
  }
  if (changed) saveLocked();
}

std::vector<NoticeStamp> ConditionTracker::classify(const EventRecord& record, time_t now) {
  MutexLock lock(mutex_);
  std::vector<NoticeStamp> stamps;
  if (rules_.empty() || record.device == nullptr || record.message == nullptr) return {NoticeStamp{}};
  bool repeat = false;
  bool changed = false;
  // Ends first: an event may end one condition and start another.
  for (const ConditionRule& rule : rules_) {
    if (!matchesAny(rule.clear, record)) continue;
    const std::optional<std::string> subject = conditionSubject(rule, record);
    if (!subject) continue;
    const auto it = active_.find(keyOf(rule.name, record.device, *subject));
    if (it == active_.end()) continue;
    stamps.push_back(
        {kNoticeResolved, static_cast<uint8_t>(it->second.level), labelNumber(rule.name, *subject)});
    active_.erase(it);
    changed = true;
  }
  for (const ConditionRule& rule : rules_) {
    if (!matchesAny(rule.raise, record)) continue;
    const std::optional<std::string> subject = conditionSubject(rule, record);
    if (!subject) continue;
    const std::string key = keyOf(rule.name, record.device, *subject);
    if (active_.count(key) != 0) {
      repeat = true;
      continue;
    }
    Active& active = active_[key];
    active.rule = rule.name;
    active.device = record.device;
    active.subject = *subject;
    active.level = record.concernLevel;
    active.eventId = record.eventId;
    active.message = record.message;
    active.eventTime = record.eventTime;
    active.raisedAt = now;
    stamps.push_back(
        {kNoticeRaised, static_cast<uint8_t>(record.concernLevel), labelNumber(rule.name, *subject)});
    changed = true;
  }
  if (changed) saveLocked();
  if (stamps.empty() && !repeat) stamps.push_back(NoticeStamp{});
  return stamps;
}

std::vector<EventRecord*> ConditionTracker::dueReminders(const std::string& channel, time_t interval,
                                                         time_t now) {
  MutexLock lock(mutex_);
  std::vector<EventRecord*> due;
  if (interval <= 0) return due;
  for (auto& [key, active] : active_) {
    const auto told = active.reminded.find(channel);
    const time_t last = told != active.reminded.end() ? told->second : active.raisedAt;
    if (now - last < interval) continue;
    active.reminded[channel] = now;
    EventRecord* record = newRecord(active.device, reminderMessage(active.message, active.raisedAt),
                                    active.level, active.eventTime, now, active.eventId);
    if (record == nullptr) continue;
    stampRecord(record, {kNoticeReminder, static_cast<uint8_t>(active.level),
                         labelNumber(active.rule, active.subject)});
    due.push_back(record);
  }
  if (!due.empty()) saveLocked();
  return due;
}

size_t ConditionTracker::activeCount() const {
  MutexLock lock(mutex_);
  return active_.size();
}

void ConditionTracker::reset() {
  MutexLock lock(mutex_);
  rules_.clear();
  active_.clear();
  statePath_.clear();
  loaded_ = false;
}

void ConditionTracker::saveLocked() const {
  if (statePath_.empty()) return;
  json list = json::array();
  for (const auto& [key, active] : active_) {
    json reminded = json::object();
    for (const auto& [channel, when] : active.reminded) reminded[channel] = static_cast<uint64_t>(when);
    list.push_back({{"rule", active.rule},
                    {"device", active.device},
                    {"subject", active.subject},
                    {"level", active.level},
                    {"eventId", active.eventId},
                    {"message", active.message},
                    {"eventTime", active.eventTime},
                    {"raisedAt", static_cast<uint64_t>(active.raisedAt)},
                    {"reminded", reminded}});
  }
  const std::string text = json{{"conditions", list}}.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
  std::string error;
  if (!replaceFileAtomically(statePath_, text, FileAccess::processDefault(), &error)) {
    std::printf("The active conditions could not be saved to %s (%s)\n", statePath_.c_str(), error.c_str());
  }
}

void ConditionTracker::loadLocked() {
  if (statePath_.empty()) return;
  std::ifstream in(statePath_, std::ios::binary);
  if (!in) return;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const json state = json::parse(text, nullptr, false);
  if (state.is_discarded() || !state.is_object() || !state.contains("conditions") ||
      !state["conditions"].is_array()) {
    std::printf("%s is not readable; the active conditions start afresh\n", statePath_.c_str());
    return;
  }
  for (const json& entry : state["conditions"]) {
    if (!entry.is_object()) continue;
    Active active;
    active.rule = jsonText(entry, "rule");
    active.device = jsonText(entry, "device");
    active.subject = jsonText(entry, "subject");
    active.level = static_cast<uint32_t>(jsonNumber(entry, "level"));
    active.eventId = static_cast<uint32_t>(jsonNumber(entry, "eventId"));
    active.message = jsonText(entry, "message");
    active.eventTime = static_cast<uint32_t>(jsonNumber(entry, "eventTime"));
    active.raisedAt = static_cast<time_t>(jsonNumber(entry, "raisedAt"));
    const auto reminded = entry.find("reminded");
    if (reminded != entry.end() && reminded->is_object()) {
      for (const auto& [channel, when] : reminded->items()) {
        if (when.is_number_unsigned()) active.reminded[channel] = static_cast<time_t>(when.get<uint64_t>());
      }
    }
    if (active.rule.empty() || active.device.empty()) continue;
    active_[keyOf(active.rule, active.device, active.subject)] = std::move(active);
  }
}

ConditionTracker& conditionTracker() {
  // Never destroyed: channel threads may still be ending while the process exits.
  static ConditionTracker* const tracker = new ConditionTracker();
  return *tracker;
}
