// Tests of the condition rules (their file form, refused lines, subjects) and of the tracker:
// first notice, repeats left out, ends with the level the condition was raised with, reminders per
// channel at their interval, and the saved state across a restart (and a damaged one).
#include "server/events/condition_tracker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "server/events/condition_rules.h"
#include "server/events/notifier_reminders.h"

namespace {

EventRecord event(const char* device, const char* message, uint32_t id, uint32_t level = 2) {
  return EventRecord{
      const_cast<char*>(message), const_cast<char*>(device), level, 1701853503, 1701853503, id, 0};
}

ConditionRule rule(const char* name, const char* text) {
  std::string error;
  std::optional<ConditionRule> parsed = parseConditionRule(name, text, &error);
  EXPECT_TRUE(parsed.has_value()) << error;
  return parsed.value_or(ConditionRule{});
}

TEST(ConditionRulesTest, LinesAndTheirRefusals) {
  const ConditionRule drive = rule("DriveFailed", "raise 0xB27 clear 0xB0C 0xb0e 2859 subject slot");
  ASSERT_EQ(drive.raise.size(), 1u);
  EXPECT_EQ(drive.raise[0].eventId, 0xB27u);
  ASSERT_EQ(drive.clear.size(), 3u);
  EXPECT_EQ(drive.clear[1].eventId, 0xB0Eu);
  EXPECT_EQ(drive.clear[2].eventId, 2859u);
  EXPECT_EQ(drive.subjectWord, "slot");
  const ConditionRule battery =
      rule("BatteryFailed", "raise 0xB42 \"Battery HAS failed\" clear 0xB42 \"working again\"");
  EXPECT_EQ(battery.raise[0].text, "battery has failed");
  EXPECT_EQ(battery.subjectWord, "");

  for (const auto& [name, text] : std::vector<std::pair<const char*, const char*>>{
           {"NoClear", "raise 0xB27"},
           {"NoRaise", "clear 0xB27"},
           {"BadId", "raise 0xZZ clear 0x1"},
           {"ZeroId", "raise 0 clear 0x1"},
           {"OpenQuote", "raise 0xB42 \"never closed clear 0x1"},
           {"TextFirst", "raise \"text\" clear 0x1"},
           {"TwoTexts", "raise 0x1 \"a\" \"b\" clear 0x2"},
           {"Stray", "raise 0x1 clear 0x2 please"},
           {"SubjectMissing", "raise 0x1 clear 0x2 subject"},
           {"SubjectQuoted", "raise 0x1 clear 0x2 subject \"slot\""},
           {"bad name", "raise 0x1 clear 0x2"},
           {"", "raise 0x1 clear 0x2"}}) {
    std::string error;
    EXPECT_FALSE(parseConditionRule(name, text, &error).has_value()) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
}

TEST(ConditionRulesTest, FileKeepsGoodLinesAndNamesTheBadOnes) {
  const std::string path = testing::TempDir() + "conditions-test.db";
  {
    std::ofstream out(path);
    out << "' comment\nFirst = raise 0x1 clear 0x2\nBroken = raise 0x1\nFirst = raise 0x3 clear 0x4\n"
           "Second = raise 0x5 clear 0x6 subject port\n";
  }
  std::vector<std::string> errors;
  const std::vector<ConditionRule> rules = readConditionRules(path.c_str(), &errors);
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0].name, "First");
  EXPECT_EQ(rules[0].raise[0].eventId, 1u);
  EXPECT_EQ(rules[1].name, "Second");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("Broken: ", 0), 0u);
  EXPECT_EQ(errors[1], "First: the name is used twice");
  EXPECT_TRUE(readConditionRules((path + ".missing").c_str(), &errors).empty());
  std::filesystem::remove(path);
}

TEST(ConditionRulesTest, SubjectsAndMatchers) {
  const ConditionRule drive = rule("DriveFailed", "raise 0xB27 clear 0xB0C subject slot");
  EXPECT_EQ(conditionSubject(
                drive, event("d", "(Event ID: 0xB27) Drive ID 3 in slot 3 (WWN 5000c5) failed.", 0xB27)),
            "3");
  EXPECT_EQ(conditionSubject(drive, event("d", "Drive ID 7 was inserted in Slot 12.", 0xB0C)), "12");
  EXPECT_FALSE(conditionSubject(drive, event("d", "slotted drive 3", 0xB27)).has_value())
      << "whole words only";
  EXPECT_FALSE(conditionSubject(drive, event("d", "no such word", 0xB27)).has_value());
  EXPECT_FALSE(conditionSubject(drive, event("d", "ends with slot", 0xB27)).has_value());
  const ConditionRule battery =
      rule("BatteryLow", "raise 0xB42 \"charge is low\" clear 0xB42 \"is charged\"");
  EXPECT_TRUE(matchesAny(battery.raise, event("d", "The battery CHARGE is low (20 percent).", 0xB42)));
  EXPECT_FALSE(matchesAny(battery.raise, event("d", "The battery is charged (100 percent).", 0xB42)));
  EXPECT_FALSE(matchesAny(battery.raise, event("d", "The battery charge is low.", 0xB43)));
  EXPECT_EQ(conditionSubject(battery, event("d", "anything", 0xB42)), "");
}

class ConditionTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = testing::TempDir() + "conditions-" + std::to_string(getpid()) + ".state";
    std::filesystem::remove(state_);
    tracker_.setRules({rule("DriveFailed", "raise 0xB27 clear 0xB0C 0xB2B subject slot"),
                       rule("DriveBypassed", "raise 0xB0D clear 0xB0C subject slot"),
                       rule("FanFailed", "raise 0xB7E clear 0xB7F")},
                      state_);
  }
  void TearDown() override { std::filesystem::remove(state_); }

  std::string state_;
  ConditionTracker tracker_;
};

TEST_F(ConditionTrackerTest, OnceRepeatsLeftOutEndWithTheRaisedLevel) {
  const EventRecord failed = event("Ctl A", "Drive ID 3 in slot 3 failed.", 0xB27, 2);
  std::vector<NoticeStamp> stamps = tracker_.classify(failed, 1000);
  ASSERT_EQ(stamps.size(), 1u);
  EXPECT_EQ(stamps[0].kind, kNoticeRaised);
  EXPECT_EQ(stamps[0].level, 2);
  EXPECT_EQ(conditionLabel(stamps[0].condition).name, "DriveFailed");
  EXPECT_EQ(conditionLabel(stamps[0].condition).subject, "3");
  for (int i = 0; i < 99; ++i) EXPECT_TRUE(tracker_.classify(failed, 1001).empty());
  // Another slot, and the same slot on another device, are conditions of their own.
  EXPECT_EQ(tracker_.classify(event("Ctl A", "Drive ID 4 in slot 4 failed.", 0xB27), 1002)[0].kind,
            kNoticeRaised);
  EXPECT_EQ(tracker_.classify(event("Ctl B", "Drive ID 3 in slot 3 failed.", 0xB27), 1002)[0].kind,
            kNoticeRaised);
  EXPECT_EQ(tracker_.activeCount(), 3u);
  // Events outside every condition, and ends of conditions that are not active, go out as ever.
  EXPECT_EQ(tracker_.classify(event("Ctl A", "User logged in", 0x108, 0), 1003)[0].kind, kNoticeEvent);
  EXPECT_EQ(tracker_.classify(event("Ctl A", "Drive ID 9 is ready in slot 9.", 0xB2B, 0), 1003)[0].kind,
            kNoticeEvent);

  // One insertion ends both conditions of its slot, each told with the level it was raised with.
  ASSERT_TRUE(
      tracker_.classify(event("Ctl A", "Drive ID 3 in slot 3 was bypassed.", 0xB0D, 1), 1004)[0].kind ==
      kNoticeRaised);
  stamps = tracker_.classify(event("Ctl A", "Drive ID 3 was inserted in slot 3.", 0xB0C, 0), 1005);
  ASSERT_EQ(stamps.size(), 2u);
  EXPECT_EQ(stamps[0].kind, kNoticeResolved);
  EXPECT_EQ(conditionLabel(stamps[0].condition).name, "DriveFailed");
  EXPECT_EQ(stamps[0].level, 2);
  EXPECT_EQ(conditionLabel(stamps[1].condition).name, "DriveBypassed");
  EXPECT_EQ(stamps[1].level, 1);
  EXPECT_EQ(tracker_.activeCount(), 2u);
  // After its end the condition is told again when it comes back.
  EXPECT_EQ(tracker_.classify(failed, 1006)[0].kind, kNoticeRaised);
}

TEST_F(ConditionTrackerTest, RemindersPerChannelAtTheirInterval) {
  ASSERT_EQ(tracker_.classify(event("Ctl A", "A fan failed.", 0xB7E, 1), 1000).size(), 1u);
  EXPECT_TRUE(tracker_.dueReminders("email", 60, 1059).empty());
  std::vector<EventRecord*> due = tracker_.dueReminders("email", 60, 1060);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0]->notice, kNoticeReminder);
  EXPECT_EQ(due[0]->noticeLevel, 1);
  EXPECT_EQ(due[0]->concernLevel, 1u);
  EXPECT_EQ(due[0]->eventId, 0xB7Eu);
  EXPECT_STREQ(due[0]->device, "Ctl A");
  EXPECT_EQ(std::string(due[0]->message).rfind("Reminder: unresolved since ", 0), 0u) << due[0]->message;
  EXPECT_NE(std::string(due[0]->message).find(": A fan failed."), std::string::npos) << due[0]->message;
  EXPECT_EQ(due[0]->raiseTime, 1060u);
  for (EventRecord* record : due) freeEventRecord(record);
  EXPECT_TRUE(tracker_.dueReminders("email", 60, 1119).empty()) << "counted from the last reminder";
  due = tracker_.dueReminders("email", 60, 1120);
  EXPECT_EQ(due.size(), 1u);
  for (EventRecord* record : due) freeEventRecord(record);
  // Each channel has its own clock; no interval, no reminders.
  due = tracker_.dueReminders("snmp", 3600, 4600);
  EXPECT_EQ(due.size(), 1u);
  for (EventRecord* record : due) freeEventRecord(record);
  EXPECT_TRUE(tracker_.dueReminders("syslog", 0, 9999).empty());
  ASSERT_EQ(tracker_.classify(event("Ctl A", "The fans work again.", 0xB7F, 0), 5000)[0].kind,
            kNoticeResolved);
  EXPECT_TRUE(tracker_.dueReminders("email", 60, 9999).empty());
}

TEST_F(ConditionTrackerTest, ActiveConditionsSurviveARestartAndDamageIsSurvived) {
  ASSERT_EQ(tracker_.classify(event("Ctl A", "Drive ID 3 in slot 3 failed.", 0xB27), 1000)[0].kind,
            kNoticeRaised);
  std::vector<EventRecord*> due = tracker_.dueReminders("email", 60, 1060);
  for (EventRecord* record : due) freeEventRecord(record);
  const std::string copy = state_ + ".copy";
  std::filesystem::copy_file(state_, copy, std::filesystem::copy_options::overwrite_existing);
  ConditionTracker restarted;
  restarted.setRules({rule("DriveFailed", "raise 0xB27 clear 0xB0C subject slot")}, state_);
  EXPECT_EQ(restarted.activeCount(), 1u);
  EXPECT_TRUE(restarted.classify(event("Ctl A", "Drive ID 3 in slot 3 failed.", 0xB27), 1100).empty())
      << "not told again after a restart";
  EXPECT_TRUE(restarted.dueReminders("email", 60, 1119).empty()) << "its last reminder is remembered";
  const std::vector<NoticeStamp> end =
      restarted.classify(event("Ctl A", "Drive ID 3 was inserted in slot 3.", 0xB0C, 0), 1200);
  ASSERT_EQ(end.size(), 1u);
  EXPECT_EQ(end[0].kind, kNoticeResolved);
  EXPECT_EQ(end[0].level, 2);

  // A rule that is gone takes its conditions with it.
  ConditionTracker fewer;
  fewer.setRules({rule("FanFailed", "raise 0xB7E clear 0xB7F")}, copy);
  EXPECT_EQ(fewer.activeCount(), 0u);
  ConditionTracker again;
  again.setRules({rule("DriveFailed", "raise 0xB27 clear 0xB0C subject slot")}, copy);
  EXPECT_EQ(again.activeCount(), 0u) << "the file was rewritten without it";
  std::filesystem::remove(copy);

  for (const char* damage :
       {"", "not json", "{\"conditions\": 3}", "{\"conditions\": [1, \"x\", {\"rule\": 5}]}",
        "{\"conditions\": [{\"rule\": \"DriveFailed\", \"device\": \"d\", \"level\": \"high\", "
        "\"reminded\": {\"email\": \"soon\"}}]}"}) {
    {
      std::ofstream out(state_, std::ios::trunc);
      out << damage;
    }
    ConditionTracker tracker;
    tracker.setRules({rule("DriveFailed", "raise 0xB27 clear 0xB0C subject slot")}, state_);
    EXPECT_LE(tracker.activeCount(), 1u) << damage;
  }
}

TEST(ReminderIntervalTest, DurationsAndRefusals) {
  int64_t seconds = -1;
  for (const auto& [text, expected] : std::vector<std::pair<const char*, int64_t>>{{"", 86400},
                                                                                   {"  ", 86400},
                                                                                   {"off", 0},
                                                                                   {" off ", 0},
                                                                                   {"90", 90},
                                                                                   {"90s", 90},
                                                                                   {"30m", 1800},
                                                                                   {"24h", 86400},
                                                                                   {" 1d ", 86400},
                                                                                   {"366d", 31622400}}) {
    EXPECT_TRUE(parseReminderInterval(text, &seconds)) << text;
    EXPECT_EQ(seconds, expected) << text;
  }
  for (const char* bad : {"0", "0h", "-5m", "1w", "h", "1.5h", "367d", "9999999999", "24 h", "1h\n", "Off", "offf"}) {
    EXPECT_FALSE(parseReminderInterval(bad, &seconds)) << bad;
  }
}

}  // namespace
