// The array handlers against a fake pair: the create block as the controller receives it, the
// CDB bytes of the other operations, the value and state errors that send nothing, the failure
// form with the controller's sense, and the display's summary table and blocks.
#include <gtest/gtest.h>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_storage_test_support.h"

namespace brivo::cli {
namespace {

using testing::SentOperation;

class ArrayCommands : public testing::StorageTest {};

TEST_F(ArrayCommands, CreateSendsTheBlockInsideOneChange) {
  addDisks(8);
  addArray(0, kRaid1, {0, 1});
  modifiers({{kModName, "data"},
             {kModDiskId, "4"},
             {kModDiskId, "2"},
             {kModDiskId, "3"},
             {kModRaidLevel, "5"},
             {kModStripeSize, "128"},
             {kModBackoff, "5"},
             {kModReadCache, "1024"},
             {kModWriteCache1, "off"},
             {kModWriteCache3, "on"},
             {kModConfirm, "."}});
  ASSERT_EQ(arrayCreate(ctx()), 0) << text();
  ASSERT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpCreateArray, kOpConfigSave}));
  const auto block = operations()[1].as<CreateArrayBlock>();
  EXPECT_EQ(operations()[1].block.size(), sizeof(CreateArrayBlock));
  EXPECT_EQ(block.raidLevel, kRaid5);
  EXPECT_EQ(block.driveCount, 3);
  EXPECT_EQ(block.chunkSizeKb, 128);
  uint8_t wwn[8];
  testing::diskWwn(4, wwn);
  EXPECT_EQ(0, memcmp(block.driveWwn[0], wwn, 8)) << "disks in the order given";
  testing::diskWwn(3, wwn);
  EXPECT_EQ(0, memcmp(block.driveWwn[2], wwn, 8));
  EXPECT_EQ(block.parityDrives, 0);
  EXPECT_EQ(block.cacheFlags, kCacheWriteBack | kCacheBattery) << "mirror switched off, battery on";
  EXPECT_EQ(block.readAheadKb, 1024);
  EXPECT_EQ(block.writeBackMb, 16);
  EXPECT_EQ(block.initialize, 1);
  EXPECT_EQ(block.unusedPercent, 5);
  EXPECT_STREQ(block.name, "data");
  EXPECT_NE(text().find("Array 1 created: \"data\", RAID 5 on disks 4 2 3.\n"), std::string::npos) << text();
  EXPECT_NE(text().find("(job 101)"), std::string::npos) << text();
}

TEST_F(ArrayCommands, CreateLevelsSetParityAndTrustSkipsInitialization) {
  addDisks(16);
  modifiers({{kModName, "r50"},
             {kModRaidLevel, "50"},
             {kModSubArrays, "3"},
             {kModTransferRate, "."},
             {kModWriteCache, "disabled"}});
  for (int i = 0; i < 9; ++i) ctx().modifiers.push_back({kModDiskId, std::to_string(i)});
  ASSERT_EQ(arrayCreate(ctx()), 0) << text();
  auto block = operations()[1].as<CreateArrayBlock>();
  EXPECT_EQ(block.raidLevel, kRaid50);
  EXPECT_EQ(block.parityDrives, 3);
  EXPECT_EQ(block.initialize, 0);
  EXPECT_EQ(block.writeBackMb, 0);
  EXPECT_EQ(block.cacheFlags & kCacheWriteBack, 0) << "no write-back size, no write-back bit";

  clearSent();
  modifiers({{kModName, "r6"},
             {kModRaidLevel, "6"},
             {kModDiskId, "9"},
             {kModDiskId, "10"},
             {kModDiskId, "11"},
             {kModDiskId, "12"}});
  ASSERT_EQ(arrayCreate(ctx()), 0) << text();
  EXPECT_EQ(operations()[1].as<CreateArrayBlock>().parityDrives, 2);
}

TEST_F(ArrayCommands, CreateRefusesBadValuesWithoutSendingAnything) {
  addDisks(20);
  addArray(0, kRaid1, {0, 1});
  struct Case {
    std::vector<ParsedModifier> modifiers;
    const char* error;
  };
  const std::string longName(33, 'n');
  std::vector<ParsedModifier> seventeen = {{kModName, "x"}, {kModRaidLevel, "0"}};
  for (int i = 2; i < 19; ++i) seventeen.push_back({kModDiskId, std::to_string(i)});
  const Case cases[] = {
      {{{kModName, "x"}, {kModDiskId, "2"}, {kModDiskId, "3"}, {kModDiskId, "4"}, {kModRaidLevel, "7"}},
       "Error: Parsing RAID level. Out of range.\n"},
      {{{kModName, "x"}, {kModDiskId, "2"}, {kModRaidLevel, "five"}},
       "Error: Parsing RAID level. Not a number.\n"},
      {{{kModName, "x"}, {kModDiskId, "2"}, {kModDiskId, "1"}, {kModRaidLevel, "1"}},
       "Error: Disk not available for use. Disk 1.\n"},
      {{{kModName, "x"}, {kModDiskId, "2"}, {kModDiskId, "2"}, {kModRaidLevel, "1"}},
       "Error: Disk not available for use. Disk 2.\n"},
      {{{kModName, "x"}, {kModDiskId, "20"}, {kModRaidLevel, "0"}}, "Error: Disk index out of range.\n"},
      {{{kModName, "x"}, {kModDiskId, "-1"}, {kModRaidLevel, "0"}},
       "Error: Parsing disk ID value. Not a number.\n"},
      {{{kModName, "x"}, {kModDiskId, "2"}, {kModDiskId, "3"}, {kModRaidLevel, "5"}},
       "Error: RAID 5 needs at least 3 disks.\n"},
      {{{kModName, longName}, {kModDiskId, "2"}, {kModRaidLevel, "0"}},
       "Error: Parsing Array Name. Too long.\n"},
      {{{kModName, "x"}, {kModDiskId, "2"}, {kModRaidLevel, "0"}, {kModStripeSize, "96"}},
       "Error: Parsing stripe size. Out of range.\n"},
      {{{kModName, "x"}, {kModDiskId, "2"}, {kModRaidLevel, "0"}, {kModWriteCache, "3"}},
       "Error: Parsing write cache value. Out of range.\n"},
      {seventeen, "Error: Too many disks specified for array.\n"},
  };
  for (const Case& c : cases) {
    clearOutput();
    modifiers(c.modifiers);
    EXPECT_EQ(arrayCreate(ctx()), 1);
    EXPECT_EQ(text(), c.error);
  }
  EXPECT_TRUE(operations().empty());
}

TEST_F(ArrayCommands, ControllerRefusalPrintsSenseAndSavesNothing) {
  addDisks(4);
  refuse(kOpCreateArray);
  modifiers({{kModName, "x"}, {kModDiskId, "0"}, {kModDiskId, "1"}, {kModRaidLevel, "1"}});
  EXPECT_EQ(arrayCreate(ctx()), 1);
  EXPECT_EQ(text(), "Error: Cannot create array. Status: 2 Sense: 5/26/00\n");
  EXPECT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpCreateArray}));
}

TEST_F(ArrayCommands, DeleteNamesTheArrayByNameAndRefusesOneThatHoldsDrives) {
  addDisks(6);
  addArray(0, kRaid1, {0, 1}, "first");
  addArray(3, kRaid5, {2, 3, 4}, "third");
  addLogical(0, 0, 100, 0);
  modifiers({{kModArrayId, "first"}});
  EXPECT_EQ(arrayDelete(ctx()), 1);
  EXPECT_EQ(text(), "Error: Array 0 holds Logical Drives 0. Delete them first.\n");
  EXPECT_TRUE(operations().empty());

  modifiers({{kModArrayId, "third"}});
  ASSERT_EQ(arrayDelete(ctx()), 0);
  ASSERT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpDeleteArray, kOpConfigSave}));
  EXPECT_EQ(operations()[1].p3, 0);
  EXPECT_EQ(operations()[1].p4, 3);
}

TEST_F(ArrayCommands, ArrayWordsThatNameNothing) {
  addDisks(3);
  modifiers({{kModArrayId, "0"}});
  EXPECT_EQ(arrayDelete(ctx()), 1);
  addArray(1, kRaid0, {0});
  modifiers({{kModArrayId, "0"}});
  EXPECT_EQ(arrayDelete(ctx()), 1);
  modifiers({{kModArrayId, "nosuch"}});
  EXPECT_EQ(arrayDelete(ctx()), 1);
  modifiers({{kModArrayId, "64"}});
  EXPECT_EQ(arrayDelete(ctx()), 1);
  EXPECT_EQ(text(),
            "Error: No arrays exist.\nError: Array index out of range.\nError: Parsing array index.\n"
            "Error: Array index out of range.\n");
}

TEST_F(ArrayCommands, SetKeepsUnnamedCacheSettingsAndRenames) {
  addDisks(3);
  ArrayRecord& a = addArray(2, kRaid5, {0, 1, 2});
  a.readAheadKb = 512;
  a.writeBackMb = 64;
  a.cacheFlags = kCacheWriteBack | kCacheUps;
  modifiers({{kModArrayId, "2"}, {kModName, "renamed"}, {kModWriteCache, "max"}, {kModWriteCache1, "on"}});
  ASSERT_EQ(arraySet(ctx()), 0) << text();
  const auto ops = operations();
  ASSERT_EQ(operationIds(),
            (std::vector<uint8_t>{kOpConfigStart, kOpRenameArray, kOpChangeArray, kOpConfigSave}));
  EXPECT_EQ(ops[1].p3, 2);
  EXPECT_STREQ(ops[1].as<NameBlock32>().name, "renamed");
  EXPECT_EQ(ops[2].p3, 2);
  EXPECT_EQ(ops[2].p4, kCacheWriteBack | kCacheUps | kCacheMirror);
  EXPECT_EQ(ops[2].p5, 10 << 4 | 3) << "write-back max, read-ahead 512 KB kept";

  clearSent();
  a.writeBackMb = 100;  // not a code of its own: the largest power of two below
  modifiers({{kModArrayId, "2"}, {kModReadCache, "disabled"}});
  ASSERT_EQ(arraySet(ctx()), 0);
  EXPECT_EQ(operations()[1].p5, 7 << 4 | 1);
}

TEST_F(ArrayCommands, IdentifyBlinksEachMemberOnTheLoopThatSeesIt) {
  addDisks(4);
  addArray(0, kRaid1, {1, 3});
  ctx().drives->entries[3].loop1Id = kNotOnLoop;
  modifiers({{kModTime, "30"}});
  ASSERT_EQ(arrayIdentify(ctx()), 0) << text();
  const auto ops = operations();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].id, kOpIdentify);
  EXPECT_EQ(ops[0].p3, 0);
  EXPECT_EQ(ops[0].p4, 11) << "the controller's drive ID, not the list index";
  EXPECT_EQ(ops[0].p5, 30);
  EXPECT_EQ(ops[1].p3, 1) << "only the second loop sees disk 3";
  EXPECT_EQ(ops[1].p4, 13);
  EXPECT_EQ(text(), "Array 0: disks 1 3 blink for 30 seconds.\n");

  refuse(kOpIdentify);
  modifiers({{kModTime, "5"}, {kModArrayId, "0"}});
  EXPECT_EQ(arrayIdentify(ctx()), 1);
  EXPECT_NE(text().find("Error: Cannot blink array 0. Status: 2 Sense: 5/26/00\n"), std::string::npos);
  modifiers({{kModTime, "0"}});
  EXPECT_EQ(arrayIdentify(ctx()), 1);
  EXPECT_NE(text().find("Error: Parsing ident time. Out of range.\n"), std::string::npos);
}

TEST_F(ArrayCommands, RebuildChoosesTheFailedMemberAndChecksTheTarget) {
  addDisks(6);
  ArrayRecord& a = addArray(1, kRaid5, {0, 1, 2});
  a.memberStatus[1] = kMemberFailed;
  a.faultStatus = kFaultDegraded;
  modifiers({{kModArrayId, "1"}, {kModDiskId, "2"}});
  EXPECT_EQ(arrayRebuild(ctx()), 1);
  EXPECT_EQ(text(), "Error: Disk not available for use. Disk 2.\n") << "a member of the array";
  modifiers({{kModArrayId, "1"}, {kModDiskId, "5"}, {kModFailedDiskId, "4"}});
  EXPECT_EQ(arrayRebuild(ctx()), 1);
  EXPECT_NE(text().find("Error: Disk 4 is not a member of array 1.\n"), std::string::npos);
  EXPECT_TRUE(operations().empty());

  modifiers({{kModArrayId, "1"}, {kModDiskId, "5"}});
  ASSERT_EQ(arrayRebuild(ctx()), 0) << text();
  ASSERT_EQ(operationIds(), std::vector<uint8_t>{kOpRebuildDrive});
  const auto block = operations()[0].as<RebuildBlock>();
  EXPECT_EQ(block.array, 1);
  EXPECT_EQ(block.member, 1);
  uint8_t wwn[8];
  testing::diskWwn(5, wwn);
  EXPECT_EQ(0, memcmp(block.wwn, wwn, 8));
  EXPECT_NE(text().find("(job 201)"), std::string::npos);
}

TEST_F(ArrayCommands, CheckAndInitializeSendTheirBytes) {
  addDisks(3);
  addArray(4, kRaid5, {0, 1, 2});
  modifiers({{kModArrayId, "4"}, {kModMode, "3"}});
  ASSERT_EQ(arrayCheck(ctx()), 0);
  modifiers({{kModArrayId, "4"}, {kModPause, "."}});
  ASSERT_EQ(arrayInitialize(ctx()), 0);
  const auto ops = operations();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].id, kOpStartParityCheck);
  EXPECT_EQ(ops[0].p3, kOff);
  EXPECT_EQ(ops[0].p4, 4);
  EXPECT_EQ(ops[0].p5, 3);
  EXPECT_EQ(ops[1].id, kOpInitializeArray);
  EXPECT_EQ(ops[1].p3, 4);
  EXPECT_EQ(ops[1].p4, kInitPause);
  EXPECT_NE(text().find("Initialization operation successful.\n"), std::string::npos);

  refuse(kOpInitializeArray);
  modifiers({{kModArrayId, "4"}});
  EXPECT_EQ(arrayInitialize(ctx()), 1);
  EXPECT_NE(text().find("Error: Cannot Initialize Array 4. Status: 2 Sense: 5/26/00\n"), std::string::npos);
  modifiers({{kModArrayId, "4"}, {kModMode, "4"}});
  EXPECT_EQ(arrayCheck(ctx()), 1);
  EXPECT_NE(text().find("Error: Parsing mode value. Out of range.\n"), std::string::npos);
}

TEST_F(ArrayCommands, DisplaySummaryLinesUpUnderTheHeader) {
  addDisks(8);
  ArrayRecord& a = addArray(0, kRaid5, {0, 1, 2}, "database");
  a.capacityGb = 1844;
  addArray(7, kRaid10, {3, 4, 5, 6}, "logs");
  ctx().info->jobBufferAvailable = kOn;
  jobs_.arrays[7] = {kOn, 42, kJobInit, 0};
  modifiers({{kModSummary, "."}});
  ASSERT_EQ(arrayDisplay(ctx()), 0);
  EXPECT_EQ(text(),
            "--- Array Total=2 ---\n"
            " # Name                             RAID      Size Status   Job \n"
            "-- -------------------------------- -------- ----- -------- ----\n"
            " 0 database                         RAID 5    1.8T Optimal  -   \n"
            " 7 logs                             RAID 10   2.7T Optimal  107 \n");
}

TEST_F(ArrayCommands, DisplayBlockShowsMembersJobAndChangeableLabels) {
  addDisks(4);
  ArrayRecord& a = addArray(2, kRaid1, {0, 3}, "mirror");
  a.memberStatus[1] = kMemberRebuilding;
  a.faultStatus = kFaultRebuilding;
  ctx().info->rebuildValid = kOn;
  ctx().info->rebuildArray = 2;
  ctx().info->rebuildPercent = 50;
  addLogical(5, 2, 200, 3, "vol");
  modifiers({{kModExpanded, "."}});
  ASSERT_EQ(arrayDisplay(ctx()), 0);
  const std::string out = text();
  EXPECT_EQ(out.rfind("--- Array Total=1 ---\n--- Array 2 ---", 0), 0u) << out;
  EXPECT_NE(out.find("                                 Name* : mirror\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Status : Rebuilding\n"), std::string::npos);
  EXPECT_NE(out.find("Member Disks : 2 (IDs 0 3(Rebuilding))\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Job : Rebuild [##########..........]  50% (job 202)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Logical Drives : 5\n"), std::string::npos);
  EXPECT_NE(out.find("Write Back Cache* : 16 MB\n"), std::string::npos);
  EXPECT_NE(out.find("Member 1 : Disk 3   Rebuilding 931 GB, WWN 5000C50000000103\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Logical Drive 5 : \"vol\", 200 GB here\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace brivo::cli
