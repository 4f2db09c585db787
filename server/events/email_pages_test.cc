// Tests of the e-mail settings pages: the page's rows and defaults, the version check, recipients
// renumbered without gaps, the escaped signature, refused values that would break the file or the
// SMTP commands, missing fields, a failed write, the in-use time-out, and the test e-mail request.
#include "server/events/email_pages.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "common/property_file.h"
#include "server/events/dispatcher.h"
#include "server/events/email_config.h"
#include "server/events/email_test_support.h"
#include "server/events/notifier_settings.h"
#include "server/server_state.h"

namespace {

using email_test::EmailFolderTest;
using email_test::pairsOf;
using email_test::readFile;

constexpr char kOld[] =
    "The settings were changed by another user after this page was loaded. Review the current settings below "
    "and apply your changes again.";
constexpr char kMissingParams[] = "The request is missing required fields. Reload the page and try again.";

class EmailPagesTest : public EmailFolderTest {
 protected:
  void SetUp() override {
    EmailFolderTest::SetUp();
    addVariable(&serverSettings().email, "version", "8");
    addVariable(&serverSettings().email, "emailServer", "mail.example.com");
    addVariable(&serverSettings().email, "emailAddr1", "ops@example.com");
    addVariable(&serverSettings().email, "emailSetIWE1", "111");
  }
  void TearDown() override {
    setNotifierWaitTimings(NotifierWaitTimings{});
    EmailFolderTest::TearDown();
  }

  // A complete save request quoting version.
  static TableOwner request(const char* version) {
    TableOwner table;
    if (version != nullptr) addVariable(table.address(), "version", version);
    addVariable(table.address(), "emailServer", " smtp.example.com ");
    addVariable(table.address(), "emailSigEnable", "true");
    addVariable(table.address(), "emailSigText", "Storage team\r\nBuilding \"4\"");
    return table;
  }
  static std::string savedFile() { return readFile(kEmailIniPath); }
};

TEST_F(EmailPagesTest, PageListsTenRowsAndDefaults) {
  addVariable(&serverSettings().email, "emailAddr3", "gap@example.com");
  TableOwner page(GetEmailConfig(nullptr));
  auto values = pairsOf(page.get());
  EXPECT_EQ(values["EmailLoop"], "10");
  EXPECT_EQ(values["TotalEmails"], "10");
  EXPECT_EQ(values["EmailLoop0emailAddr"], "ops@example.com");
  EXPECT_EQ(values["EmailLoop0emailSetIWE"], "111");
  EXPECT_EQ(values["EmailLoop1emailAddr"], "");
  EXPECT_EQ(values["EmailLoop2emailAddr"], "gap@example.com") << "the page shows rows, gaps and all";
  EXPECT_EQ(values.count("EmailLoop9emailSetIWE"), 1u);
  EXPECT_EQ(values.count("EmailLoop10emailAddr"), 0u);
  EXPECT_EQ(values["version"], "8");
  EXPECT_EQ(values["emailSigEnable"], "false");
  EXPECT_EQ(values["emailSigText"], "");
  EXPECT_EQ(values["HTMLPath"], "../Server/other/setting_mail.htm");
  EXPECT_EQ(serverSettings().emailInUse.load(), 0) << "the page frees the configuration";

  freeVariableTable(&serverSettings().email);
  TableOwner empty(GetEmailConfig(nullptr));
  EXPECT_EQ(pairsOf(empty.get())["version"], "0") << "a file without version must stay savable";
}

TEST_F(EmailPagesTest, SaveNeedsTheCurrentVersion) {
  TableOwner stale = request("7");
  TableOwner refused(SetEmailConfig(stale.get()));
  EXPECT_EQ(pairsOf(refused.get())["MessageDetails"], kOld);
  EXPECT_EQ(pairsOf(refused.get())["MessageIsSuccess"], "false");
  EXPECT_FALSE(std::filesystem::exists(kEmailIniPath));
  EXPECT_STREQ(getVariable(serverSettings().email, "emailServer"), "mail.example.com");

  TableOwner current = request("8");
  TableOwner saved(SetEmailConfig(current.get()));
  auto values = pairsOf(saved.get());
  EXPECT_EQ(values["MessageIsSuccess"], "true");
  EXPECT_EQ(values["MessageSummary"], "Saving the e-mail settings completed successfully.");
  EXPECT_EQ(values["version"], "9") << "the page appended behind the result shows the new settings";
  EXPECT_EQ(values["HTMLPath"], "../Server/other/setting_mail.htm");
  TableOwner file(readPropertyFile(kEmailIniPath));
  EXPECT_STREQ(getVariable(file.get(), "version"), "9");
  EXPECT_STREQ(getVariable(file.get(), "emailServer"), "smtp.example.com");
  EXPECT_EQ(savedFile().find("'\\\\\\\\\\This is the email configuration file.\n"), 2u);
  EXPECT_TRUE(compareVariableTables(file.get(), serverSettings().email))
      << "memory holds what the file holds";

  TableOwner again = request("8");
  TableOwner second(SetEmailConfig(again.get()));
  EXPECT_EQ(pairsOf(second.get())["MessageDetails"], kOld) << "the same page can't be saved twice";
}

TEST_F(EmailPagesTest, RecipientsAreRenumberedWithoutGaps) {
  TableOwner posted = request("8");
  addVariable(posted.address(), "emailAddr1", "first@example.com");
  addVariable(posted.address(), "emailSetIWE1", "001");
  addVariable(posted.address(), "emailAddr2", "   ");
  addVariable(posted.address(), "emailSetIWE2", "111");
  addVariable(posted.address(), "emailAddr3", "third@example.com");  // no filter: "000"
  addVariable(posted.address(), "emailAddr5", "after-the-gap@example.com");
  addVariable(posted.address(), "emailSetIWE5", "111");
  TableOwner reply(SetEmailConfig(posted.get()));
  ASSERT_EQ(pairsOf(reply.get())["MessageIsSuccess"], "true");
  TableOwner file(readPropertyFile(kEmailIniPath));
  auto values = pairsOf(file.get());
  EXPECT_EQ(values["emailAddr1"], "first@example.com");
  EXPECT_EQ(values["emailSetIWE1"], "001");
  EXPECT_EQ(values["emailAddr2"], "third@example.com");
  EXPECT_EQ(values["emailSetIWE2"], "000");
  EXPECT_EQ(values.count("emailAddr3"), 0u) << "the scan stops at the first absent address";
  EXPECT_EQ(values.count("emailSetIWE3"), 0u);
}

TEST_F(EmailPagesTest, SignatureIsStoredOnOneLineAndSentOnTwo) {
  TableOwner posted = request("8");
  TableOwner reply(SetEmailConfig(posted.get()));
  ASSERT_EQ(pairsOf(reply.get())["MessageIsSuccess"], "true");
  EXPECT_NE(savedFile().find("emailSigText = Storage team\\r\\nBuilding \\\"4\\\"\n"), std::string::npos)
      << savedFile();
  EXPECT_EQ(pairsOf(reply.get())["emailSigText"], "Storage team\\r\\nBuilding \\\"4\\\"");
  TableOwner file(readPropertyFile(kEmailIniPath));
  EXPECT_EQ(readEmailConfig(file.get()).signature, "Storage team\r\nBuilding \"4\"");
}

TEST_F(EmailPagesTest, MissingFieldsAreRefused) {
  TableOwner noVersion = request(nullptr);
  TableOwner a(SetEmailConfig(noVersion.get()));
  EXPECT_EQ(pairsOf(a.get())["MessageDetails"], kMissingParams);

  TableOwner noServer = request("8");
  removeVariable(noServer.address(), "emailServer");
  TableOwner b(SetEmailConfig(noServer.get()));
  EXPECT_EQ(pairsOf(b.get())["MessageDetails"], kMissingParams);
  EXPECT_STREQ(getVariable(b.get(), "HTMLPath"), " missing field ");

  TableOwner noSignature = request("8");
  removeVariable(noSignature.address(), "emailSigText");
  TableOwner c(SetEmailConfig(noSignature.get()));
  EXPECT_EQ(pairsOf(c.get())["MessageDetails"], kMissingParams);
  EXPECT_STREQ(getVariable(c.get(), "HTMLPath"), "../Server/other/setting_mail.htm");

  TableOwner badVersion = request("eight");
  TableOwner d(SetEmailConfig(badVersion.get()));
  EXPECT_EQ(pairsOf(d.get())["MessageDetails"], kMissingParams);
  EXPECT_FALSE(std::filesystem::exists(kEmailIniPath));
}

TEST_F(EmailPagesTest, ValuesThatWouldBreakTheFileOrTheMailAreRefused) {
  TableOwner injected = request("8");
  addVariable(injected.address(), "emailAddr1", "ops@example.com>\r\nRCPT TO:<spy@example.com");
  TableOwner a(SetEmailConfig(injected.get()));
  EXPECT_EQ(pairsOf(a.get())["MessageIsSuccess"], "false");
  EXPECT_NE(pairsOf(a.get())["MessageDetails"].find("angle brackets"), std::string::npos);

  TableOwner badServer = request("8");
  replaceVariable(badServer.address(), "emailServer", "mail.example.com\r\nQUIT");
  TableOwner b(SetEmailConfig(badServer.get()));
  EXPECT_EQ(pairsOf(b.get())["MessageIsSuccess"], "false");

  TableOwner longSignature = request("8");
  replaceVariable(longSignature.address(), "emailSigText", std::string(300, '\n').c_str());
  TableOwner c(SetEmailConfig(longSignature.get()));
  EXPECT_NE(pairsOf(c.get())["MessageDetails"].find("too long"), std::string::npos)
      << "300 line breaks escape to 1200 characters, beyond what the file reader takes";
  EXPECT_FALSE(std::filesystem::exists(kEmailIniPath));
  EXPECT_STREQ(getVariable(serverSettings().email, "version"), "8");

  TableOwner empty = request("8");
  replaceVariable(empty.address(), "emailServer", "  ");
  TableOwner d(SetEmailConfig(empty.get()));
  EXPECT_EQ(pairsOf(d.get())["MessageIsSuccess"], "true") << "an empty server switches mail off";
}

TEST_F(EmailPagesTest, FailedWriteKeepsTheOldSettings) {
  std::filesystem::create_directory(kEmailIniPath);  // a folder where the file should go
  TableOwner posted = request("8");
  TableOwner reply(SetEmailConfig(posted.get()));
  auto values = pairsOf(reply.get());
  EXPECT_EQ(values["MessageIsSuccess"], "false");
  EXPECT_EQ(values["MessageDetails"],
            "The settings could not be saved. The previous settings remain in effect.");
  EXPECT_STREQ(getVariable(serverSettings().email, "version"), "8");
  EXPECT_EQ(serverSettings().emailInUse.load(), 0);
}

TEST_F(EmailPagesTest, BusyConfigurationTimesOut) {
  setNotifierWaitTimings({100, 5});
  serverSettings().emailInUse.store(kEmailInUseSender);
  TableOwner page(GetEmailConfig(nullptr));
  EXPECT_EQ(pairsOf(page.get())["Message"],
            "Timed out while waiting for email configuration file for script.");
  EXPECT_EQ(pairsOf(page.get())["HTMLPath"], "../Common/CommonErrorPanel.htm");

  TableOwner posted = request("8");
  TableOwner saved(SetEmailConfig(posted.get()));
  EXPECT_EQ(pairsOf(saved.get())["MessageDetails"],
            "The settings are in use by another task. Try again in a few minutes.");
  EXPECT_FALSE(std::filesystem::exists(kEmailIniPath));
  EXPECT_EQ(serverSettings().emailInUse.load(), kEmailInUseSender) << "a waiter never takes a busy word";

  serverSettings().emailInUse.store(0);
  TableOwner later(SetEmailConfig(posted.get()));
  EXPECT_EQ(pairsOf(later.get())["MessageIsSuccess"], "true");
}

TEST_F(EmailPagesTest, TestWithoutReceiverOrWithBadValuesKeepsTheForm) {
  TableOwner nothing(TestEmailConfig(nullptr));
  EXPECT_EQ(pairsOf(nothing.get())["MessageIsSuccess"], "false");
  EXPECT_EQ(pairsOf(nothing.get())["MessageDetails"], kMissingParams);

  TableOwner noRecipient = request("8");
  TableOwner reply(TestEmailConfig(noRecipient.get()));
  auto values = pairsOf(reply.get());
  EXPECT_EQ(values["MessageIsSuccess"], "false");
  EXPECT_EQ(values["MessageDetails"], "smtp.example.com:25: no receiver configured");
  EXPECT_EQ(values["emailServer"], "smtp.example.com") << "the form's server, not the saved one";
  EXPECT_EQ(values["EmailLoop0emailAddr"], "");
  EXPECT_EQ(values["HTMLPath"], "../Server/other/setting_mail.htm");

  TableOwner badSecurity = request("8");
  addVariable(badSecurity.address(), "emailSecurity", "ssl3");
  addVariable(badSecurity.address(), "emailAddr1", "ops@example.com");
  TableOwner refused(TestEmailConfig(badSecurity.get()));
  EXPECT_EQ(pairsOf(refused.get())["MessageIsSuccess"], "false");
  EXPECT_EQ(pairsOf(refused.get())["MessageDetails"].rfind("The mail server must be", 0), 0u);
}

TEST_F(EmailPagesTest, SecuritySettingsAreStoredAndThePasswordNeverShown) {
  TableOwner posted = request("8");
  addVariable(posted.address(), "emailSecurity", "starttls");
  addVariable(posted.address(), "emailUser", "alerts");
  addVariable(posted.address(), "emailPassword", "s3cret pass");
  addVariable(posted.address(), "emailCaFile", "/etc/kestrova/ca.pem");
  TableOwner saved(SetEmailConfig(posted.get()));
  auto values = pairsOf(saved.get());
  ASSERT_EQ(values["MessageIsSuccess"], "true") << values["MessageDetails"];
  EXPECT_EQ(values["emailSecurity"], "starttls");
  EXPECT_EQ(values["emailUser"], "alerts");
  EXPECT_EQ(values["emailPasswordSet"], "true");
  for (const auto& [key, value] : values) EXPECT_EQ(value.find("s3cret"), std::string::npos) << key;
  EXPECT_EQ(savedFile().find("s3cret"), std::string::npos) << "the password is not in email.ini";
  struct stat info {};
  ASSERT_EQ(stat(kEmailSecretPath, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(readEmailPassword(), "s3cret pass");
  const EmailConfig config = readEmailConfig(serverSettings().email, readEmailPassword());
  EXPECT_EQ(config.port, 587) << "STARTTLS goes to the submission port unless told otherwise";
  EXPECT_EQ(config.smtp.security, SmtpSecurity::kStartTls);
  EXPECT_EQ(config.smtp.tls.caFile, "/etc/kestrova/ca.pem");

  // An empty password field keeps the stored one; the clear box removes it; bad ones are refused.
  TableOwner keep = request("9");
  addVariable(keep.address(), "emailUser", "alerts");
  addVariable(keep.address(), "emailPassword", "");
  ASSERT_EQ(pairsOf(TableOwner(SetEmailConfig(keep.get())).get())["MessageIsSuccess"], "true");
  EXPECT_EQ(readEmailPassword(), "s3cret pass");
  TableOwner bad = request("10");
  addVariable(bad.address(), "emailPassword", "line\r\nbreak");
  EXPECT_EQ(pairsOf(TableOwner(SetEmailConfig(bad.get())).get())["MessageIsSuccess"], "false");
  EXPECT_EQ(readEmailPassword(), "s3cret pass");
  TableOwner clear = request("10");
  addVariable(clear.address(), "emailPasswordClear", "true");
  ASSERT_EQ(pairsOf(TableOwner(SetEmailConfig(clear.get())).get())["MessageIsSuccess"], "true");
  EXPECT_EQ(readEmailPassword(), "");
  EXPECT_FALSE(std::filesystem::exists(kEmailSecretPath));
  // Without the new keys the old behaviour stays: no TLS, port 25.
  const EmailConfig plain = readEmailConfig(serverSettings().email);
  EXPECT_EQ(plain.smtp.security, SmtpSecurity::kNone);
  EXPECT_EQ(plain.port, 25);
}

}  // namespace
