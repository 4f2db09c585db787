// The webhook payloads; see webhook_payload.h.
#include "server/events/webhook_payload.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "server/events/condition_tracker.h"
#include "server/events/json_fields.h"
#include "server/events/structured_text.h"

namespace {

using nlohmann::json;

constexpr char kSchema[] = "kestrova.notification.v1";

std::string dumped(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// Seconds since 1970 of an RFC 3339 UTC text as rfc3339Utc writes it; 0 when it is not one.
time_t parseUtc(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char zone = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second,
                  &zone) != 7 ||
      zone != 'Z') {
    return 0;
  }
  // The calendar arithmetic of <chrono> rather than timegm, which Windows' runtime lacks; fields
  // out of range make the text not one (timegm would have carried them over).
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) return 0;
  const auto days = std::chrono::sys_days(date).time_since_epoch().count();
  return static_cast<time_t>(days) * 86400 + hour * 3600 + minute * 60 + second;
}

const char* levelTitle(uint32_t level) {
  switch (level) {
    case 0:
      return "Information";
    case 2:
      return "Error";
    case 4:
      return "Notice";
    default:
      return "Warning";
  }
}

}  // namespace

WebhookNotice webhookNoticeOf(const EventRecord& record, const std::string& host,
                              const std::string& software) {
  WebhookNotice notice;
  notice.host = host;
  notice.software = software;
  notice.eventId = record.eventId;
  notice.level = record.concernLevel;
  notice.device = record.device != nullptr ? record.device : "";
  notice.message = record.message != nullptr ? record.message : "";
  notice.raiseTime = record.raiseTime != 0 ? record.raiseTime : std::time(nullptr);
  notice.eventTime = record.eventTime != 0 ? record.eventTime : notice.raiseTime;
  notice.sync = record.syncFlag != 0;
  notice.notice = noticeKindText(record.notice);
  const ConditionLabel label = conditionLabel(record.noticeCondition);
  if (!label.name.empty()) notice.condition = WebhookCondition{label.name, label.subject, record.noticeLevel};
  return notice;
}

std::string genericWebhookPayload(const WebhookNotice& notice) {
  json event = {{"id", notice.eventId},
                {"idHex", eventIdText(notice.eventId)},
                {"level", notice.level},
                {"levelName", concernLevelName(notice.level)},
                {"device", cleanUtf8(notice.device)},
                {"message", cleanUtf8(notice.message)},
                {"time", rfc3339Utc(notice.eventTime)},
                {"raisedAt", rfc3339Utc(notice.raiseTime)},
                {"sync", notice.sync}};
  json body = {{"schema", kSchema},
               {"sequence", notice.sequence},
               {"notice", notice.notice},
               {"server", {{"host", cleanUtf8(notice.host)}, {"software", cleanUtf8(notice.software)}}},
               {"event", event},
               {"condition", nullptr}};
  if (notice.condition) {
    body["condition"] = {{"name", cleanUtf8(notice.condition->name)},
                         {"subject", cleanUtf8(notice.condition->subject)},
                         {"level", notice.condition->level}};
  }
  return dumped(body);
}

std::optional<WebhookNotice> parseWebhookNotice(const std::string& text) {
  const json body = json::parse(text, nullptr, false);
  if (body.is_discarded() || !body.is_object() || jsonText(body, "schema") != kSchema) return std::nullopt;
  const auto event = body.find("event");
  const auto server = body.find("server");
  if (event == body.end() || !event->is_object() || server == body.end() || !server->is_object())
    return std::nullopt;
  WebhookNotice notice;
  notice.sequence = jsonNumber(body, "sequence");
  notice.notice = jsonText(body, "notice");
  notice.host = jsonText(*server, "host");
  notice.software = jsonText(*server, "software");
  notice.eventId = static_cast<uint32_t>(jsonNumber(*event, "id"));
  notice.level = static_cast<uint32_t>(jsonNumber(*event, "level"));
  notice.device = jsonText(*event, "device");
  notice.message = jsonText(*event, "message");
  notice.eventTime = parseUtc(jsonText(*event, "time"));
  notice.raiseTime = parseUtc(jsonText(*event, "raisedAt"));
  const auto sync = event->find("sync");
  notice.sync = sync != event->end() && sync->is_boolean() && sync->get<bool>();
  const auto condition = body.find("condition");
  if (condition != body.end() && condition->is_object()) {
    notice.condition = WebhookCondition{jsonText(*condition, "name"), jsonText(*condition, "subject"),
                                        static_cast<uint32_t>(jsonNumber(*condition, "level"))};
  }
  return notice;
}

std::string slackWebhookPayload(const WebhookNotice& notice) {
  // Slack reads &, < and > as markup; escaped, the event's texts stay plain text.
  std::string text = "[" + notice.software + " " + notice.host + "] " + levelTitle(notice.level) + ": " +
                     notice.device + ": " + notice.message;
  std::string escaped;
  for (char c : cleanUtf8(text)) {
    if (c == '&') {
      escaped += "&amp;";
    } else if (c == '<') {
      escaped += "&lt;";
    } else if (c == '>') {
      escaped += "&gt;";
    } else {
      escaped += c;
    }
  }
  return dumped(json{{"text", escaped}});
}

std::string alertmanagerWebhookPayload(const WebhookNotice& notice, time_t now) {
  json labels = {{"instance", cleanUtf8(notice.host)}, {"device", cleanUtf8(notice.device)}};
  time_t endsAt = 0;
  if (notice.condition) {
    labels["alertname"] = cleanUtf8(notice.software + notice.condition->name);
    labels["severity"] = concernLevelName(notice.condition->level);
    if (!notice.condition->subject.empty()) labels["subject"] = cleanUtf8(notice.condition->subject);
    endsAt = notice.notice == "resolved" ? now : now + kConditionAlertSeconds;
  } else {
    labels["alertname"] = cleanUtf8(notice.software + (notice.notice == "test" ? "Test" : "Event"));
    labels["severity"] = concernLevelName(notice.level);
    labels["event_id"] = eventIdText(notice.eventId);
    endsAt = std::max(now, notice.eventTime) + kOneOffAlertSeconds;
  }
  json alert = {{"labels", labels},
                {"annotations",
                 {{"summary", cleanUtf8(notice.message)},
                  {"description", cleanUtf8(notice.device + ": " + notice.message)},
                  {"notice", notice.notice}}},
                {"startsAt", rfc3339Utc(notice.eventTime)},
                {"endsAt", rfc3339Utc(endsAt)}};
  return dumped(json::array({alert}));
}
