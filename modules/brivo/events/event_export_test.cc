// Tests of the two web methods of the controller event logs: the CSV export (its exact lines,
// both files, side selection, what it records on the way, its reply and its failures) and the
// clearing command.
#include "modules/brivo/events/event_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "common/test_folder.h"
#include "modules/brivo/events/event_reader.h"
#include "modules/brivo/events/event_test_support.h"
#include "modules/brivo/events/event_time.h"

namespace brivo::events {
namespace {

using testing::entryOf;
using testing::FakeModule;
using testing::FakePair;
using testing::timeOf;

class EventExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folders_.temp = folder_.path() + "/temp";
    folders_.archive = folder_.path() + "/Information";
    std::filesystem::create_directories(folders_.temp);
    std::filesystem::create_directories(folders_.archive);
    module_.fakeTexts.events = {{"BrivoEvent_10", "Array %d was \"renamed\"."},
                                {"BrivoEvent_12", "Init %d"},
                                {"LogHeader", "\"No\",\"Level\",\"Date\",\"Time\",\"Device\",\"Message\","}};
    module_.fakeTexts.severities = {{"0x10", "0"}, {"0x12", "1"}};
    pair_.logs[0].clock = timeOf(2008, 2, 29, 13, 14, 15, 5);
    pair_.logs[1].clock = timeOf(2008, 3, 1, 1, 2, 3, 6);
    pair_.logs[0].append(entryOf(timeOf(2008, 2, 29, 10, 0, 0), 0x10, {1}));
    pair_.logs[1].append(entryOf(timeOf(2008, 2, 29, 10, 0, 0), 0x12, {2}));
    pair_.logs[0].append(entryOf(timeOf(2008, 2, 29, 11, 0, 0), 0x12, {3}, kClassInternal));
  }
  TableOwner run(std::initializer_list<std::pair<const char*, const char*>> keys) {
    TableOwner request;
    addVariable(request.address(), "ModDeviceName", pair_.pairName.c_str());
    for (const auto& [key, value] : keys) addVariable(request.address(), key, value);
    return TableOwner(getAllControllerLogs(module_, &pair_, request.get(), folders_));
  }
  // The export is a text file: CR LF line ends on Windows.
  std::string exported() const { return readTextFile(folders_.temp + "/" + kExportFileName); }

  TestFolder folder_;
  ExportFolders folders_;
  FakeModule module_;
  FakePair pair_;
};

TEST_F(EventExportTest, WritesEveryEntryInMergedOrderAsQuotedFields) {
  TableOwner reply = run({});
  EXPECT_STREQ(getVariable(reply.get(), "ExportText"), "../../temp/ControllerEvents.log.csv");
  EXPECT_STREQ(getVariable(reply.get(), "ModDeviceName"), pair_.pairName.c_str());
  EXPECT_STREQ(getVariable(reply.get(), "ControllerATime"), "2008/02/29 13:14:15");
  EXPECT_STREQ(getVariable(reply.get(), "ControllerBTime"), "2008/03/01 01:02:03");
  EXPECT_STREQ(getVariable(reply.get(), "ControllerAWeekday"), "5");
  EXPECT_STREQ(getVariable(reply.get(), "ControllerBWeekday"), "6");
  EXPECT_STREQ(getVariable(reply.get(), "LogEntries"), "0");  // first sight: nothing new
  const std::string expected =
      "\"No\",\"Level\",\"Date\",\"Time\",\"Device\",\"Message\",\n"
      "\"1\",\"1\",\"02/29/08\",\"10:00:00\",\"Brivo 0123456789ABCDEF (1)\",\"Init 2\",\n"
      "\"2\",\"0\",\"02/29/08\",\"10:00:00\",\"Brivo 0123456789ABCDEF (0)\",\"Array 1 was "
      "\"\"renamed\"\".\",\n"
      "\"3\",\"1\",\"02/29/08\",\"11:00:00\",\"Brivo 0123456789ABCDEF (0)\",\"Init 3\",\n";
  EXPECT_EQ(exported(), expected);
  EXPECT_EQ(readTextFile(folders_.archive + "/" + kExportFileName), expected);
  EXPECT_TRUE(module_.raised.empty());
}

TEST_F(EventExportTest, RecordsNewEntriesAndSelectsSides) {
  run({});
  pair_.logs[1].append(entryOf(timeOf(2008, 2, 29, 12, 0, 0), 0x10, {9}));
  pair_.logs[0].append(entryOf(timeOf(2007, 2, 28, 0, 0, 0), 0x10, {8}));
  TableOwner reply = run({{"qcliControllers", "2"}});
  EXPECT_STREQ(getVariable(reply.get(), "LogEntries"), "2");
  EXPECT_EQ(module_.raisedTexts(),
            (std::vector<std::string>{"Array 8 was \"renamed\".", "Array 9 was \"renamed\"."}));
  EXPECT_EQ(exported(),
            "\"No\",\"Level\",\"Date\",\"Time\",\"Device\",\"Message\",\n"
            "\"1\",\"1\",\"02/29/08\",\"10:00:00\",\"Brivo 0123456789ABCDEF (1)\",\"Init 2\",\n"
            "\"2\",\"0\",\"02/29/08\",\"12:00:00\",\"Brivo 0123456789ABCDEF (1)\",\"Array 9 was "
            "\"\"renamed\"\".\",\n");
  run({{"qcliControllers", "1"}});
  std::string onlyA = exported();
  EXPECT_EQ(onlyA.find("(1)"), std::string::npos);
  EXPECT_NE(onlyA.find("\"3\",\"0\",\"02/28/07\""), std::string::npos);
  EXPECT_EQ(selectedSides("3"), 3);
  EXPECT_EQ(selectedSides(nullptr), 3);
  EXPECT_EQ(selectedSides("0"), 3);  // '0' selects neither side: both
  EXPECT_EQ(selectedSides("A"), 1);  // 0x41: the low two bits
}

TEST_F(EventExportTest, BuiltInHeaderUnformattableTimesAndPauses) {
  module_.fakeTexts.events.erase("LogHeader");
  pair_.logs[0].startAt(0);
  for (int i = 0; i < 600; ++i)
    pair_.logs[0].append(entryOf(timeOf(2008, 3, 1, 0, i / 60, i % 60), 0x12, {1}));
  run({});  // first sight: the entries are old, so their times are not checked
  pair_.logs[0].at(1).time = timeOf(2008, 2, 30, 0, 0, 0);
  run({});
  std::string text = exported();
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "\"Log Number\",\"Concern Level\",\"Date\",\"Time\",\"Device\",\"Message\",");
  EXPECT_NE(text.find("\"??\",\"??\""), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 603);
  int pauses = static_cast<int>(std::count(module_.sleeps.begin(), module_.sleeps.end(), 100));
  EXPECT_EQ(pauses, 2 * 2);  // after entries 256 and 512, in each of the two exports
}

TEST_F(EventExportTest, FailuresReplyWithTheCommandResult) {
  TableOwner request;
  TableOwner noPair(getAllControllerLogs(module_, nullptr, request.get(), folders_));
  EXPECT_STREQ(getVariable(noPair.get(), "TestResult"), "254");
  EXPECT_STREQ(getVariable(noPair.get(), "HTMLPath"), kPopupPage);
  EXPECT_EQ(getVariable(noPair.get(), "ExportText"), nullptr);

  pair_.failures[kOpReadEventLogA] = 2;
  pair_.failures[kOpReadEventLogB] = 2;
  TableOwner unreadable = run({});
  EXPECT_STREQ(getVariable(unreadable.get(), "TestResult"), "2");
  EXPECT_FALSE(std::filesystem::exists(folders_.temp + "/" + kExportFileName));

  pair_.failures.clear();
  std::filesystem::remove_all(folders_.temp);
  TableOwner unwritable = run({});
  EXPECT_STREQ(getVariable(unwritable.get(), "TestResult"), "255");
  EXPECT_EQ(getVariable(unwritable.get(), "ExportText"), nullptr);
}

TEST_F(EventExportTest, ConcurrentMonitorPassesAndExportsRecordEachEventOnce) {
  run({});  // first sight
  for (int i = 0; i < 200; ++i) {
    pair_.logs[i % 2].append(entryOf(timeOf(2008, 3, 1, 0, i / 60, i % 60), 0x10, {static_cast<uint8_t>(i)}));
  }
  pair_.meetOnRead = true;
  auto monitor = [this] {
    for (int i = 0; i < 5; ++i) monitorPairEvents(module_, pair_);
  };
  std::thread first(monitor);
  std::thread second(monitor);
  std::thread exporter([this] {
    for (int i = 0; i < 3; ++i) run({});
  });
  first.join();
  second.join();
  exporter.join();
  EXPECT_EQ(module_.raised.size(), 200u);
}

TEST_F(EventExportTest, ClearControllerLogsSendsTheSelector) {
  struct Case {
    const char* id;
    int selector;  // 0: nothing sent
  };
  const Case cases[] = {{"Both", 3}, {"both", 3}, {"1", 1},  {"2", 2}, {"3", 3},
                        {"0", 0},    {"4", 0},    {"12", 0}, {"", 0},  {nullptr, 0}};
  for (const Case& c : cases) {
    pair_.sent.clear();
    TableOwner request;
    addVariable(request.address(), "ModDeviceName", pair_.pairName.c_str());
    if (c.id != nullptr) addVariable(request.address(), "ControllerId", c.id);
    TableOwner reply(clearControllerLogs(module_, &pair_, request.get()));
    EXPECT_STREQ(getVariable(reply.get(), "HTMLPath"), kPopupPage);
    EXPECT_STREQ(getVariable(reply.get(), "MessageSummary"), "ClearControllerLogs");
    EXPECT_STREQ(getVariable(reply.get(), "ModDeviceName"), pair_.pairName.c_str());
    if (c.selector == 0) {
      EXPECT_TRUE(pair_.sent.empty()) << (c.id ? c.id : "null");
      EXPECT_STREQ(getVariable(reply.get(), "TestResult"), "254");
      continue;
    }
    ASSERT_EQ(pair_.sent.size(), 1u) << c.id;
    const testing::SentCommand& sent = pair_.sent[0];
    EXPECT_EQ(sent.opcode, 0x3B);
    EXPECT_EQ(sent.mode, kModeCommand);
    EXPECT_EQ(sent.bufferId, kOpClearEventLog);
    EXPECT_EQ(sent.p3, c.selector);
    EXPECT_EQ(sent.data, std::vector<uint8_t>(kCommandSignature, kCommandSignature + kSignatureLength));
    EXPECT_STREQ(getVariable(reply.get(), "MessageIsSuccess"), "true");
  }
  pair_.writeResult = 2;
  pair_.noted.clear();
  TableOwner request;
  addVariable(request.address(), "ControllerId", "1");
  TableOwner failed(clearControllerLogs(module_, &pair_, request.get()));
  EXPECT_STREQ(getVariable(failed.get(), "TestResult"), "2");
  EXPECT_EQ(pair_.noted, std::vector<int>{2});
}

}  // namespace
}  // namespace brivo::events
