// Tests of the event log's line format: the exact record line, the escaping that keeps a record
// on one line, the field reader, and the cut of over-long texts.
#include "server/events/event_log_format.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "server/events/event_text.h"

namespace {

class LogFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }

  static std::string line(int32_t number, const std::string& device, const std::string& message,
                          uint32_t level = 2, uint32_t raiseTime = 1704164645) {  // 2024-01-02 03:04:05
    EventRecord record{
        const_cast<char*>(message.c_str()), const_cast<char*>(device.c_str()), level, 7, raiseTime, 0, 0};
    char buffer[kLogLineLimit];
    const size_t length = composeLogRecordLine(buffer, number, record);
    EXPECT_EQ(length, std::strlen(buffer));
    return std::string(buffer, length);
  }

  static std::string field(const std::string& text, int k) {
    std::string value;
    EXPECT_TRUE(readLogField(text.c_str(), k, &value)) << "field " << k << " of " << text;
    return value;
  }
};

TEST_F(LogFormatTest, RecordLineHasTheSixQuotedFieldsAndDoubledQuotes) {
  EXPECT_EQ(line(12, "Brivo0011223344556677", "Drive \"3\" failed"),
            "\"12\",\"2\",\"01/02/24\",\"03:04:05\",\"Brivo0011223344556677\",\"Drive \"\"3\"\" failed\"\n");
  // Dates of other years keep two zero-padded digits of the year.
  EXPECT_EQ(line(1, "d", "m", 0, 946684799), "\"1\",\"0\",\"12/31/99\",\"23:59:59\",\"d\",\"m\"\n");
  EXPECT_EQ(line(1, "d", "m", 4, 1230768000), "\"1\",\"4\",\"01/01/09\",\"00:00:00\",\"d\",\"m\"\n");
}

TEST_F(LogFormatTest, FieldsReadBackAsWritten) {
  const std::string texts[] = {"plain",
                               "with \"quotes\" inside",
                               "\"starts and ends with quotes\"",
                               "",
                               "two\nlines\r\nand a \\ backslash \\n not a newline",
                               "\"",
                               "\\"};
  for (const std::string& text : texts) {
    const std::string written = line(5, text, text);
    EXPECT_EQ(written.find('\n'), written.size() - 1) << "one line for: " << text;
    EXPECT_EQ(field(written, 0), "5");
    EXPECT_EQ(field(written, 3), "03:04:05");
    EXPECT_EQ(field(written, 4), text);
    EXPECT_EQ(field(written, 5), text);
    char* copy = copyLogField(written.c_str(), 5);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::string(copy), text);
    std::free(copy);
  }
}

TEST_F(LogFormatTest, FieldReaderOnHeaderAndBrokenLines) {
  const std::string header = kBuiltInLogHeader;
  EXPECT_EQ(field(header, 0), "Log Number");
  EXPECT_EQ(field(header, 5), "Message");
  int32_t number = -1;
  EXPECT_TRUE(readLogNumber(header.c_str(), &number));
  EXPECT_EQ(number, 0);

  std::string value;
  EXPECT_FALSE(readLogField("\"1\",\"0\",\"unclosed", 2, &value));
  EXPECT_FALSE(readLogField("\"1\",\"0\"", 2, &value));
  EXPECT_FALSE(readLogField("no quotes at all", 0, &value));
  EXPECT_FALSE(readLogNumber("", &number));
  EXPECT_TRUE(readLogNumber("\"42abc\",\"x\"", &number));
  EXPECT_EQ(number, 42);
  // A backslash before anything but \, n or r stays as it is.
  EXPECT_EQ(field("\"a\\tb\\\"", 0), "a\\tb\\");
}

TEST_F(LogFormatTest, OverlongTextsAreCutBetweenCharactersWithinOneReadableLine) {
  const std::string longDevice(1000, 'd');
  std::string message;
  while (message.size() < 3000) message += "\xC3\xA9\"";  // a two-byte character and a quote
  const std::string written = line(2147483647, longDevice, message);
  EXPECT_LE(written.size(), kLogRecordMax);
  EXPECT_EQ(written.back(), '\n');
  const std::string device = field(written, 4);
  EXPECT_EQ(device, longDevice.substr(0, kLogDeviceMax));
  const std::string read = field(written, 5);
  EXPECT_GT(read.size(), 1000u);
  EXPECT_EQ(message.compare(0, read.size(), read), 0) << "the kept part is a prefix";
  EXPECT_EQ(completeUtf8Length(read.data(), read.size()), read.size()) << "cut between characters";
}

TEST_F(LogFormatTest, LineReaderSplitsLikeA2048ByteLineBuffer) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const std::string lines = "first\n" + std::string(5000, 'x') + "\n\nlast without newline";
  std::fwrite(lines.data(), 1, lines.size(), file);
  std::rewind(file);
  LogLineReader reader(file, 0);
  const char* text;
  size_t length;
  uint64_t offset;
  std::vector<std::pair<uint64_t, size_t>> seen;
  while (reader.next(&text, &length, &offset)) seen.emplace_back(offset, length);
  std::fclose(file);
  const std::vector<std::pair<uint64_t, size_t>> expected = {{0, 6},      {6, 2047}, {2053, 2047},
                                                             {4100, 907}, {5007, 1}, {5008, 20}};
  EXPECT_EQ(seen, expected);
}

TEST(EventTextTest, EventIdPrefixForms) {
  char buffer[kEventMessageBufferSize];
  formatEventMessage(buffer, sizeof(buffer), 0, "Plain text");
  EXPECT_STREQ(buffer, "Plain text");
  formatEventMessage(buffer, sizeof(buffer), 0x101, "Started");
  EXPECT_STREQ(buffer, "(Event ID: 0x101) Started");
  formatEventMessage(buffer, sizeof(buffer), 0x7, "Seven");
  EXPECT_STREQ(buffer, "(Event ID: 0x 7) Seven");
  formatEventMessage(buffer, sizeof(buffer), 0x105, "x");
  EXPECT_EQ(std::string(buffer), std::string("(Event ID: 0x105)") + " x");
}

TEST(EventTextTest, LongMessagesAreCutBetweenCharacters) {
  char buffer[kEventMessageBufferSize];
  std::string message;
  while (message.size() < 2000) message += "\xE2\x82\xAC";  // three-byte euro sign
  const size_t length = formatEventMessage(buffer, sizeof(buffer), 0, message.c_str());
  EXPECT_EQ(length, 1497u);  // 1499 bytes would split the 500th euro sign
  EXPECT_EQ(std::strlen(buffer), length);
  EXPECT_EQ(completeUtf8Length("ab\xE2\x82", 4), 2u);
  EXPECT_EQ(completeUtf8Length("ab\xE2\x82\xAC", 5), 5u);
  EXPECT_EQ(completeUtf8Length("ab\x80", 3), 3u);  // a stray continuation byte is left alone
}

}  // namespace
