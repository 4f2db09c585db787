// The brivo model's state across a raidsim restart: configuration, event logs, jobs, clocks,
// drive and controller faults come back as they were, nothing is logged twice, an unsaved change
// is gone, and bad model keys are refused.
#include <fstream>

#include "sim/brivo_test_fixture.h"

namespace brivotest {
namespace {

using BrivoState = BrivoSimTest;

TEST_F(BrivoState, PairSurvivesARestartWithoutRepeatingEvents) {
  int array = createArray(brivo::kRaid5, {0, 1, 2});
  begin();
  ASSERT_TRUE(createDrive(30, 0).good());
  brivo::HotSpareBlock spare{};
  std::memcpy(spare.wwn, driveWwn(7).data(), 8);
  spare.array = brivo::kSpareGlobal;
  ASSERT_TRUE(command(brivo::kOpAddHotSpare, bytesOf(spare)).good());
  save();
  ctl("model alpha advance 30");
  ctl("fail drive alpha 10");
  ctl("fail controller alpha B");
  ctl("set battery alpha A 50");
  ctl("fail fan bay 0");
  brivo::EventTime t{2031, 7, 1, 2, 10, 0, 0};
  ASSERT_TRUE(command(brivo::kOpSetTime, bytesOf(t), brivo::kSelectA).good());
  ASSERT_TRUE(command(brivo::kOpAlarmMute).good());
  ASSERT_TRUE(command(brivo::kOpClearStatisticsA, {}, brivo::kPortBoth, 0xFF, 0xFF).good());
  begin();  // an open change is not kept
  ASSERT_TRUE(command(brivo::kOpConfigName, bytesOf(brivo::NameBlock64{"unsaved"})).good());

  Reply before = read(brivo::kModeData, brivo::kOpReadConfiguration, brivo::kConfigurationLength);
  auto logA = eventLog(0);
  auto logB = eventLog(1);
  int initPercent = info()->initPercent;
  stopServer();
  closeSimConnections();
  startServer();

  Reply after = read(brivo::kModeData, brivo::kOpReadConfiguration, brivo::kConfigurationLength);
  ASSERT_TRUE(after.good());
  EXPECT_EQ(after.data, before.data);
  EXPECT_STREQ(after.as<brivo::ConfigurationBlock>()->header.name, "alpha");
  auto logA2 = eventLog(0);
  EXPECT_EQ(logA2->count, logA->count);  // no fault logged a second time
  EXPECT_EQ(logA2->newest, logA->newest);
  EXPECT_EQ(std::memcmp(logA2->entries, logA->entries, 24u * logA->count), 0);
  EXPECT_EQ(eventLog(1)->count, logB->count);
  auto i = info();
  EXPECT_EQ(i->stateB, brivo::kOff);
  EXPECT_EQ(i->initValid, brivo::kOn);
  EXPECT_GE(i->initPercent, initPercent);
  EXPECT_LE(i->initPercent, initPercent + 2);
  EXPECT_EQ(i->controllers[0].clock.year, 2031);
  EXPECT_EQ(i->controllers[0].batteryCharge, 50);
  EXPECT_EQ(i->controllers[0].alarmState, brivo::kAlarmMuted);
  EXPECT_EQ(driveList()->entries[10].status, brivo::kDriveFailed);
  EXPECT_EQ(driveList()->entries[7].usage, brivo::kUsageGlobalSpare);
  EXPECT_TRUE(command(brivo::kOpConfigSave).refused(brivo::kAscSequenceError));

  // The job goes on and completes after the restart, and later faults are logged as usual.
  ctl("model alpha advance 80");
  EXPECT_EQ(events(0, brivo::kEvInitCompleted, array).size(), 1u);
  ctl("restore fan bay 0");
  EXPECT_EQ(events(0, brivo::kEvSesCooling).size(), 2u);
}

TEST_F(BrivoState, BadModelKeysAndValuesAreRefused) {
  ctl("model alpha colour red", 1);
  ctl("model alpha config.array.3 00FF", 1);                                // wrong record size
  ctl("model alpha config.array.64 00", 1);                                 // no such array
  ctl("model alpha config.array.3 F100C8" + std::string(2 * 237, '0'), 1);  // 200 members
  ctl("model alpha eventlog.A 5000,1,1", 1);
  ctl("model alpha job.0 9,0,0,0,0,10,0,0", 1);  // unknown job kind
  ctl("model alpha hostport.A.0 sideways", 1);
  ctl("model alpha advance -5", 1);
  ctl("model alpha snapfill.0 50", 1);  // no snapshot there
  ctl("model alpha hostport.A.1 failed");
  EXPECT_EQ(info()->controllers[0].hostPort1State, brivo::kOff);
  ctl("model alpha driveloop.B.2 failed");
  ctl("model alpha driveloop.A.2 failed");
  EXPECT_EQ(driveList()->entries[0].loop2Id, brivo::kNotOnLoop);
  EXPECT_EQ(driveList()->entries[0].loop1Id, 0);
  ctl("model alpha poweron.B 90000");
  EXPECT_GE(info()->controllers[1].powerOnSeconds, 90000u);

  // A state file with a bad model line is refused as a whole.
  std::string broken = (dir / "broken.txt").string();
  std::ofstream(broken) << "# raidsim state 1\nset battery alpha A 20\nmodel alpha config.ld.0 XYZ\n";
  ctl("load " + broken, 1);
  EXPECT_EQ(info()->controllers[0].batteryCharge, 100);
}

}  // namespace
}  // namespace brivotest
