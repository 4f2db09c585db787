// De-duplication and reminders of the notifiers. The tracker keeps the conditions (condition_rules.h)
// that are active: the first event of a condition on a device is notified ("raised"); repeats of it
// while it lasts are not (the event log still keeps each one); each notifier channel that wants
// reminders gets one at its interval while the condition lasts ("reminder"); the event that ends it
// is notified as its resolution ("resolved"). Events outside every condition are notified as they
// always were ("event").
//
// What a notifier's copy of a record tells is stamped into the record itself (EventRecord::notice,
// noticeLevel, noticeCondition; see common/module_abi.h); conditionLabel names the condition of a
// stamp. The active conditions are kept in db/conditions.state (rewritten at each change), so that
// a restart of the server neither notifies them again nor forgets to resolve them.
//
// Thread safety: every member may be called from any thread; one lock.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/thread_annotations.h"
#include "server/events/condition_rules.h"
#include "server/events/event_record.h"

enum NoticeKind : uint8_t { kNoticeEvent = 0, kNoticeRaised = 1, kNoticeReminder = 2, kNoticeResolved = 3 };
// "event", "raised", "reminder", "resolved".
const char* noticeKindText(uint8_t kind);

struct NoticeStamp {
  uint8_t kind = kNoticeEvent;
  uint8_t level = 0;       // the level the condition was raised with
  uint16_t condition = 0;  // conditionLabel's number; 0: none
};
// Sets the notice fields of record.
void stampRecord(EventRecord* record, const NoticeStamp& stamp);

struct ConditionLabel {
  std::string name;     // the rule's name; empty for number 0 or an unknown number
  std::string subject;  // the subject within the device; may be empty
};
ConditionLabel conditionLabel(uint16_t number);

inline constexpr char kConditionStatePath[] = "db/conditions.state";

class ConditionTracker {
 public:
  // The rules for the records to come. Active conditions whose rule is gone are forgotten. The
  // first call reads the saved conditions of statePath (empty: nothing is kept on disk).
  void setRules(std::vector<ConditionRule> rules, const std::string& statePath);
  // How the notifiers see record: one stamp per condition it ends, plus one for the condition it
  // starts, or one plain "event" stamp; none when it repeats a condition that is still active
  // (the notifiers then leave it out).
  std::vector<NoticeStamp> classify(const EventRecord& record, time_t now);
  // Reminders of the conditions that channel was last told of interval seconds ago or more (now
  // counts as told): new records, stamped, the message behind the reminder text. Caller frees.
  std::vector<EventRecord*> dueReminders(const std::string& channel, time_t interval, time_t now);
  size_t activeCount() const;
  // Forgets every condition and rule; nothing is written (tests).
  void reset();

 private:
  struct Active {
    std::string rule;
    std::string device;
    std::string subject;
    uint32_t level = 0;
    uint32_t eventId = 0;
    std::string message;
    uint32_t eventTime = 0;
    time_t raisedAt = 0;
    std::map<std::string, time_t> reminded;  // by channel
  };
  void saveLocked() const REQUIRES(mutex_);
  void loadLocked() REQUIRES(mutex_);
  static std::string keyOf(const std::string& rule, const std::string& device, const std::string& subject);

  mutable Mutex mutex_;
  std::vector<ConditionRule> rules_ GUARDED_BY(mutex_);
  std::map<std::string, Active> active_ GUARDED_BY(mutex_);
  std::string statePath_ GUARDED_BY(mutex_);
  bool loaded_ GUARDED_BY(mutex_) = false;
};

// The server's tracker.
ConditionTracker& conditionTracker();
