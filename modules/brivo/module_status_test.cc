// Status bookkeeping: the combination rule, communication-failure counting with its two events
// (once each, never while devices are being accepted), and the global status over the pairs.
#include "modules/brivo/module_status.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modules/brivo/brivo_test_support.h"

namespace brivo {
namespace {

TEST(StatusRule, WarningErrorAndUnknownCombineAsDocumented) {
  EXPECT_EQ(combineStatus(kStatusOk, kStatusWarning), kStatusWarning);
  EXPECT_EQ(combineStatus(kStatusWarning, kStatusError), kStatusError);
  EXPECT_EQ(combineStatus(kStatusError, kStatusWarning), kStatusError);
  EXPECT_EQ(combineStatus(kStatusWarning, kStatusNoOpinion), kStatusWarning);
  EXPECT_EQ(combineStatus(kStatusOk, kStatusUnknown), kStatusUnknown);
  EXPECT_EQ(combineStatus(kStatusWarning, kStatusUnknown), kStatusWarning) << "Unknown overrides only OK";
  EXPECT_EQ(combineStatus(kStatusUnknown, kStatusError), kStatusUnknown) << "once Unknown, always Unknown";
  EXPECT_EQ(combineStatus(kStatusUnknown, kStatusWarning), kStatusUnknown);
}

class FailureCountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.write("mods/Brivo/BrivoSettings.ini", "ControllerLogName = RAID %s [%s]\n");
    folder_.write(
        "mods/Brivo/EventStrings.db",
        "ControllerCommOk = Communication restored.\nControllerCommFailure = Communication lost.\n");
    moduleState().files.load();
    moduleState().services.store(&services_);
    device_ = list_.add("path");
    item_ = list_.hangItem(device_, "Brivo20000004CF8A1B2C");
    std::lock_guard<std::mutex> lock(testing::raisedLock());
    testing::raisedEvents().clear();
  }
  void TearDown() override {
    moduleState().services.store(nullptr);
    moduleState().deviceList.store(nullptr);
    moduleState().accepting.store(false);
    moduleState().files.saveAndUnload();
  }
  std::vector<std::string> messages() {
    std::lock_guard<std::mutex> lock(testing::raisedLock());
    std::vector<std::string> texts;
    for (const auto& e : testing::raisedEvents()) texts.push_back(e.message);
    return texts;
  }

  testing::ModuleFolder folder_;
  ModuleServices services_ = testing::recordingServices();
  testing::DeviceList list_;
  testing::RunningModule running_;
  DeviceRecord* device_ = nullptr;
  ModDeviceItem* item_ = nullptr;
};

TEST_F(FailureCountTest, ThirdFailureAndFirstSuccessAfterItRaiseOneEventEach) {
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(noteCommandResult(255, device_));
  EXPECT_FALSE(noteCommandResult(2, device_));
  EXPECT_TRUE(messages().empty());
  EXPECT_FALSE(noteCommandResult(255, device_));
  EXPECT_FALSE(noteCommandResult(255, device_));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            ">>> WE HAVE HAD 3 CONCURRENT FAILURES, SET GLOBAL STATUS TO ERROR, SEND LOG <<<\n");
  EXPECT_EQ(messages(), (std::vector<std::string>{"Communication lost."}));
  EXPECT_EQ(stateOf(item_)->failureCount, 4);
  EXPECT_TRUE(moduleState().statusUpdateRequested.exchange(false));

  EXPECT_TRUE(noteCommandResult(0, device_));
  EXPECT_TRUE(noteCommandResult(0, device_));
  EXPECT_EQ(messages(), (std::vector<std::string>{"Communication lost.", "Communication restored."}));
  EXPECT_EQ(stateOf(item_)->failureCount, 0);
  const testing::RaisedEventRecord lost = testing::raisedEvents()[0];
  const testing::RaisedEventRecord back = testing::raisedEvents()[1];
  EXPECT_EQ(lost.device, "RAID 20000004CF8A1B2C [0+1]");
  EXPECT_EQ(lost.level, 2u);
  EXPECT_EQ(lost.id, 0xA03u);
  EXPECT_EQ(back.level, 0u);
  EXPECT_EQ(back.id, 0xA04u);
}

TEST_F(FailureCountTest, NothingIsCountedWhileDevicesAreAccepted) {
  moduleState().accepting.store(true);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(noteCommandResult(255, device_));
  EXPECT_EQ(stateOf(item_)->failureCount, 0);
  EXPECT_FALSE(noteCommandResult(255, device_, false));
  EXPECT_TRUE(messages().empty());
}

TEST_F(FailureCountTest, GlobalStatusCountsEachMonitoredPairOnce) {
  ModDeviceItem* secondPath = list_.hangItem(list_.add("second path"), "Brivo20000004CF8A1B2C");
  ModDeviceItem* otherPair = list_.hangItem(list_.add("other"), "Brivo0000000000000001");
  moduleState().deviceList.store(list_.head());
  for (ModDeviceItem* item : {item_, secondPath, otherPair}) item->modStatus = MINE;
  stateOf(otherPair)->failureCount = 3;
  ::testing::internal::CaptureStdout();
  updateGlobalStatus();
  EXPECT_EQ(moduleState().globalStatus.load(), kStatusError);
  EXPECT_EQ(stateOf(otherPair)->lastSolutionStatus, kStatusError);

  otherPair->modStatus = NOT_MINE;  // another server watches it: it counts as OK
  // A path that has not been identified yet stands for no pair, whatever it has failed.
  ModDeviceItem* unread = list_.hangItem(list_.add("unread"), "BrivoNotRead");
  unread->modStatus = MINE;
  stateOf(unread)->failureCount = 3;
  updateGlobalStatus();
  EXPECT_EQ(moduleState().globalStatus.load(), kStatusOk);
  EXPECT_EQ(stateOf(unread)->lastSolutionStatus, 0u);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(output.find("CALLING UPDATE GLOBAL STATUS\nUPDATE GLOBAL STATUS, setting to 0x2\n"),
            std::string::npos);

  moduleState().running.store(false);
  stateOf(otherPair)->failureCount = 3;
  otherPair->modStatus = MINE;
  ::testing::internal::CaptureStdout();
  updateGlobalStatus();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "UPDATE GLOBAL STATUS, setting to 0x0\n");
  EXPECT_EQ(moduleState().globalStatus.load(), kStatusOk);
}

TEST_F(FailureCountTest, GlobalStatusLooksAtTheFirstFortyPairsOnly) {
  // item_ is the first of forty pairs that this server does not monitor (each counts as OK).
  std::vector<ModDeviceItem*> pairs{item_};
  for (int n = 1; n < kMaxPairsPerCycle; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "Brivo%016X", static_cast<unsigned>(0x100 + n));
    pairs.push_back(list_.hangItem(list_.add("path " + std::to_string(n)), name));
  }
  for (ModDeviceItem* item : pairs) item->modStatus = NOT_MINE;
  // The forty-first pair has failed, and the fortieth too, once that is switched on below.
  ModDeviceItem* beyond = list_.hangItem(list_.add("path 41"), "Brivo0000000000000FFF");
  beyond->modStatus = MINE;
  stateOf(beyond)->failureCount = 3;
  stateOf(beyond)->lastSolutionStatus = 0x77;
  moduleState().deviceList.store(list_.head());
  ::testing::internal::CaptureStdout();
  updateGlobalStatus();
  EXPECT_EQ(moduleState().globalStatus.load(), kStatusOk) << "the forty-first pair is not looked at";
  EXPECT_EQ(stateOf(beyond)->lastSolutionStatus, 0x77u);

  pairs.back()->modStatus = MINE;
  stateOf(pairs.back())->failureCount = 3;
  updateGlobalStatus();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(moduleState().globalStatus.load(), kStatusError) << "the fortieth is";
  EXPECT_EQ(stateOf(pairs.back())->lastSolutionStatus, kStatusError);
}

}  // namespace
}  // namespace brivo
