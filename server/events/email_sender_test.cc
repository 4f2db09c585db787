// Tests of the e-mail sender against a real SMTP server (aiosmtpd): a burst of records reaches
// recipients 1 and 2 (3 missing, so 4 never) over one connection with the subjects, both date
// forms, the signature on two lines and a "." line intact; the next burst opens a new connection;
// an unreachable server drops its burst; a refused recipient does not block the next; and the
// test e-mail of the settings page travels through the server's own "email" channel.
#include "server/events/email_sender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "server/events/dispatcher.h"
#include "server/events/email_pages.h"
#include "server/events/email_test_support.h"
#include "server/server_state.h"

namespace {

using namespace std::chrono_literals;
using email_test::EmailFolderTest;
using email_test::pairsOf;
using email_test::SmtpSink;
using email_test::SunkMail;
using email_test::waitUntil;

constexpr uint32_t kMonday = 1199696703;  // Mon, 7 Jan 2008 09:05:03 UTC

// The sender and dispatcher the channel handler of a test works with.
EmailSender* gSender = nullptr;
NotificationDispatcher* gDispatcher = nullptr;
std::atomic<bool> gGateOpen{true};
std::mutex gResultsMutex;
std::vector<int> gResults;

bool testQueueEmpty() { return gDispatcher->queuedCount(0) == 0; }

// Holds the channel until the gate opens, so that a whole burst is queued before the first send.
int gatedEmailHandler(EventRecord* record) {
  while (!gGateOpen.load()) std::this_thread::sleep_for(1ms);
  const int result = handleEmailRecord(*gSender, record, testQueueEmpty);
  std::lock_guard<std::mutex> lock(gResultsMutex);
  gResults.push_back(result);
  return result;
}

size_t resultCount() {
  std::lock_guard<std::mutex> lock(gResultsMutex);
  return gResults.size();
}

class EmailSenderTest : public EmailFolderTest {
 protected:
  void SetUp() override {
    EmailFolderTest::SetUp();
    const std::string missing = SmtpSink::unavailableReason();
    if (!missing.empty()) GTEST_SKIP() << missing;
    addVariable(&serverSettings().server, "softwareName", "Kestrova Storage");
    setConfig({{"emailServer", " 127.0.0.1 "},
               {"emailSigEnable", "true"},
               {"emailSigText", "Storage team\\r\\nBuilding 4"},
               {"emailAddr1", "a@example.com"},
               {"emailSetIWE1", "111"},
               {"emailAddr2", "b@example.com"},
               {"emailSetIWE2", "001"},
               {"emailAddr4", "d@example.com"},
               {"emailSetIWE4", "111"}});
    emailTuning().replyTimeoutMs.store(10000);
    gResults.clear();
    gGateOpen.store(true);
  }
  void TearDown() override {
    emailTuning().smtpPort.store(25);
    emailTuning().replyTimeoutMs.store(60000);
    EmailFolderTest::TearDown();
  }

  static void setConfig(const std::vector<std::pair<const char*, const char*>>& pairs) {
    freeVariableTable(&serverSettings().email);
    for (const auto& [key, value] : pairs) addVariable(&serverSettings().email, key, value);
  }
  std::string sinkFolder() const { return (folder() / "sink").string(); }

  static std::vector<std::string> recipientsOf(const std::vector<SunkMail>& mails) {
    std::vector<std::string> to;
    for (const SunkMail& mail : mails) to.push_back(mail.to);
    return to;
  }
};

TEST_F(EmailSenderTest, BurstGoesOverOneConnectionToRecipientsBeforeTheGap) {
  SmtpSink sink(sinkFolder());
  ASSERT_NE(sink.port(), 0) << "the SMTP peer did not start";
  emailTuning().smtpPort.store(sink.port());
  EmailSender sender;
  gSender = &sender;
  NotificationDispatcher dispatcher({{"email", 6, 0, gatedEmailHandler, nullptr}});
  gDispatcher = &dispatcher;
  ASSERT_TRUE(dispatcher.start());

  gGateOpen.store(false);
  ASSERT_EQ(dispatcher.raise("Brivo0123", "Fan 2 failed", 2, kMonday, 0x301, 0), 0);
  ASSERT_EQ(dispatcher.raise("Brivo0123", "Cache battery low", 1, kMonday + 60, 0, 0), 0);
  ASSERT_EQ(dispatcher.raise("Brivo0123", "line one\n.\nline three", 0, kMonday, 0, 0), 0);
  gGateOpen.store(true);

  std::vector<SunkMail> mails = sink.waitForMail(4);
  ASSERT_EQ(mails.size(), 4u);
  EXPECT_EQ(recipientsOf(mails),
            (std::vector<std::string>{"a@example.com", "b@example.com", "a@example.com", "a@example.com"}))
      << "filter 001 takes only the error; recipient 4 lies behind the gap";
  for (const SunkMail& mail : mails) {
    EXPECT_EQ(mail.peerPort, mails[0].peerPort) << "one connection for the burst";
    EXPECT_EQ(mail.from.rfind("Kestrova_Storage@", 0), 0u) << mail.from;
  }
  EXPECT_EQ(sink.heloCount(), 1);
  const std::regex head(
      "From: <Kestrova_Storage@[^>]+>\r\n"
      "TO:a@example.com\r\n"
      "SUBJECT:Kestrova Storage: Error \\(Event ID: 0x301\\)\r\n"
      "Date: Mon, 7 Jan 2008 09:05:03 \\+0000\r\n"
      "Message-ID: <[0-9a-f]+\\.[0-9a-f]+\\.[0-9a-f]+@[^>]+>\r\n"
      "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n"
      "\r\n");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(mails[0].data, found, head, std::regex_constants::match_continuous))
      << mails[0].data;
  EXPECT_EQ(mails[0].data.substr(found.length()),
            "Date: 01/07/2008\r\nTime: 09:05:03\r\n"
            "Source: Brivo0123\r\n"
            "\r\n"
            "Message: (Event ID: 0x301) Fan 2 failed\r\n"
            "\r\n\r\n"
            "Storage team\r\nBuilding 4\r\n");
  EXPECT_NE(mails[1].data.find("TO:b@example.com\r\n"), std::string::npos);
  EXPECT_NE(mails[2].data.find("\r\nSUBJECT:Kestrova Storage: Warning\r\n"), std::string::npos);
  EXPECT_NE(mails[2].data.find("Date: 01/07/2008\r\nTime: 09:06:03\r\n"), std::string::npos);
  EXPECT_NE(mails[3].data.find("\r\nSUBJECT:Kestrova Storage: Information\r\n"), std::string::npos);
  EXPECT_NE(mails[3].data.find("Message: line one\r\n.\r\nline three\r\n\r\n\r\nStorage team\r\n"),
            std::string::npos)
      << "the \".\" line arrives as it was, and the mail goes on behind it: " << mails[3].data;

  ASSERT_TRUE(waitUntil([] { return resultCount() == 3; }, 10s));
  EXPECT_EQ(gResults, (std::vector<int>{0, 0, 0}));
  EXPECT_FALSE(sender.inBurst()) << "the empty queue ended the burst";

  ASSERT_EQ(dispatcher.raise("Server", "Next burst", 4, 0, 0, 0), 0);
  mails = sink.waitForMail(6);
  ASSERT_EQ(mails.size(), 6u);
  EXPECT_EQ(mails[4].to, "a@example.com");
  EXPECT_EQ(mails[5].to, "b@example.com") << "level 4 passes filter 001";
  EXPECT_NE(mails[4].peerPort, mails[0].peerPort) << "a new burst opens a new connection";
  EXPECT_EQ(sink.heloCount(), 2);
  dispatcher.stop();
}

TEST_F(EmailSenderTest, UnreachableServerDropsTheBurstAndTheNextBurstReadsNewSettings) {
  SmtpSink sink(sinkFolder());
  ASSERT_NE(sink.port(), 0);
  emailTuning().smtpPort.store(sink.port());
  setConfig({{"emailServer", ""}, {"emailAddr1", "a@example.com"}, {"emailSetIWE1", "111"}});
  EmailSender sender;
  gSender = &sender;
  NotificationDispatcher dispatcher({{"email", 6, 0, gatedEmailHandler, nullptr}});
  gDispatcher = &dispatcher;
  ASSERT_TRUE(dispatcher.start());

  gGateOpen.store(false);
  ASSERT_EQ(dispatcher.raise("d", "lost one", 2, 0, 0, 0), 0);
  ASSERT_EQ(dispatcher.raise("d", "lost two", 2, 0, 0, 0), 0);
  gGateOpen.store(true);
  ASSERT_TRUE(waitUntil([] { return resultCount() == 2; }, 10s));
  EXPECT_EQ(gResults, (std::vector<int>{1, 1}));

  setConfig({{"emailServer", "127.0.0.1"}, {"emailAddr1", "a@example.com"}, {"emailSetIWE1", "111"}});
  ASSERT_EQ(dispatcher.raise("d", "delivered", 2, 0, 0, 0), 0);
  const std::vector<SunkMail> mails = sink.waitForMail(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0].data.find("Message: delivered\r\n"), std::string::npos);
  EXPECT_EQ(mails[0].data.find("Storage team"), std::string::npos) << "signature not enabled";
  dispatcher.stop();
}

TEST_F(EmailSenderTest, RefusedRecipientDoesNotBlockTheNext) {
  SmtpSink sink(sinkFolder(), {"gone@example.com"});
  ASSERT_NE(sink.port(), 0);
  emailTuning().smtpPort.store(sink.port());
  setConfig({{"emailServer", "127.0.0.1"},
             {"emailAddr1", "gone@example.com"},
             {"emailSetIWE1", "111"},
             {"emailAddr2", "ops@example.com"},
             {"emailSetIWE2", "111"}});
  EmailSender sender;
  gSender = &sender;
  NotificationDispatcher dispatcher({{"email", 6, 0, gatedEmailHandler, nullptr}});
  gDispatcher = &dispatcher;
  ASSERT_TRUE(dispatcher.start());
  ASSERT_EQ(dispatcher.raise("d", "Disk 3 failed", 2, 0, 0, 0), 0);
  const std::vector<SunkMail> mails = sink.waitForMail(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, "ops@example.com");
  ASSERT_TRUE(waitUntil([] { return resultCount() == 1; }, 10s));
  EXPECT_EQ(gResults[0], 0) << "the result is that of the last transaction";
  dispatcher.stop();
}

// The test button: the values of the form (saved or not), the real answer of the server for each
// recipient, a failure written to the event log, and a mail that Python's email package reads.
TEST_F(EmailSenderTest, TestEmailUsesTheFormAndReportsTheServersAnswers) {
  SmtpSink sink(sinkFolder(), {"refused@example.com"});
  ASSERT_NE(sink.port(), 0);
  ASSERT_TRUE(startNotificationChannels());
  const std::string port = std::to_string(sink.port());
  auto form = [&](const char* server, const char* portText) {
    TableOwner request;
    addVariable(request.address(), "version", "3");
    addVariable(request.address(), "emailServer", server);
    addVariable(request.address(), "emailPort", portText);
    addVariable(request.address(), "emailSigEnable", "false");
    addVariable(request.address(), "emailSigText", "");
    addVariable(request.address(), "emailAddr1", "a@example.com");
    addVariable(request.address(), "emailSetIWE1", "111");
    addVariable(request.address(), "emailAddr2", "refused@example.com");
    addVariable(request.address(), "emailSetIWE2", "001");
    return request;
  };
  TableOwner reply(TestEmailConfig(form("127.0.0.1", port.c_str()).get()));
  auto values = pairsOf(reply.get());
  EXPECT_EQ(values["MessageIsSuccess"], "false") << "one recipient was refused";
  EXPECT_NE(values["MessageDetails"].find("a@example.com: sent and accepted"), std::string::npos)
      << values["MessageDetails"];
  EXPECT_NE(values["MessageDetails"].find("refused@example.com: refused with the answer: 550 5.1.1 mailbox unavailable"),
            std::string::npos)
      << values["MessageDetails"];
  EXPECT_EQ(values["EmailLoop1emailAddr"], "refused@example.com") << "the form's values come back";
  EXPECT_EQ(values["emailPort"], port);
  EXPECT_EQ(values["version"], "3");
  EXPECT_EQ(getVariable(serverSettings().email, "emailPort"), nullptr) << "a test saves nothing";

  const std::vector<SunkMail> mails = sink.waitForMail(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, "a@example.com");
  EXPECT_NE(mails[0].data.find("\r\nSUBJECT:Kestrova Storage: Test Notification\r\n"), std::string::npos);
  EXPECT_NE(mails[0].data.find("Source: Kestrova Server\r\n"), std::string::npos);
  const std::string check = "/usr/bin/python3 " + email_test::sourceDir() + "/tests/mail_check.py " + sinkFolder() +
                            "/1.data >" + sinkFolder() + "/check.txt 2>&1";
  EXPECT_EQ(std::system(check.c_str()), 0) << email_test::readFile(sinkFolder() + "/check.txt");

  TableOwner noServer(TestEmailConfig(form("", port.c_str()).get()));
  EXPECT_EQ(pairsOf(noServer.get())["MessageIsSuccess"], "false");
  EXPECT_EQ(pairsOf(noServer.get())["MessageDetails"], "no receiver configured");

  const std::string closedPort = std::to_string(email_test::unusedTcpPort());
  TableOwner unreachable(TestEmailConfig(form("127.0.0.1", closedPort.c_str()).get()));
  EXPECT_EQ(pairsOf(unreachable.get())["MessageDetails"].find("127.0.0.1:" + closedPort + ": connection failed"), 0u)
      << pairsOf(unreachable.get())["MessageDetails"];

  std::filesystem::remove("db/strings.db");
  TableOwner noText(TestEmailConfig(form("127.0.0.1", port.c_str()).get()));
  EXPECT_EQ(pairsOf(noText.get())["MessageIsSuccess"], "false");
  EXPECT_EQ(sink.waitForMail(2, 300ms).size(), 1u) << "without its texts no test mail is sent";
  serverControl().serverRunning.store(0);
  stopNotificationChannels();
  const std::string log = email_test::readFile("db/ServerLog.log");
  EXPECT_NE(log.find("The email test failed: refused@example.com: refused"), std::string::npos) << log;
}

}  // namespace
