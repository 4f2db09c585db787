// The brivo model's read-only buffers through the SCSI layer: controller information, the
// configuration block (whole and in pieces), drive list, topology, prediction, regions, and what
// injected faults (failed controller, drive, battery, sensors, enclosure elements) show in them.
#include "sim/brivo_test_fixture.h"

namespace brivotest {
namespace {

using BrivoInfo = BrivoSimTest;

TEST_F(BrivoInfo, ControllerInformationDescribesBothControllers) {
  Reply r = read(brivo::kModeData, brivo::kOpReadControllerInfo, brivo::kControllerInfoLength, 0, 0, 0, 1);
  ASSERT_TRUE(r.good());
  ASSERT_EQ(r.data.size(), brivo::kControllerInfoLength);
  auto info = r.as<brivo::ControllerInformation>();
  EXPECT_EQ(info->length, brivo::kControllerInfoLength);
  EXPECT_EQ(info->stateA, brivo::kOn);
  EXPECT_EQ(info->stateB, brivo::kOn);
  uint8_t wwn[8] = {0x20, 0, 0, 0, 0, 0, 0x0A, 0x1F};
  for (int c = 0; c < 2; ++c) {
    const brivo::ControllerRecord& rec = info->controllers[c];
    EXPECT_EQ(std::memcmp(rec.configurationWwn, wwn, 8), 0);
    EXPECT_EQ(rec.controllerWwn[7], 0x1F + 1 + c);  // A is wwn + 1, B wwn + 2
    EXPECT_EQ(rec.controllerId, c);
    EXPECT_EQ(rec.serial[0], c == 0 ? 'A' : 'B');
    EXPECT_EQ(
        brivo::controllerType(rec.family, rec.olderFamilyType2, rec.driveInterface, rec.hostInterface & 0x0F),
        6);
    EXPECT_EQ(rec.hostInterface >> 4, 2);
    EXPECT_EQ(rec.driveLoops, 2);
    EXPECT_EQ(rec.batteryState, brivo::kOn);
    EXPECT_EQ(rec.batteryCharge, 100);
    EXPECT_EQ(rec.airTemperature, 30);
    EXPECT_EQ(rec.voltages[0], 12000);
    EXPECT_EQ(rec.hostPort0State, brivo::kOn);
    EXPECT_GE(rec.clock.year, 2024);
  }
  EXPECT_EQ(info->jobBufferAvailable, brivo::kOn);
  EXPECT_EQ(info->enclosures[0].valid, brivo::kOn);
  EXPECT_EQ(info->enclosures[0].wwn[7], 0x33);
  EXPECT_EQ(info->enclosures[1].valid, 0);
}

TEST_F(BrivoInfo, ConfigurationBlockReadsWholeAndInPiecesAndHeaderMatches) {
  Reply whole = read(brivo::kModeData, brivo::kOpReadConfiguration, brivo::kConfigurationLength);
  ASSERT_TRUE(whole.good());
  ASSERT_EQ(whole.data.size(), 940032u);
  auto block = whole.as<brivo::ConfigurationBlock>();
  EXPECT_EQ(block->header.length, 940032u);
  EXPECT_EQ(std::memcmp(block->header.magic, brivo::kConfigMagic, 4), 0);
  EXPECT_EQ(block->header.configurationWwn[0], 0x20);
  EXPECT_STREQ(block->header.name, "alpha");
  EXPECT_EQ(block->header.arrayCount, 0);
  EXPECT_EQ(block->header.enclosureSupport, brivo::kOn);
  EXPECT_EQ(block->header.singleControllerMode, brivo::kOff);

  // In 64 KB pieces at increasing offsets, as a host with a small transfer limit reads it.
  std::vector<uint8_t> pieces;
  for (uint32_t offset = 0; offset < brivo::kConfigurationLength; offset += 0x10000) {
    uint32_t chunk = std::min<uint32_t>(0x10000, brivo::kConfigurationLength - offset);
    Reply r = readAt(brivo::kOpReadConfiguration, offset, chunk);
    ASSERT_TRUE(r.good());
    pieces.insert(pieces.end(), r.data.begin(), r.data.end());
  }
  EXPECT_EQ(pieces, whole.data);
  Reply alias = read(brivo::kModeData, 0x21, 4096);  // the form used by SATA/SCSI pairs
  ASSERT_TRUE(alias.good());
  EXPECT_TRUE(std::equal(alias.data.begin(), alias.data.end(), whole.data.begin()));

  Reply header = read(brivo::kModeCommand, brivo::kOpReadConfigHeader, 512);
  ASSERT_TRUE(header.good());
  ASSERT_EQ(header.data.size(), 512u);
  EXPECT_EQ(header.as<brivo::ConfigurationHeader>()->length, 512u);
  EXPECT_TRUE(std::equal(header.data.begin() + 4, header.data.end(), whole.data.begin() + 4));
}

TEST_F(BrivoInfo, DriveListTopologyPredictionAndProgressBuffers) {
  auto drives = driveList();
  EXPECT_EQ(drives->length, 9080u);
  ASSERT_EQ(drives->count, 12);
  for (int i = 0; i < 12; ++i) {
    const brivo::DriveListEntry& e = drives->entries[i];
    EXPECT_EQ(std::vector<uint8_t>(e.wwn, e.wwn + 8), driveWwn(i));
    EXPECT_EQ(e.loop1Id, i);
    EXPECT_EQ(e.loop2Id, i);
    EXPECT_EQ(e.status, brivo::kDriveGood);
    EXPECT_EQ(e.usage, brivo::kUsageFree);
    EXPECT_EQ(e.array, 0xFF);
    EXPECT_EQ(uint64_t{e.blocks}, 1953525168u);
  }
  Reply topology = read(brivo::kModeData, brivo::kOpReadTopology, sizeof(brivo::HostTopology));
  ASSERT_TRUE(topology.good());
  auto t = topology.as<brivo::HostTopology>();
  EXPECT_EQ(t->length, 12296u);
  EXPECT_EQ(t->count, 4 + 2 * 2);  // four host ports, two initiators seen by each controller
  EXPECT_EQ(t->entries[0].kind, brivo::kTopologyHostPort);
  EXPECT_EQ(t->entries[4].kind, brivo::kTopologyInitiator);

  ctl("model alpha predict.3 1");
  Reply prediction = read(brivo::kModeData, brivo::kOpReadFailurePrediction, 18152);
  ASSERT_TRUE(prediction.good());
  auto p = prediction.as<brivo::FailurePrediction>();
  EXPECT_EQ(p->count, 12);
  EXPECT_EQ(p->entries[3].predicted, brivo::kOn);
  EXPECT_EQ(p->entries[2].predicted, brivo::kOff);
  EXPECT_EQ(driveList()->entries[3].flags & brivo::kDriveFlagPredicted, brivo::kDriveFlagPredicted);

  Reply jobs = read(brivo::kModeCommand, brivo::kOpReadJobProgress, 256);
  ASSERT_TRUE(jobs.good());
  EXPECT_EQ(jobs.data, std::vector<uint8_t>(256, 0));
  Reply regions = read(brivo::kModeCommand, brivo::kOpReadRegions, 21656, 0, brivo::kOn);
  ASSERT_TRUE(regions.good());
  EXPECT_EQ(regions.as<brivo::RegionInformation>()->count, 0);
  EXPECT_TRUE(
      read(brivo::kModeCommand, brivo::kOpReadRegions, 21656, 0, 0x55).refused(brivo::kAscInvalidCdbField));
}

TEST_F(BrivoInfo, UnknownBuffersBadSignaturesAndShortBlocksAreRefused) {
  EXPECT_TRUE(read(brivo::kModeData, 0x4F, 64).refused(brivo::kAscUnknownBuffer));
  EXPECT_TRUE(read(brivo::kModeData, brivo::kOpReadDiagnosticsDump, 64).refused(brivo::kAscSequenceError));
  std::vector<uint8_t> data(16, 0xAA);
  std::vector<uint8_t> cdb = {0x3B, 1, brivo::kOpConfigStart, 0, 0, 0, 0, 0, 16, 0};
  EXPECT_TRUE(send(0, cdb, ScsiDirection::kOut, data).refused(brivo::kAscInvalidParameter));
  begin();
  EXPECT_TRUE(command(brivo::kOpCreateArray, std::vector<uint8_t>(100)).refused(brivo::kAscParameterLength));
  EXPECT_TRUE(command(0x7F).refused(brivo::kAscUnknownBuffer));
  ASSERT_TRUE(command(brivo::kOpPrepareDiagnostics).good());
  Reply dump = read(brivo::kModeData, brivo::kOpReadDiagnosticsDump, 4096);
  ASSERT_TRUE(dump.good());
  uint32_t length = 0;
  std::memcpy(&length, dump.data.data(), 4);
  EXPECT_EQ(length, dump.data.size());
  EXPECT_NE(std::string(dump.data.begin() + 4, dump.data.end()).find("controller A: up"), std::string::npos);
}

TEST_F(BrivoInfo, FailedControllerIsSilentAndSeenByItsPartner) {
  ctl("fail controller alpha B");
  EXPECT_EQ(read(brivo::kModeData, brivo::kOpReadControllerInfo, 1792, 0, 0, 0, 1).result.outcome,
            ScsiOutcome::kNoAnswer);
  auto failed = info(0);
  EXPECT_EQ(failed->stateA, brivo::kOn);
  EXPECT_EQ(failed->stateB, brivo::kOff);
  auto partner = events(0, brivo::kEvPartner);
  ASSERT_EQ(partner.size(), 1u);
  EXPECT_EQ(partner[0].reason[0], 1);
  EXPECT_EQ(partner[0].reason[1], brivo::kPartnerFailed);
  EXPECT_EQ(events(0, brivo::kEvCacheDisabled, 2).size(), 1u);

  ctl("restore controller alpha B");
  EXPECT_EQ(info(1)->stateB, brivo::kOn);
  EXPECT_EQ(events(1, brivo::kEvController, brivo::kCtlStarted).size(), 2u);  // at power-on and now
  EXPECT_EQ(events(0, brivo::kEvPartner, 1).back().reason[1], brivo::kPartnerRestored);
}

TEST_F(BrivoInfo, BatteryTemperatureAndVoltageFaultsShowAndAreLoggedOnce) {
  ctl("set battery alpha A 70");
  ctl("fail battery alpha B");
  ctl("set temperature alpha A 0 60");  // air limit 55 on this controller type
  ctl("set voltage alpha B 0 9000");    // 12 V input below 10.8 V
  auto i = info();
  EXPECT_EQ(i->controllers[0].batteryCharge, 70);
  EXPECT_EQ(i->controllers[1].batteryState, brivo::kOff);
  EXPECT_EQ(i->controllers[0].airTemperature, 60);
  EXPECT_EQ(i->controllers[1].voltages[0], 9000);
  ASSERT_EQ(events(0, brivo::kEvBattery, brivo::kBatteryLow).size(), 1u);
  EXPECT_EQ(events(0, brivo::kEvBattery, brivo::kBatteryLow)[0].reason[1], 70);
  EXPECT_EQ(events(1, brivo::kEvBattery, brivo::kBatteryFailed).size(), 1u);
  ASSERT_EQ(events(0, brivo::kEvTemperatureHigh).size(), 1u);
  EXPECT_EQ(events(0, brivo::kEvTemperatureHigh)[0].reason[2], 55);
  auto volt = events(1, brivo::kEvVoltage, 0);
  ASSERT_EQ(volt.size(), 1u);
  EXPECT_EQ(volt[0].reason[1] | volt[0].reason[2] << 8, 9000);
  EXPECT_EQ(volt[0].reason[3], brivo::kOff);

  ctl("set battery alpha A 60");  // still low: nothing new
  ctl("set temperature alpha A 0 40");
  ctl("set battery alpha A 90");
  ctl("model alpha battery.A disabled");
  EXPECT_EQ(events(0, brivo::kEvBattery, brivo::kBatteryLow).size(), 1u);
  EXPECT_EQ(events(0, brivo::kEvBattery, brivo::kBatteryCharged).size(), 1u);
  EXPECT_EQ(events(0, brivo::kEvTemperatureNormal).size(), 1u);
  EXPECT_EQ(events(0, brivo::kEvBattery, brivo::kBatteryDisabled).size(), 1u);
  EXPECT_EQ(info()->controllers[0].batteryState, brivo::kDisabled);
}

TEST_F(BrivoInfo, DriveFailureShowsInTheDriveListAndTheEnclosure) {
  ctl("fail drive alpha 5");
  auto drives = driveList();
  EXPECT_EQ(drives->entries[5].status, brivo::kDriveFailed);
  EXPECT_EQ(drives->entries[4].status, brivo::kDriveGood);
  auto failed = events(0, brivo::kEvDriveFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].reason[0], 5);
  EXPECT_EQ(std::vector<uint8_t>(failed[0].reason + 4, failed[0].reason + 12), driveWwn(5));
  // The enclosure's slot through the pass-through: element status critical.
  std::vector<uint8_t> cdb = {0x3C, 1, brivo::kOpReadSesPage, brivo::sesAddress(1, 0x7D), 0x1C, 1, 0x02, 0x10,
                              0,    0};
  Reply status = send(0, cdb, ScsiDirection::kIn, std::vector<uint8_t>(4096));
  ASSERT_TRUE(status.good());
  EXPECT_EQ(status.data[0], 0x02);
  EXPECT_EQ(status.data[12 + 4 * 5] & 0x0F, 2);
  ctl("restore drive alpha 5");
  EXPECT_EQ(events(0, brivo::kEvDriveInserted).size(), 1u);
  EXPECT_EQ(driveList()->entries[5].status, brivo::kDriveGood);
}

TEST_F(BrivoInfo, EnclosureElementChangesAreLoggedAndPagesPassThrough) {
  ctl("fail fan bay 1");
  ctl("fail psu bay 0");
  auto fans = events(0, brivo::kEvSesCooling);
  ASSERT_EQ(fans.size(), 1u);
  EXPECT_EQ(fans[0].reason[0], 1);         // element index
  EXPECT_EQ(fans[0].reason[1] & 0x0F, 2);  // critical
  EXPECT_EQ(fans[0].reason[13], 0x33);     // enclosure WWN, last byte
  ASSERT_EQ(events(0, brivo::kEvSesPowerSupply).size(), 1u);
  ctl("restore fan bay 1");
  EXPECT_EQ(events(0, brivo::kEvSesCooling).size(), 2u);

  // Mute the enclosure alarm with a control page sent through 0xF2.
  std::vector<uint8_t> cdb = {0x3C, 1, brivo::kOpReadSesPage, 0x7D, 0x1C, 1, 0x02, 0x10, 0, 0};
  Reply status = send(0, cdb, ScsiDirection::kIn, std::vector<uint8_t>(4096));
  ASSERT_TRUE(status.good());
  std::vector<uint8_t> control = status.data;
  control[0] = 0x02;
  size_t alarm = 8 + 4 * (1 + 12) + 4 * (1 + 2) + 4 * (1 + 2) + 4 * (1 + 3) + 4;  // first alarm element
  control[alarm] = 0x80;
  control[alarm + 3] = 0x40;
  std::vector<uint8_t> data(brivo::kCommandSignature, brivo::kCommandSignature + 16);
  data.insert(data.end(), control.begin(), control.end());
  std::vector<uint8_t> send2 = {0x3B,
                                1,
                                brivo::kOpSendSesPage,
                                0x7D,
                                0x1D,
                                0x10,
                                0,
                                static_cast<uint8_t>(control.size() >> 8),
                                static_cast<uint8_t>(control.size()),
                                0};
  ASSERT_TRUE(send(0, send2, ScsiDirection::kOut, data).good());
  Reply after = send(0, cdb, ScsiDirection::kIn, std::vector<uint8_t>(4096));
  EXPECT_EQ(after.data[alarm + 3] & 0x40, 0x40);
  auto alarms = events(0, brivo::kEvSesAlarm);  // sounding since the failures, then muted
  ASSERT_EQ(alarms.size(), 2u);
  EXPECT_EQ(alarms[0].reason[4] & 0x40, 0);
  EXPECT_EQ(alarms[1].reason[4] & 0x40, 0x40);
  std::vector<uint8_t> wrong = cdb;
  wrong[3] = 0x10;  // no SES processor there
  EXPECT_TRUE(
      send(0, wrong, ScsiDirection::kIn, std::vector<uint8_t>(64)).refused(brivo::kAscInvalidCdbField));
}

}  // namespace
}  // namespace brivotest
