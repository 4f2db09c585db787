// The solution checks on buffers built by hand: the battery rule with its first day of power-on,
// the voltage and temperature tables of the controller types, host ports, a missing controller,
// drive loops, arrays, drives (the member being rebuilt counts as good), snapshot areas, and the
// way their results combine (Unknown stays).
#include "modules/brivo/monitor/solution_checks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "modules/brivo/monitor/solution_status.h"

namespace brivo::monitor {
namespace {

// A healthy controller record of an SAS pair (type 6: three temperatures, twelve voltages).
ControllerRecord healthyRecord() {
  ControllerRecord r{};
  r.batteryState = kOn;
  r.batteryCharge = 100;
  r.powerOnSeconds = 3600;
  r.airTemperature = 40;
  r.expanderTemperature = 50;
  r.cpuTemperature = 50;
  const VoltageTable table = voltageSensors(6);
  for (int i = 0; i < table.count; ++i) {
    const VoltageSensor& s = table.rows[i];
    r.voltages[voltageIndex(s.offset)] =
        static_cast<uint16_t>(s.lowMv == 0 ? 4000 : (s.lowMv + s.highMv) / 2);
  }
  r.hostPort0State = r.hostPort1State = kOn;
  r.driveLoop1State = r.driveLoop2State = kOn;
  return r;
}

// A pair's buffers, healthy, with the snapshot pointing at them.
struct Pair {
  std::unique_ptr<ControllerInformation> info = std::make_unique<ControllerInformation>();
  ConfigurationHeader header{};
  std::unique_ptr<ArrayRecord[]> arrays = std::make_unique<ArrayRecord[]>(kMaxArrays);
  std::unique_ptr<DriveList> drives = std::make_unique<DriveList>();
  PairSnapshot snapshot;

  explicit Pair(uint8_t driveInterface = kInterfaceSas, uint8_t hostInterface = kInterfaceFc) {
    info->stateA = info->stateB = kOn;
    info->controllers[0] = info->controllers[1] = healthyRecord();
    header.singleControllerMode = kOff;
    snapshot.name = "Brivo20000004CF8A1B2C";
    const uint8_t word[4] = {driveInterface, 2, static_cast<uint8_t>(0x20 | hostInterface), 0};
    snapshot.traits = traitsFromRecord(0x80, 0, word);  // the family whose loop count counts
    snapshot.info = info.get();
    snapshot.header = &header;
    snapshot.arrays = arrays.get();
    snapshot.drives = drives.get();
  }
  void addArray(int n, uint8_t raidLevel, uint8_t fault, int members) {
    ArrayRecord& a = arrays[n];
    a.valid = kOn;
    a.raidLevel = raidLevel;
    a.driveCount = static_cast<uint8_t>(members);
    a.faultStatus = fault;
    header.arrayCount = static_cast<uint16_t>(std::max<int>(header.arrayCount, n + 1));
  }
  DriveListEntry& addDrive(uint8_t array = 0xFF, uint8_t member = 0xFF) {
    DriveListEntry& e = drives->entries[drives->count];
    e.loop1Id = e.loop2Id = drives->count;
    e.array = array;
    e.member = member;
    std::memcpy(e.serial, "ZC100000    ", 12);
    ++drives->count;
    return e;
  }
  SolutionReport evaluate() const { return evaluateSolution(snapshot); }
};

bool hasKind(const SolutionReport& report, CheckKind kind) {
  for (const CheckResult& c : report.checks) {
    if (c.kind == kind) return true;
  }
  return false;
}

TEST(BatteryRule, LowChargeWarnsDuringTheFirstDayAndFailsAfterIt) {
  ControllerRecord r = healthyRecord();
  r.batteryCharge = 79;
  r.powerOnSeconds = 3600;
  EXPECT_EQ(batteryStatus(r, 80), kStatusWarning);
  r.powerOnSeconds = kBatteryGraceSeconds;
  EXPECT_EQ(batteryStatus(r, 80), kStatusWarning) << "a whole day is still the first day";
  r.powerOnSeconds = kBatteryGraceSeconds + 1;
  EXPECT_EQ(batteryStatus(r, 80), kStatusError);
  EXPECT_EQ(batteryStatus(r, 79), kStatusOk) << "the threshold is the setting's";
  r.batteryState = kDisabled;
  EXPECT_EQ(batteryStatus(r, 80), kStatusOk) << "a disabled battery is not judged";
  r.batteryState = kOff;
  r.batteryCharge = 100;
  EXPECT_EQ(batteryStatus(r, 80), kStatusError);
}

TEST(ControllerHealth, VoltagesAndTemperaturesFollowTheTypeTables) {
  ControllerRecord r = healthyRecord();
  ControllerHealth health = controllerHealth(r, 6, 80);
  EXPECT_EQ(health.status, kStatusOk);
  ASSERT_EQ(health.voltages.size(), 12u);
  ASSERT_EQ(health.temperatures.size(), 3u);

  r.voltages[voltageIndex(154)] = 10799;  // 12V Input below 10800
  health = controllerHealth(r, 6, 80);
  EXPECT_EQ(health.voltage, kStatusError);
  EXPECT_EQ(health.voltages[0].label, "12V Input");
  EXPECT_EQ(health.voltages[0].status, kStatusError);
  r.voltages[voltageIndex(154)] = 13200;  // the range is inclusive
  EXPECT_EQ(controllerHealth(r, 6, 80).voltage, kStatusOk);

  // The battery voltage has no range and shows only while the battery is present and good.
  r.voltages[voltageIndex(168)] = 1;
  health = controllerHealth(r, 6, 80);
  EXPECT_EQ(health.voltage, kStatusOk);
  EXPECT_TRUE(health.voltages[2].shown);
  r.batteryState = kDisabled;
  EXPECT_FALSE(controllerHealth(r, 6, 80).voltages[2].shown);

  // Air temperature: limit 55 on type 6, 65 on the one-sensor types; types 8 and 9 have none.
  r = healthyRecord();
  r.airTemperature = 56;
  EXPECT_EQ(controllerHealth(r, 6, 80).temperature, kStatusError);
  EXPECT_EQ(controllerHealth(r, 5, 80).temperature, kStatusOk);
  EXPECT_TRUE(controllerHealth(r, 8, 80).temperatures.empty());
  r.airTemperature = 40;
  r.cpuTemperature = 66;
  EXPECT_EQ(controllerHealth(r, 14, 80).temperature, kStatusError);
  EXPECT_EQ(controllerHealth(r, 14, 80).temperatures[2].label, "CPU Temperature");
  EXPECT_EQ(controllerHealth(r, 1, 80).temperature, kStatusOk) << "type 1 has no CPU sensor";
}

TEST(ControllerChecks, MissingControllerCountsOnlyInDualMode) {
  Pair pair;
  EXPECT_EQ(pair.evaluate().status, kStatusOk);
  pair.info->stateB = kOff;
  SolutionReport report = pair.evaluate();
  EXPECT_EQ(report.status, kStatusError);
  EXPECT_TRUE(hasKind(report, CheckKind::kControllerFailed));
  EXPECT_TRUE(hasKind(report, CheckKind::kSingleController));
  EXPECT_FALSE(report.controllers[1].present);

  pair.header.singleControllerMode = kOn;  // the pair runs on one controller on purpose
  EXPECT_EQ(pair.evaluate().status, kStatusOk);
}

TEST(ControllerChecks, HostPortsAndDriveLoopsApplyToFibreChannelPairsOnly) {
  Pair sas;
  sas.info->controllers[0].hostPort1State = sas.info->controllers[1].hostPort1State = kOff;
  sas.info->controllers[0].driveLoop2State = kOff;
  EXPECT_EQ(sas.evaluate().status, kStatusOk);
  EXPECT_FALSE(sas.evaluate().usedHostPorts);

  Pair fc(kInterfaceFc, kInterfaceFc);
  fc.info->controllers[0].hostPort1State = kOff;
  EXPECT_EQ(fc.evaluate().status, kStatusOk) << "one controller's port alone is not a failed port";
  fc.info->controllers[1].hostPort1State = kOff;
  SolutionReport report = fc.evaluate();
  EXPECT_TRUE(report.usedHostPorts);
  ASSERT_TRUE(hasKind(report, CheckKind::kHostPort));
  EXPECT_EQ(report.checks[0].index, 1);
  EXPECT_EQ(report.status, kStatusError);

  Pair loops(kInterfaceFc, kInterfaceFc);
  loops.info->controllers[1].driveLoop2State = kOff;
  report = loops.evaluate();
  EXPECT_TRUE(hasKind(report, CheckKind::kDriveLoop)) << "the pair has two loops";
  EXPECT_EQ(report.checks[0].controller, 1);
}

TEST(ArrayChecks, FaultStatusesAndUnknownThatStays) {
  Pair pair;
  pair.addArray(0, kRaid5, kFaultTolerant, 4);
  pair.addArray(1, kRaid0, kFaultDegraded, 2);  // RAID 0 has nothing to degrade from
  EXPECT_EQ(pair.evaluate().status, kStatusOk);
  pair.addArray(2, kRaid5, kFaultRebuilding, 4);
  EXPECT_EQ(pair.evaluate().status, kStatusWarning);
  pair.addArray(3, kRaid1, kFaultInvalid, 2);
  EXPECT_EQ(pair.evaluate().status, kStatusError);

  Pair odd;
  odd.addArray(0, kRaid5, 7, 4);
  odd.addDrive().status = kDriveFailed;  // an Error found after the Unknown
  SolutionReport report = odd.evaluate();
  EXPECT_EQ(report.status, kStatusUnknown);
  EXPECT_TRUE(hasKind(report, CheckKind::kDrive));
}

TEST(DriveChecks, MemberStatusRebuildAndLoopPresence) {
  Pair pair;
  pair.addArray(0, kRaid5, kFaultRebuilding, 3);
  pair.addDrive(0, 0);
  pair.addDrive(0, 1);
  pair.arrays[0].memberStatus[1] = kMemberRebuilding;
  // Bytes 449/450 name a member, but no rebuild runs: the member's state still counts.
  pair.info->rebuildArray = 0;
  pair.info->rebuildMember = 1;
  SolutionReport report = pair.evaluate();
  EXPECT_EQ(report.status, kStatusError);
  EXPECT_TRUE(hasKind(report, CheckKind::kDrive));
  pair.info->rebuildValid = kOn;
  EXPECT_EQ(pair.evaluate().status, kStatusWarning) << "the member being rebuilt counts as good";

  Pair loops;
  loops.addDrive().loop2Id = kNotOnLoop;
  report = loops.evaluate();
  EXPECT_TRUE(hasKind(report, CheckKind::kDriveLoopPresence));
  EXPECT_EQ(report.checks[0].label, "ZC100000");
  const uint8_t singleLoop[4] = {kInterfaceSas, 1, 0x21, 0};
  loops.snapshot.traits = traitsFromRecord(0x80, 0, singleLoop);
  EXPECT_EQ(loops.evaluate().status, kStatusOk) << "a single-loop pair has no second loop";
  const uint8_t twoLoops[4] = {kInterfaceSas, 2, 0x21, 0};
  loops.snapshot.traits = traitsFromRecord(0x81, 0, twoLoops);
  EXPECT_EQ(loops.evaluate().status, kStatusOk) << "only family 0x80 takes its loop count for dual loops";
  loops.snapshot.traits = traitsFromRecord(5, 0, twoLoops);
  EXPECT_EQ(loops.evaluate().status, kStatusError) << "older family 5 has two loops";
}

TEST(SnapshotChecks, OverrunAndInvalidAreErrorsWarningLevelsWarnings) {
  Pair pair;
  SnapshotArea areas[3] = {};
  for (SnapshotArea& a : areas) a.valid = kOn;
  areas[0].flags = kSnapPresent;
  pair.snapshot.snapshotAreas = areas;
  pair.snapshot.snapshotsSupported = true;
  pair.snapshot.snapshotsRead = true;
  EXPECT_EQ(pair.evaluate().status, kStatusOk);
  areas[1].flags = kSnapWarning2;
  EXPECT_EQ(pair.evaluate().status, kStatusWarning);
  areas[2].flags = kSnapOverrun;
  areas[2].sourceDrive = 7;
  SolutionReport report = pair.evaluate();
  EXPECT_EQ(report.status, kStatusError);
  EXPECT_EQ(report.checks.back().index, 7);
  pair.snapshot.snapshotsSupported = false;
  EXPECT_EQ(pair.evaluate().status, kStatusOk) << "a pair without snapshots is not judged by them";
}

TEST(SolutionReport, UnreadBuffersSkipTheirGroups) {
  Pair pair;
  pair.info->stateB = kOff;
  pair.addDrive().status = kDriveFailed;
  pair.snapshot.info = nullptr;  // controller checks skipped
  SolutionReport report = pair.evaluate();
  EXPECT_FALSE(hasKind(report, CheckKind::kControllerFailed));
  EXPECT_TRUE(hasKind(report, CheckKind::kDrive));
  pair.snapshot.drives = nullptr;
  EXPECT_EQ(pair.evaluate().status, kStatusOk);
  EXPECT_STREQ(checkKindName(CheckKind::kEnclosureFans), "EnclosureFans");
}

}  // namespace
}  // namespace brivo::monitor
