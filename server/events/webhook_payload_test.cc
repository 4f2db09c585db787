// Tests of the webhook payloads and receiver settings that need no peer: the generic JSON form and
// its reading back from the queue, the Slack and Alertmanager forms, hostile texts, the URLs a
// receiver may have, and the filters.
#include "server/events/webhook_payload.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "server/events/webhook_config.h"

namespace {

using nlohmann::json;

WebhookNotice sample() {
  const EventRecord record{const_cast<char*>("(Event ID: 0xB27) Drive ID 3 in slot 3 failed."),
                           const_cast<char*>("Brivo20000004CF8A1B2C Ctl A"),
                           2,
                           1701853503,
                           1701853510,
                           0xB27,
                           0};
  WebhookNotice notice = webhookNoticeOf(record, "store1", "Kestrova");
  notice.sequence = 1701853510123;
  return notice;
}

TEST(WebhookPayloadTest, GenericFormCarriesEveryFieldAndReadsBack) {
  WebhookNotice notice = sample();
  notice.notice = "raised";
  notice.condition = WebhookCondition{"DriveFailed", "3", 2};
  const json body = json::parse(genericWebhookPayload(notice));
  EXPECT_EQ(body["schema"], "kestrova.notification.v1");
  EXPECT_EQ(body["sequence"], 1701853510123u);
  EXPECT_EQ(body["notice"], "raised");
  EXPECT_EQ(body["server"]["host"], "store1");
  EXPECT_EQ(body["event"]["id"], 0xB27);
  EXPECT_EQ(body["event"]["idHex"], "0x0B27");
  EXPECT_EQ(body["event"]["level"], 2);
  EXPECT_EQ(body["event"]["levelName"], "error");
  EXPECT_EQ(body["event"]["device"], "Brivo20000004CF8A1B2C Ctl A");
  EXPECT_EQ(body["event"]["time"], "2023-12-06T09:05:03Z");
  EXPECT_EQ(body["event"]["raisedAt"], "2023-12-06T09:05:10Z");
  EXPECT_EQ(body["event"]["sync"], false);
  EXPECT_EQ(body["condition"]["name"], "DriveFailed");
  EXPECT_EQ(body["condition"]["subject"], "3");

  const std::optional<WebhookNotice> back = parseWebhookNotice(genericWebhookPayload(notice));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(genericWebhookPayload(*back), genericWebhookPayload(notice));

  WebhookNotice plain = sample();
  EXPECT_TRUE(json::parse(genericWebhookPayload(plain))["condition"].is_null());
  for (const char* bad :
       {"", "not json", "[]", "{\"schema\":\"other\"}", "{\"schema\":\"kestrova.notification.v1\"}"}) {
    EXPECT_FALSE(parseWebhookNotice(bad).has_value()) << bad;
  }
}

TEST(WebhookPayloadTest, HostileTextsGiveValidJson) {
  WebhookNotice notice = sample();
  notice.device = "dev\"ice\\\n";
  notice.message = std::string("bad \xff\xfe utf8, ctl \x01\x1b, quote \" </script> & \xc3\xa9");
  for (const std::string& text : {genericWebhookPayload(notice), slackWebhookPayload(notice),
                                  alertmanagerWebhookPayload(notice, 1701853600)}) {
    const json parsed = json::parse(text, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
  }
  const json body = json::parse(genericWebhookPayload(notice));
  EXPECT_EQ(body["event"]["device"], "dev\"ice\\ ");
  EXPECT_EQ(body["event"]["message"], "bad ?? utf8, ctl   , quote \" </script> & \xc3\xa9");
  // Slack reads <, > and & as markup.
  EXPECT_EQ(
      json::parse(slackWebhookPayload(notice))["text"],
      "[Kestrova store1] Error: dev\"ice\\ : bad ?? utf8, ctl   , quote \" &lt;/script&gt; &amp; \xc3\xa9");
}

TEST(WebhookPayloadTest, AlertmanagerAlertsByConditionOrEvent) {
  WebhookNotice event = sample();
  json alerts = json::parse(alertmanagerWebhookPayload(event, 1701853600));
  ASSERT_TRUE(alerts.is_array());
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0]["labels"]["alertname"], "KestrovaEvent");
  EXPECT_EQ(alerts[0]["labels"]["severity"], "error");
  EXPECT_EQ(alerts[0]["labels"]["event_id"], "0x0B27");
  EXPECT_EQ(alerts[0]["labels"]["instance"], "store1");
  EXPECT_EQ(alerts[0]["startsAt"], "2023-12-06T09:05:03Z");
  EXPECT_EQ(alerts[0]["endsAt"], "2023-12-06T10:06:40Z") << "an event without a condition shows for an hour";
  EXPECT_EQ(alerts[0]["annotations"]["summary"], "(Event ID: 0xB27) Drive ID 3 in slot 3 failed.");

  WebhookNotice raised = sample();
  raised.notice = "raised";
  raised.condition = WebhookCondition{"DriveFailed", "3", 2};
  alerts = json::parse(alertmanagerWebhookPayload(raised, 1701853600));
  EXPECT_EQ(alerts[0]["labels"]["alertname"], "KestrovaDriveFailed");
  EXPECT_EQ(alerts[0]["labels"]["subject"], "3");
  EXPECT_FALSE(alerts[0]["labels"].contains("event_id"));
  EXPECT_EQ(alerts[0]["endsAt"], "2023-12-07T09:06:40Z");

  // The resolution: the clearing event (an information) ends the alert of the same labels.
  WebhookNotice resolved = sample();
  resolved.level = 0;
  resolved.eventId = 0xB0C;
  resolved.notice = "resolved";
  resolved.condition = WebhookCondition{"DriveFailed", "3", 2};
  const json ended = json::parse(alertmanagerWebhookPayload(resolved, 1701853700));
  EXPECT_EQ(ended[0]["labels"], alerts[0]["labels"]);
  EXPECT_EQ(ended[0]["endsAt"], "2023-12-06T09:08:20Z");
}

TEST(WebhookConfigTest, UrlsAndTargets) {
  for (const char* good : {"http://127.0.0.1:9093", "https://hooks.example.com/services/T0/B0/x?a=1",
                           "http://[::1]:8080/hook", "https://am.example.com/api/v2/alerts"}) {
    EXPECT_TRUE(isWebhookUrl(good)) << good;
  }
  for (const char* bad :
       {"", "ftp://example.com/", "file:///etc/passwd", "http://", "https://user:pw@example.com/",
        "http://example.com/a b", "http://example.com/\r\nX: y", "gopher://x", "http://:80/",
        "javascript:alert(1)"}) {
    EXPECT_FALSE(isWebhookUrl(bad)) << bad;
  }
  EXPECT_FALSE(isWebhookUrl("https://example.com/" + std::string(400, 'a')));
  WebhookReceiver receiver;
  receiver.style = WebhookStyle::kAlertmanager;
  for (const auto& [url, target] : std::vector<std::pair<std::string, std::string>>{
           {"http://am:9093", "http://am:9093/api/v2/alerts"},
           {"http://am:9093/", "http://am:9093/api/v2/alerts"},
           {"http://am:9093/prefix?x=1", "http://am:9093/prefix/api/v2/alerts?x=1"},
           {"http://am:9093/api/v2/alerts", "http://am:9093/api/v2/alerts"}}) {
    receiver.url = url;
    EXPECT_EQ(webhookTargetUrl(receiver), target);
  }
  receiver.style = WebhookStyle::kGeneric;
  receiver.url = "http://am:9093";
  EXPECT_EQ(webhookTargetUrl(receiver), "http://am:9093");
}

TEST(WebhookConfigTest, ReceiversFromTheSettingsAndTheirFilters) {
  TableOwner settings;
  TableOwner secrets;
  addVariable(settings.address(), "WebhookUrl0", "https://hooks.example.com/x");
  addVariable(settings.address(), "WebhookId0", "0123456789abcdef");
  addVariable(settings.address(), "WebhookIWE0", "010");
  addVariable(settings.address(), "WebhookAuth0", "bearer");
  addVariable(secrets.address(), "WebhookSecret0123456789abcdef", "t0ken");
  addVariable(settings.address(), "WebhookUrl1", "https://hooks.example.com/y");
  addVariable(settings.address(), "WebhookId1", "not-an-id");
  addVariable(settings.address(), "WebhookUrl2", "https://hooks.example.com/z");
  addVariable(settings.address(), "WebhookId2", "fedcba9876543210");
  addVariable(settings.address(), "WebhookStyle2", "carrier-pigeon");
  const WebhookReceiver first = webhookReceiverAt(settings.get(), secrets.get(), 0);
  EXPECT_TRUE(first.usable);
  EXPECT_EQ(first.secret, "t0ken");
  EXPECT_EQ(first.auth, WebhookAuth::kBearer);
  EXPECT_TRUE(webhookReceiverWants(first, 1));
  EXPECT_TRUE(webhookReceiverWants(first, 3)) << "other levels count as warnings";
  EXPECT_TRUE(webhookReceiverWants(first, 4)) << "level 4 passes every filter";
  EXPECT_FALSE(webhookReceiverWants(first, 0));
  EXPECT_FALSE(webhookReceiverWants(first, 2));
  EXPECT_FALSE(webhookReceiverAt(settings.get(), secrets.get(), 1).usable);
  EXPECT_FALSE(webhookReceiverAt(settings.get(), secrets.get(), 2).usable);
  EXPECT_FALSE(webhookReceiverWants(webhookReceiverAt(settings.get(), secrets.get(), 2), 4));
  EXPECT_FALSE(webhookReceiverAt(settings.get(), secrets.get(), 3).usable);
}

}  // namespace
