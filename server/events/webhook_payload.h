// The webhook notifier's payloads. Every notice is first put in the generic JSON form, which is
// what the on-disk queue keeps and what a "generic" receiver gets:
//
//   {"schema": "kestrova.notification.v1", "sequence": 1733475903000,
//    "notice": "event" | "raised" | "reminder" | "resolved" | "test",
//    "server": {"host": "store1", "software": "Kestrova"},
//    "event": {"id": 2855, "idHex": "0x0B27", "level": 2, "levelName": "error",
//              "device": "Ctl A", "message": "...", "time": "2024-12-06T09:05:03Z",
//              "raisedAt": "2024-12-06T09:05:04Z", "sync": false},
//    "condition": null | {"name": "DriveFailed", "subject": "3", "level": 2}}
//
// "slack" receivers get {"text": "..."} (Slack's incoming webhooks, Mattermost, Rocket.Chat);
// "alertmanager" receivers a list of one alert for Alertmanager's API v2, whose labels name the
// condition (so that its resolution ends the same alert) or, for an event without one, the event.
// Texts are valid UTF-8 without control characters whatever the event held.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "server/events/event_record.h"

struct WebhookCondition {
  std::string name;
  std::string subject;
  uint32_t level = 0;  // the level the condition was raised with
};

struct WebhookNotice {
  uint64_t sequence = 0;
  std::string notice = "event";
  std::string host;
  std::string software;
  uint32_t eventId = 0;
  uint32_t level = 0;
  std::string device;
  std::string message;
  time_t eventTime = 0;
  time_t raiseTime = 0;
  bool sync = false;
  std::optional<WebhookCondition> condition;
};

// The notice of record (its texts are copied).
WebhookNotice webhookNoticeOf(const EventRecord& record, const std::string& host,
                              const std::string& software);

// The generic JSON form.
std::string genericWebhookPayload(const WebhookNotice& notice);
// Back from the generic JSON form (a queued notice); nothing when the text is not one.
std::optional<WebhookNotice> parseWebhookNotice(const std::string& json);

std::string slackWebhookPayload(const WebhookNotice& notice);
// How long an alert stays firing without a word from us: an event without a condition is shown
// for an hour; a condition for a day, and its reminders renew it.
inline constexpr time_t kOneOffAlertSeconds = 3600;
inline constexpr time_t kConditionAlertSeconds = 86400;
// now: the moment of sending (endsAt of a resolution, the start of an alert's lifetime).
std::string alertmanagerWebhookPayload(const WebhookNotice& notice, time_t now);
