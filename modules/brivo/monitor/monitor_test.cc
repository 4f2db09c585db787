// The monitor against fake controller pairs: the enclosure watch (discovery, changes that count
// and those that do not, a failed status page, an enclosure that went away, support switched
// off) and the cycle (each pair once whatever its paths, at most 40 pairs, pairs monitored
// elsewhere left alone, claim changes noted).
#include "modules/brivo/monitor/monitor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/controller_identity.h"
#include "modules/brivo/monitor/enclosure_watch.h"
#include "modules/brivo/monitor/solution_status.h"
#include "modules/brivo/pair_access.h"

namespace brivo::monitor {
namespace {

using brivo::testing::FakeControllers;

constexpr size_t kFanElement = 8 + 4 * (1 + 2) + 4 * (1 + 0);              // first fan (after 2 slots)
constexpr size_t kTemperatureElement = 8 + 4 * (1 + 2) + 4 * (1 + 1) + 4;  // first sensor

// One simulated pair: every buffer the monitor reads, served by buffer ID; the SES pages of one
// enclosure (2 slots, 1 fan, 1 temperature sensor) through 0xF0.
class PairModel {
 public:
  explicit PairModel(uint64_t wwn) {
    testing::RecordSpec spec;
    spec.wwn = wwn;
    info = testing::controllerInformation(spec);
    auto* i = reinterpret_cast<ControllerInformation*>(info.data());
    for (ControllerRecord& r : i->controllers) {  // healthy: battery charged, voltages in range
      r.batteryState = kOn;
      r.batteryCharge = 100;
      const VoltageTable table = voltageSensors(6);
      for (int v = 0; v < table.count; ++v) {
        r.voltages[voltageIndex(table.rows[v].offset)] = table.rows[v].highMv;
      }
    }
    i->enclosures[0].valid = kOn;
    i->enclosures[0].addresses[0] = {0x7D, kNotOnLoop};
    for (int k = 1; k < 4; ++k) i->enclosures[0].addresses[k] = {kNotOnLoop, kNotOnLoop};
    std::memcpy(i->enclosures[0].wwn, "\x50\x0A\x0B\x80\x00\x11\x22\x33", 8);
    header.assign(kConfigHeaderLength, 0);
    reinterpret_cast<ConfigurationHeader*>(header.data())->enclosureSupport = kOn;
    reinterpret_cast<ConfigurationHeader*>(header.data())->singleControllerMode = kOff;
    eventLog.assign(kEventLogLength, 0);
    auto* log = reinterpret_cast<EventLog*>(eventLog.data());
    log->length = 16 + 24;
    log->time = EventTime{2008, 3, 1, 6, 12, 0, 0};
    log->count = 1;
    log->entries[0].time = EventTime{2008, 3, 1, 6, 11, 0, 0};
    log->entries[0].code = 0x52;
    sesConfig = {0x01, 0,    0,    0,    0,    0, 0, 0, 0x11, 0, 3, 8, 0x50, 0x0A, 0x0B, 0x80,
                 0x00, 0x11, 0x22, 0x33, 0x01, 2, 0, 0, 0x03, 1, 0, 0, 0x04, 1,    0,    0};
    sesConfig[3] = static_cast<uint8_t>(sesConfig.size() - 4);
    sesStatus = {0x02, 0, 0, 0, 0, 0, 0, 0};
    for (int element = 0; element < 7; ++element) sesStatus.insert(sesStatus.end(), {1, 0, 0, 0});
    sesStatus[3] = static_cast<uint8_t>(sesStatus.size() - 4);
    sesStrings = {0x04, 0, 0, 4, 'a', 'b', 'c', 'd'};
  }

  FakeControllers::Responder responder() {
    return [this](const ScsiCommand& c) {
      const std::vector<uint8_t>* buffer = bufferFor(c.cdb[2], c.cdb[6]);
      if (buffer == nullptr) return testing::checkCondition(c, 5, 0x20, 0);
      std::memset(c.data, 0, c.dataLength);
      std::memcpy(c.data, buffer->data(), std::min<size_t>(c.dataLength, buffer->size()));
      return testing::goodResult(c.dataLength);
    };
  }

  std::vector<uint8_t> info, header, eventLog, sesConfig, sesStatus, sesStrings;
  bool statusPageFails = false;

 private:
  const std::vector<uint8_t>* bufferFor(uint8_t id, uint8_t page) const {
    static const std::vector<uint8_t> kEmpty(16, 0);
    switch (id) {
      case kOpReadControllerInfo:
        return &info;
      case kOpReadConfigHeader:
      case kOpReadConfiguration:
        return &header;
      case kOpReadEventLogA:
      case kOpReadEventLogB:
        return &eventLog;
      case kOpReadSesPage:
        if (page == 0x01) return &sesConfig;
        if (page == 0x02) return statusPageFails ? nullptr : &sesStatus;
        return &sesStrings;
      default:
        return &kEmpty;  // drive list, snapshot areas: empty
    }
  }
};

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.write("mods/Brivo/EventStrings.db", "SESEnclosureMissing = Enclosure %s is gone.\n");
    moduleState().files.load();
    moduleState().services.store(&services_);
    moduleState().monitorCycleComplete.store(false);
    std::lock_guard<std::mutex> lock(testing::raisedLock());
    testing::raisedEvents().clear();
  }
  void TearDown() override {
    moduleState().services.store(nullptr);
    moduleState().deviceList.store(nullptr);
    moduleState().devicesAccepted.store(false);
    moduleState().monitorCycleComplete.store(true);
    moduleState().files.saveAndUnload();
  }

  // A path to a pair served by model; its item is MINE.
  ModDeviceItem* addPath(const std::string& device, const std::string& name, PairModel& model) {
    fake_->answer(device, model.responder());
    ModDeviceItem* item = list_.hangItem(list_.add(device), name);
    item->modStatus = MINE;
    return item;
  }
  std::vector<std::string> raised() {
    std::lock_guard<std::mutex> lock(testing::raisedLock());
    std::vector<std::string> texts;
    for (const auto& e : testing::raisedEvents()) texts.push_back(e.message);
    return texts;
  }

  testing::ModuleFolder folder_;
  ModuleServices services_ = testing::recordingServices();
  testing::FakeTransportScope fake_;
  testing::DeviceList list_;
  testing::RunningModule running_;
};

TEST_F(MonitorTest, EnclosureWatchCountsRealChangesAndNoticesAMissingEnclosure) {
  PairModel model(0x20000004CF8A1B2CULL);
  ModDeviceItem* item = addPath("path", "Brivo20000004CF8A1B2C", model);
  DeviceRecord* device = list_.head();
  BrivoDeviceState* state = stateOf(item);

  EXPECT_TRUE(watchEnclosures(device, item, state)) << "discovered";
  EXPECT_TRUE(enclosureSupportOn(state));
  ASSERT_EQ(enclosureSnapshot(state).size(), 1u);
  EXPECT_EQ(enclosureSnapshot(state)[0].address, 0x7D);
  EXPECT_EQ(enclosureSnapshot(state)[0].status, model.sesStatus);
  EXPECT_FALSE(watchEnclosures(device, item, state));

  model.sesStatus[kTemperatureElement + 2] = 60;  // the reading alone
  EXPECT_FALSE(watchEnclosures(device, item, state));
  model.sesStatus[kFanElement] = 2;  // the fan fails
  EXPECT_TRUE(watchEnclosures(device, item, state));
  EXPECT_EQ(enclosureSnapshot(state)[0].status[kFanElement], 2) << "the new page replaces the old";
  EXPECT_EQ(enclosureChangeCount(state), 2u);
  const SolutionReport report = solutionReport(device);
  EXPECT_EQ(report.status, kStatusError) << "no fan left";
  ASSERT_EQ(report.checks.size(), 1u);
  EXPECT_EQ(report.checks[0].kind, CheckKind::kEnclosureFans);
  SolutionReport last;
  ASSERT_TRUE(lastSolutionReport("brivo20000004cf8a1b2c", &last));
  EXPECT_EQ(last.status, kStatusError);
  EXPECT_FALSE(lastSolutionReport("Brivo0000000000000000", &last));

  model.statusPageFails = true;
  EXPECT_FALSE(watchEnclosures(device, item, state));
  EXPECT_EQ(state->enclosureRefresh, 1);
  model.statusPageFails = false;
  reinterpret_cast<ControllerInformation*>(model.info.data())->enclosures[0].valid = 0;
  EXPECT_TRUE(watchEnclosures(device, item, state));
  EXPECT_TRUE(enclosureSnapshot(state).empty());
  EXPECT_EQ(raised(), (std::vector<std::string>{"Enclosure 500A0B8000112233 is gone."}));

  reinterpret_cast<ConfigurationHeader*>(model.header.data())->enclosureSupport = kOff;
  EXPECT_EQ(solutionReport(device).status, kStatusOk);
  EXPECT_EQ(state->enclosureRefresh, 1) << "the status check saw the setting change";
  EXPECT_TRUE(watchEnclosures(device, item, state));
  EXPECT_FALSE(enclosureSupportOn(state));
  moduleState().monitorCycleComplete.store(true);
  EXPECT_FALSE(watchEnclosures(device, item, state)) << "outside a cycle the watch does nothing";
}

TEST_F(MonitorTest, CyclePollsEachMonitoredPairOnceAndAtMostForty) {
  std::vector<std::unique_ptr<PairModel>> models;
  for (int n = 0; n < 42; ++n) {
    models.push_back(std::make_unique<PairModel>(0x2000000000000000ULL + n));
    char wwn[32];
    std::snprintf(wwn, sizeof wwn, "Brivo%016llX", 0x2000000000000000ULL + n);
    ModDeviceItem* item = addPath("dev" + std::to_string(n), wwn, *models.back());
    if (n == 0) addPath("dev0-second", wwn, *models.back());
    if (n == 1) item->modStatus = NOT_MINE;  // another server monitors this pair
  }
  moduleState().deviceList.store(list_.head());
  moduleState().devicesAccepted.store(true);
  takeConfigurationChanged();
  ::testing::internal::CaptureStdout();
  const CycleOutcome first = runMonitorCycle();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(first.pairsPolled, 40);
  EXPECT_TRUE(first.statusUpdated) << "first sight of every pair";
  EXPECT_TRUE(moduleState().monitorCycleComplete.load());
  EXPECT_TRUE(takeConfigurationChanged()) << "the claims were seen for the first time";

  int eventReads = 0;
  bool otherServersPairRead = false;
  bool beyondFortyRead = false;
  for (const testing::SentCommand& c : fake_->sent()) {
    if (c.cdb[2] != kOpReadEventLogA) continue;
    ++eventReads;
    otherServersPairRead = otherServersPairRead || c.device == "dev1";
    beyondFortyRead = beyondFortyRead || c.device == "dev41";
  }
  EXPECT_EQ(eventReads, 40) << "pair 0 once although two paths lead to it";
  EXPECT_FALSE(otherServersPairRead);
  EXPECT_FALSE(beyondFortyRead);

  fake_->clearSent();
  ::testing::internal::CaptureStdout();
  const CycleOutcome second = runMonitorCycle();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(second.pairsPolled, 40);
  EXPECT_FALSE(second.statusUpdated) << "nothing new";
  EXPECT_FALSE(takeConfigurationChanged());
}

TEST_F(MonitorTest, APassThatSawSomethingNewUpdatesTheStatusBeforeTheNextPair) {
  PairModel first(0x20000004CF8A0001ULL), second(0x20000004CF8A0002ULL);
  addPath("devA", "Brivo20000004CF8A0001", first);
  addPath("devB", "Brivo20000004CF8A0002", second);
  moduleState().deviceList.store(list_.head());
  moduleState().devicesAccepted.store(true);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(runMonitorCycle().statusUpdates, 2) << "first sight of each pair";
  EXPECT_EQ(runMonitorCycle().statusUpdates, 0) << "nothing new";

  // A new event on the first pair: its pass updates the status before the second pair is read.
  auto* log = reinterpret_cast<EventLog*>(first.eventLog.data());
  log->count = 2;
  log->newest = static_cast<uint16_t>(log->newest + 1);
  log->length = 16 + 2 * 24;
  log->entries[1] = log->entries[0];
  log->entries[1].time.minute = 11;
  log->entries[1].time.second = 30;
  fake_->clearSent();
  const CycleOutcome outcome = runMonitorCycle();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(outcome.statusUpdates, 1);
  size_t statusRead = 0, secondPairRead = 0;
  const auto& sent = fake_->sent();
  for (size_t i = 0; i < sent.size(); ++i) {
    if (statusRead == 0 && sent[i].cdb[2] == kOpReadConfiguration) statusRead = i + 1;
    if (secondPairRead == 0 && sent[i].device == "devB" && sent[i].cdb[2] == kOpReadEventLogA)
      secondPairRead = i + 1;
  }
  ASSERT_NE(statusRead, 0u);
  ASSERT_NE(secondPairRead, 0u);
  EXPECT_LT(statusRead, secondPairRead) << "the update does not wait for the end of the cycle";
}

TEST_F(MonitorTest, BatteryThresholdZeroIsKeptAndOnlyAnUnreadableOneIsTheDefault) {
  const std::pair<const char*, int> cases[] = {
      {"BatteryPercentWarning = 0\n", 0},
      {"BatteryPercentWarning = 35\n", 35},
      {"BatteryPercentWarning = many\n", kDefaultBatteryPercentWarning},
      {"BatteryPercentWarning = 101\n", kDefaultBatteryPercentWarning},
      {"ModuleLogName = Brivo\n", kDefaultBatteryPercentWarning}};
  for (const auto& [file, threshold] : cases) {
    moduleState().files.saveAndUnload();
    folder_.write("mods/Brivo/BrivoSettings.ini", file);
    moduleState().files.load();
    EXPECT_EQ(batteryPercentWarning(), threshold) << file;
  }
}

TEST_F(MonitorTest, APathThatDidNotAnswerAtTheStartIsIdentifiedOnceItAnswers) {
  PairModel model(0x20000004CF8A9F10ULL);
  addPath("pathA", "Brivo20000004CF8A9F10", model);
  // The second path was dead when the devices were accepted: no server claims its placeholder.
  ModDeviceItem* late = list_.hangItem(list_.add("pathB"), std::string("Brivo") + kNotReadSuffix);
  late->modStatus = UNCLAIMED;
  moduleState().deviceList.store(list_.head());
  moduleState().devicesAccepted.store(true);
  ::testing::internal::CaptureStdout();
  runMonitorCycle();
  EXPECT_EQ(std::string(late->name), std::string("Brivo") + kNotReadSuffix) << "still no answer on that path";
  fake_->answer("pathB", model.responder());
  runMonitorCycle();
  ::testing::internal::GetCapturedStdout();
  EXPECT_STREQ(late->name, "Brivo20000004CF8A9F10") << "the pair has its second path again";

  // The path that served the pair from the start dies: the pair is still reached.
  fake_->answer("pathA", [](const ScsiCommand&) { return testing::noAnswer(); });
  for (int request = 0; request < 3; ++request) {
    auto block = newConfigurationBlock();
    EXPECT_EQ(readConfiguration(findPair("Brivo20000004CF8A9F10"), block.get()), kResultGood) << request;
  }
  ::testing::internal::CaptureStdout();
  runMonitorCycle();
  ::testing::internal::GetCapturedStdout();
  auto block = newConfigurationBlock();
  EXPECT_EQ(readConfiguration(findPair("Brivo20000004CF8A9F10"), block.get()), kResultGood)
      << "after a cycle";
}

}  // namespace
}  // namespace brivo::monitor
