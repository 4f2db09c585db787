// The brivo model's configuration through the SCSI layer: the 0x80/0x82 bracket, arrays, logical
// drives and regions, spares, mapping, settings, clearing and restoring a whole block.
#include <cstddef>

#include "sim/brivo_test_fixture.h"

namespace brivotest {
namespace {

using BrivoConfig = BrivoSimTest;

// One header setting: the value sent, what the header then holds, a value it refuses.
struct SettingCase {
  uint8_t id;
  size_t offset;  // in the configuration header
  uint8_t sent;
  uint8_t stored;
  uint8_t refused;
};

class BrivoSetting : public BrivoSimTest, public ::testing::WithParamInterface<SettingCase> {};

// A setting works on the open change only, takes its own values, and its change is logged once
// at the save; sending the value it already has logs nothing.
TEST_P(BrivoSetting, StoredInTheHeaderAndLoggedOnceWhenChanged) {
  const SettingCase& s = GetParam();
  EXPECT_TRUE(command(s.id, {}, s.sent).refused(brivo::kAscSequenceError));
  begin();
  EXPECT_TRUE(command(s.id, {}, s.refused).refused(brivo::kAscInvalidCdbField));
  ASSERT_TRUE(command(s.id, {}, s.sent).good());
  save();
  auto cfg = config();
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&cfg->header)[s.offset], s.stored);
  auto logged = [&] {
    if (s.id == brivo::kOpAutoRebuild) return events(0, brivo::kEvAutoRebuild).size();
    size_t n = 0;
    for (const brivo::EventEntry& e : events(0, brivo::kEvConfiguration, brivo::kCfgSetting))
      n += e.reason[1] == s.id && e.reason[2] == s.stored ? 1 : 0;
    return n;
  };
  EXPECT_EQ(logged(), 1u);
  begin();
  ASSERT_TRUE(command(s.id, {}, s.sent).good());
  save();
  EXPECT_EQ(logged(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, BrivoSetting,
    ::testing::Values(
        SettingCase{brivo::kOpAutoRebuild, offsetof(brivo::ConfigurationHeader, autoRebuild), 0, brivo::kOff,
                    2},
        SettingCase{brivo::kOpAlternateNodeName, offsetof(brivo::ConfigurationHeader, differentNodeNames), 1,
                    brivo::kOn, 0x10},
        SettingCase{brivo::kOpAutoDriveFirmware, offsetof(brivo::ConfigurationHeader, autoDriveFirmware),
                    brivo::kOn, brivo::kOn, 7},
        SettingCase{brivo::kOpSingleControllerMode,
                    offsetof(brivo::ConfigurationHeader, singleControllerMode), 1, brivo::kOn, 0xFF},
        SettingCase{brivo::kOpBackgroundVerify, offsetof(brivo::ConfigurationHeader, backgroundVerify), 1,
                    brivo::kOn, 2},
        SettingCase{brivo::kOpAutoSpare, offsetof(brivo::ConfigurationHeader, autoSpare), 1, brivo::kOn, 3},
        SettingCase{brivo::kOpEnclosureSupport, offsetof(brivo::ConfigurationHeader, enclosureSupport), 0,
                    brivo::kOff, 9},
        SettingCase{brivo::kOpRebuildPriority, offsetof(brivo::ConfigurationHeader, rebuildPriority), 90, 90,
                    91},
        SettingCase{brivo::kOpInitPriority, offsetof(brivo::ConfigurationHeader, initPriority), 10, 10, 9},
        SettingCase{brivo::kOpControllerWwnIndex, offsetof(brivo::ConfigurationHeader, controllerWwnIndex), 3,
                    3, 4}));

TEST_F(BrivoConfig, ChangesNeedTheBracketAndOnlySavedChangesCount) {
  brivo::CreateArrayBlock block = arrayBlock(brivo::kRaid5, {0, 1, 2});
  EXPECT_TRUE(command(brivo::kOpCreateArray, bytesOf(block)).refused(brivo::kAscSequenceError));
  EXPECT_TRUE(command(brivo::kOpConfigSave).refused(brivo::kAscSequenceError));
  uint32_t before = config()->header.configurationTime;

  begin();
  ASSERT_TRUE(command(brivo::kOpCreateArray, bytesOf(block)).good());
  EXPECT_EQ(config()->header.arrayCount, 0);  // not saved yet
  begin();                                    // a new change drops the unsaved one
  save();
  EXPECT_EQ(config()->header.arrayCount, 0);
  EXPECT_TRUE(events(0, brivo::kEvArrayCreated).empty());

  begin();
  ASSERT_TRUE(command(brivo::kOpCreateArray, bytesOf(block)).good());
  save();
  auto cfg = config();
  ASSERT_EQ(cfg->header.arrayCount, 1);
  EXPECT_GT(cfg->header.configurationTime, before);
  EXPECT_EQ(cfg->header.changeCount, 2u);
  const brivo::ArrayRecord& a = cfg->arrays[0];
  EXPECT_EQ(a.valid, brivo::kOn);
  EXPECT_EQ(a.raidLevel, brivo::kRaid5);
  EXPECT_EQ(a.driveCount, 3);
  EXPECT_EQ(a.memberCapacityGb, 921u);  // 931 GiB drives less 1 percent held back
  EXPECT_EQ(a.capacityGb, 2 * 921u);
  EXPECT_EQ(a.freeGb, a.capacityGb);
  EXPECT_EQ(a.jobKind, brivo::kJobInit);
  EXPECT_EQ(a.faultStatus, brivo::kFaultUninitialized);
  EXPECT_EQ(std::vector<uint8_t>(a.memberWwn[2], a.memberWwn[2] + 8), driveWwn(2));
  auto created = events(0, brivo::kEvArrayCreated);
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].reason[1], brivo::kRaid5);
  EXPECT_EQ(events(0, brivo::kEvInitStarted).size(), 1u);
  EXPECT_EQ(driveList()->entries[1].usage, brivo::kUsageMember);
  EXPECT_EQ(driveList()->entries[1].member, 1);
}

TEST_F(BrivoConfig, ArraysWithBadLayoutsOrDrivesInUseAreRefused) {
  createArray(brivo::kRaid1, {0, 1});
  begin();
  auto refused = [&](brivo::CreateArrayBlock block) {
    return command(brivo::kOpCreateArray, bytesOf(block)).refused(brivo::kAscInvalidParameter);
  };
  EXPECT_TRUE(refused(arrayBlock(brivo::kRaid5, {2, 3})));           // too few drives for RAID 5
  EXPECT_TRUE(refused(arrayBlock(brivo::kRaid5, {1, 2, 3})));        // drive 1 is a member already
  EXPECT_TRUE(refused(arrayBlock(brivo::kRaid5, {2, 2, 3})));        // the same drive twice
  EXPECT_TRUE(refused(arrayBlock(brivo::kRaid6, {2, 3, 4, 5}, 1)));  // RAID 6 has 2 parity drives
  EXPECT_TRUE(refused(arrayBlock(brivo::kRaid10, {2, 3, 4})));       // odd count
  EXPECT_TRUE(refused(arrayBlock(0x07, {2, 3, 4})));
  ctl("fail drive alpha 9");
  EXPECT_TRUE(refused(arrayBlock(brivo::kRaid0, {9})));
  ASSERT_TRUE(
      command(brivo::kOpCreateArray, bytesOf(arrayBlock(brivo::kRaid50, {2, 3, 4, 5, 6, 7}, 2))).good());
  save();
  auto cfg = config();
  EXPECT_EQ(cfg->arrays[1].capacityGb, 4 * 921u);
  EXPECT_EQ(cfg->arrays[1].parityDrives, 2);
  // A delete of an array that carries a logical drive is refused; an empty one goes.
  begin();
  ASSERT_TRUE(createDrive(10, 0).good());
  EXPECT_TRUE(command(brivo::kOpDeleteArray, {}, 0, 0).refused(brivo::kAscInvalidParameter));
  ASSERT_TRUE(command(brivo::kOpDeleteArray, {}, 0, 1).good());
  save();
  cfg = config();
  EXPECT_EQ(cfg->arrays[1].valid, 0);
  EXPECT_EQ(cfg->arrays[1].faultStatus, brivo::kFaultNone);
  EXPECT_EQ(cfg->header.arrayCount, 1);
  EXPECT_EQ(events(0, brivo::kEvArrayDeleted, 1).size(), 1u);
}

TEST_F(BrivoConfig, LogicalDrivesSpreadOverRegionsAndKeepUniqueLuns) {
  createArray(brivo::kRaid0, {0});
  createArray(brivo::kRaid0, {1});
  begin();
  ASSERT_TRUE(createDrive(100, 0).good());  // drive 0 on array 0
  ASSERT_TRUE(createDrive(50, 1).good());   // drive 1 on array 1
  save();
  Reply r = read(brivo::kModeCommand, brivo::kOpReadRegions, 21656, brivo::kRegionsFreeByte3,
                 brivo::kRegionsFreeByte4);
  ASSERT_TRUE(r.good());
  auto regions = r.as<brivo::RegionInformation>();
  ASSERT_EQ(regions->count, 2);
  EXPECT_EQ(regions->entries[0].array, 0);
  EXPECT_EQ(regions->entries[0].startGb, 100u);
  EXPECT_EQ(regions->entries[0].sizeGb, 821u);
  EXPECT_EQ(regions->entries[1].freeIndex, 1);

  // 250 GB: the first region creates, the next (index shifted down by the consumed one) grows.
  begin();
  ASSERT_TRUE(createDrive(150, 0, 0x05, "big").good());  // consumes most of region 0, drive 2
  brivo::GrowLogicalDriveBlock grow{};
  grow.sizeGb = 100;
  grow.region = 1;
  ASSERT_TRUE(command(brivo::kOpGrowLogicalDrive, bytesOf(grow), 0, 2).good());
  brivo::SetHostLunBlock lun{2, 7};
  ASSERT_TRUE(command(brivo::kOpSetHostLun, bytesOf(lun)).good());
  brivo::SetHostLunBlock clash{0, 7};
  EXPECT_TRUE(command(brivo::kOpSetHostLun, bytesOf(clash)).refused(brivo::kAscInvalidParameter));
  grow.sizeGb = 5000;
  EXPECT_TRUE(command(brivo::kOpGrowLogicalDrive, bytesOf(grow), 0, 2).refused(brivo::kAscInvalidParameter));
  save();
  auto cfg = config();
  const brivo::LogicalDriveRecord& big = cfg->logicalDrives[2];
  EXPECT_EQ(big.sizeGb, 250u);
  ASSERT_EQ(big.segmentCount, 2);
  EXPECT_EQ(big.segments[1].array, 1);
  EXPECT_EQ(big.segments[1].startGb, 50u);
  EXPECT_EQ(big.hostLun, 7);
  EXPECT_STREQ(big.name, "big");
  EXPECT_EQ(cfg->header.logicalDriveCount, 3);
  EXPECT_EQ(cfg->arrays[0].freeGb, 921u - 250u);
  Reply one = read(brivo::kModeCommand, brivo::kOpReadLogicalDrive, 576, 0, 0, 2);
  ASSERT_TRUE(one.good());
  EXPECT_EQ(one.as<brivo::LogicalDriveRecord>()->referenceNumber, big.referenceNumber);

  // Deleting drive 0 leaves a gap; the next creation takes number 0 with a new reference.
  uint16_t oldReference = cfg->logicalDrives[0].referenceNumber;
  begin();
  ASSERT_TRUE(command(brivo::kOpDeleteLogicalDrive, {}, 0, 0).good());
  save();
  EXPECT_EQ(config()->logicalDrives[0].valid, 0);
  EXPECT_EQ(config()->header.logicalDriveCount, 3);
  begin();
  ASSERT_TRUE(createDrive(10, 0).good());
  save();
  EXPECT_EQ(config()->logicalDrives[0].valid, brivo::kOn);
  EXPECT_NE(config()->logicalDrives[0].referenceNumber, oldReference);
}

TEST_F(BrivoConfig, SparesMappingNamesAndSettings) {
  int array = createArray(brivo::kRaid5, {0, 1, 2});
  begin();
  brivo::HotSpareBlock global{};
  std::memcpy(global.wwn, driveWwn(3).data(), 8);
  global.array = brivo::kSpareGlobal;
  ASSERT_TRUE(command(brivo::kOpAddHotSpare, bytesOf(global)).good());
  brivo::HotSpareBlock dedicated{};
  std::memcpy(dedicated.wwn, driveWwn(4).data(), 8);
  dedicated.array = static_cast<uint8_t>(array);
  ASSERT_TRUE(command(brivo::kOpAddHotSpare, bytesOf(dedicated)).good());
  EXPECT_TRUE(command(brivo::kOpAddHotSpare, bytesOf(global)).refused(brivo::kAscInvalidParameter));
  ASSERT_TRUE(createDrive(20, 0).good());
  brivo::MappingTable map{};
  map.count = 1;
  map.entries[0] = {
      {0x21, 0, 0, 0x1B, 0x32, 0, 0, 1}, {0x20, 0, 0, 0x1B, 0x32, 0, 0, 1}, 0, 3, 0x05, 0, brivo::kOn, 0};
  ASSERT_TRUE(command(brivo::kOpWriteMapping, bytesOf(map)).good());
  brivo::NameBlock64 name{};
  std::strncpy(name.name, "production", sizeof(name.name));
  ASSERT_TRUE(command(brivo::kOpConfigName, bytesOf(name)).good());
  ASSERT_TRUE(command(brivo::kOpEnclosureSupport, {}, brivo::kOff).good());
  ASSERT_TRUE(command(brivo::kOpRebuildPriority, {}, 70).good());
  EXPECT_TRUE(command(brivo::kOpRebuildPriority, {}, 95).refused(brivo::kAscInvalidCdbField));
  ASSERT_TRUE(command(brivo::kOpHostPortSettings, {}, 0x21, 0x05, 0x10).good());  // 2 Gb/s, ptp, C0P0+C1P0
  // Packing is a feature these controllers do not report, so they refuse its bit.
  EXPECT_EQ(info()->controllers[0].features & brivo::kFeatureHostPortPacking, 0);
  EXPECT_TRUE(command(brivo::kOpHostPortSettings, {}, 0x21 | brivo::kHostPortPackBit, 0x01, 0x10)
                  .refused(brivo::kAscInvalidCdbField));
  save();
  auto cfg = config();
  EXPECT_EQ(cfg->header.hotSpareCount, 2);
  EXPECT_EQ(cfg->header.mappingCount, 1);
  EXPECT_EQ(cfg->mapping.entries[0].lun, 3);
  EXPECT_STREQ(cfg->header.name, "production");
  EXPECT_EQ(cfg->header.enclosureSupport, brivo::kOff);
  EXPECT_EQ(cfg->header.rebuildPriority, 70);
  EXPECT_EQ(cfg->header.hostPorts[2].dataRate, 2);
  EXPECT_EQ(cfg->header.hostPorts[2].hardId, 0x10);
  EXPECT_EQ(cfg->header.hostPorts[1].hardId, 0xFF);
  auto drives = driveList();
  EXPECT_EQ(drives->entries[3].usage, brivo::kUsageGlobalSpare);
  EXPECT_EQ(drives->entries[4].usage, brivo::kUsageDedicatedSpare);
  EXPECT_EQ(drives->entries[4].array, array);
  EXPECT_EQ(drives->entries[4].hotSpareNumber, 1);
  EXPECT_EQ(events(0, brivo::kEvSpareAdded).size(), 2u);

  begin();
  ASSERT_TRUE(command(brivo::kOpRemoveHotSpare, {}, 0).good());
  ASSERT_TRUE(command(brivo::kOpDeleteLogicalDrive, {}, 0, 0).good());  // takes its mapping along
  save();
  cfg = config();
  EXPECT_EQ(cfg->header.hotSpareCount, 1);
  EXPECT_EQ(cfg->header.mappingCount, 0);
  EXPECT_EQ(driveList()->entries[3].usage, brivo::kUsageFree);
}

class BrivoPacking : public BrivoSimTest {
 protected:
  const char* configText() const override {
    static const std::string packing = [] {
      std::string t = kConfig;
      t.insert(t.find("model.reset_ms"), "model.host_port_packing = 1\n");
      return t;
    }();
    return packing.c_str();
  }
};

TEST_F(BrivoPacking, ControllersThatReportPackingTakeItPerPort) {
  EXPECT_NE(info()->controllers[0].features & brivo::kFeatureHostPortPacking, 0);
  begin();
  ASSERT_TRUE(command(brivo::kOpHostPortSettings, {}, 0x22 | brivo::kHostPortPackBit, 0x02, 0xFF).good());
  ASSERT_TRUE(command(brivo::kOpHostPortSettings, {}, 0x22, 0x04, 0xFF).good());
  save();
  auto cfg = config();
  EXPECT_EQ(cfg->header.hostPorts[1].packing, brivo::kOn);
  EXPECT_EQ(cfg->header.hostPorts[1].connection, 2) << "the packing bit is not part of the connection";
  EXPECT_EQ(cfg->header.hostPorts[2].packing, brivo::kOff);
}

TEST_F(BrivoConfig, ClearAndRestoreTheWholeBlock) {
  createArray(brivo::kRaid1, {0, 1}, 0, brivo::kOff);
  begin();
  ASSERT_TRUE(createDrive(40, 0).good());
  save();
  Reply saved = read(brivo::kModeData, brivo::kOpReadConfiguration, brivo::kConfigurationLength);
  ASSERT_TRUE(saved.good());

  begin();
  ASSERT_TRUE(command(brivo::kOpConfigClear).good());
  save();
  auto cleared = config();
  EXPECT_EQ(cleared->header.arrayCount, 0);
  EXPECT_EQ(cleared->header.logicalDriveCount, 0);
  EXPECT_EQ(cleared->header.name[0], 0);
  EXPECT_EQ(cleared->header.configurationWwn[0], 0x20);  // the pair keeps its identity
  EXPECT_EQ(events(0, brivo::kEvConfiguration, brivo::kCfgCleared).size(), 1u);

  // A block that is not one of ours is refused at its last piece and changes nothing.
  std::vector<uint8_t> bad = saved.data;
  bad[4] = 'X';
  for (uint32_t offset = 0; offset < bad.size(); offset += 0x40000) {
    size_t n = std::min<size_t>(0x40000, bad.size() - offset);
    Reply r = writeData(brivo::kModeData, brivo::kOpRestoreConfiguration, offset,
                        std::vector<uint8_t>(bad.begin() + offset, bad.begin() + offset + n));
    if (offset + n < bad.size())
      ASSERT_TRUE(r.good());
    else
      EXPECT_TRUE(r.refused(brivo::kAscInvalidParameter));
  }
  EXPECT_EQ(config()->header.arrayCount, 0);
  EXPECT_TRUE(writeData(brivo::kModeData, brivo::kOpRestoreConfiguration, 0x1000, std::vector<uint8_t>(16))
                  .refused(brivo::kAscSequenceError));

  for (uint32_t offset = 0; offset < saved.data.size(); offset += 0x40000) {
    size_t n = std::min<size_t>(0x40000, saved.data.size() - offset);
    ASSERT_TRUE(writeData(brivo::kModeData, brivo::kOpRestoreConfiguration, offset,
                          std::vector<uint8_t>(saved.data.begin() + offset, saved.data.begin() + offset + n))
                    .good());
  }
  auto restored = config();
  EXPECT_EQ(restored->header.arrayCount, 1);
  EXPECT_EQ(restored->logicalDrives[0].sizeGb, 40u);
  EXPECT_EQ(restored->arrays[0].faultStatus, brivo::kFaultUninitialized);
  EXPECT_GT(restored->header.configurationTime, cleared->header.configurationTime);
  EXPECT_EQ(events(0, brivo::kEvConfiguration, brivo::kCfgRestored).size(), 1u);
}

}  // namespace
}  // namespace brivotest
