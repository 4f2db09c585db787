// The monitor page against pairs kept in memory: the page chosen for each situation (no device
// list yet, full view, a pair another server monitors, a solution number past the end, a failed
// read, a pair that stopped answering) and the keys of the full view.
#include "modules/brivo/pages/monitor_page.h"

#include <gtest/gtest.h>

#include "modules/brivo/pages/monitor_test_support.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/solution_list.h"

namespace brivo {
namespace {

using testing::kOtherPair;
using testing::MonitorPageTest;
using testing::requestFor;

class MonitorPage : public MonitorPageTest {
 protected:
  std::map<std::string, std::string> monitor(
      std::initializer_list<std::pair<const char*, const char*>> keys = {}) {
    return run(getMonitorMethod, requestFor(keys, nullptr));
  }
  size_t commandsTo(const char* device) {
    size_t n = 0;
    for (const auto& sent : fake_->sent()) n += sent.device == device ? 1 : 0;
    return n;
  }
};

TEST_F(MonitorPage, WaitsForTheDeviceListAndSaysWhenThereIsNoSolution) {
  moduleState().devicesAccepted.store(false);
  EXPECT_EQ(monitor()["HTMLPath"], "../../html/Brivo/main/waiting_for_devices.htm");
  moduleState().devicesAccepted.store(true);
  moduleState().deviceList.store(nullptr);
  auto none = monitor();
  EXPECT_EQ(none["HTMLPath"], "../../html/Brivo/main/main_no_solution.htm");
  EXPECT_EQ(none["SolutionLoop"], "0");
  EXPECT_EQ(run(getMainPageMethod, nullptr)["HTMLPath"], "../../html/Brivo/main/mainframe.htm");
}

TEST_F(MonitorPage, FullViewOfArraysDrivesLoopsAndEnclosures) {
  addArray(0, kRaid5, 0, 3);
  ArrayRecord& rebuilding = addArray(1, kRaid6, 3, 4);
  rebuilding.faultStatus = kFaultRebuilding;
  rebuilding.jobKind = kJobRebuild;
  pair_.info.rebuildValid = kOn;
  pair_.info.rebuildArray = 1;
  pair_.info.rebuildPercent = 40;
  addDiskDrive(7).loop1Id = kNotOnLoop;  // seen on loop 2 only
  pair_.addDrive(0, 3).segments[0].array = 0;
  pair_.config->logicalDrives[0].segmentCount = 1;
  pair_.addDrive(1, kLunNone).availability = kAvailabilityInternal;  // a snapshot area: not listed

  auto keys = monitor();
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/main/main.htm");
  EXPECT_EQ(keys["CurrentSolution"], "1");
  EXPECT_EQ(keys["SelectedSolutionName"], "alpha");
  EXPECT_EQ(keys["SolutionLoop0SolutionName"], "alpha");
  EXPECT_EQ(keys["SolutionLoop0SolutionWwn"], "20000004CF8A1B2C");
  EXPECT_EQ(keys["ArraysAvailable"], "true");
  EXPECT_EQ(keys["ArrayLoop"], "2");
  EXPECT_EQ(keys["ArrayLoop1RaidLevel"], "RAID 6");
  EXPECT_EQ(keys["ArrayLoop1Percent"], "40");
  EXPECT_EQ(keys["ArrayLoop1ShowProgress"], "true");
  EXPECT_EQ(keys["ArrayLoop0ShowProgress"], "false");
  EXPECT_EQ(keys["ArrayLoop0LogicalDrives"], "1");
  EXPECT_EQ(keys["NumOfLD"], "1");
  EXPECT_EQ(keys["LogicalDriveLoop0HostLun"], "3");
  EXPECT_EQ(keys["Loop1Up"], "false") << "a drive is missing on loop 1";
  EXPECT_EQ(keys["Loop2Up"], "true");
  EXPECT_EQ(keys["DriveMismatchInColumn"], "true");
  EXPECT_EQ(keys["Loop1Status"], "OK");
  EXPECT_EQ(keys["ControllerA"], "true");
  EXPECT_EQ(keys["ControllersImg"], "/Brivo/images/controllers2_ok.gif");
  EXPECT_EQ(keys["EnclosureLoop0Slots"], "12");
  EXPECT_EQ(keys["EnclosureLoop0Slots7Occupied"], "true");
  EXPECT_EQ(keys["EnclosureLoop0Slots7Slot"], "7") << "the controller's slot number, as the log and qcli give it";
  EXPECT_EQ(keys["EnclosureLoop0Slots7DriveId"], "7");
  EXPECT_EQ(keys["EnclosureLoop0EnclosureLabel"], "Enclosure 1") << "the event log's number";
  EXPECT_EQ(keys["EnclosureLoop0EnclosureNumber"], "0") << "qcli's number";
  EXPECT_EQ(keys["DriveLoop7Slot"], "7");
  EXPECT_EQ(keys["DriveLoop7DiskIndex"], "7");
  EXPECT_EQ(keys["DriveLoop7EnclosureLabel"], "Enclosure 1");
  EXPECT_EQ(keys["EnclosureLoop0Slots9Occupied"], "false");
  EXPECT_EQ(keys["DriveLoop"], "8");
  EXPECT_EQ(keys["DriveLoop3Class"], "warn") << "the member being rebuilt";
  EXPECT_EQ(keys["DriveLoop3InArray"], "true");
  EXPECT_NE(keys["ProblemLoop"], "0");
  EXPECT_EQ(keys["PingDevicesLoop0GuiDeviceA"], std::string("GuiDevice_") + testing::kTestPair + "A");
  EXPECT_EQ(keys["SolutionLoop0AllowedToMonitor"], "true");
  EXPECT_EQ(keys["SolutionLoop0IsBrivo2"], "true") << "capability keys per solution";
}

TEST_F(MonitorPage, FailedControllerInDualModeMakesTheControllersPictureAnError) {
  pair_.info.stateB = kOff;
  auto keys = monitor();
  EXPECT_EQ(keys["ControllersImg"], "/Brivo/images/controllers2_fail.gif");
  EXPECT_EQ(keys["ControllerB"], "true") << "shown because the pair runs in dual mode";
  EXPECT_EQ(keys["ControllerBStatus"], "Failed");
  pair_.config->header.singleControllerMode = kOn;
  keys = monitor();
  EXPECT_EQ(keys["ControllersImg"], "/Brivo/images/controllers1_ok.gif");
  EXPECT_EQ(keys["ControllerB"], "false");
}

TEST_F(MonitorPage, PairOfAnotherServerShowsItsIconAndNeverCountsItsEvents) {
  addOtherPair(0x0A000005);
  other_.refusedReads.insert(kOpReadConfigHeader);
  auto keys = monitor();
  EXPECT_EQ(keys["SolutionLoop"], "2");
  EXPECT_EQ(keys["SolutionLoop1StatusIcon"], "/Brivo/images/status_notmonitored.gif");
  EXPECT_EQ(keys["SolutionLoop1AllowedToMonitor"], "false");
  EXPECT_EQ(keys["PingDevicesLoop1EventNumA"], "2147483647");
  EXPECT_EQ(keys["PingDevicesLoop1EventNumB"], "2147483647");
  EXPECT_EQ(keys["SolutionLoop1SolutionWwn"], "5000000000000001") << "from the name when the header fails";
  EXPECT_EQ(loadField(stateOf(devices_.head()->next->units)->failureCount), 0)
      << "reads of a pair monitored elsewhere are not its failures";
}

TEST_F(MonitorPage, APathNotIdentifiedYetIsNoSolutionAndTakesNoNumber) {
  // Listed ahead of the other pair: the numbers users select by must not shift because of it.
  devices_.hangItem(devices_.add("unread-path"), "BrivoNotRead")->modStatus = MINE;
  addOtherPair(0x0A000005);
  auto keys = monitor({{"StorageSolution", "2"}});
  EXPECT_EQ(keys["SolutionLoop"], "2");
  EXPECT_EQ(keys["SolutionLoop1SolutionName"], "beta");
  EXPECT_EQ(keys["SolutionLoop1Selected"], "true");
  EXPECT_EQ(solutionName(2), kOtherPair);
}

TEST_F(MonitorPage, SolutionPastTheEndShowsTheLastWithTheNotAvailableKeys) {
  addOtherPair(0x0A000005);
  auto keys = monitor({{"StorageSolution", "3"}});
  EXPECT_EQ(keys["CurrentSolution"], "2");
  EXPECT_EQ(keys["SolutionSelectedNotAvail"], "1");
  EXPECT_EQ(keys["SolutionSelectedNotAvail0SolutionNumber"], "3");
  EXPECT_EQ(keys["SolutionLoop1Selected"], "true");
  EXPECT_EQ(keys["MonitoringHostIp"], "10.0.0.5");
  EXPECT_EQ(keys["SolutionLoop1SolutionName"], "beta");
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/main/main_cont_fail.htm") << "another server monitors it";

  keys = monitor({{"ModDeviceName", kOtherPair}});
  EXPECT_EQ(keys["CurrentSolution"], "2") << "a page's link back names its pair";
  EXPECT_EQ(keys.count("SolutionSelectedNotAvail"), 0u);
}

TEST_F(MonitorPage, FailedReadShowsTheFailurePageWithItsSense) {
  pair_.refusedReads.insert(kOpReadConfiguration);
  auto keys = monitor();
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/main/main_cont_fail.htm");
  EXPECT_EQ(keys["LastFailureCode"], "2");
  EXPECT_EQ(keys["LastFailureSenseData"], "05/24/00");
  EXPECT_EQ(keys.count("ArrayLoop"), 0u);
}

TEST_F(MonitorPage, PairThatStoppedAnsweringIsNotAskedAgain) {
  storeField(state_->failureCount, 3);
  fake_->clearSent();
  auto keys = monitor();
  EXPECT_EQ(keys["CannotCommunicate"], "true");
  EXPECT_EQ(keys["FailureCount"], "3");
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/main/main_cont_fail.htm");
  EXPECT_EQ(keys["SolutionLoop0StatusIcon"], "/Brivo/images/status_fail.gif");
  EXPECT_EQ(commandsTo(testing::kTestDevice), 0u);
}

}  // namespace
}  // namespace brivo
