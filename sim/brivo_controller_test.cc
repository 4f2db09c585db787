// The brivo model's controller operations through the SCSI layer: reset and shutdown, alarm,
// identify, drive bypass, statistics, firmware images and snapshots.
#include <chrono>
#include <thread>

#include "modules/brivo/protocol_event_codes.h"
#include "sim/brivo_test_fixture.h"
#include "tests/support/wait_until.h"

namespace brivotest {
namespace {

using test_support::waitUntil;

using BrivoController = BrivoSimTest;

TEST_F(BrivoController, ResetControllerIsSilentForAWhileAndDropsAnOpenChange) {
  begin();
  ASSERT_TRUE(command(brivo::kOpResetController, {}, brivo::kSelectB).good());
  EXPECT_EQ(read(brivo::kModeData, brivo::kOpReadControllerInfo, 1792, 0, 0, 0, 1).result.outcome,
            ScsiOutcome::kNoAnswer);
  EXPECT_EQ(info(0)->stateB, brivo::kOff);
  EXPECT_TRUE(command(brivo::kOpConfigSave).refused(brivo::kAscSequenceError));
  // B answers again once its reset is over (model.reset_ms = 200).
  ASSERT_TRUE(waitUntil("B back from its reset", [&] {
    return read(brivo::kModeData, brivo::kOpReadControllerInfo, brivo::kControllerInfoLength, 0, 0, 0, 1).good();
  }));
  EXPECT_EQ(info(1)->stateB, brivo::kOn);
  EXPECT_EQ(events(1, brivo::kEvController, brivo::kCtlResetByHost).size(), 1u);
  EXPECT_EQ(events(1, brivo::kEvController, brivo::kCtlStarted).size(), 2u);
  auto partner = events(0, brivo::kEvPartner);
  ASSERT_EQ(partner.size(), 2u);
  EXPECT_EQ(partner[0].reason[1], brivo::kPartnerReset);
  EXPECT_EQ(partner[1].reason[1], brivo::kPartnerRestored);
  EXPECT_LT(info()->controllers[1].powerOnSeconds, 5u);
  EXPECT_TRUE(command(brivo::kOpResetController, {}, 7).refused(brivo::kAscInvalidCdbField));
}

TEST_F(BrivoController, ShutdownLastsUntilThePowerCycle) {
  ASSERT_TRUE(command(brivo::kOpShutdownController, {}, brivo::kSelectA, 1, 0, 1).good());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // longer than a reset lasts
  EXPECT_EQ(read(brivo::kModeData, brivo::kOpReadControllerInfo, 1792).result.outcome,
            ScsiOutcome::kNoAnswer);
  EXPECT_EQ(info(1)->stateA, brivo::kOff);
  auto shutdown = events(0, brivo::kEvShutdown, -1, 1);
  ASSERT_EQ(shutdown.size(), 1u);
  EXPECT_EQ(shutdown[0].reason[0], 1);  // graceful
  ctl("restore controller alpha A");
  EXPECT_EQ(info(0)->stateA, brivo::kOn);
  EXPECT_EQ(events(1, brivo::kEvPartner).back().reason[1], brivo::kPartnerRestored);
  EXPECT_TRUE(
      command(brivo::kOpShutdownController, {}, brivo::kSelectA, 2).refused(brivo::kAscInvalidCdbField));
}

TEST_F(BrivoController, AlarmIdentifyAndBypass) {
  ASSERT_TRUE(command(brivo::kOpAlarmMute).good());
  EXPECT_EQ(info()->controllers[0].alarmState, brivo::kAlarmMuted);
  ASSERT_TRUE(command(brivo::kOpAlarmDisable).good());
  EXPECT_EQ(info()->controllers[1].alarmState, brivo::kAlarmDisabled);
  EXPECT_EQ(events(0, brivo::kEvAlarm).size(), 2u);

  ASSERT_TRUE(command(brivo::kOpIdentify, {}, 1, 4, 60).good());
  EXPECT_EQ(driveList()->entries[4].flags & brivo::kDriveFlagIdentify, brivo::kDriveFlagIdentify);
  std::vector<uint8_t> cdb = {0x3C, 1, brivo::kOpReadSesPage, 0x7D, 0x1C, 1, 0x02, 0x10, 0, 0};
  Reply page = send(0, cdb, ScsiDirection::kIn, std::vector<uint8_t>(4096));
  ASSERT_TRUE(page.good());
  EXPECT_EQ(page.data[14 + 4 * 4] & 0x02, 0x02);  // slot 4 locating
  ASSERT_TRUE(command(brivo::kOpIdentify, {}, 1, 4, 0).good());
  EXPECT_EQ(driveList()->entries[4].flags & brivo::kDriveFlagIdentify, 0);
  EXPECT_TRUE(command(brivo::kOpIdentify, {}, 2, 4, 5).refused(brivo::kAscInvalidCdbField));
  EXPECT_TRUE(command(brivo::kOpIdentify, {}, 0, 40, 5).refused(brivo::kAscInvalidCdbField));
  ASSERT_TRUE(command(brivo::kOpIdentify, {}, brivo::kIdentifyEnclosure, 0, 30).good());

  int array = createArray(brivo::kRaid1, {0, 1});
  ASSERT_TRUE(command(brivo::kOpBypassDrive, {}, 0, 1).good());
  auto drives = driveList();
  EXPECT_EQ(drives->entries[1].status, brivo::kDriveBypassed);
  EXPECT_EQ(drives->entries[1].loop1Id, brivo::kNotOnLoop);
  EXPECT_EQ(config()->arrays[array].memberStatus[1], brivo::kMemberMissing);
  EXPECT_EQ(events(0, brivo::kEvDriveBypassed, 1).size(), 1u);
  ASSERT_TRUE(command(brivo::kOpEnableDrive, {}, 0, 1).good());
  EXPECT_EQ(driveList()->entries[1].status, brivo::kDriveGood);
  EXPECT_EQ(events(0, brivo::kEvDriveEnabled, 1).size(), 1u);
  EXPECT_TRUE(command(brivo::kOpBypassDrive, {}, 0, 99).refused(brivo::kAscInvalidCdbField));
}

TEST_F(BrivoController, StatisticsGrowWithTimeAndClearPerController) {
  createArray(brivo::kRaid0, {0});
  begin();
  ASSERT_TRUE(createDrive(10, 0).good());
  save();
  ctl("model alpha advance 100");
  auto stats = [&](uint8_t id, uint8_t port, uint16_t drive) {
    Reply r = read(brivo::kModeCommand, id, 288, port, static_cast<uint8_t>(drive >> 8),
                   static_cast<uint8_t>(drive));
    EXPECT_TRUE(r.good());
    EXPECT_EQ(r.data.size(), 288u);
    return r.as<brivo::StatisticsBuffer>();
  };
  auto both = stats(brivo::kOpReadStatisticsA, brivo::kPortBoth, 0);
  auto port0 = stats(brivo::kOpReadStatisticsA, brivo::kPort0, 0);
  EXPECT_GT(uint64_t{port0->records[0].commands}, 0u);
  EXPECT_EQ(uint64_t{both->records[0].commands}, 2 * uint64_t{port0->records[0].commands});
  EXPECT_GT(uint64_t{both->records[1].blocks}, 0u);
  EXPECT_EQ(both->controller, 0);
  EXPECT_EQ(stats(brivo::kOpReadStatisticsA, brivo::kPortBoth, brivo::kAllLogicalDrives)->records[0].commands,
            both->records[0].commands);
  EXPECT_EQ(stats(brivo::kOpReadStatisticsA, brivo::kPortBoth, 5)->records[0].commands, 0u);  // no drive 5

  ASSERT_TRUE(command(brivo::kOpClearStatisticsA, {}, brivo::kPortBoth, 0xFF, 0xFF).good());
  EXPECT_EQ(stats(brivo::kOpReadStatisticsA, brivo::kPortBoth, 0)->records[0].commands, 0u);
  EXPECT_GT(stats(brivo::kOpReadStatisticsB, brivo::kPortBoth, 0)->records[0].commands, 0u);
  EXPECT_EQ(events(0, brivo::kEvMaintenance, brivo::kMaintStatisticsCleared).size(), 1u);
  EXPECT_TRUE(
      read(brivo::kModeCommand, brivo::kOpReadStatisticsA, 288, 3, 0, 0).refused(brivo::kAscInvalidCdbField));
  EXPECT_TRUE(
      read(brivo::kModeCommand, brivo::kOpReadStatisticsA, 288, 0, 2, 0).refused(brivo::kAscInvalidCdbField));
}

TEST_F(BrivoController, FirmwareImagesInOneOrManyPieces) {
  std::vector<uint8_t> image(200000, 0x5A);
  brivo::FirmwareImageHeader header{static_cast<uint32_t>(image.size()),
                                    {'B', 'F', 'W', '1'},
                                    brivo::kFirmwareApplication,
                                    {0, 0, 0},
                                    0x04000001};
  std::memcpy(image.data(), &header, sizeof(header));
  for (uint32_t offset = 0; offset < image.size(); offset += 65536) {
    size_t n = std::min<size_t>(65536, image.size() - offset);
    ASSERT_TRUE(writeData(brivo::kModeFirmwareOffsets, brivo::kFirmwareController, offset,
                          std::vector<uint8_t>(image.begin() + offset, image.begin() + offset + n))
                    .good());
  }
  EXPECT_EQ(info()->controllers[1].firmwareLevel, 0x04000001u);
  EXPECT_EQ(events(0, brivo::kEvFirmware, 1).size(), 1u);
  std::vector<uint8_t> bad = image;
  bad[5] = 'X';
  EXPECT_TRUE(writeData(brivo::kModeFirmware, brivo::kFirmwareController, 0, bad)
                  .refused(brivo::kAscInvalidParameter));
  EXPECT_TRUE(
      writeData(brivo::kModeFirmware, brivo::kFirmwareDrive, 0, image).refused(brivo::kAscSequenceError));
  brivo::DriveFirmwareSelectBlock select{};
  std::memcpy(select.wwn, driveWwn(6).data(), 8);
  select.select = 1;
  // A drive refuses an image for another model, and stays as it was.
  brivo::DriveFirmwareModel model{};
  std::memset(&model, ' ', sizeof(model));
  std::memcpy(model.product, "OTHER", 5);
  std::memcpy(image.data() + sizeof(header), &model, sizeof(model));
  ASSERT_TRUE(command(brivo::kOpSelectDriveFirmware, bytesOf(select)).good());
  EXPECT_TRUE(
      writeData(brivo::kModeFirmware, brivo::kFirmwareDrive, 0, image).refused(brivo::kAscSequenceError));
  EXPECT_EQ(std::string(driveList()->entries[6].revision, 4), "0002");
  EXPECT_EQ(events(0, brivo::kEvDriveFirmwareFailed, 6).size(), 1u);
  std::memcpy(model.product, "ST1000NM0001", 12);
  std::memcpy(image.data() + sizeof(header), &model, sizeof(model));
  ASSERT_TRUE(command(brivo::kOpSelectDriveFirmware, bytesOf(select)).good());
  ASSERT_TRUE(writeData(brivo::kModeFirmware, brivo::kFirmwareDrive, 0, image).good());
  EXPECT_EQ(std::string(driveList()->entries[6].revision, 4), "0001");
  EXPECT_EQ(std::string(driveList()->entries[5].revision, 4), "0002");
}

TEST_F(BrivoController, AnInterruptedControllerImageLeavesTheOldFirmware) {
  const uint32_t before = info()->controllers[0].firmwareLevel;
  std::vector<uint8_t> image(200000, 0x5A);
  brivo::FirmwareImageHeader header{static_cast<uint32_t>(image.size()),
                                    {'B', 'F', 'W', '1'},
                                    brivo::kFirmwareApplication,
                                    {0, 0, 0},
                                    0x05000002};
  std::memcpy(image.data(), &header, sizeof(header));
  // Two of the four pieces arrive, then the download stops.
  for (uint32_t offset = 0; offset < 131072; offset += 65536) {
    ASSERT_TRUE(writeData(brivo::kModeFirmwareOffsets, brivo::kFirmwareController, offset,
                          std::vector<uint8_t>(image.begin() + offset, image.begin() + offset + 65536))
                    .good());
  }
  EXPECT_EQ(info()->controllers[0].firmwareLevel, before);
  // A piece out of order is refused, and the controller still runs the old image.
  EXPECT_TRUE(writeData(brivo::kModeFirmwareOffsets, brivo::kFirmwareController, 196608,
                        std::vector<uint8_t>(image.begin() + 196608, image.end()))
                  .refused(brivo::kAscSequenceError));
  EXPECT_EQ(info()->controllers[0].firmwareLevel, before);
  EXPECT_TRUE(events(0, brivo::kEvFirmware, 1).empty());
}

TEST_F(BrivoController, SnapshotsFillTheirAreaAndSnapBack) {
  createArray(brivo::kRaid0, {0});
  begin();
  ASSERT_TRUE(createDrive(100, 0).good());                                      // source, drive 0
  ASSERT_TRUE(createDrive(20, 0, brivo::kAvailabilityInternal, "oda").good());  // area, drive 1
  ASSERT_TRUE(command(brivo::kOpSetHostLun, bytesOf(brivo::SetHostLunBlock{0, 12})).good());
  save();
  brivo::SnapshotAreaBlock area{0, 1, 50, {}};
  EXPECT_TRUE(command(brivo::kOpCreateSnapshotArea, bytesOf(brivo::SnapshotAreaBlock{1, 0, 50, {}}))
                  .refused(brivo::kAscInvalidParameter));  // the area must be an internal drive
  ASSERT_TRUE(command(brivo::kOpCreateSnapshotArea, bytesOf(area)).good());
  ASSERT_TRUE(command(brivo::kOpTakeSnapshot, bytesOf(brivo::SnapshotBlock{0, {}})).good());
  ctl("model alpha snapfill.0 60");
  Reply r = read(brivo::kModeCommand, brivo::kOpReadSnapshotAreasV2, 16396);
  ASSERT_TRUE(r.good());
  auto areas = r.as<brivo::SnapshotAreasV2>();
  EXPECT_EQ(areas->count, 1);
  EXPECT_EQ(areas->areas[0].valid, brivo::kOn);
  EXPECT_EQ(areas->areas[0].areaDrive, 1);
  EXPECT_EQ(areas->areas[0].usedPercent, 60);
  EXPECT_EQ(areas->areas[0].flags, brivo::kSnapPresent | brivo::kSnapWarning1);
  EXPECT_EQ(events(0, brivo::kEvSnapshot, brivo::kSnapshotWarning).size(), 1u);
  Reply lun = read(brivo::kModeCommand, brivo::kOpReadSnapshotLun, 64, 0, 0, 12);
  ASSERT_TRUE(lun.good());
  EXPECT_EQ(lun.as<brivo::SnapshotLunData>()->snapshot.valid, brivo::kOn);
  EXPECT_TRUE(
      read(brivo::kModeCommand, brivo::kOpReadSnapshotAreasV1, 2056).refused(brivo::kAscUnknownBuffer));

  ASSERT_TRUE(command(brivo::kOpSnapback, bytesOf(brivo::SnapshotBlock{0, {}})).good());
  EXPECT_TRUE(command(brivo::kOpDeleteSnapshot, bytesOf(brivo::SnapshotBlock{0, {}}))
                  .refused(brivo::kAscSequenceError));
  ctl("model alpha advance 50");
  r = read(brivo::kModeCommand, brivo::kOpReadSnapshotAreasV2, 16396);
  EXPECT_EQ(r.as<brivo::SnapshotAreasV2>()->areas[0].snapbackPercent, 50);
  ctl("model alpha advance 60");
  EXPECT_EQ(events(0, brivo::kEvSnapback, 2).size(), 1u);
  ctl("model alpha snapfill.0 100");
  r = read(brivo::kModeCommand, brivo::kOpReadSnapshotAreasV2, 16396);
  EXPECT_NE(r.as<brivo::SnapshotAreasV2>()->areas[0].flags & brivo::kSnapInvalid, 0);
  EXPECT_EQ(events(0, brivo::kEvSnapshot, brivo::kSnapshotOverrun).size(), 1u);

  // Deleting the source drive releases its area.
  begin();
  ASSERT_TRUE(command(brivo::kOpDeleteLogicalDrive, {}, 0, 0).good());
  save();
  EXPECT_EQ(
      read(brivo::kModeCommand, brivo::kOpReadSnapshotAreasV2, 16396).as<brivo::SnapshotAreasV2>()->count, 0);
  EXPECT_EQ(events(0, brivo::kEvSnapshot, brivo::kSnapshotAreaReleased).size(), 1u);
}

}  // namespace
}  // namespace brivotest
