// The overview of every pair against pairs kept in memory: a pair in trouble explains the global
// status with its worst finding, its arrays, capacity, batteries, hottest sensor and jobs are
// summed up; a pair another server monitors and one that stopped answering are listed without
// being read.
#include <gtest/gtest.h>

#include "modules/brivo/module_status.h"
#include "modules/brivo/pages/monitor_test_support.h"
#include "modules/brivo/pages/page_methods.h"

namespace brivo {
namespace {

using testing::MonitorPageTest;
using testing::requestFor;

class Overview : public MonitorPageTest {
 protected:
  std::map<std::string, std::string> overview() { return run(getOverviewMethod, requestFor({}, nullptr)); }
};

TEST_F(Overview, ATroubledPairExplainsTheGlobalStatus) {
  testing::RunningModule running;
  addArray(0, kRaid5, 0, 3);
  ArrayRecord& degraded = addArray(1, kRaid1, 3, 2);
  degraded.faultStatus = kFaultRebuilding;
  degraded.jobKind = kJobRebuild;
  degraded.capacityGb = 500;
  degraded.freeGb = 100;
  pair_.info.rebuildValid = kOn;
  pair_.info.rebuildArray = 1;
  pair_.info.rebuildPercent = 0;  // a job at 0 % still shows its percent
  DriveListEntry& failed = addDiskDrive(5);
  failed.status = kDriveFailed;
  failed.driveId = 17;
  addDiskDrive(6);  // free and good
  pair_.info.controllers[0].batteryCharge = 55;
  pair_.info.controllers[1].cpuTemperature = 61;
  updateGlobalStatus();
  auto keys = overview();
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/main/overview.htm");
  EXPECT_EQ(keys["PairLoop"], "1");
  EXPECT_EQ(keys["PairLoop0Name"], "alpha");
  EXPECT_EQ(keys["PairLoop0Wwn"], "20000004CF8A1B2C");
  EXPECT_EQ(keys["PairLoop0Read"], "true");
  EXPECT_EQ(keys["PairLoop0StatusClass"], "fail");
  EXPECT_EQ(keys["GlobalStatusClass"], "fail");
  ASSERT_EQ(keys["GlobalCauseLoop"], "1");
  EXPECT_EQ(keys["GlobalCauseLoop0Name"], "alpha");
  EXPECT_NE(keys["GlobalCauseLoop0Reason"].find("drive ID 17 in slot 5 of Enclosure 1"), std::string::npos)
      << keys["GlobalCauseLoop0Reason"];
  EXPECT_EQ(keys["PairLoop0AttentionLoop"], "1");
  EXPECT_EQ(keys["PairLoop0AttentionLoop0Number"], "1");
  EXPECT_EQ(keys["PairLoop0AttentionLoop0Percent"], "0");
  EXPECT_EQ(keys["PairLoop0AttentionLoop0HasPercent"], "true");
  EXPECT_EQ(keys["PairLoop0JobLoop"], "1");
  EXPECT_EQ(keys["PairLoop0CapacityGb"], "1500");
  EXPECT_EQ(keys["PairLoop0UsedGb"], "1000");
  EXPECT_EQ(keys["PairLoop0FreeGb"], "500");
  EXPECT_EQ(keys["PairLoop0UnusedDrives"], "1");
  EXPECT_EQ(keys["PairLoop0BatteryLoop"], "2");
  EXPECT_EQ(keys["PairLoop0BatteryLoop0Percent"], "55");
  EXPECT_EQ(keys["PairLoop0BatteryLoop0Class"], "warn");
  EXPECT_EQ(keys["PairLoop0HottestCelsius"], "61");
  EXPECT_NE(keys["PairLoop0HottestLabel"].find("Controller B"), std::string::npos);
  EXPECT_EQ(keys["PairLoop0HottestClass"], "ok");
  EXPECT_EQ(keys["PingDevicesLoop"], "1") << "the page refreshes itself like the monitor";
}

TEST_F(Overview, PairsNotReadHereAreListedAndNotAsked) {
  testing::RunningModule running;
  addOtherPair(0x0A000005);
  storeField(state_->failureCount, 3);
  fake_->clearSent();
  auto keys = overview();
  EXPECT_EQ(keys["PairLoop"], "2");
  EXPECT_EQ(keys["PairLoop0CannotCommunicate"], "true");
  EXPECT_EQ(keys.count("PairLoop0Read"), 0u);
  EXPECT_EQ(keys["PairLoop1Monitored"], "false");
  EXPECT_EQ(keys["PairLoop1MonitoredBy"], "10.0.0.5");
  EXPECT_EQ(keys["PairLoop1Name"], "beta");
  EXPECT_EQ(keys["PairLoop1StatusClass"], "unknown");
  for (const auto& sent : fake_->sent()) {
    EXPECT_NE(sent.device, testing::kTestDevice) << "a pair that stopped answering is not asked";
  }
}

TEST_F(Overview, WaitsForTheDeviceListAndSaysWhenThereIsNone) {
  moduleState().devicesAccepted.store(false);
  EXPECT_EQ(overview()["HTMLPath"], "../../html/Brivo/main/waiting_for_devices.htm");
  moduleState().devicesAccepted.store(true);
  moduleState().deviceList.store(nullptr);
  EXPECT_EQ(overview()["HTMLPath"], "../../html/Brivo/main/main_no_solution.htm");
}

}  // namespace
}  // namespace brivo
