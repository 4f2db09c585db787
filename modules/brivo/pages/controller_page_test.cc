// The controller information page against a pair kept in memory: shown controllers, firmware
// and sensor texts, the action flags by the controllers' validity, the configuration header's
// keys and their command result when it cannot be read, and the pair named by solution number.
#include <gtest/gtest.h>

#include "modules/brivo/pages/monitor_test_support.h"
#include "modules/brivo/pages/page_methods.h"

namespace brivo {
namespace {

using testing::requestFor;

class ControllerPage : public testing::MonitorPageTest {};

TEST_F(ControllerPage, OneValidControllerWithItsFirmwareAndSensors) {
  pair_.info.stateB = kOff;
  ControllerRecord& a = pair_.info.controllers[0];
  a.firmwareLevel = 0x03011234;
  std::memcpy(a.firmwareText, "R301", 4);
  a.cpldRevision = 0x4B;
  a.powerOnSeconds = 7 * 3600 + 59;
  a.hostPort1State = kOff;
  a.hostPort0LoopId = 255;
  a.airTemperature = 58;  // above the 55 of the three-sensor types
  a.voltages[voltageIndex(154)] = 12100;
  a.batteryState = kDisabled;
  auto keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/controller/controller_info.html");
  EXPECT_EQ(keys["ControllerLoop"], "1");
  EXPECT_EQ(keys["ControllerLoop0ID"], "0");
  EXPECT_EQ(keys["ControllerLoop0MajorFwVersion"], "3.1");
  EXPECT_EQ(keys["ControllerLoop0FwVersionAscii"], "R301");
  EXPECT_EQ(keys["ControllerLoop0CpldDecoderRevision"], "4");
  EXPECT_EQ(keys["ControllerLoop0CpldArbitorRevision"], "B");
  EXPECT_EQ(keys["ControllerLoop0PowerOnTimeInHours"], "7");
  EXPECT_EQ(keys["ControllerLoop0ProcessorType"], "Lindsay") << "newer family with SAS drives";
  EXPECT_EQ(keys["ControllerLoop0HostLoop1"], "Up (ID N/A)");
  EXPECT_EQ(keys["ControllerLoop0HostLoop2"], "Failed");
  EXPECT_EQ(keys["ControllerLoop0VoltageLoop0Label"], "12V Input");
  EXPECT_EQ(keys["ControllerLoop0VoltageLoop0Voltage"], "12.100V");
  EXPECT_EQ(keys["ControllerLoop0VoltageLoop0Range"], "[10.800V - 13.200V]");
  EXPECT_EQ(keys["ControllerLoop0VoltageLoop2Voltage"], "N/A")
      << "battery voltage while the battery is disabled";
  EXPECT_EQ(keys["ControllerLoop0VoltageLoop2Range"], "");
  EXPECT_EQ(keys["ControllerLoop0TemperatureLoop"], "3");
  EXPECT_EQ(keys["ControllerLoop0TemperatureLoop0Reading"], "58");
  EXPECT_EQ(keys["ControllerLoop0TemperatureLoop0IsOutOfRange"], "true");
  EXPECT_EQ(keys["ControllerLoop0BatteryDisabled"], "true");
  EXPECT_EQ(keys["ControllerLoop0BatteryisOk"], "false");
  EXPECT_EQ(keys["ResetController0Enabled"], "true");
  EXPECT_EQ(keys["ResetController1Enabled"], "false");
  EXPECT_EQ(keys["ResetControllerBothEnabled"], "false");
  EXPECT_EQ(keys["SyncTimeEnabled"], "true");
  EXPECT_EQ(keys["GetDiagEnabled"], "true") << "level 0x0301 is above 516";
  EXPECT_EQ(keys["ControllerDualMode"], "true");
  EXPECT_EQ(keys["ConfigurationWwn"], "20000004CF8A1B2C");
  EXPECT_EQ(keys["ExportLogsEnabled"], "true");
  EXPECT_EQ(keys.count("MessageSummary"), 0u);
}

TEST_F(ControllerPage, OldFirmwareTextAndLowBattery) {
  ControllerRecord& a = pair_.info.controllers[0];
  a.firmwareLevel = 0x00000001;
  a.batteryCharge = 60;
  a.powerOnSeconds = 3600;
  auto keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_EQ(keys["ControllerLoop"], "2");
  EXPECT_EQ(keys["ControllerLoop0MajorFwVersion"], "2.3");
  EXPECT_EQ(keys["ControllerLoop0BatteryIsOutOfRange"], "true");
  EXPECT_EQ(keys["ControllerLoop0BatteryClass"], "warn") << "within the first day of power-on";
  EXPECT_EQ(keys["ControllerLoop1ID"], "1");
  EXPECT_EQ(keys["ResetControllerBothEnabled"], "true");
}

TEST_F(ControllerPage, UnreadableHeaderAddsItsResultAndDisablesTheLogActions) {
  pair_.refusedReads.insert(kOpReadConfigHeader);
  auto keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_EQ(keys["ControllerDualMode"], "false");
  EXPECT_EQ(keys["ConfigurationWwn"], "20000004CF8A1B2C") << "the controller record's WWN";
  EXPECT_EQ(keys["ExportLogsEnabled"], "false");
  EXPECT_EQ(keys["ClearLogsEnabled"], "false");
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_EQ(keys["MessageSummary"], "The command \"Read controller information\" failed.");

  pair_.refusedReads.insert(kOpReadControllerInfo);
  keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_EQ(keys["ControllerInfoUnavailable"], "true");
  EXPECT_EQ(keys["ControllerLoop"], "0");
}

TEST_F(ControllerPage, LayoutAndCapabilityFlags) {
  auto keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_EQ(keys["IsAbleToShowLoopStatus"], "true");
  EXPECT_EQ(keys["FlashDiskIoEnabled"], "false") << "no controller reports the feature";
  EXPECT_EQ(keys["ControllersPlacedLeftRight"], "false");
  EXPECT_EQ(keys["DifferentNodeNameOnHostPorts"], "false");

  // U320 SCSI hosts with firmware up to 0x02052236 cannot show loop status; type 9 is drawn side by
  // side; the disk I/O feature and the header's node-name byte show.
  setInterfaces(kInterfaceSas, kHostInterfaceScsi, 2);
  state_->controllerType = 9;
  pair_.info.controllers[0].firmwareLevel = 0x02052236;
  pair_.info.controllers[1].features = kFeatureDiskIoFirmware;
  pair_.config->header.differentNodeNames = kOn;
  keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_EQ(keys["IsAbleToShowLoopStatus"], "false");
  EXPECT_EQ(keys["FlashDiskIoEnabled"], "true");
  EXPECT_EQ(keys["ControllersPlacedLeftRight"], "true");
  EXPECT_EQ(keys["DifferentNodeNameOnHostPorts"], "true");
  pair_.info.controllers[0].firmwareLevel = 0x02052237;
  keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_EQ(keys["IsAbleToShowLoopStatus"], "true") << "a newer firmware shows it";
  pair_.info.stateA = pair_.info.stateB = kOff;
  keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_NE(keys["FlashDiskIoEnabled"], "true") << "needs a valid controller";
}

TEST_F(ControllerPage, PairNamedBySolutionNumber) {
  auto keys = run(getControllerInformationMethod, requestFor({{"StorageSolution", "1"}}, nullptr));
  EXPECT_EQ(keys["ModDeviceName"], testing::kTestPair);
  EXPECT_EQ(keys["ControllerLoop"], "2");
  keys = run(getControllerInformationMethod, requestFor({{"StorageSolution", "2"}}, nullptr));
  EXPECT_EQ(keys["ControllerInfoUnavailable"], "true");
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
}

}  // namespace
}  // namespace brivo
