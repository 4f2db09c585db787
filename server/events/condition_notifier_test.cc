// De-duplication end to end, through the server's own channels to real receivers: 100 identical
// drive-failure events in a minute give each notifier one notification, one reminder after its
// (shortened) interval and one resolution, while the event log keeps every record. The receivers
// are an SMTP server (aiosmtpd), a UDP socket for the SNMP traps, another for RFC 5424 syslog, and
// an HTTP peer for the generic webhook.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/thread_manager.h"
#include "server/events/condition_tracker.h"
#include "server/events/dispatcher.h"
#include "server/events/email_pages.h"
#include "server/events/email_test_support.h"
#include "server/events/notifier_reminders.h"
#include "server/events/notifier_stats.h"
#include "server/events/snmp_settings.h"
#include "server/events/syslog_settings.h"
#include "server/events/webhook_sender.h"
#include "server/events/webhook_settings.h"
#include "server/events/webhook_test_support.h"

namespace {

using namespace webhook_test;

constexpr char kReminder[] = "5s";

// Every datagram that arrives within the receiver's time-out of the last one.
std::vector<std::string> drain(UdpReceiver& receiver, std::vector<std::string>* kept) {
  for (std::string datagram; receiver.receive(&datagram);) kept->push_back(datagram);
  return *kept;
}

class ConditionNotifierTest : public NotifierFolderTest {
 protected:
  void SetUp() override {
    NotifierFolderTest::SetUp();
    const std::string smtpMissing = email_test::SmtpSink::unavailableReason();
    if (!smtpMissing.empty()) GTEST_SKIP() << smtpMissing;
    resetNotifierCounts();
    resetWebhookSender();
    conditionTracker().reset();
    writeFile("db/conditions.db", "DriveFailed = raise 0xB27 clear 0xB0C 0xB2B subject slot\n");
  }
  void TearDown() override {
    serverControl().serverRunning.store(0);
    stopNotificationChannels();
    resetWebhookSender();
    conditionTracker().reset();
    freeVariableTable(&serverSettings().email);
    NotifierFolderTest::TearDown();
  }
};

TEST_F(ConditionNotifierTest, HundredRepeatsGiveOneNoticeOneReminderAndOneResolutionPerChannel) {
  email_test::SmtpSink smtp(path("smtp"));
  ASSERT_NE(smtp.port(), 0);
  UdpReceiver traps(1000);
  UdpReceiver syslog(1000);
  WebhookSink webhook(path(""), 0);
  ASSERT_TRUE(traps.ok() && syslog.ok() && webhook.ready());

  ServerSettings& settings = serverSettings();
  addVariable(&settings.server, "UseOsEventLog", "true");
  addVariable(&settings.server, "softwareName", "Kestrova");
  for (const auto& [key, value] :
       std::vector<std::pair<const char*, std::string>>{{"emailServer", "127.0.0.1"},
                                                        {"emailPort", std::to_string(smtp.port())},
                                                        {"emailAddr1", "ops@example.com"},
                                                        {"emailSetIWE1", "111"},
                                                        {"emailReminderInterval", kReminder}}) {
    addVariable(&settings.email, key, value.c_str());
  }
  for (const auto& [key, value] :
       std::vector<std::pair<const char*, std::string>>{{"SnmpServer0", "127.0.0.1"},
                                                        {"SnmpCommunity0", "public"},
                                                        {"SnmpIWE0", "111"},
                                                        {"SnmpPort0", traps.portText()},
                                                        {"SnmpReminderInterval", kReminder}}) {
    addVariable(&settings.snmp, key, value.c_str());
  }
  for (const auto& [key, value] :
       std::vector<std::pair<const char*, std::string>>{{"SyslogServer0", "127.0.0.1"},
                                                        {"SyslogIWE0", "111"},
                                                        {"SyslogPort0", syslog.portText()},
                                                        {"SyslogFormat0", "rfc5424"},
                                                        {"SyslogReminderInterval", kReminder}}) {
    addVariable(&settings.syslog, key, value.c_str());
  }
  TableOwner form = webhookForm("0", {{webhook.url()}});
  addVariable(form.address(), "WebhookReminderInterval", kReminder);
  ASSERT_EQ(pairsOf(TableOwner(SetWebhookConfig(form.get())).get())["MessageIsSuccess"], "true");

  ASSERT_TRUE(initThreadManager());
  serverControl().serverRunning.store(1);
  ASSERT_TRUE(startNotificationChannels());
  // 100 repeats within a minute (20 ms apart, so that the system log's fixed queue keeps up).
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(raiseEvent("Brivo20000004CF8A1B2C Ctl A", "Drive ID 3 in slot 3 (WWN 5000c50012345678) failed.",
                         2, 0, 0xB27, 0),
              0);
    std::this_thread::sleep_for(20ms);
  }
  // The first notice, then (after the interval) the reminder on every channel.
  std::vector<std::string> trapsGot, syslogGot;
  ASSERT_TRUE(waitUntil(
      [&] {
        return smtp.waitForMail(2, 100ms).size() >= 2 && drain(traps, &trapsGot).size() >= 2 &&
               drain(syslog, &syslogGot).size() >= 2 && webhook.posts().size() >= 2;
      },
      60000ms))
      << smtp.waitForMail(2, 1ms).size() << " mails, " << trapsGot.size() << " traps, " << syslogGot.size()
      << " syslog messages, " << webhook.posts().size() << " posts";
  ASSERT_EQ(raiseEvent("Brivo20000004CF8A1B2C Ctl A",
                       "Drive ID 8 was inserted in slot 3 (WWN 5000c500aaaaaaaa).", 0, 0, 0xB0C, 0),
            0);
  ASSERT_TRUE(waitUntil(
      [&] {
        return smtp.waitForMail(3, 100ms).size() >= 3 && drain(traps, &trapsGot).size() >= 3 &&
               drain(syslog, &syslogGot).size() >= 3 && webhook.posts().size() >= 3;
      },
      30000ms));
  std::this_thread::sleep_for(1500ms);  // anything more would be here by now
  drain(traps, &trapsGot);
  drain(syslog, &syslogGot);

  const std::vector<email_test::SunkMail> mails = smtp.waitForMail(3, 1ms);
  ASSERT_EQ(mails.size(), 3u);
  EXPECT_NE(mails[0].data.find("Message: (Event ID: 0xB27) Drive ID 3 in slot 3"), std::string::npos)
      << mails[0].data;
  EXPECT_NE(mails[1].data.find("Message: Reminder: unresolved since "), std::string::npos) << mails[1].data;
  EXPECT_NE(mails[2].data.find("Message: (Event ID: 0xB0C) Drive ID 8 was inserted in slot 3"),
            std::string::npos);

  ASSERT_EQ(trapsGot.size(), 3u);
  EXPECT_NE(trapsGot[1].find("Reminder: unresolved since"), std::string::npos);
  EXPECT_NE(trapsGot[2].find("was inserted in slot 3"), std::string::npos);

  ASSERT_EQ(syslogGot.size(), 3u);
  const char* notices[] = {"raised", "reminder", "resolved"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NE(syslogGot[i].find(std::string("notice=\"") + notices[i] +
                                "\" condition=\"DriveFailed\" subject=\"3\""),
              std::string::npos)
        << syslogGot[i];
  }

  const std::vector<Posted> posts = webhook.posts();
  ASSERT_EQ(posts.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(posts[i].body["notice"], notices[i]);
    EXPECT_EQ(posts[i].body["condition"]["name"], "DriveFailed");
    EXPECT_EQ(posts[i].body["condition"]["subject"], "3");
    EXPECT_EQ(posts[i].body["condition"]["level"], 2);
  }

  for (const char* channel : {"email", "snmp", "syslog", "webhook"}) {
    EXPECT_EQ(notifierCounts(channel).suppressed, 99u) << channel;
  }
  // The event log keeps all 101 records.
  serverControl().serverRunning.store(0);
  stopNotificationChannels();
  const std::string log = readFile("db/ServerLog.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 102) << "a header and 101 records";
  EXPECT_EQ(conditionTracker().activeCount(), 0u);
}

// Each notifier's page stores its reminder interval, which the channel then uses; an interval that
// is not one is refused and the stored settings stay.
TEST_F(ConditionNotifierTest, EveryNotifierPageKeepsItsReminderInterval) {
  struct Page {
    const char* channel;
    VariableTable (*set)(VariableTable);
    const char* key;
    std::vector<std::pair<const char*, const char*>> fields;
  };
  const std::vector<Page> pages = {
      {"email",
       SetEmailConfig,
       "emailReminderInterval",
       {{"emailServer", "mail.example.com"}, {"emailSigEnable", "false"}, {"emailSigText", ""}}},
      {"snmp", SetSnmpConfig, "SnmpReminderInterval", {{"SnmpServer0", "10.0.0.1"}}},
      {"syslog", SetSyslogConfig, "SyslogReminderInterval", {{"SyslogServer0", "10.0.0.1"}}},
      {"webhook",
       SetWebhookConfig,
       "WebhookReminderInterval",
       {{"WebhookUrl0", "https://hooks.example.com/"}}},
  };
  for (const Page& page : pages) {
    SCOPED_TRACE(page.channel);
    EXPECT_EQ(reminderIntervalOf(page.channel), 86400) << "daily unless told otherwise";
    for (const auto& [interval, saved] :
         std::vector<std::pair<const char*, bool>>{{"12h", true}, {"fortnightly", false}}) {
      TableOwner request;
      addVariable(request.address(), "version", saved ? "" : "1");
      for (const auto& [key, value] : page.fields) addVariable(request.address(), key, value);
      addVariable(request.address(), page.key, interval);
      auto reply = pairsOf(TableOwner(page.set(request.get())).get());
      EXPECT_EQ(reply["MessageIsSuccess"], saved ? "true" : "false") << reply["MessageDetails"];
      EXPECT_EQ(reply[page.key], "12h");
    }
    EXPECT_EQ(reminderIntervalOf(page.channel), 12 * 3600);
    TableOwner off;
    addVariable(off.address(), "version", "1");
    for (const auto& [key, value] : page.fields) addVariable(off.address(), key, value);
    addVariable(off.address(), page.key, "off");
    auto reply = pairsOf(TableOwner(page.set(off.get())).get());
    EXPECT_EQ(reply["MessageIsSuccess"], "true") << reply["MessageDetails"];
    EXPECT_EQ(reminderIntervalOf(page.channel), 0) << "off means no reminders";
  }
}

}  // namespace
