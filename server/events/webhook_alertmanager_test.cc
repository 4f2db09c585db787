// The webhook channel against Prometheus Alertmanager (Debian's prometheus-alertmanager): a drive
// failure becomes a firing alert, its end resolves that alert, and an event outside every
// condition becomes an alert of its own. Alertmanager in turn notifies an HTTP peer
// (tests/webhook_sink.py) with send_resolved, so the test sees what an on-call tool would see:
// "firing", then "resolved", with our labels.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/thread_manager.h"
#include "server/events/condition_tracker.h"
#include "server/events/dispatcher.h"
#include "server/events/webhook_sender.h"
#include "server/events/webhook_settings.h"
#include "server/events/webhook_test_support.h"

namespace {

using namespace webhook_test;

constexpr char kAlertmanager[] = "/usr/bin/prometheus-alertmanager";

class AlertmanagerTest : public NotifierFolderTest {
 protected:
  void SetUp() override {
    NotifierFolderTest::SetUp();
    if (access(kAlertmanager, X_OK) != 0)
      GTEST_SKIP() << kAlertmanager << " is not installed (scripts/bootstrap.sh)";
    resetWebhookSender();
    conditionTracker().reset();
    writeFile("db/conditions.db", "DriveFailed = raise 0xB27 clear 0xB0C subject slot\n");
    oncall_ = std::make_unique<WebhookSink>(path(""), 0);
    ASSERT_TRUE(oncall_->ready()) << oncall_->output();
    port_ = unusedTcpPort();
    writeFile(
        "alertmanager.yml",
        "route:\n  receiver: oncall\n  group_by: ['alertname', 'device', 'subject']\n  group_wait: 1s\n"
        "  group_interval: 1s\n  repeat_interval: 1h\nreceivers:\n  - name: oncall\n    webhook_configs:\n"
        "      - url: " +
            oncall_->url("/oncall") + "\n        send_resolved: true\n");
    alertmanager_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{kAlertmanager, "--config.file=" + path("alertmanager.yml"),
                                 "--storage.path=" + path("am-data"),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(port_),
                                 "--cluster.listen-address=", "--log.level=warn"},
        path("alertmanager.out"));
    ASSERT_TRUE(alertmanager_->started());
    ASSERT_TRUE(waitUntil([this] { return tcpPortListening(port_) || !alertmanager_->running(); }, 30000ms));
    ASSERT_TRUE(alertmanager_->running()) << alertmanager_->output();
    addVariable(&serverSettings().server, "softwareName", "Kestrova");
  }
  void TearDown() override {
    serverControl().serverRunning.store(0);
    stopNotificationChannels();
    alertmanager_.reset();
    oncall_.reset();
    resetWebhookSender();
    conditionTracker().reset();
    NotifierFolderTest::TearDown();
  }
  // Alertmanager's notifications of the alert named alertname, in arrival order: their status.
  std::vector<std::string> statusesOf(const std::string& alertname) const {
    std::vector<std::string> statuses;
    for (const Posted& post : oncall_->posts()) {
      if (!post.body.is_object() || !post.body.contains("alerts")) continue;
      for (const auto& alert : post.body["alerts"]) {
        if (alert["labels"].value("alertname", "") == alertname)
          statuses.push_back(alert.value("status", ""));
      }
    }
    return statuses;
  }
  nlohmann::json firstAlert(const std::string& alertname) const {
    for (const Posted& post : oncall_->posts()) {
      if (!post.body.is_object() || !post.body.contains("alerts")) continue;
      for (const auto& alert : post.body["alerts"]) {
        if (alert["labels"].value("alertname", "") == alertname) return alert;
      }
    }
    return nlohmann::json();
  }

  uint16_t port_ = 0;
  std::unique_ptr<WebhookSink> oncall_;
  std::unique_ptr<PeerProcess> alertmanager_;
};

TEST_F(AlertmanagerTest, ReceivesAlertsAndTheirResolutions) {
  const std::string url = "http://127.0.0.1:" + std::to_string(port_);
  // The test button: Alertmanager answers 200 to our alert.
  auto tested = pairsOf(TableOwner(TestWebhookConfig(webhookForm("0", {{url, "alertmanager"}}).get())).get());
  EXPECT_EQ(tested["MessageDetails"], url + ": sent and accepted (HTTP 200)");
  ASSERT_EQ(pairsOf(TableOwner(SetWebhookConfig(webhookForm("0", {{url, "alertmanager"}}).get()))
                        .get())["MessageIsSuccess"],
            "true");
  ASSERT_TRUE(initThreadManager());
  serverControl().serverRunning.store(1);
  ASSERT_TRUE(startNotificationChannels());

  const char* device = "Brivo20000004CF8A1B2C Ctl A";
  for (int i = 0; i < 5; ++i)
    raiseEvent(device, "Drive ID 3 in slot 3 (WWN 5000c50012345678) failed.", 2, 0, 0xB27, 0);
  raiseEvent(device, "Battery charge low", 1, 0, 0xB42, 0);
  ASSERT_TRUE(waitUntil([this] { return !statusesOf("KestrovaDriveFailed").empty(); }, 60000ms))
      << oncall_->output() << alertmanager_->output();
  const nlohmann::json firing = firstAlert("KestrovaDriveFailed");
  EXPECT_EQ(firing["status"], "firing");
  EXPECT_EQ(firing["labels"]["severity"], "error");
  EXPECT_EQ(firing["labels"]["device"], device);
  EXPECT_EQ(firing["labels"]["subject"], "3");
  EXPECT_EQ(firing["annotations"]["notice"], "raised");
  ASSERT_TRUE(waitUntil([this] { return !statusesOf("KestrovaEvent").empty(); }, 30000ms));
  EXPECT_EQ(firstAlert("KestrovaEvent")["labels"]["event_id"], "0x0B42");

  raiseEvent(device, "Drive ID 8 was inserted in slot 3 (WWN 5000c500aaaaaaaa).", 0, 0, 0xB0C, 0);
  ASSERT_TRUE(waitUntil(
      [this] {
        const std::vector<std::string> statuses = statusesOf("KestrovaDriveFailed");
        return !statuses.empty() && statuses.back() == "resolved";
      },
      60000ms))
      << oncall_->output();
  const std::vector<std::string> statuses = statusesOf("KestrovaDriveFailed");
  EXPECT_EQ(statuses.front(), "firing");
  // The battery's alert stays firing: only the drive's condition ended.
  const std::vector<std::string> battery = statusesOf("KestrovaEvent");
  EXPECT_EQ(battery.back(), "firing");
}

}  // namespace
