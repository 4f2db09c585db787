// Value parsing shared by the controller-level commands (clock values, controller, drive and
// enclosure choices, sent files, list fields) and the clock handlers against a fake pair.
#include "modules/brivo/cli/cli_selectors.h"

#include <gtest/gtest.h>

#include <fstream>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_pair_test_support.h"

namespace brivo::cli {
namespace {

TEST(ClockValue, ReadsRealDatesWithTheirWeekday) {
  EventTime t{};
  ASSERT_EQ(parseClockValue("20240131235900", &t), ClockValue::kOk);
  EXPECT_EQ(t.year, 2024);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.day, 31);
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.minute, 59);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(t.weekday, 3) << "a Wednesday";
  ASSERT_EQ(parseClockValue("20080229000000", &t), ClockValue::kOk);
  EXPECT_EQ(t.weekday, 5) << "a Friday";
  ASSERT_EQ(parseClockValue("21001231120000", &t), ClockValue::kOk);
  EXPECT_EQ(t.weekday, 5);

  for (const char* bad :
       {"2024013123590", "202401312359000", "20070229000000", "20240431000000", "20241301000000",
        "20240101240000", "20240101006000", "20000101000000", "21360101000000"}) {
    EXPECT_EQ(parseClockValue(bad, &t), ClockValue::kOutOfRange) << bad;
  }
  for (const char* bad : {"", "2024-01-31", "2024013123590x", "+20240131235900"}) {
    EXPECT_EQ(parseClockValue(bad, &t), ClockValue::kNotANumber) << bad;
  }
}

using Selectors = testing::PairTest;

TEST_F(Selectors, ControllerChoicesAndTheirErrors) {
  ControllerChoice choice;
  ASSERT_TRUE(chooseControllers(ctx(), &choice));
  EXPECT_EQ(choice.selector, kSelectBoth);
  modifiers({{kModControllerId, "ALL"}});
  ASSERT_TRUE(chooseControllers(ctx(), &choice));
  EXPECT_EQ(choice.index, -1);
  modifiers({{kModControllerId, "1"}});
  ASSERT_TRUE(chooseControllers(ctx(), &choice));
  EXPECT_EQ(choice.selector, kSelectB);
  EXPECT_FALSE(choice.side[0]);
  modifiers({{kModControllerId, "2"}});
  EXPECT_FALSE(chooseControllers(ctx(), &choice));
  modifiers({{kModControllerId, "b"}});
  EXPECT_FALSE(chooseControllers(ctx(), &choice));
  EXPECT_EQ(text(), "Error: Illegal Controller Index.\nError: Parsing Controller index. Not a number.\n");
}

TEST_F(Selectors, DriveAndEnclosureChoices) {
  addDrives(4);
  std::vector<int> drives;
  modifiers({{kModDiskId, "3"}, {kModDiskId, "1"}, {kModDiskId, "3"}});
  ASSERT_TRUE(chooseDrives(ctx(), &drives));
  EXPECT_EQ(drives, (std::vector<int>{3, 1}));
  modifiers({{kModDiskId, "4"}});
  EXPECT_FALSE(chooseDrives(ctx(), &drives));
  modifiers({{kModDiskId, "-1"}});
  EXPECT_FALSE(chooseDrives(ctx(), &drives));
  EXPECT_EQ(text(), "Error: Disk index out of range.\nError: Parsing disk ID value. Not a number.\n");

  ctx().info->enclosures[3] = EnclosureEntry{kOn, 5};
  ctx().info->enclosures[0] = EnclosureEntry{kOn, 2};
  std::vector<int> enclosures;
  modifiers({});
  ASSERT_TRUE(chooseEnclosures(ctx(), &enclosures));
  EXPECT_EQ(enclosures, (std::vector<int>{2, 5})) << "every enclosure, by number";
  modifiers({{kModEnclosureId, "3"}});
  EXPECT_FALSE(chooseEnclosures(ctx(), &enclosures));
  EXPECT_NE(text().find("Error: Enclosure index out of range.\n"), std::string::npos);
}

TEST_F(Selectors, SentFilesAreReadUpToTheLimit) {
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(readSentFile(ctx(), 10, &bytes));
  global(kOptSendFile, "missing.bin");
  EXPECT_FALSE(readSentFile(ctx(), 10, &bytes));
  EXPECT_EQ(text(), "Error: No file was sent. Use --sfile.\nError: Cannot read the sent file.\n");
  folder_.write("big.bin", std::string(25, 'x'));
  global(kOptSendFile, "big.bin");
  ASSERT_TRUE(readSentFile(ctx(), 10, &bytes));
  EXPECT_EQ(bytes.size(), 11u) << "one byte past the limit shows the file is too long";
  ASSERT_TRUE(readSentFile(ctx(), 25, &bytes));
  EXPECT_EQ(bytes.size(), 25u);
}

TEST_F(Selectors, ItemFieldsWrapUnderTheirFirstItem) {
  std::vector<std::string> items;
  for (int i = 0; i < 20; ++i) items.push_back("item" + std::to_string(i));
  writeItemsField(ctx(), "Things", items);
  const std::vector<std::string> lines = testing::replyLines(reply());
  ASSERT_EQ(lines.size(), 4u) << text();
  EXPECT_EQ(lines[0].find("Things : item0 item1"), 32u) << lines[0];
  EXPECT_EQ(lines[1].find("item"), 41u) << "continues under the first item: " << lines[1];
  for (const std::string& line : lines) EXPECT_LE(line.size(), 80u) << line;
}

TEST_F(Selectors, ClockSetSendsTheTimeToTheChosenControllers) {
  modifiers({{kModControllerId, "1"}, {kModTime, "20240131235930"}});
  ASSERT_EQ(clockSet(ctx()), 0) << text();
  ASSERT_EQ(writeIds(), std::vector<uint8_t>{kOpSetTime});
  const testing::SentWrite w = writes()[0];
  EXPECT_EQ(w.p3, kSelectB);
  const EventTime t = w.as<EventTime>();
  EXPECT_EQ(t.year, 2024);
  EXPECT_EQ(t.second, 30);
  EXPECT_EQ(t.weekday, 3);
  EXPECT_EQ(text(), "Controller clock is set to 2024-01-31 23:59:30 Wednesday.\n");

  refuse(kOpSetTime, kSenseIllegalRequest, kAscInvalidParameter, 1);
  modifiers({{kModTime, "20240131235930"}});
  EXPECT_EQ(clockSet(ctx()), 1);
  EXPECT_NE(text().find("Error: Cannot set controller time. Status: 2 Sense: 5/26/01\n"), std::string::npos);
  modifiers({{kModTime, "20240230000000"}});
  EXPECT_EQ(clockSet(ctx()), 1);
  EXPECT_NE(text().find("Error: Parsing time value. Out of range.\n"), std::string::npos);
  EXPECT_EQ(writes().size(), 2u) << "a bad value sends nothing";
}

TEST_F(Selectors, ClockDisplayShowsEachControllerOrWhyNot) {
  ctx().info->controllers[0].clock = EventTime{2024, 1, 31, 3, 23, 59, 30};
  ctx().info->stateB = kOff;
  ASSERT_EQ(clockDisplay(ctx()), 0);
  EXPECT_NE(text().find("Controller 0 Clock : 2024-01-31 23:59:30 Wednesday"), std::string::npos) << text();
  EXPECT_NE(text().find("Controller 1 Clock : not available (Failed or not responding)"), std::string::npos)
      << text();
  EXPECT_NE(text().find("Host Clock : "), std::string::npos);
}

}  // namespace
}  // namespace brivo::cli
