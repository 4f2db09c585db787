// Tests of the e-mail texts: signature escaping both ways, the two date forms and the UTC offset
// in several zones, subjects with and without string texts, recipient filters, and the DATA part
// with its SMTP safety (CR LF line ends, transparency dots, folding, single-line headers).
#include "server/events/email_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "server/events/email_test_support.h"

namespace {

using email_test::EmailFolderTest;

constexpr time_t kMonday = 1199696703;  // Mon, 7 Jan 2008 09:05:03 UTC
constexpr time_t kJuly = 1215939600;    // Sun, 13 Jul 2008 09:00:00 UTC

class ZoneTest : public ::testing::Test {
 protected:
  void TearDown() override { useZone("UTC"); }
  static void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
};

TEST(SignatureEscapeTest, StoresOneLineAndReadsBack) {
  EXPECT_EQ(escapeSignature("Line one\r\nLine two"), "Line one\\r\\nLine two");
  EXPECT_EQ(escapeSignature("a\nb\rc"), "a\\r\\nb\\rc") << "lone LF becomes \\r\\n, lone CR \\r";
  EXPECT_EQ(escapeSignature("say \"hi\" C:\\temp"), "say \\\"hi\\\" C:\\\\temp");
  for (const std::string text :
       {"Line one\r\nLine two", "say \"hi\" C:\\temp\\", "tab\there", "\\r is not CR"}) {
    const std::string stored = escapeSignature(text);
    EXPECT_EQ(stored.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_EQ(unescapeSignature(stored), text);
  }
}

TEST(SignatureEscapeTest, UnescapeCopiesOtherBackslashes) {
  EXPECT_EQ(unescapeSignature("a\\tb\\"), "a\\tb\\");
  EXPECT_EQ(unescapeSignature("\\\\r"), "\\r") << "a doubled backslash before r is not a CR";
  EXPECT_EQ(unescapeSignature("x\\r\\ny"), "x\r\ny");
}

TEST_F(ZoneTest, DateFormsInUtc) {
  useZone("UTC");
  EXPECT_EQ(longEventDate(kMonday, kMonday), "Mon, 7 Jan 2008\r\nTime: 09:05:03 +0000");
  EXPECT_EQ(shortEventDate(kMonday), "01/07/2008\r\nTime: 09:05:03");
  EXPECT_EQ(longEventDate(kJuly, kMonday), "Sun, 13 Jul 2008\r\nTime: 09:00:00 +0000");
}

TEST_F(ZoneTest, OffsetSignAndMinutesFollowTheZone) {
  useZone("IST-5:30");
  EXPECT_EQ(utcOffsetMinutes(kMonday), 330);
  EXPECT_EQ(longEventDate(kMonday, kMonday), "Mon, 7 Jan 2008\r\nTime: 14:35:03 +0530");
  useZone("XYZ+3:15");
  EXPECT_EQ(utcOffsetMinutes(kMonday), -195);
  EXPECT_EQ(longEventDate(kMonday, kMonday), "Mon, 7 Jan 2008\r\nTime: 05:50:03 -0315");
  EXPECT_EQ(shortEventDate(kMonday), "01/07/2008\r\nTime: 05:50:03");
}

TEST_F(ZoneTest, OffsetCountsDaylightSavingOfNow) {
  useZone("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(utcOffsetMinutes(kMonday), -300);
  EXPECT_EQ(utcOffsetMinutes(kJuly), -240);
  // The offset is that of the current time, the clock time that of the event.
  EXPECT_EQ(longEventDate(kMonday, kJuly), "Mon, 7 Jan 2008\r\nTime: 04:05:03 -0400");
}

TEST(EventTimeTest, ZeroAndAllOnesMeanNow) {
  EXPECT_EQ(emailEventTime(0, 5000), 5000);
  EXPECT_EQ(emailEventTime(0xFFFFFFFFu, 5000), 5000);
  EXPECT_EQ(emailEventTime(1234, 5000), 1234);
}

TEST(RecipientFilterTest, LevelPositionsAndLevelFour) {
  EXPECT_TRUE(recipientWants("001", 2));
  EXPECT_FALSE(recipientWants("001", 0));
  EXPECT_FALSE(recipientWants("001", 1));
  EXPECT_TRUE(recipientWants("001", 4)) << "level 4 passes every filter";
  EXPECT_TRUE(recipientWants("000", 4));
  EXPECT_TRUE(recipientWants("110", 1));
  EXPECT_FALSE(recipientWants("111", 3)) << "no fourth position";
  EXPECT_TRUE(recipientWants("1111", 3));
  EXPECT_FALSE(recipientWants("11111", 5)) << "levels above 4 are never mailed";
  EXPECT_FALSE(recipientWants("2x1", 0));
}

TEST_F(EmailFolderTest, SubjectsComeFromTheStringTable) {
  EXPECT_EQ(mailSubject(0, 0), "Kestrova Storage: Information");
  EXPECT_EQ(mailSubject(1, 0), "Kestrova Storage: Warning");
  EXPECT_EQ(mailSubject(2, 0x301), "Kestrova Storage: Error (Event ID: 0x301)");
  EXPECT_EQ(mailSubject(4, 0), "Kestrova Storage: Test Notification");
  EXPECT_EQ(mailSubject(3, 0x7), "server (Event ID: 0x 7)");
}

TEST_F(EmailFolderTest, SubjectsFallBackWithoutTheStringTable) {
  std::filesystem::remove("db/strings.db");
  EXPECT_EQ(mailSubject(0, 0), "Server Message");
  EXPECT_EQ(mailSubject(2, 0), "Server Message");
  EXPECT_EQ(mailSubject(4, 0x10), "Test Message (Event ID: 0x10)");
  EXPECT_EQ(mailSubject(9, 0), "server");
}

TEST(MailDataTest, ComposesTheWholeMail) {
  MailTexts texts{"Kestrova@host",
                  "<1.2.3@host>",
                  "Kestrova Storage: Error (Event ID: 0x301)",
                  "ops@example.com",
                  "Mon, 7 Jan 2008 09:05:03 +0000",
                  "01/07/2008\r\nTime: 09:05:03",
                  "Brivo0123456789ABCDEF",
                  "Fan 2 failed",
                  "Storage team\r\nBuilding 4"};
  EXPECT_EQ(composeMailData(texts),
            "From: <Kestrova@host>\r\n"
            "TO:ops@example.com\r\n"
            "SUBJECT:Kestrova Storage: Error (Event ID: 0x301)\r\n"
            "Date: Mon, 7 Jan 2008 09:05:03 +0000\r\n"
            "Message-ID: <1.2.3@host>\r\n"
            "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n"
            "\r\n"
            "Date: 01/07/2008\r\nTime: 09:05:03\r\n"
            "Source: Brivo0123456789ABCDEF\r\n"
            "\r\n"
            "Message: Fan 2 failed\r\n\r\n\r\nStorage team\r\nBuilding 4"
            "\r\n.\r\n");
  texts.signature.clear();
  const std::string data = composeMailData(texts);
  EXPECT_EQ(data.substr(data.size() - 26), "Message: Fan 2 failed\r\n.\r\n");
}

TEST(MailDataTest, DateHeaderAndMessageIdsFollowRfc5322) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(rfc5322Date(1199696703), "Mon, 7 Jan 2008 09:05:03 +0000");
  setenv("TZ", "EST5EDT", 1);
  tzset();
  EXPECT_EQ(rfc5322Date(1199696703), "Mon, 7 Jan 2008 04:05:03 -0500");
  EXPECT_EQ(rfc5322Date(1215421503), "Mon, 7 Jul 2008 05:05:03 -0400") << "the offset of that moment";
  setenv("TZ", "UTC", 1);
  tzset();
  const std::string first = newMessageId("storage-1.example.com");
  const std::string second = newMessageId("bad host<>\r\n");
  EXPECT_NE(first, newMessageId("storage-1.example.com"));
  EXPECT_EQ(first.front(), '<');
  EXPECT_EQ(first.substr(first.size() - 23), "@storage-1.example.com>");
  EXPECT_EQ(second.substr(second.size() - 9), "@badhost>") << second;
}

TEST(MailDataTest, HeaderFieldsStayOnTheirLine) {
  MailTexts texts;
  texts.subject = "Alert\r\nBcc: victim@example.com";
  texts.recipient = "ops@example.com\nX-Evil: 1";
  const std::string data = composeMailData(texts);
  EXPECT_NE(data.find("SUBJECT:Alert  Bcc: victim@example.com\r\n"), std::string::npos);
  EXPECT_NE(data.find("TO:ops@example.com X-Evil: 1\r\n"), std::string::npos);
  EXPECT_EQ(data.find("\r\nBcc:"), std::string::npos);
}

TEST(MailDataTest, MessageLinesCannotEndTheData) {
  MailTexts texts;
  texts.message = "line one\n.\nline three\r\n..two dots\r.lone CR";
  const std::string data = composeMailData(texts);
  EXPECT_NE(data.find("Message: line one\r\n..\r\nline three\r\n...two dots\r\n..lone CR\r\n.\r\n"),
            std::string::npos)
      << data;
  // The only line that is a single dot is the closing one.
  EXPECT_EQ(data.find("\r\n.\r\n"), data.size() - 5);
  // No bare CR or LF anywhere.
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r') {
      EXPECT_EQ(data[i + 1], '\n') << i;
    }
    if (data[i] == '\n') {
      EXPECT_EQ(data[i - 1], '\r') << i;
    }
  }
}

TEST(MailDataTest, LongLinesAreFoldedWithoutSplittingCharacters) {
  const std::string line = std::string(kMaxMailLineLength - 1, 'a') + "\xC3\xA9" + std::string(10, '.');
  const std::string out = smtpTransparent(line);
  const size_t end = out.find("\r\n");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end, kMaxMailLineLength - 1) << "the two-byte character moves to the next line";
  EXPECT_EQ(out.substr(end + 2), "\xC3\xA9" + std::string(10, '.'));

  const std::string dots = std::string(kMaxMailLineLength, 'b') + "." + std::string(5, 'c');
  EXPECT_EQ(smtpTransparent(dots), std::string(kMaxMailLineLength, 'b') + "\r\n..ccccc")
      << "a folded piece that starts with a dot is stuffed too";
  EXPECT_EQ(smtpTransparent(std::string(kMaxMailLineLength, 'x')), std::string(kMaxMailLineLength, 'x'));
}

TEST(MailAddressTest, OnlyPlainAddressesAreUsable) {
  EXPECT_TRUE(usableMailAddress("ops@example.com"));
  EXPECT_FALSE(usableMailAddress(""));
  EXPECT_FALSE(usableMailAddress("ops@example.com>\r\nRCPT TO:<x@y"));
  EXPECT_FALSE(usableMailAddress("a<b@c"));
  EXPECT_FALSE(usableMailAddress(std::string(321, 'a')));
  EXPECT_EQ(singleLine("a\tb\x7f", 2), "a ");
}

}  // namespace
