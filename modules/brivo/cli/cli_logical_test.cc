// The logical-drive handlers against a fake pair: how a size is spread over free regions (indexes
// shifting as regions are used up), the create, grow, host-LUN, rename and delete operations as
// the controller receives them, what a refusal leaves unsent, and the display.
#include <gtest/gtest.h>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_logical_plan.h"
#include "modules/brivo/cli/cli_storage_test_support.h"

namespace brivo::cli {
namespace {

class LogicalCommands : public testing::StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    addDisks(8);
    addArray(0, kRaid1, {0, 1}, "small");
    addArray(1, kRaid5, {2, 3, 4}, "big");
  }
};

TEST_F(LogicalCommands, PiecesFollowTheFreeRegionsOfOneArray) {
  addFreeRegion(0, 0, 40);
  addFreeRegion(1, 1, 100);  // free regions of array 1 are 1 and 2
  addFreeRegion(1, 2, 200);
  std::vector<CapacityPiece> pieces = planPieces(*regions_, 1, 250);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].region, 1);
  EXPECT_EQ(pieces[0].sizeGb, 100);
  EXPECT_EQ(pieces[1].region, 1) << "region 2 moved down when region 1 was used up";
  EXPECT_EQ(pieces[1].sizeGb, 150);
  EXPECT_EQ(freeOnArray(*regions_, 1), 300u);
  EXPECT_EQ(planPieces(*regions_, 1, 60).size(), 1u);

  RegionInformation huge{};
  huge.count = 2;
  huge.entries[0] = {0, kRegionFree, 0, 0xFFFF, 0, 0, 70000, {}};
  huge.entries[1] = {0, kRegionFree, 1, 0xFFFF, 0, 0, 10, {}};
  pieces = planPieces(huge, 0, 70005);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].region, 0);
  EXPECT_EQ(pieces[0].sizeGb, 65535);
  EXPECT_EQ(pieces[1].region, 0) << "a region left in part keeps its index";
  EXPECT_EQ(pieces[1].sizeGb, 70000 - 65535);
  EXPECT_EQ(pieces[2].region, 0) << "the first region is used up now";
  EXPECT_EQ(pieces[2].sizeGb, 5);
}

TEST_F(LogicalCommands, CreateBuildsGrowsAndSetsTheLun) {
  addLogical(0, 0, 10, 0);
  addLogical(2, 0, 10, 1);
  addFreeRegion(1, 1, 100);
  addFreeRegion(1, 2, 200);
  modifiers(
      {{kModArrayId, "big"}, {kModSize, "250"}, {kModName, "vol"}, {kModPorts, "c0p1"}, {kModPorts, "c1p1"}});
  ASSERT_EQ(logicalCreate(ctx()), 0) << text();
  const auto ops = operations();
  ASSERT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpCreateLogicalDrive, kOpGrowLogicalDrive,
                                                  kOpSetHostLun, kOpConfigSave}));
  const auto create = ops[1].as<CreateLogicalDriveBlock>();
  EXPECT_EQ(ops[1].block.size(), sizeof(CreateLogicalDriveBlock));
  EXPECT_EQ(create.sizeGb, 100);
  EXPECT_EQ(create.region, 1);
  EXPECT_EQ(create.availability, 0x0A);
  EXPECT_EQ(create.blockSizeCode, 0);
  EXPECT_STREQ(create.name, "vol");
  EXPECT_EQ(ops[2].p3, 0);
  EXPECT_EQ(ops[2].p4, 1) << "the new drive takes the lowest free number";
  EXPECT_EQ(ops[2].as<GrowLogicalDriveBlock>().sizeGb, 150);
  EXPECT_EQ(ops[2].as<GrowLogicalDriveBlock>().region, 1);
  EXPECT_EQ(ops[3].as<SetHostLunBlock>().logicalDrive, 1);
  EXPECT_EQ(ops[3].as<SetHostLunBlock>().hostLun, 2) << "the lowest host LUN no drive uses";
  EXPECT_EQ(text(), "Logical Drive 1 created: \"vol\", 250 GB on array 1, host LUN 2, ports C0P1 C1P1.\n");
}

TEST_F(LogicalCommands, CreateStopsAtTheFirstRefusalAndChecksSpaceAndLun) {
  addLogical(0, 0, 10, 7);
  addFreeRegion(1, 0, 100);
  addFreeRegion(1, 1, 100);
  refuse(kOpCreateLogicalDrive);
  modifiers({{kModArrayId, "1"}, {kModSize, "all"}});
  EXPECT_EQ(logicalCreate(ctx()), 1);
  EXPECT_EQ(text(), "Error: Cannot create Logical Drive. Status: 2 Sense: 5/26/00\n");
  EXPECT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpCreateLogicalDrive}))
      << "no growth, no host LUN, no save";

  clearSent();
  clearOutput();
  modifiers({{kModArrayId, "1"}, {kModSize, "201"}});
  EXPECT_EQ(logicalCreate(ctx()), 1);
  modifiers({{kModArrayId, "1"}, {kModSize, "20"}, {kModLun, "7"}});
  EXPECT_EQ(logicalCreate(ctx()), 1);
  modifiers({{kModArrayId, "1"}, {kModSize, "0"}});
  EXPECT_EQ(logicalCreate(ctx()), 1);
  modifiers({{kModArrayId, "1"}, {kModSize, "20"}, {kModPorts, "c2p0"}});
  EXPECT_EQ(logicalCreate(ctx()), 1);
  EXPECT_EQ(text(),
            "Error: Not enough free space on array 1: 200 GB free.\n"
            "Error: Host LUN 7 is already used by Logical Drive 0.\n"
            "Error: Parsing size value. Out of range.\n"
            "Error: Parsing port value. Unknown port c2p0.\n");
  EXPECT_TRUE(operations().empty());
}

TEST_F(LogicalCommands, ExpandGrowsTheNamedDrive) {
  addLogical(300, 0, 10, 0);
  addFreeRegion(0, 0, 30);
  modifiers({{kModArrayId, "0"}, {kModLogicalId, "300"}, {kModSize, "all"}});
  ASSERT_EQ(logicalExpand(ctx()), 0) << text();
  const auto ops = operations();
  ASSERT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpGrowLogicalDrive, kOpConfigSave}));
  EXPECT_EQ(ops[1].p3, 300 >> 8);
  EXPECT_EQ(ops[1].p4, 300 & 0xFF);
  EXPECT_EQ(ops[1].as<GrowLogicalDriveBlock>().sizeGb, 30);
  EXPECT_EQ(text(), "Logical Drive 300 expanded by 30 GB on array 0 to 40 GB.\n");
}

TEST_F(LogicalCommands, SetSendsOnlyWhatWasGiven) {
  addLogical(3, 1, 10, 4);
  addLogical(4, 1, 10, 5);
  modifiers({{kModLogicalId, "3"}, {kModLun, "none"}});
  ASSERT_EQ(logicalSet(ctx()), 0) << text();
  ASSERT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpSetHostLun, kOpConfigSave}));
  EXPECT_EQ(operations()[1].as<SetHostLunBlock>().hostLun, kLunNone);

  clearSent();
  modifiers({{kModLogicalId, "3"}, {kModName, "new"}, {kModPorts, "none"}});
  ASSERT_EQ(logicalSet(ctx()), 0) << text();
  const auto ops = operations();
  ASSERT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpChangeAvailability,
                                                  kOpRenameLogicalDrive, kOpConfigSave}));
  EXPECT_EQ(ops[1].p4, 3);
  EXPECT_EQ(ops[1].p5, 0);
  EXPECT_STREQ(ops[2].as<NameBlock32>().name, "new");

  clearSent();
  clearOutput();
  modifiers({{kModLogicalId, "3"}, {kModLun, "5"}});
  EXPECT_EQ(logicalSet(ctx()), 1);
  modifiers({{kModLogicalId, "3"}, {kModLun, "512"}});
  EXPECT_EQ(logicalSet(ctx()), 1);
  refuse(kOpRenameLogicalDrive);
  modifiers({{kModLogicalId, "4"}, {kModName, "x"}});
  EXPECT_EQ(logicalSet(ctx()), 1);
  EXPECT_EQ(text(),
            "Error: Host LUN 5 is already used by Logical Drive 4.\n"
            "Error: Parsing LUN value. Out of range.\n"
            "Error: Cannot change Logical Drive settings. Status: 2 Sense: 5/26/00\n");
}

TEST_F(LogicalCommands, DeleteTakesAListInOneChange) {
  addLogical(1, 0, 10, 0);
  addLogical(9, 1, 10, 1);
  modifiers({{kModLogicalId, "9"}, {kModLogicalId, "1"}, {kModLogicalId, "9"}});
  ASSERT_EQ(logicalDelete(ctx()), 0);
  const auto ops = operations();
  ASSERT_EQ(operationIds(), (std::vector<uint8_t>{kOpConfigStart, kOpDeleteLogicalDrive,
                                                  kOpDeleteLogicalDrive, kOpConfigSave}));
  EXPECT_EQ(ops[1].p4, 1);
  EXPECT_EQ(ops[2].p4, 9);

  clearOutput();
  modifiers({{kModLogicalId, "2"}});
  EXPECT_EQ(logicalDelete(ctx()), 1);
  modifiers({{kModLogicalId, "x"}});
  EXPECT_EQ(logicalDelete(ctx()), 1);
  modifiers({{kModLogicalId, "512"}});
  EXPECT_EQ(logicalDelete(ctx()), 1);
  EXPECT_EQ(text(),
            "Error: Logical Drive index out of range.\nError: Parsing Logical index. Not a number.\n"
            "Error: Parsing Logical index. Out of range.\n");
}

TEST_F(LogicalCommands, IdentifyBlinksTheDisksOfEveryArrayOnce) {
  LogicalDriveRecord& ld = addLogical(0, 0, 10, 0);
  ld.segmentCount = 3;
  ld.segments[1].array = 1;
  ld.segments[2].array = 0;
  modifiers({{kModLogicalId, "0"}, {kModTime, "9"}});
  ASSERT_EQ(logicalIdentify(ctx()), 0);
  EXPECT_EQ(operations().size(), 5u);
  EXPECT_EQ(text(), "Logical Drive 0: disks 0 1 2 3 4 blink for 9 seconds.\n");
}

TEST_F(LogicalCommands, DisplayBlocksAndSummary) {
  LogicalDriveRecord& ld = addLogical(6, 1, 1500, 12, "exchange");
  ld.availability = 0x05;
  ld.state = kDriveDegraded;
  ld.segmentCount = 2;
  ld.segments[1] = {0, {}, 0, 500};
  ld.sizeGb = 2000;
  MappingTable& map = ctx().config->mapping;
  map.count = 1;
  map.entries[0] = {{0x21, 0, 0, 0xE0, 0x8B, 0, 0, 1}, {}, 6, 3, 0x01, kMappingReadOnly, kOn, 0};
  modifiers({{kModExpanded, "."}});
  ASSERT_EQ(logicalDisplay(ctx()), 0);
  const std::string out = text();
  EXPECT_EQ(out.rfind("--- Logical Drive Total=1 ---\n--- Logical Drive 6 ---", 0), 0u) << out;
  EXPECT_NE(out.find("Size : 2000 GB (1.95 TB)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("State : Degraded\n"), std::string::npos);
  EXPECT_NE(out.find("Host LUN* : 12\n"), std::string::npos);
  EXPECT_NE(out.find("Ports* : C0P0 C1P0\n"), std::string::npos);
  EXPECT_NE(out.find("Arrays : 1 (1500 GB (1.46 TB)), 0 (500 GB)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Mapping 0 : host 210000E08B000001, LUN 3, ro, ports C0P0\n"), std::string::npos) << out;

  clearOutput();
  modifiers({{kModSummary, "."}, {kModLogicalId, "all"}});
  ASSERT_EQ(logicalDisplay(ctx()), 0);
  EXPECT_EQ(text(),
            "--- Logical Drive Total=1 ---\n"
            "  # Name                              Size  LUN State        Ports\n"
            "--- -------------------------------- ----- ---- ------------ -------------------\n"
            "  6 exchange                          1.9T   12 Degraded     C0P0 C1P0\n");
}

}  // namespace
}  // namespace brivo::cli
