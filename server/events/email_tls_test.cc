// Tests of the e-mail notifier's secure connections against aiosmtpd as the mail server: STARTTLS
// with AUTH required, a server that offers no STARTTLS (nothing may go in clear), implicit TLS, a
// wrong password, and a certificate that the system's store does not trust. Both the test button
// and the event sender are used.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "server/events/dispatcher.h"
#include "server/events/email_config.h"
#include "server/events/email_pages.h"
#include "server/events/email_sender.h"
#include "server/events/email_test_support.h"
#include "server/server_state.h"

namespace {

using email_test::EmailFolderTest;
using email_test::pairsOf;
using email_test::SmtpSink;
using email_test::SunkMail;

class EmailTlsTest : public EmailFolderTest {
 protected:
  void SetUp() override {
    EmailFolderTest::SetUp();
    const std::string missing = SmtpSink::unavailableReason();
    if (!missing.empty()) GTEST_SKIP() << missing;
    // A certificate authority of the test's own and a server certificate for 127.0.0.1.
    const std::string dir = folder().string();
    const std::string script =
        "cd " + dir + " && printf 'subjectAltName=IP:127.0.0.1\\n' >ext.cnf && "
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem "
        "-days 2 -subj '/CN=Kestrova test CA' && "
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr "
        "-subj '/CN=127.0.0.1' && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
        "-extfile ext.cnf";
    ASSERT_EQ(std::system((script + " >openssl.log 2>&1").c_str()), 0) << email_test::readFile(dir + "/openssl.log");
    addVariable(&serverSettings().server, "softwareName", "Kestrova");
    emailTuning().replyTimeoutMs.store(10000);
  }
  void TearDown() override {
    emailTuning().replyTimeoutMs.store(60000);
    EmailFolderTest::TearDown();
  }

  std::vector<std::string> tlsOptions(const char* mode) const {
    std::vector<std::string> options = {"--cert", (folder() / "server.pem").string(), "--key",
                                        (folder() / "server.key").string()};
    if (mode != nullptr) options.push_back(mode);
    return options;
  }

  // The settings page's form for a test or a save.
  TableOwner form(int port, const char* security, const char* password, bool withCa = true) const {
    TableOwner request;
    addVariable(request.address(), "version", "0");
    addVariable(request.address(), "emailServer", "127.0.0.1");
    addVariable(request.address(), "emailPort", std::to_string(port).c_str());
    addVariable(request.address(), "emailSecurity", security);
    if (password[0] != '\0') {
      addVariable(request.address(), "emailUser", "alerts");
      addVariable(request.address(), "emailPassword", password);
    }
    if (withCa) addVariable(request.address(), "emailCaFile", (folder() / "ca.pem").c_str());
    addVariable(request.address(), "emailSigEnable", "false");
    addVariable(request.address(), "emailSigText", "");
    addVariable(request.address(), "emailAddr1", "ops@example.com");
    addVariable(request.address(), "emailSetIWE1", "111");
    return request;
  }

  static std::string details(VariableTable reply) { return pairsOf(reply)["MessageDetails"]; }
};

TEST_F(EmailTlsTest, StartTlsWithAuthCarriesTheTestAndEventMails) {
  std::vector<std::string> options = tlsOptions("--starttls");
  options.insert(options.end(), {"--auth", "alerts:right horse"});
  SmtpSink sink((folder() / "sink").string(), {}, options);
  ASSERT_NE(sink.port(), 0);

  TableOwner tested(TestEmailConfig(form(sink.port(), "starttls", "right horse").get()));
  EXPECT_EQ(pairsOf(tested.get())["MessageIsSuccess"], "true") << details(tested.get());
  EXPECT_NE(details(tested.get()).find("ops@example.com: sent and accepted (250"), std::string::npos);
  ASSERT_EQ(sink.waitForMail(1).size(), 1u);

  // Saved, the same settings carry an event mail; the password comes from its own file.
  TableOwner saved(SetEmailConfig(form(sink.port(), "starttls", "right horse").get()));
  ASSERT_EQ(pairsOf(saved.get())["MessageIsSuccess"], "true") << details(saved.get());
  serverSettings().emailInUse.store(0);
  EmailSender sender;
  EventRecord record{const_cast<char*>("Drive 3 failed"), const_cast<char*>("Brivo0123"), 2, 0, 0, 0, 0};
  EXPECT_EQ(sender.send(copyEventRecord(&record)), 0);
  sender.endBurst();
  const std::vector<SunkMail> mails = sink.waitForMail(2);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_NE(mails[1].data.find("Message: Drive 3 failed"), std::string::npos) << mails[1].data;

  TableOwner wrong(TestEmailConfig(form(sink.port(), "starttls", "wrong horse").get()));
  EXPECT_EQ(pairsOf(wrong.get())["MessageIsSuccess"], "false");
  EXPECT_NE(details(wrong.get()).find("authentication refused"), std::string::npos) << details(wrong.get());

  TableOwner untrusted(TestEmailConfig(form(sink.port(), "starttls", "right horse", false).get()));
  EXPECT_NE(details(untrusted.get()).find("certificate rejected"), std::string::npos) << details(untrusted.get());
  EXPECT_EQ(sink.waitForMail(3, std::chrono::milliseconds(300)).size(), 2u);
}

TEST_F(EmailTlsTest, PlainOnlyServerGetsNothingInClearWhenStartTlsIsRequired) {
  SmtpSink sink((folder() / "sink").string());
  ASSERT_NE(sink.port(), 0);
  TableOwner tested(TestEmailConfig(form(sink.port(), "starttls", "right horse").get()));
  EXPECT_EQ(pairsOf(tested.get())["MessageIsSuccess"], "false");
  EXPECT_NE(details(tested.get()).find("no TLS offered"), std::string::npos) << details(tested.get());

  TableOwner saved(SetEmailConfig(form(sink.port(), "starttls", "right horse").get()));
  ASSERT_EQ(pairsOf(saved.get())["MessageIsSuccess"], "true");
  EmailSender sender;
  EventRecord record{const_cast<char*>("Fan failed"), const_cast<char*>("Brivo0123"), 2, 0, 0, 0, 0};
  EXPECT_EQ(sender.send(copyEventRecord(&record)), 1) << "the burst is dropped, not sent in clear";
  sender.endBurst();
  EXPECT_TRUE(sink.waitForMail(1, std::chrono::milliseconds(500)).empty());
  EXPECT_EQ(sink.heloCount(), 0);
}

TEST_F(EmailTlsTest, ImplicitTlsWorks) {
  SmtpSink sink((folder() / "sink").string(), {}, tlsOptions("--implicit-tls"));
  ASSERT_NE(sink.port(), 0);
  TableOwner tested(TestEmailConfig(form(sink.port(), "tls", "").get()));
  EXPECT_EQ(pairsOf(tested.get())["MessageIsSuccess"], "true") << details(tested.get());
  ASSERT_EQ(sink.waitForMail(1).size(), 1u);

  emailTuning().replyTimeoutMs.store(1500);
  TableOwner plain(TestEmailConfig(form(sink.port(), "none", "").get()));
  EXPECT_EQ(pairsOf(plain.get())["MessageIsSuccess"], "false") << "a plain client gets no greeting from a TLS port";
}

}  // namespace
