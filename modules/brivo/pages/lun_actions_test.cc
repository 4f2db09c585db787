// The logical-drive methods against a pair kept in memory: region spreading, the internal drive's
// host LUN, refusals that stop the bracket, change planning and the delete's reference check.
#include <gtest/gtest.h>

#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;
using testing::SentOp;

template <typename Block>
Block blockOf(const SentOp& op) {
  Block block{};
  EXPECT_EQ(op.block.size(), sizeof(Block)) << "operation 0x" << std::hex << int(op.id);
  std::memcpy(&block, op.block.data(), std::min(op.block.size(), sizeof(Block)));
  return block;
}

class LunActionsTest : public testing::PageTest {};

TEST_F(LunActionsTest, CreationSpreadsCapacityOverTheRegionsAndShiftsLaterIndexes) {
  pair_.addFreeRegion(0, 3, 100);
  pair_.addFreeRegion(1, 5, 200);
  auto reply = run(createNewHostLunMethod, requestFor({{"Capacity", "250"},
                                                       {"NextHostLunNumber", "0"},
                                                       {"MappedLunNumber", "7"},
                                                       {"HostLunName", "data"},
                                                       {"BlockSizeBytes", "512"},
                                                       {"PortC0P1", "true"},
                                                       {"RegionNumber0", "3"},
                                                       {"RegionSpace0", "100"},
                                                       {"RegionNumber1", "5"},
                                                       {"RegionSpace1", "200"}}));
  const auto ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0x91, 0xA5, 0xA9, 0x82, 0x80}));
  const auto create = blockOf<CreateLogicalDriveBlock>(ops[1]);
  EXPECT_EQ(create.sizeGb, 100);
  EXPECT_EQ(create.region, 3);
  EXPECT_EQ(create.availability, 0x02) << "SAS drives behind FC host ports: each port its own bit";
  EXPECT_EQ(create.blockSizeCode, 0);
  EXPECT_STREQ(create.name, "data");
  const auto grow = blockOf<GrowLogicalDriveBlock>(ops[2]);
  EXPECT_EQ(grow.sizeGb, 150);
  EXPECT_EQ(grow.region, 4) << "region 5 moved down once region 3 was used up";
  EXPECT_EQ(ops[2].cdb[3] << 8 | ops[2].cdb[4], 0);
  const auto lun = blockOf<SetHostLunBlock>(ops[3]);
  EXPECT_EQ(lun.logicalDrive, 0);
  EXPECT_EQ(lun.hostLun, 7);
  EXPECT_EQ(reply["MessageIsSuccess"], "true");
  EXPECT_EQ(reply["MessageSummary"], "The command \"Create logical drive\" completed successfully.");
  EXPECT_EQ(reply["HTMLPath"], "../../html/Brivo/lun/lun_create.htm");
  EXPECT_TRUE(takeConfigurationChanged());
}

TEST_F(LunActionsTest, PairedPortsAndOtherBlockSizes) {
  setInterfaces(kInterfaceSata, kInterfaceFc, 2);
  pair_.addFreeRegion(0, 0, 50);
  run(createNewHostLunMethod, requestFor({{"Capacity", "10"},
                                          {"NextHostLunNumber", "0"},
                                          {"MappedLunNumber", "0"},
                                          {"BlockSizeBytes", "4096"},
                                          {"PortC1P1", "on"},
                                          {"RegionNumber0", "0"},
                                          {"RegionSpace0", "50"}}));
  const auto ops = writes();
  ASSERT_GE(ops.size(), 2u);
  const auto create = blockOf<CreateLogicalDriveBlock>(ops[1]);
  EXPECT_EQ(create.availability, 0x0A) << "port 1 of both controllers";
  EXPECT_EQ(create.blockSizeCode, 4096);
  EXPECT_EQ(create.sizeGb, 10);
}

TEST_F(LunActionsTest, FailedCreationStopsTheRegionLoopWithoutLunOrSave) {
  pair_.addFreeRegion(0, 0, 100);
  pair_.addFreeRegion(1, 1, 100);
  pair_.refusedWrites.insert(kOpCreateLogicalDrive);
  auto reply = run(createNewHostLunMethod, requestFor({{"Capacity", "150"},
                                                       {"NextHostLunNumber", "0"},
                                                       {"MappedLunNumber", "1"},
                                                       {"RegionNumber0", "0"},
                                                       {"RegionSpace0", "100"},
                                                       {"RegionNumber1", "1"},
                                                       {"RegionSpace1", "100"}}));
  EXPECT_EQ(idsOf(writes()), (std::vector<uint8_t>{0x80, 0x91, 0x80}));
  EXPECT_EQ(reply["MessageIsSuccess"], "false");
  EXPECT_NE(reply["MessageDetails"].find("05/24/00"), std::string::npos) << reply["MessageDetails"];
  EXPECT_FALSE(takeConfigurationChanged());
}

TEST_F(LunActionsTest, InternalDriveWithoutFreeHostLunIsCreatedWithoutOne) {
  for (int i = 0; i < 511; ++i) pair_.addDrive(i, static_cast<uint16_t>(i));
  pair_.config->header.controllerLun = 511;
  pair_.info.controllers[0].firmwareLevel = 515u << 16;  // the controller's LUN shares the host LUNs
  pair_.addFreeRegion(0, 0, 10);
  VariableTable request = requestFor({{"Capacity", "5"},
                                      {"NextHostLunNumber", "511"},
                                      {"CreateInternalLd", "true"},
                                      {"RegionNumber0", "0"},
                                      {"RegionSpace0", "10"}});
  auto reply = run(createNewHostLunMethod, request);
  auto ops = writes();
  EXPECT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0x91, 0x82, 0x80}));
  ASSERT_GE(ops.size(), 2u);
  EXPECT_EQ(blockOf<CreateLogicalDriveBlock>(ops[1]).availability, kAvailabilityInternal);
  EXPECT_EQ(reply["MessageIsSuccess"], "true");

  // Newer firmware keeps the controller's LUN apart: 511 is free for the drive.
  fake_->clearSent();
  pair_.info.controllers[0].firmwareLevel = 516u << 16;
  run(createNewHostLunMethod, requestFor({{"Capacity", "5"},
                                          {"NextHostLunNumber", "511"},
                                          {"CreateInternalLd", "1"},
                                          {"RegionNumber0", "0"},
                                          {"RegionSpace0", "10"}}));
  ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0x91, 0xA9, 0x82, 0x80}));
  EXPECT_EQ(blockOf<SetHostLunBlock>(ops[2]).hostLun, 511);
}

TEST_F(LunActionsTest, UnusableCreationsSendNothing) {
  pair_.addFreeRegion(0, 0, 100);
  pair_.addDrive(0, 0);
  const auto attempt = [&](std::initializer_list<std::pair<const char*, const char*>> keys) {
    fake_->clearSent();
    auto reply = run(createNewHostLunMethod, requestFor(keys));
    EXPECT_TRUE(writes().empty()) << reply["MessageDetails"];
    return reply["MessageDetails"];
  };
  const std::string unusable = attempt({{"Capacity", "0"},
                                        {"NextHostLunNumber", "1"},
                                        {"MappedLunNumber", "1"},
                                        {"RegionNumber0", "0"},
                                        {"RegionSpace0", "100"}});
  EXPECT_EQ(unusable.rfind("The command was not sent", 0), 0u) << unusable;
  attempt({{"Capacity", "10"}, {"MappedLunNumber", "1"}, {"RegionNumber0", "0"}, {"RegionSpace0", "100"}});
  attempt({{"Capacity", "10"}, {"NextHostLunNumber", "1"}, {"RegionNumber0", "0"}, {"RegionSpace0", "100"}});
  // More than the chosen regions hold: no smaller drive than asked for.
  attempt({{"Capacity", "101"},
           {"NextHostLunNumber", "1"},
           {"MappedLunNumber", "1"},
           {"RegionNumber0", "0"},
           {"RegionSpace0", "100"}});
  // Drive 0 exists now; a page that still offers number 0 is stale.
  const std::string stale = attempt({{"Capacity", "10"},
                                     {"NextHostLunNumber", "0"},
                                     {"MappedLunNumber", "1"},
                                     {"RegionNumber0", "0"},
                                     {"RegionSpace0", "100"}});
  EXPECT_NE(stale.find("changed since this page was shown"), std::string::npos) << stale;
}

TEST_F(LunActionsTest, ExpansionGrowsTheDriveInEveryRegion) {
  pair_.addDrive(2, 4);
  auto reply = run(expandHostLunMethod, requestFor({{"Capacity", "30"},
                                                    {"HostLunNumber", "2"},
                                                    {"RegionNumber0", "1"},
                                                    {"RegionSpace0", "20"},
                                                    {"RegionNumber2", "4"},
                                                    {"RegionSpace2", "40"}}));
  const auto ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0xA5, 0xA5, 0x82, 0x80}));
  EXPECT_EQ(blockOf<GrowLogicalDriveBlock>(ops[1]).region, 1);
  EXPECT_EQ(blockOf<GrowLogicalDriveBlock>(ops[2]).region, 3);
  EXPECT_EQ(blockOf<GrowLogicalDriveBlock>(ops[2]).sizeGb, 10);
  EXPECT_EQ(ops[1].cdb[4], 2);
  EXPECT_EQ(reply["CloseParent"], "true");
  EXPECT_EQ(reply["HTMLPath"], "../Common/MessagePopupPanel.htm");
}

TEST_F(LunActionsTest, ChangeSendsWhatDiffersAndEverythingWhenTheDriveCannotBeRead) {
  LogicalDriveRecord& drive = pair_.addDrive(3, 9);
  drive.availability = 0x01;
  std::strcpy(drive.name, "old");
  auto reply = run(
      changeHostLunParamsMethod,
      requestFor(
          {{"HostLunNumber", "3"}, {"PortC0P0", "true"}, {"HostLunName", "new"}, {"MappedLunNumber", "9"}}));
  auto ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0xA8, 0x82, 0x80}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ops[1].block.data())), "new");
  EXPECT_EQ(reply["HTMLPath"], "../../html/Brivo/lun/lun_info.htm");
  EXPECT_EQ(reply["MessageIsSuccess"], "true");

  fake_->clearSent();
  pair_.refusedReads.insert(kOpReadLogicalDrive);
  run(changeHostLunParamsMethod,
      requestFor(
          {{"HostLunNumber", "3"}, {"PortC0P0", "true"}, {"HostLunName", "old"}, {"MappedLunNumber", "9"}}));
  ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x80, 0x9D, 0xA8, 0xA9, 0x82, 0x80}));
  EXPECT_EQ(ops[1].cdb[5], 0x01);
  EXPECT_EQ(blockOf<SetHostLunBlock>(ops[3]).hostLun, 9);

  // A snapshot area keeps its internal mark whatever ports the form sent.
  fake_->clearSent();
  pair_.refusedReads.clear();
  pair_.addDrive(5, kLunNone).availability = kAvailabilityInternal;
  run(changeHostLunParamsMethod, requestFor({{"HostLunNumber", "5"}, {"HostLunName", "area"}}));
  EXPECT_EQ(idsOf(writes()), (std::vector<uint8_t>{0x80, 0xA8, 0x82, 0x80}));
}

TEST_F(LunActionsTest, RefusedChangeIsReportedAndNotSaved) {
  pair_.addDrive(1, 2);
  pair_.refusedWrites.insert(kOpChangeAvailability);
  auto reply = run(changeHostLunParamsMethod,
                   requestFor({{"HostLunNumber", "1"}, {"PortC1P0", "true"}, {"MappedLunNumber", "5"}}));
  EXPECT_EQ(idsOf(writes()), (std::vector<uint8_t>{0x80, 0x9D, 0xA9, 0x80}));
  EXPECT_EQ(reply["MessageIsSuccess"], "false");
  EXPECT_FALSE(takeConfigurationChanged());
}

TEST_F(LunActionsTest, DeleteChecksTheReferenceAndReleasesSnapshotsFirst) {
  pair_.addDrive(4, 1, 77);
  pair_.info.controllers[0].snapshotGeneration = 2;
  pair_.areas.areas[4].valid = kOn;
  auto stale = run(deleteHostLunMethod, requestFor({{"HostLunNumber", "4"}, {"LunRefNum", "76"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(stale["MessageIsSuccess"], "false");
  EXPECT_EQ(stale.count("CloseParent"), 0u);

  auto reply = run(deleteHostLunMethod, requestFor({{"HostLunNumber", "4"}, {"LunRefNum", "77"}}));
  const auto ops = writes();
  ASSERT_EQ(idsOf(ops), (std::vector<uint8_t>{0x76, 0x80, 0x80, 0xB1, 0x82, 0x80}));
  EXPECT_EQ(blockOf<SnapshotAreaBlock>(ops[0]).sourceDrive, 4);
  EXPECT_EQ(ops[3].cdb[3] << 8 | ops[3].cdb[4], 4);
  EXPECT_EQ(reply["CloseParent"], "true");
  EXPECT_EQ(reply["MessageIsSuccess"], "true");

  fake_->clearSent();
  auto missing = run(deleteHostLunMethod, requestFor({{"HostLunNumber", "(missing)"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(missing["MessageIsSuccess"], "false");
}

TEST_F(LunActionsTest, PagesOfferRegionsNextNumberAndReference) {
  pair_.addDrive(0, 3, 41);
  pair_.addDrive(2, kLunNone, 42);
  pair_.addFreeRegion(0, 0, 60);
  pair_.addFreeRegion(2, 1, 40);
  auto create = run(getCreateNewHostLunInformationMethod, requestFor({}));
  EXPECT_EQ(create["NextHostLunNumber"], "1");
  EXPECT_EQ(create["MappedLunNumber"], "0");
  EXPECT_EQ(create["RegionNumber1"], "1");
  EXPECT_EQ(create["RegionSpace1"], "40");
  EXPECT_EQ(create["RegionLoop"], "2");
  EXPECT_EQ(create["TotalFreeGb"], "100");
  EXPECT_EQ(create["PortsPaired"], "false");

  auto info = run(getHostLunInformationMethod, requestFor({{"HostLunNumber", "2"}}));
  EXPECT_EQ(info["LunRefNum"], "42");
  EXPECT_EQ(info["MappedLunNumber"], "");
  EXPECT_EQ(info["LunLoop"], "2");
  EXPECT_EQ(info["LunLoop1Selected"], "true");
  EXPECT_EQ(info["LunLoop0HostLun"], "3");

  pair_.refusedReads.insert(kOpReadConfiguration);
  auto failed = run(getHostLunInformationMethod, requestFor({}));
  EXPECT_EQ(failed["ReadFailed"], "true");
  EXPECT_EQ(failed["LastFailureSenseData"], "05/24/00");
}

}  // namespace
}  // namespace brivo
