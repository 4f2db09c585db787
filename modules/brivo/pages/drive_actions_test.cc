// The drive page and its operations against a pair kept in memory: spare blocks and their
// defaults, the rebuild's page override, the pop-up flags, and what the page offers per drive.
#include <gtest/gtest.h>

#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

constexpr char kFreeWwn[] = "5000C50011223344";
constexpr char kMemberWwn[] = "5000C500AABBCCDD";

class DriveActionsTest : public testing::PageTest {
 protected:
  DriveActionsTest() {
    addDrive(0, kFreeWwn, kUsageFree, 0xFF, 0xFF);
    addDrive(1, kMemberWwn, kUsageMember, 2, 1);
    ArrayRecord& array = pair_.config->arrays[2];
    array.valid = kOn;
    array.driveCount = 3;
    std::strcpy(array.name, "vault");
    array.memberStatus[1] = kMemberFailed;
  }
  DriveListEntry& addDrive(uint8_t id, const char* wwn, uint8_t usage, uint8_t array, uint8_t member) {
    DriveListEntry& e = pair_.drives.entries[pair_.drives.count++];
    e.loop1Id = kNotOnLoop;
    e.loop2Id = id;
    e.driveId = id;
    e.slot = id;
    e.usage = usage;
    e.array = array;
    e.member = member;
    e.hotSpareNumber = 0xFF;
    parseWwn(wwn, e.wwn);
    return e;
  }
};

TEST_F(DriveActionsTest, MakeHotSpareDefaultsToAGlobalSpareAndRejectsBadWwns) {
  auto reply = run(makeHotSpareMethod, requestFor({{"DriveWWN", kFreeWwn}}));
  auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0x80, 0x93, 0x82, 0x80}));
  HotSpareBlock block{};
  ASSERT_EQ(ops[1].block.size(), sizeof(block));
  std::memcpy(&block, ops[1].block.data(), sizeof(block));
  EXPECT_EQ(block.array, 254);
  EXPECT_EQ(wwnText(block.wwn), kFreeWwn);
  EXPECT_EQ(reply["HTMLPath"], "../../html/Brivo/drive/drive_info.htm");
  EXPECT_EQ(reply["MessageSummary"], "The command \"Make hot spare\" completed successfully.");
  EXPECT_EQ(reply["DriveSelected"], "true");
  EXPECT_TRUE(takeConfigurationChanged());

  fake_->clearSent();
  auto bad = run(makeHotSpareMethod, requestFor({{"DriveWWN", "5000C5001122334"}, {"RankNumber", "2"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(bad["MessageIsSuccess"], "false");
}

TEST_F(DriveActionsTest, DeleteHotSpareNeedsItsNumber) {
  auto missing = run(deleteHotSpareMethod, requestFor({{"DriveWWN", kFreeWwn}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(missing["MessageIsSuccess"], "false");
  EXPECT_EQ(missing["MessageSummary"], "The command \"Remove hot spare\" failed.");

  run(deleteHotSpareMethod, requestFor({{"HotSpareNumber", "7"}}));
  const auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0x80, 0xB3, 0x82, 0x80}));
  EXPECT_EQ(ops[1].cdb[3], 7);
}

TEST_F(DriveActionsTest, RegenerationMarksTheDriveRebuildingOnlyWhenTaken) {
  auto reply = run(regenerateDriveMethod,
                   requestFor({{"DriveWWN", kMemberWwn}, {"RankNumber", "2"}, {"DriveNumber", "1"}}));
  auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xCA, 0x80}));
  RebuildBlock block{};
  std::memcpy(&block, ops[0].block.data(), sizeof(block));
  EXPECT_EQ(block.array, 2);
  EXPECT_EQ(block.member, 1);
  EXPECT_EQ(wwnText(block.wwn), kMemberWwn);
  EXPECT_EQ(reply["RankNumber"], "243");
  EXPECT_EQ(reply["RegenerateButtonEnabled"], "false");
  EXPECT_EQ(reply["MakeSpareButtonEnabled"], "false");

  pair_.refusedWrites.insert(kOpRebuildDrive);
  auto refused = run(regenerateDriveMethod,
                     requestFor({{"DriveWWN", kMemberWwn}, {"RankNumber", "2"}, {"DriveNumber", "1"}}));
  EXPECT_EQ(refused["RankNumber"], "2");
  EXPECT_EQ(refused["RegenerateButtonEnabled"], "true");
  EXPECT_EQ(refused["MessageIsSuccess"], "false");
}

TEST_F(DriveActionsTest, BypassAndEnableAnswerWithPopupsWhateverTheResult) {
  pair_.refusedWrites.insert(kOpBypassDrive);
  auto bypass = run(bypassDriveMethod, requestFor({{"HardDriveId", "1"}}));
  EXPECT_EQ(bypass["CloseParent"], "true");
  EXPECT_EQ(bypass["MessageIsSuccess"], "false");
  EXPECT_EQ(bypass["HTMLPath"], "../Common/MessagePopupPanel.htm");
  auto enable = run(enableDriveMethod, requestFor({{"HardDriveId", "1"}}));
  EXPECT_EQ(enable["UpdateParent"], "true");
  EXPECT_EQ(enable["MessageIsSuccess"], "true");
  const auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xD0, 0x80, 0xD1, 0x80}));
  EXPECT_EQ(ops[0].cdb[4], 1);
  EXPECT_EQ(ops[2].cdb[4], 1);

  fake_->clearSent();
  auto nowhere = run(bypassDriveMethod, requestFor({{"HardDriveId", "1"}}, "Brivo0000000000000000"));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(nowhere["CloseParent"], "true");
}

TEST_F(DriveActionsTest, BlinkSendsLoopIdAndTime) {
  run(blinkDriveMethod, requestFor({{"LoopNumber", "1"}, {"DriveId", "1"}, {"TimeInSeconds", "30"}}));
  const auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xC2, 0x80}));
  EXPECT_EQ(ops[0].cdb[3], 1);
  EXPECT_EQ(ops[0].cdb[4], 1);
  EXPECT_EQ(ops[0].cdb[5], 30);
}

TEST_F(DriveActionsTest, PageOffersWhatAppliesToTheSelectedDrive) {
  auto free = run(getDriveInformationMethod, requestFor({{"DriveWWN", "5000c50011223344"}}));
  EXPECT_EQ(free["DriveLoop"], "2");
  EXPECT_EQ(free["DriveLoop0Selected"], "true");
  EXPECT_EQ(free["DriveLoop0Slot"], "0") << "the controller's slot number, as the event log and qcli give it";
  EXPECT_EQ(free["DriveLoop0DiskIndex"], "0");
  EXPECT_EQ(free["DiskIndex"], "0") << "qcli's -di number of the selected drive";
  EXPECT_EQ(free["MakeSpareButtonEnabled"], "true");
  EXPECT_EQ(free["LoopNumber"], "1");
  EXPECT_EQ(free["RebuildTargetLoop"], "1") << "the failed member of array 2";
  EXPECT_EQ(free["RebuildTargetLoop0DriveNumber"], "1");
  EXPECT_EQ(free["ArrayLoop0Name"], "vault");

  auto member = run(getDriveInformationMethod, requestFor({{"DriveWWN", kMemberWwn}}));
  EXPECT_EQ(member["RankNumber"], "2");
  EXPECT_EQ(member["DriveNumber"], "1");
  EXPECT_EQ(member["MakeSpareButtonEnabled"], "false");
  EXPECT_EQ(member["RegenerateButtonEnabled"], "true");
  EXPECT_EQ(member["HotSpareNumber"], "255");

  auto none = run(getDriveInformationMethod, requestFor({}));
  EXPECT_EQ(none["DriveSelected"], "false");
  pair_.refusedReads.insert(kOpReadDriveList);
  auto failed = run(getDriveInformationMethod, requestFor({}));
  EXPECT_EQ(failed["ReadFailed"], "true");
  EXPECT_EQ(failed["MessageIsSuccess"], "false");
}

}  // namespace
}  // namespace brivo
