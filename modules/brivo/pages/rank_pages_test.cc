// The array methods against a pair kept in memory: the order of the commands each sends, what
// their blocks and command bytes carry, refused values that send nothing, the replies' pages and
// result texts, and the create and information pages' keys.
#include <gtest/gtest.h>

#include "modules/brivo/pages/monitor_test_support.h"
#include "modules/brivo/pages/page_methods.h"

namespace brivo {
namespace {

using testing::driveWwnText;
using testing::idsOf;
using testing::requestFor;
using testing::SentOp;

CreateArrayBlock createBlockOf(const SentOp& op) {
  CreateArrayBlock block{};
  EXPECT_EQ(op.block.size(), sizeof(block));
  std::memcpy(&block, op.block.data(), std::min(op.block.size(), sizeof(block)));
  return block;
}

class RankPages : public testing::MonitorPageTest {
 protected:
  RankPages() {
    for (int n = 0; n < 6; ++n) addDiskDrive(n);
  }
  std::string bad() { return ModuleFiles::text(StringTable::kCommand, "CommandFail_FB"); }
};

TEST_F(RankPages, CreationIsBracketedAndAnswersWithTheRefreshedPage) {
  const std::string first = driveWwnText(1), second = driveWwnText(4);
  auto keys = run(createNewRankMethod, requestFor({{"RaidLevel", "1"},
                                                   {"Drive0", first.c_str()},
                                                   {"Drive1", second.c_str()},
                                                   {"ArrayName", "mirror"}}));
  const auto ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0x90, 0x82}));
  const CreateArrayBlock block = createBlockOf(ops[1]);
  EXPECT_EQ(block.raidLevel, 1);
  EXPECT_EQ(block.driveCount, 2);
  EXPECT_EQ(wwnText(block.driveWwn[1]), second);
  EXPECT_EQ(ops[1].cdb[1], kModeCommand);
  EXPECT_EQ(keys["MessageIsSuccess"], "true");
  EXPECT_EQ(keys["MessageSummary"], "The command \"Create array\" completed successfully.");
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/array/create_array.htm");
  EXPECT_EQ(keys["ModDeviceName"], testing::kTestPair);
  EXPECT_EQ(keys["FreeDriveLoop1Checked"], "true") << "the drives just used are marked";
  EXPECT_EQ(keys["FreeDriveLoop0Checked"], "false");
  EXPECT_TRUE(takeConfigurationChanged());
}

TEST_F(RankPages, RefusedCreationLeavesTheChangeUnsavedAndKeepsTheChoice) {
  pair_.refusedWrites.insert(kOpCreateArray);
  const std::string first = driveWwnText(2);
  auto keys = run(createNewRankMethod, requestFor({{"RaidLevel", "5"}, {"Drive0", first.c_str()}}));
  EXPECT_EQ(idsOf(writes()), (std::vector<uint8_t>{0x80, 0x90}));
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_EQ(keys["MessageImageSrc"], "/images/popup_error.gif");
  EXPECT_NE(keys["MessageDetails"].find("05/24/00"), std::string::npos) << keys["MessageDetails"];
  EXPECT_EQ(keys["FreeDriveLoop2Checked"], "true");
  EXPECT_FALSE(takeConfigurationChanged());
}

TEST_F(RankPages, UnusableCreationAndUnknownPairSendNothing) {
  auto keys = run(createNewRankMethod, requestFor({{"RaidLevel", "5"}, {"Drive0", "XYZ"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(keys["MessageDetails"], bad());
  keys = run(createNewRankMethod, requestFor({{"RaidLevel", "5"}}, "BrivoNoSuchPair"));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
}

TEST_F(RankPages, ExpansionSendsItsBlockAndAnswersWithThePopUp) {
  addArray(3, kRaid5, 0, 3);
  const std::string wwn = driveWwnText(5);
  auto keys = run(createNewRankMethod,
                  requestFor({{"PerformExpansion", "true"}, {"RankNumber", "3"}, {"Drive0", wwn.c_str()}}));
  const auto ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0xAB, 0x82}));
  ExpandArrayBlock block{};
  ASSERT_EQ(ops[1].block.size(), sizeof(block));
  std::memcpy(&block, ops[1].block.data(), sizeof(block));
  EXPECT_EQ(block.array, 3);
  EXPECT_EQ(block.driveCount, 1);
  EXPECT_EQ(block.parityGiven, kOff);
  EXPECT_EQ(wwnText(block.driveWwn[0]), wwn);
  EXPECT_EQ(keys["HTMLPath"], "../Common/MessagePopupPanel.htm");
  EXPECT_EQ(keys["UpdateParent"], "true");
  EXPECT_EQ(keys["MessageSummary"], "The command \"Expand array\" completed successfully.");
}

TEST_F(RankPages, CreatePageOffersProfilesLevelsAndFreeDrives) {
  pair_.drives.entries[2].status = kDriveFailed;
  addArray(0, kRaid5, 3, 3);
  auto keys = run(getCreateNewRankInformationMethod, requestFor({}));
  EXPECT_EQ(keys["ProfileCount"], "5");
  EXPECT_EQ(keys["ProfileFieldCount"], "6");
  EXPECT_EQ(keys["ProfileField1"], "RaidLevel");
  EXPECT_EQ(keys["ProfileLoop1FormRaidLevel"], "16") << "the profile's RAID 10";
  EXPECT_EQ(keys["ProfileLoop2FormWriteBack"], "65535");
  EXPECT_EQ(keys["ProfileLoop1FormReadAhead"], "65535");
  EXPECT_EQ(keys["ProfileLoop0Name"], "General purpose");
  EXPECT_EQ(keys["FreeDriveLoop"], "2") << "drives 0 and 1: drive 2 failed, 3-5 are members";
  EXPECT_EQ(keys["ArrayCount"], "1");
  EXPECT_EQ(keys["CanCreate"], "true");
  EXPECT_EQ(keys["RaidLevelLoop6Text"], "RAID 50");
  pair_.refusedReads.insert(kOpReadDriveList);
  keys = run(getCreateNewRankInformationMethod, requestFor({}));
  EXPECT_EQ(keys["HTMLPath"], "../Common/MessagePopupPanel.htm");
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
}

TEST_F(RankPages, JobActionsSendTheirBytesWithoutABracket) {
  struct Case {
    VariableTable (*method)(VariableTable);
    const char* mode;
    std::vector<uint8_t> cdb345;
    uint8_t id;
  };
  const Case cases[] = {{initializeRankMethod, nullptr, {4, kInitStart, 0}, kOpInitializeArray},
                        {pauseArrayInitMethod, nullptr, {4, kInitPause, 0}, kOpInitializeArray},
                        {unPauseArrayInitMethod, nullptr, {4, kInitResume, 0}, kOpInitializeArray},
                        {cancelInitializationMethod, nullptr, {4, 0, 0}, kOpCancelInitialization},
                        {startParityCheckMethod, "3", {kOff, 4, 3}, kOpStartParityCheck},
                        {startParityCheckMethod, nullptr, {kOff, 4, 1}, kOpStartParityCheck},
                        {cancelParityCheckMethod, nullptr, {0, 0, 0}, kOpCancelParityCheck},
                        {cancelRebuildMethod, nullptr, {0, 0, 0}, kOpCancelRebuild}};
  for (const Case& c : cases) {
    fake_->clearSent();
    VariableTable request = requestFor({{"RankNumber", "4"}});
    if (c.mode != nullptr) addVariable(&request, "ParityCheckMode", c.mode);
    auto keys = run(c.method, request);
    const auto ops = writes();
    ASSERT_EQ(ops.size(), 1u) << std::hex << int(c.id);
    EXPECT_EQ(ops[0].id, c.id);
    EXPECT_EQ((std::vector<uint8_t>{ops[0].cdb[3], ops[0].cdb[4], ops[0].cdb[5]}), c.cdb345)
        << std::hex << int(c.id);
    EXPECT_EQ(keys["UpdateParent"], "true");
    EXPECT_TRUE(takeConfigurationChanged()) << "monitor pages reload to show the job";
  }
}

TEST_F(RankPages, ArrayActionsWithoutAUsableArrayNumberSendNothing) {
  for (const char* rank : {"", "64", "-1", "two"}) {
    auto keys = run(initializeRankMethod, requestFor({{"RankNumber", rank}}));
    EXPECT_EQ(keys["MessageDetails"], bad()) << rank;
  }
  auto keys = run(deleteRankMethod, requestFor({}));
  EXPECT_EQ(keys["MessageDetails"], bad());
  keys = run(startParityCheckMethod, requestFor({{"RankNumber", "1"}, {"ParityCheckMode", "4"}}));
  EXPECT_EQ(keys["MessageDetails"], bad());
  EXPECT_TRUE(writes().empty());
  keys = run(cancelRebuildMethod, requestFor({}));
  EXPECT_EQ(idsOf(writes()), (std::vector<uint8_t>{kOpCancelRebuild})) << "acts on the whole pair";
}

TEST_F(RankPages, DeleteAndChangeAreBracketed) {
  ArrayRecord& a = addArray(2, kRaid5, 0, 3);
  a.writeBackMb = 5;  // the creation default, which the controller has no change code for
  std::memcpy(a.name, "old", 3);
  run(deleteRankMethod, requestFor({{"RankNumber", "2"}}));
  auto ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0xB2, 0x82}));
  EXPECT_EQ(ops[1].cdb[3] << 8 | ops[1].cdb[4], 2);

  fake_->clearSent();
  auto keys = run(changeRankParametersMethod,
                  requestFor({{"RankNumber", "2"}, {"CacheMirror", "true"}, {"ReadAheadCacheSize", "512"}}));
  ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0x9C, 0x82}));
  EXPECT_EQ(ops[1].cdb[3], 2);
  EXPECT_EQ(ops[1].cdb[4], kCacheWriteBack | kCacheMirror);
  EXPECT_EQ(ops[1].cdb[5], 3 << 4 | 3) << "5 MB kept as 4 MB (code 3), 512 KB read-ahead (code 3)";
  EXPECT_EQ(keys["MessageIsSuccess"], "true");

  fake_->clearSent();
  run(changeRankParametersMethod, requestFor({{"RankNumber", "2"}, {"ArrayName", "new"}}));
  ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0xA7, 0x82}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ops[1].block.data())), "new");

  fake_->clearSent();
  keys = run(changeRankParametersMethod, requestFor({{"RankNumber", "2"}, {"ArrayName", "old"}}));
  EXPECT_TRUE(writes().empty()) << "nothing to change";
  EXPECT_EQ(keys["MessageIsSuccess"], "true");
  keys = run(changeRankParametersMethod, requestFor({{"RankNumber", "2"}, {"WriteBackCacheSize", "3"}}));
  EXPECT_TRUE(writes().empty()) << "3 MB has no code";
  EXPECT_EQ(keys["MessageDetails"], bad());
}

TEST_F(RankPages, InformationPageShowsTheJobActionsThatApply) {
  ArrayRecord& a = addArray(1, kRaid6, 0, 4);
  a.jobKind = kJobInit;
  a.initialized = 0;
  pair_.info.jobBufferAvailable = kOn;
  jobs.arrays[1] = JobRecord{kOn, 33, kJobInit, 1};
  pair_.addDrive(0, 0).segmentCount = 1;
  pair_.config->logicalDrives[0].segments[0].array = 1;
  auto keys = run(getRankInformationMethod, requestFor({{"RankNumber", "1"}}));
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/array/rank_info.htm");
  EXPECT_EQ(keys["RaidLevel"], "RAID 6");
  EXPECT_EQ(keys["JobPercent"], "33");
  EXPECT_EQ(keys["JobPaused"], "true");
  EXPECT_EQ(keys["CanResumeInit"], "true");
  EXPECT_EQ(keys["CanPauseInit"], "false");
  EXPECT_EQ(keys["CanCancelInitialization"], "true");
  EXPECT_EQ(keys["CanInitialize"], "false");
  EXPECT_EQ(keys["CanDelete"], "false") << "a logical drive lives on it";
  EXPECT_EQ(keys["MemberLoop"], "4");
  EXPECT_EQ(keys["MemberLoop2Serial"], "SERC");
  EXPECT_EQ(keys["LogicalDriveLoop"], "1");
  EXPECT_EQ(keys["WriteBackOptionLoop5Selected"], "selected") << "16 MB";

  keys = run(getRankInformationMethod, requestFor({{"RankNumber", "9"}}));
  EXPECT_EQ(keys["HTMLPath"], "../Common/CommonErrorPanel.htm");
  EXPECT_NE(keys["Message"].find("Array 9 does not exist"), std::string::npos) << keys["Message"];
}

}  // namespace
}  // namespace brivo
