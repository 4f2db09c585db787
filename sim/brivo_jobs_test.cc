// The brivo model's jobs through the SCSI layer: progress that advances with time ("advance"
// ages the model's clock), pause and cancel, automatic and manual rebuilds after drive
// failures, parity checks and expansion, with their progress records and events.
#include "sim/brivo_test_fixture.h"

namespace brivotest {
namespace {

using BrivoJobs = BrivoSimTest;

std::unique_ptr<brivo::JobProgress> jobProgress(BrivoSimTest& t) {
  Reply r = t.read(brivo::kModeCommand, brivo::kOpReadJobProgress, 256);
  EXPECT_TRUE(r.good());
  return r.as<brivo::JobProgress>();
}

TEST_F(BrivoJobs, InitializationProgressesPausesAndCompletes) {
  int array = createArray(brivo::kRaid5, {0, 1, 2});
  auto i = info();
  EXPECT_EQ(i->initValid, brivo::kOn);
  EXPECT_EQ(i->initArray, array);
  EXPECT_LE(i->initPercent, 1);
  ctl("model alpha advance 40");
  i = info();
  EXPECT_GE(i->initPercent, 40);
  EXPECT_LE(i->initPercent, 42);
  auto jobs = jobProgress(*this);
  EXPECT_EQ(jobs->arrays[array].valid, brivo::kOn);
  EXPECT_EQ(jobs->arrays[array].kind, brivo::kJobInit);
  EXPECT_EQ(jobs->arrays[array].percent, i->initPercent);

  ASSERT_TRUE(command(brivo::kOpInitializeArray, {}, static_cast<uint8_t>(array), brivo::kInitPause).good());
  EXPECT_TRUE(command(brivo::kOpInitializeArray, {}, static_cast<uint8_t>(array), brivo::kInitPause)
                  .refused(brivo::kAscSequenceError));
  ctl("model alpha advance 300");
  EXPECT_EQ(info()->initPercent, i->initPercent);  // paused: no progress, no completion
  EXPECT_EQ(jobProgress(*this)->arrays[array].flags, 1);
  ASSERT_TRUE(command(brivo::kOpInitializeArray, {}, static_cast<uint8_t>(array), brivo::kInitResume).good());
  EXPECT_EQ(events(0, brivo::kEvInitPaused).size(), 2u);
  ctl("model alpha advance 70");
  i = info();
  EXPECT_EQ(i->initValid, 0);
  EXPECT_EQ(events(0, brivo::kEvInitCompleted, array).size(), 1u);
  auto cfg = config();
  EXPECT_EQ(cfg->arrays[array].faultStatus, brivo::kFaultTolerant);
  EXPECT_EQ(cfg->arrays[array].initialized, brivo::kOn);
  EXPECT_EQ(cfg->arrays[array].jobKind, brivo::kJobNone);
  EXPECT_EQ(jobProgress(*this)->arrays[array].valid, 0);
}

TEST_F(BrivoJobs, FailedMemberIsRebuiltOntoTheSpareAutomatically) {
  int array = createArray(brivo::kRaid5, {0, 1, 2});
  ctl("model alpha advance 100");
  begin();
  brivo::HotSpareBlock spare{};
  std::memcpy(spare.wwn, driveWwn(3).data(), 8);
  spare.array = brivo::kSpareGlobal;
  ASSERT_TRUE(command(brivo::kOpAddHotSpare, bytesOf(spare)).good());
  save();

  ctl("fail drive alpha 1");
  auto failed = events(0, brivo::kEvDriveFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].reason[2], array);
  EXPECT_EQ(failed[0].reason[3], 1);  // member
  EXPECT_EQ(events(0, brivo::kEvArrayCritical, array).size(), 1u);
  ASSERT_EQ(events(0, brivo::kEvSpareUsed, 3).size(), 1u);
  auto started = events(0, brivo::kEvRebuildStarted, array);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].reason[1], 1);
  EXPECT_EQ(started[0].reason[2], 3);

  auto i = info();
  EXPECT_EQ(i->rebuildValid, brivo::kOn);
  EXPECT_EQ(i->rebuildArray, array);
  EXPECT_EQ(i->rebuildMember, 1);
  auto cfg = config();
  EXPECT_EQ(cfg->arrays[array].memberStatus[1], brivo::kMemberRebuilding);
  EXPECT_EQ(cfg->arrays[array].faultStatus, brivo::kFaultRebuilding);
  EXPECT_EQ(cfg->header.hotSpareCount, 0);
  auto drives = driveList();
  EXPECT_EQ(drives->entries[3].usage, brivo::kUsageMember);
  EXPECT_EQ(drives->entries[3].member, 1);
  EXPECT_EQ(drives->entries[3].status, brivo::kDriveRebuilding);
  EXPECT_EQ(drives->entries[1].usage, brivo::kUsageFree);
  EXPECT_EQ(drives->entries[1].status, brivo::kDriveFailed);

  ctl("model alpha advance 100");
  EXPECT_EQ(info()->rebuildValid, 0);
  EXPECT_EQ(events(0, brivo::kEvRebuildCompleted, array).size(), 1u);
  cfg = config();
  EXPECT_EQ(cfg->arrays[array].memberStatus[1], brivo::kMemberGood);
  EXPECT_EQ(cfg->arrays[array].faultStatus, brivo::kFaultTolerant);
}

TEST_F(BrivoJobs, ManualRebuildCancelAndSecondFailureTakesTheArrayOffline) {
  int array = createArray(brivo::kRaid5, {0, 1, 2});
  ctl("model alpha advance 100");
  begin();
  ASSERT_TRUE(command(brivo::kOpAutoRebuild, {}, brivo::kOff).good());
  save();
  EXPECT_EQ(events(0, brivo::kEvAutoRebuild).size(), 1u);
  ctl("fail drive alpha 2");
  EXPECT_TRUE(events(0, brivo::kEvRebuildStarted).empty());
  EXPECT_EQ(config()->arrays[array].faultStatus, brivo::kFaultDegraded);

  brivo::RebuildBlock rebuild{};
  rebuild.array = static_cast<uint8_t>(array);
  rebuild.member = 2;
  std::memcpy(rebuild.wwn, driveWwn(2).data(), 8);
  EXPECT_TRUE(
      command(brivo::kOpRebuildDrive, bytesOf(rebuild)).refused(brivo::kAscInvalidParameter));  // failed
  ctl("restore drive alpha 2");
  ASSERT_TRUE(command(brivo::kOpRebuildDrive, bytesOf(rebuild)).good());  // onto the member's own drive
  EXPECT_TRUE(command(brivo::kOpRebuildDrive, bytesOf(rebuild)).refused(brivo::kAscSequenceError));
  ASSERT_TRUE(command(brivo::kOpCancelRebuild).good());
  auto aborted = events(0, brivo::kEvRebuildAborted, array);
  ASSERT_EQ(aborted.size(), 1u);
  EXPECT_EQ(aborted[0].reason[2], brivo::kAbortCancelled);
  EXPECT_EQ(config()->arrays[array].memberStatus[2], brivo::kMemberFailed);
  EXPECT_TRUE(command(brivo::kOpCancelRebuild).refused(brivo::kAscSequenceError));

  ctl("fail drive alpha 0");
  EXPECT_EQ(events(0, brivo::kEvArrayOffline, array).size(), 1u);
  EXPECT_EQ(config()->arrays[array].faultStatus, brivo::kFaultInvalid);
}

TEST_F(BrivoJobs, ParityCheckRunsOnlyOnHealthyArraysAndCancels) {
  int array = createArray(brivo::kRaid6, {0, 1, 2, 3}, 2);
  EXPECT_TRUE(command(brivo::kOpStartParityCheck, {}, brivo::kOff, static_cast<uint8_t>(array), 3)
                  .refused(brivo::kAscSequenceError));  // still initialising
  ctl("model alpha advance 100");
  EXPECT_TRUE(command(brivo::kOpStartParityCheck, {}, brivo::kOff, static_cast<uint8_t>(array), 4)
                  .refused(brivo::kAscInvalidCdbField));
  ASSERT_TRUE(command(brivo::kOpStartParityCheck, {}, brivo::kOff, static_cast<uint8_t>(array), 3).good());
  auto i = info();
  EXPECT_EQ(i->parityValid, brivo::kOn);
  EXPECT_EQ(i->parityMode, 3);
  ASSERT_TRUE(command(brivo::kOpCancelParityCheck).good());
  EXPECT_EQ(info()->parityValid, 0);
  auto cancelled = events(0, brivo::kEvParityCancelled);
  ASSERT_EQ(cancelled.size(), 1u);
  EXPECT_EQ(cancelled[0].reason[0], 3);
  ASSERT_TRUE(command(brivo::kOpStartParityCheck, {}, brivo::kOff, static_cast<uint8_t>(array), 1).good());
  ctl("model alpha advance 100");
  EXPECT_EQ(events(0, brivo::kEvParityCompleted).size(), 1u);
}

TEST_F(BrivoJobs, ExpansionGrowsTheCapacityWhenItCompletes) {
  int array = createArray(brivo::kRaid5, {0, 1, 2});
  ctl("model alpha advance 100");
  begin();
  brivo::ExpandArrayBlock expand{};
  expand.array = static_cast<uint8_t>(array);
  expand.driveCount = 2;
  expand.parityGiven = brivo::kOff;
  std::memcpy(expand.driveWwn[0], driveWwn(3).data(), 8);
  std::memcpy(expand.driveWwn[1], driveWwn(4).data(), 8);
  ASSERT_TRUE(command(brivo::kOpExpandArray, bytesOf(expand)).good());
  save();
  auto cfg = config();
  EXPECT_EQ(cfg->arrays[array].driveCount, 5);
  EXPECT_EQ(cfg->arrays[array].capacityGb, 2 * 921u);
  EXPECT_EQ(cfg->arrays[array].jobKind, brivo::kJobExpansion);
  EXPECT_EQ(info()->expansionValid, brivo::kOn);
  ctl("model alpha advance 100");
  EXPECT_EQ(config()->arrays[array].capacityGb, 4 * 921u);
  auto done = events(0, brivo::kEvExpansionCompleted, array);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].reason[1] | done[0].reason[2] << 8, 4 * 921);
}

TEST_F(BrivoJobs, DriveFailureDuringInitializationCancelsIt) {
  int array = createArray(brivo::kRaid5, {0, 1, 2});
  ctl("model alpha advance 10");
  ctl("fail drive alpha 0");
  EXPECT_EQ(events(0, brivo::kEvInitCancelled, array).size(), 1u);
  EXPECT_EQ(info()->initValid, 0);
  EXPECT_EQ(config()->arrays[array].faultStatus, brivo::kFaultDegraded);
}

TEST_F(BrivoJobs, JobEndsWithItsArrayEvenWhenTheNumberIsReusedInTheSameChange) {
  int array = createArray(brivo::kRaid5, {0, 1, 2});
  ASSERT_EQ(info()->initValid, brivo::kOn);
  begin();
  ASSERT_TRUE(command(brivo::kOpDeleteArray, {}, 0, static_cast<uint8_t>(array)).good());
  ASSERT_TRUE(
      command(brivo::kOpCreateArray, bytesOf(arrayBlock(brivo::kRaid1, {3, 4}, 0, brivo::kOff))).good());
  save();
  auto cfg = config();
  EXPECT_EQ(cfg->arrays[array].raidLevel, brivo::kRaid1);
  EXPECT_EQ(cfg->arrays[array].jobKind, brivo::kJobNone);
  EXPECT_EQ(info()->initValid, 0);
  ctl("model alpha advance 200");
  EXPECT_TRUE(events(0, brivo::kEvInitCompleted).empty());
}

}  // namespace
}  // namespace brivotest
