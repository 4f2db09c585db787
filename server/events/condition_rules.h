// Conditions: states of a device that an event starts and a later event ends (a drive failed until
// a drive is inserted in its slot, a fan failed until the fans work again). The notifiers tell of a
// condition once, remind of it while it lasts and tell when it ends (condition_tracker.h); the
// rules that say which events start and end which condition are data, in db/conditions.db, one
// line per condition:
//
//   <Name> = raise <matcher>... clear <matcher>... [subject <word>]
//
// A matcher is an event ID ("0xB27"), optionally followed by a quoted text that the message must
// contain (case-insensitive): `0xB42 "battery has failed"`, for events whose ID covers several
// happenings. With a subject, the condition is per device and per the token that follows <word>
// in the message ("slot" in "Drive ID 3 in slot 3 failed." gives "3"), and an event whose message
// lacks the word matches nothing; without one, per device. A missing file means no conditions:
// every event is notified as it always was.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/events/event_record.h"

inline constexpr char kConditionRulesPath[] = "db/conditions.db";

struct ConditionMatcher {
  uint32_t eventId = 0;
  std::string text;  // lower case; empty: any message
};

struct ConditionRule {
  std::string name;
  std::vector<ConditionMatcher> raise;
  std::vector<ConditionMatcher> clear;
  std::string subjectWord;  // empty: per device
};

// The rule of one line; nothing (with *error set) when the line is not one. Names are 1 to 64
// letters, digits and '_'.
std::optional<ConditionRule> parseConditionRule(std::string_view name, std::string_view text,
                                                std::string* error);
// The rules of the file (in file order); lines that are not rules are reported in *errors (one
// text per line) and left out. Empty when the file is missing.
std::vector<ConditionRule> readConditionRules(const char* path, std::vector<std::string>* errors);

// Whether record matches one of matchers.
bool matchesAny(const std::vector<ConditionMatcher>& matchers, const EventRecord& record);
// The subject of record under rule: the token after the rule's word, "" for a rule without a word;
// nothing when the message lacks the word.
std::optional<std::string> conditionSubject(const ConditionRule& rule, const EventRecord& record);
