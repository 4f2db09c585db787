// Tests of the event log file: appending (numbering, header, format), the counter reload, the
// ViewLogs pages (the documented examples, missing lines, escaped texts) and the agreement of the
// indexed pages with the plain scan, also after the file changed behind the index.
#include "server/events/event_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "server/events/event_log_format.h"
#include "server/events/log_test_fixture.h"

namespace {

constexpr uint32_t kRaiseTime = 1704164645;  // 01/02/24 03:04:05 UTC

std::string recordLine(int number, const std::string& device, const std::string& message, int level = 0) {
  return "\"" + std::to_string(number) + "\",\"" + std::to_string(level) + "\",\"01/02/24\",\"03:04:05\",\"" +
         device + "\",\"" + message + "\"\n";
}

int append(const std::string& device, const std::string& message, uint32_t level = 0) {
  EventRecord source{
      const_cast<char*>(message.c_str()), const_cast<char*>(device.c_str()), level, 0, kRaiseTime, 0, 0};
  return writeEventRecord(copyEventRecord(&source));
}

std::vector<std::pair<std::string, std::string>> orderedPairs(VariableTable table) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (VariableEntry* e = table; e != nullptr; e = e->next) pairs.emplace_back(e->key, e->value);
  return pairs;
}

class EventLogTest : public EventLogFolderTest {
 protected:
  // The page for the given request values (null = absent), checked against the plain scan.
  std::map<std::string, std::string> page(const char* endIndex, const char* count) {
    TableOwner request;
    if (endIndex) addVariable(request.address(), "EndIndex", endIndex);
    if (count) addVariable(request.address(), "numberToDisplay", count);
    TableOwner indexed(ViewLogs(request.get()));
    EXPECT_TRUE(eventLogIndex().valid() || !std::filesystem::exists("db/ServerLog.log"));
    TableOwner scanned(viewLogsFullScan(request.get()));
    EXPECT_EQ(orderedPairs(indexed.get()), orderedPairs(scanned.get()));
    return pairsOf(indexed.get());
  }

  static void appendNumbered(int count) {
    for (int i = 1; i <= count; ++i) ASSERT_EQ(append("dev", "message " + std::to_string(i)), 0);
  }
};

TEST_F(EventLogTest, AppendWritesTheBuiltInHeaderOnceAndNumbersFromOne) {
  writeFile("db/strings.db", "CommandOK = %s done\n");  // no LogHeader
  EXPECT_EQ(append("Brivo00AA", "Drive \"2\" failed", 2), 0);
  EXPECT_EQ(append("Server", "Started", 0), 0);
  EXPECT_EQ(readFile("db/ServerLog.log"), std::string(kBuiltInLogHeader) +
                                              recordLine(1, "Brivo00AA", "Drive \"\"2\"\" failed", 2) +
                                              recordLine(2, "Server", "Started"));
  EXPECT_EQ(lastLogEntryNumber(), 2);

  // Only the channel's running-checked entry drops records once the server stopped.
  EventRecord source{const_cast<char*>("late"), const_cast<char*>("d"), 0, 0, kRaiseTime, 0, 0};
  serverControl().serverRunning.store(0);
  EXPECT_EQ(appendEventRecord(copyEventRecord(&source)), 0);
  EXPECT_EQ(lastLogEntryNumber(), 2);
  serverControl().serverRunning.store(1);
  EXPECT_EQ(appendEventRecord(copyEventRecord(&source)), 0);
  EXPECT_EQ(lastLogEntryNumber(), 3);

  EventRecord noDevice{const_cast<char*>("text"), nullptr, 0, 0, kRaiseTime, 0, 0};
  EXPECT_EQ(appendEventRecord(copyEventRecord(&noDevice)), 2);
  EXPECT_EQ(lastLogEntryNumber(), 3);
}

TEST_F(EventLogTest, HeaderComesFromTheStringTable) {
  writeFile("db/strings.db", "LogHeader = Number,Level,Date,Time,Device,Message\n");
  EXPECT_EQ(append("d", "m"), 0);
  EXPECT_EQ(readFile("db/ServerLog.log"),
            "Number,Level,Date,Time,Device,Message\n" + recordLine(1, "d", "m"));
}

TEST_F(EventLogTest, AppendFailsWhenTheFileCannotBeOpened) {
  std::filesystem::create_directory("db/ServerLog.log");
  EXPECT_EQ(append("d", "m"), 1);
  EXPECT_EQ(lastLogEntryNumber(), 0);
}

TEST_F(EventLogTest, ReloadContinuesTheNumberingOfTheFile) {
  appendNumbered(3);
  setLastLogEntryNumber(0);
  eventLogIndex().invalidate();
  reloadLogCounter();
  EXPECT_EQ(lastLogEntryNumber(), 3);
  EXPECT_EQ(append("d", "fourth"), 0);
  const std::string file = readFile("db/ServerLog.log");
  EXPECT_EQ(file.substr(file.size() - recordLine(4, "d", "fourth").size()), recordLine(4, "d", "fourth"));
  EXPECT_EQ(file.find("Log Number", 2), std::string::npos) << "no second header";

  writeFile("db/ServerLog.log", kBuiltInLogHeader);
  reloadLogCounter();
  EXPECT_EQ(lastLogEntryNumber(), 0);
  EXPECT_EQ(append("d", "first"), 0);
  EXPECT_EQ(readFile("db/ServerLog.log"), std::string(kBuiltInLogHeader) + recordLine(1, "d", "first"));

  // A file removed while the server runs starts again with a header; the numbering goes on.
  std::filesystem::remove("db/ServerLog.log");
  EXPECT_EQ(append("d", "second"), 0);
  EXPECT_EQ(readFile("db/ServerLog.log"), std::string(kBuiltInLogHeader) + recordLine(2, "d", "second"));

  std::filesystem::remove("db/ServerLog.log");
  reloadLogCounter();
  EXPECT_EQ(lastLogEntryNumber(), 0);
}

TEST_F(EventLogTest, ARecordAfterACutOffLineStartsOnItsOwnLine) {
  writeFile("db/ServerLog.log",
            std::string(kBuiltInLogHeader) + recordLine(1, "d", "one") + "\"2\",\"0\",\"01/0");
  reloadLogCounter();
  EXPECT_EQ(lastLogEntryNumber(), 2);  // the number of the cut-off line still counts
  EXPECT_EQ(append("d", "three"), 0);
  // The cut-off record no longer reads as a record; the new one is whole.
  auto shown = page(nullptr, nullptr);
  EXPECT_EQ(shown["LogEntries2logNumber"], "1");
  EXPECT_EQ(shown["LogEntries1logNumber"], "3");
  EXPECT_EQ(shown["LogEntries1message"], "three");
  EXPECT_EQ(shown["LogEntries0message"], "Missing Logs.");
}

TEST_F(EventLogTest, PagesOfAMissingAndAnEmptyLog) {
  testing::internal::CaptureStdout();
  TableOwner reply(ViewLogs(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open the log.\n");
  EXPECT_EQ(orderedPairs(reply.get()),
            (std::vector<std::pair<std::string, std::string>>{{"HTMLPath", "../Server/other/event_logs.htm"},
                                                              {"LogEntries", "0"}}));

  writeFile("db/ServerLog.log", "");
  auto shown = page(nullptr, nullptr);
  EXPECT_EQ(shown["LogEntries"], "0");
  EXPECT_EQ(shown["ForwardEnable"], "false");
  EXPECT_EQ(shown["BackEnable"], "false");
  EXPECT_EQ(shown["StartIndex"], "1");
  EXPECT_EQ(shown["EndIndex"], "0");
  EXPECT_EQ(shown["LastLogEntryNumber"], "0");
  EXPECT_EQ(shown["IsHostBased"], "true");
  EXPECT_EQ(shown.count("LogEntries0logNumber"), 0u);
}

TEST_F(EventLogTest, DefaultPageOf120RecordsAndAnEarlyPage) {
  appendNumbered(120);
  auto shown = page(nullptr, nullptr);
  EXPECT_EQ(shown["LogEntries"], "51");
  EXPECT_EQ(shown["StartIndex"], "70");
  EXPECT_EQ(shown["EndIndex"], "120");
  EXPECT_EQ(shown["BackEnable"], "true");
  EXPECT_EQ(shown["ForwardEnable"], "false");
  for (int slot = 0; slot <= 50; ++slot) {
    const std::string prefix = "LogEntries" + std::to_string(slot);
    EXPECT_EQ(shown[prefix + "logNumber"], std::to_string(120 - slot));
    EXPECT_EQ(shown[prefix + "message"], "message " + std::to_string(120 - slot));
  }
  EXPECT_EQ(shown["LogEntries0date"], "01/02/24");
  EXPECT_EQ(shown["LogEntries0time"], "03:04:05");
  EXPECT_EQ(shown["LogEntries0devName"], "dev");
  EXPECT_EQ(shown["LogEntries0errorLevel"], "0");
  EXPECT_EQ(shown.count("LogEntries51logNumber"), 0u);

  shown = page("3", nullptr);
  EXPECT_EQ(shown["LogEntries"], "3");
  EXPECT_EQ(shown["StartIndex"], "1");
  EXPECT_EQ(shown["EndIndex"], "53");
  EXPECT_EQ(shown["BackEnable"], "false");
  EXPECT_EQ(shown["ForwardEnable"], "true");
  EXPECT_EQ(shown["LogEntries2logNumber"], "1");
  EXPECT_EQ(shown["LogEntries1logNumber"], "2");
  EXPECT_EQ(shown["LogEntries0logNumber"], "3");
}

TEST_F(EventLogTest, UnreadableAndMissingLinesAreSkippedAndPlaceholdersFillThePage) {
  writeFile("db/ServerLog.log", std::string(kBuiltInLogHeader) + recordLine(1, "d", "one") +
                                    "garbage line\n" + recordLine(2, "d", "two") + "\"3\",\"0\",\"broken\n");
  reloadLogCounter();
  setLastLogEntryNumber(5);  // the counter knows of records the file no longer holds
  auto shown = page(nullptr, "3");
  EXPECT_EQ(shown["LogEntries"], "4");  // E = 5, S = 1: record 1 is skipped, slots 3..0 remain
  EXPECT_EQ(shown["LogEntries3logNumber"], "2");
  for (const char* slot : {"2", "1", "0"}) {
    const std::string prefix = std::string("LogEntries") + slot;
    EXPECT_EQ(shown[prefix + "logNumber"], "0");
    EXPECT_EQ(shown[prefix + "errorLevel"], "2");
    EXPECT_EQ(shown[prefix + "date"], "0/0/00");
    EXPECT_EQ(shown[prefix + "time"], "00:00:00");
    EXPECT_EQ(shown[prefix + "devName"], "");
    EXPECT_EQ(shown[prefix + "message"], "Missing Logs.");
  }
}

TEST_F(EventLogTest, TextsWithLineBreaksAndQuotesComeBackIntact) {
  const std::string message = "first line\nsecond \"quoted\" line\r\nC:\\new\\records \\n";
  const std::string device = "Enclosure \"A\"\n";
  ASSERT_EQ(append(device, message), 0);
  ASSERT_EQ(append("d", ""), 0);
  const std::string file = readFile("db/ServerLog.log");
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 3) << "header and one line per record";
  auto shown = page(nullptr, nullptr);
  EXPECT_EQ(shown["LogEntries"], "2");
  EXPECT_EQ(shown["LogEntries1message"], message);
  EXPECT_EQ(shown["LogEntries1devName"], device);
  EXPECT_EQ(shown["LogEntries0message"], "");
}

TEST_F(EventLogTest, IndexedPagesMatchTheScanOnRandomPages) {
  std::mt19937 random(20240102);
  std::string file = kBuiltInLogHeader;
  int number = 0;
  for (int i = 0; i < 3000; ++i) {
    const int kind = static_cast<int>(random() % 40);
    if (kind == 0) {
      file += "not a record\n";
    } else if (kind == 1) {
      file += "\"" + std::to_string(number - 5) + "\",\"1\",\"x\"\n";  // out of order, incomplete
    } else if (kind == 2) {
      file += "\"" + std::to_string(++number) + "\",\"0\",\"d\",\"t\",\"dev\",\"" + std::string(3000, 'x') +
              "\"\n";
    } else {
      ++number;
      file += recordLine(number, "dev", "record " + std::to_string(number));
    }
  }
  writeFile("db/ServerLog.log", file);
  reloadLogCounter();
  ASSERT_EQ(lastLogEntryNumber(), number);
  auto check = [&](int rounds) {
    for (int i = 0; i < rounds; ++i) {
      const std::string end = std::to_string(static_cast<int>(random() % (number + 20)) - 10);
      const std::string count = std::to_string(static_cast<int>(random() % 300) - 5);
      page(random() % 5 == 0 ? nullptr : end.c_str(), random() % 5 == 0 ? nullptr : count.c_str());
    }
  };
  check(300);
  // Appends extend the index; another program's changes make it index the file again.
  for (int i = 0; i < 20; ++i) ASSERT_EQ(append("dev", "appended"), 0);
  number += 20;
  check(100);
  {
    std::ofstream out("db/ServerLog.log", std::ios::app);
    out << recordLine(number + 1, "x", "written by someone else");
  }
  check(100);
  writeFile("db/ServerLog.log", std::string(kBuiltInLogHeader) + recordLine(7, "x", "replaced"));
  check(50);
}

TEST_F(EventLogTest, ExportNamesTheFileForTheFrontEnd) {
  TableOwner reply(ExportLogs(nullptr));
  EXPECT_EQ(orderedPairs(reply.get()),
            (std::vector<std::pair<std::string, std::string>>{{"ExportText", "../../db/ServerLog.log"}}));
}

}  // namespace
