// Tests of the event reader wired into the module: through the module's real transport (chunked
// READ BUFFER against a fake controller), its shipped files, its bookmark times in
// BrivoConfigurations.db and its ModuleServices, a pair's events go from the controller's log into
// raised events, the start-up replay marks them, and the two web methods answer.
#include "modules/brivo/events/module_events.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/events/event_export.h"
#include "modules/brivo/events/event_test_support.h"
#include "modules/brivo/events/event_time.h"
#include "modules/brivo/module_state.h"

namespace brivo {
namespace {

constexpr char kPath[] = "sim:/tmp/events.sock:0:0:0:0";
constexpr char kName[] = "Brivo0123456789ABCDEF";

// The module folder copies the shipped files from KESTROVA_SOURCE_DIR (set by ctest); a test run
// by hand finds them beside this file.
bool knowSourceFolder() {
  if (std::getenv("KESTROVA_SOURCE_DIR") == nullptr) {
    std::filesystem::path root = std::filesystem::path(__FILE__).parent_path() / "../../..";
    setenv("KESTROVA_SOURCE_DIR", std::filesystem::weakly_canonical(root).string().c_str(), 0);
  }
  return true;
}

class ModuleEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services_ = testing::recordingServices();
    moduleState().services.store(&services_);
    moduleState().files.load();
    std::filesystem::create_directories(folder_.path() / "temp");
    {
      std::lock_guard<std::mutex> lock(testing::raisedLock());
      testing::raisedEvents().clear();
    }
    device_ = list_.add(kPath);
    item_ = list_.hangItem(device_, kName);
    BrivoDeviceState* state = stateOf(item_);
    state->controllerBValid = 1;
    state->interfaceWord[0] = kInterfaceFc;
    state->interfaceWord[2] = 0x21;
    moduleState().deviceList.store(list_.head());
    fake_->answer(kPath, [this](const ScsiCommand& c) { return respond(c); });
  }
  void TearDown() override {
    moduleState().deviceList.store(nullptr);
    (void)moduleState().files.saveAndUnload();
    moduleState().services.store(nullptr);
  }

  ScsiResult respond(const ScsiCommand& c) {
    if (c.direction == ScsiDirection::kOut) return testing::goodResult(c.dataLength);
    std::vector<uint8_t> buffer;
    if (c.cdb[2] == kOpReadEventLogA || c.cdb[2] == kOpReadEventLogB) {
      buffer.resize(sizeof(EventLog));
      logs_[c.cdb[2] - kOpReadEventLogA].build(reinterpret_cast<EventLog*>(buffer.data()));
    } else if (c.cdb[2] == kOpReadControllerInfo) {
      buffer = testing::controllerInformation();
    }
    uint32_t offset = testing::cdbOffset(c);
    std::memset(c.data, 0, c.dataLength);
    if (offset < buffer.size()) {
      std::memcpy(c.data, buffer.data() + offset, std::min<size_t>(c.dataLength, buffer.size() - offset));
    }
    return testing::goodResult(c.dataLength);
  }
  std::vector<testing::RaisedEventRecord> raised() {
    std::lock_guard<std::mutex> lock(testing::raisedLock());
    return testing::raisedEvents();
  }
  std::string stored(const char* side) {
    return moduleState().files.value(PropertyTable::kConfigurations, (std::string(kName) + side).c_str());
  }
  TableOwner request(std::initializer_list<std::pair<const char*, const char*>> keys) {
    TableOwner table;
    for (const auto& [key, value] : keys) addVariable(table.address(), key, value);
    return table;
  }

  bool sourceKnown_ = knowSourceFolder();
  testing::ModuleFolder folder_{true};  // the test works inside it
  testing::FakeTransportScope fake_;
  testing::DeviceList list_;
  testing::RunningModule running_;
  ModuleServices services_{};
  DeviceRecord* device_ = nullptr;
  ModDeviceItem* item_ = nullptr;
  events::testing::ControllerLog logs_[2];
};

TEST_F(ModuleEventsTest, EventsTravelFromTheControllerLogToRaisedEvents) {
  logs_[0].clock = events::testing::timeOf(2008, 3, 1, 10, 0, 0);
  logs_[0].append(events::testing::entryOf(logs_[0].clock, 0x01, {1, 0}));
  replayStartupEvents(device_, item_, stateOf(item_));
  EXPECT_TRUE(raised().empty());
  EXPECT_EQ(stored("LastAEventTime"), std::to_string(*events::eventSeconds(logs_[0].clock)));

  EventTime when = events::testing::timeOf(2008, 3, 1, 10, 5, 0);
  logs_[0].append(events::testing::entryOf(when, kEvBattery, {kBatteryLow, 79}));
  logs_[0].clock = events::testing::timeOf(2008, 3, 1, 10, 6, 0);
  events::MonitorOutcome outcome = monitorPairEventsOf(device_, item_, stateOf(item_));
  EXPECT_EQ(outcome.recorded, 1);
  std::vector<testing::RaisedEventRecord> got = raised();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].device, "Brivo 0123456789ABCDEF (0)");
  EXPECT_EQ(got[0].message, "The battery charge is low (79 percent).");
  EXPECT_EQ(got[0].level, 1u);
  EXPECT_EQ(got[0].id, 0xB42u);
  EXPECT_EQ(got[0].time, *events::eventSeconds(when));
  EXPECT_EQ(got[0].sync, 0);
  EXPECT_EQ(stored("LastAEventTime"), std::to_string(*events::eventSeconds(when)));
  // The 98320-byte log went out in chunks of 0x10000 at most.
  for (const testing::SentCommand& sent : fake_->sent()) EXPECT_LE(sent.length, 0x10000u);
}

TEST_F(ModuleEventsTest, StartupReplayAfterARestartAddsTheSyncText) {
  EventTime before = events::testing::timeOf(2008, 3, 1, 9, 0, 0);
  EventTime after = events::testing::timeOf(2008, 3, 1, 9, 30, 0);
  moduleState().files.setValue(PropertyTable::kConfigurations,
                               (std::string(kName) + "LastAEventTime").c_str(),
                               std::to_string(*events::eventSeconds(before)).c_str());
  logs_[0].append(events::testing::entryOf(before, 0x04, {1}));
  logs_[0].append(events::testing::entryOf(after, 0x04, {2}));
  replayStartupEvents(device_, item_, stateOf(item_));
  std::vector<testing::RaisedEventRecord> got = raised();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].message.rfind("Array 2 was deleted. ", 0), 0u) << got[0].message;
  EXPECT_NE(got[0].message.find("03/01/08"), std::string::npos);
  EXPECT_NE(got[0].message.find("09:30:00"), std::string::npos);
  EXPECT_EQ(got[0].sync, 1);
  EXPECT_EQ(stateOf(item_)->replayingA, 0);
  EXPECT_EQ(stateOf(item_)->lastAEventIndex, 1);
}

TEST_F(ModuleEventsTest, WebMethodsFindThePairByName) {
  logs_[1].append(events::testing::entryOf(events::testing::timeOf(2008, 3, 1, 8, 0, 0), 0x03, {4, 5, 3}));
  TableOwner exported(getAllControllerLogsMethod(request({{"ModDeviceName", kName}}).get()));
  EXPECT_STREQ(getVariable(exported.get(), "ExportText"), "../../temp/ControllerEvents.log.csv");
  std::string csv = folder_.read("temp/ControllerEvents.log.csv");
  EXPECT_NE(csv.find("\"1\",\"0\",\"03/01/08\",\"08:00:00\",\"Brivo 0123456789ABCDEF (1)\","
                     "\"Array 4 was created as RAID 5 with 3 member drives.\","),
            std::string::npos)
      << csv;
  EXPECT_EQ(folder_.read("Information/ControllerEvents.log.csv"), csv);

  fake_->clearSent();
  TableOwner cleared(
      clearControllerLogsMethod(request({{"ModDeviceName", kName}, {"ControllerId", "Both"}}).get()));
  EXPECT_STREQ(getVariable(cleared.get(), "MessageIsSuccess"), "true");
  ASSERT_EQ(fake_->sent().size(), 1u);
  EXPECT_EQ(fake_->sent()[0].cdb[0], 0x3B);
  EXPECT_EQ(fake_->sent()[0].cdb[2], kOpClearEventLog);
  EXPECT_EQ(fake_->sent()[0].cdb[3], kSelectBoth);

  TableOwner unknown(clearControllerLogsMethod(request({{"ModDeviceName", "BrivoFFFFFFFFFFFFFFFF"}}).get()));
  EXPECT_STREQ(getVariable(unknown.get(), "MessageIsSuccess"), "false");
  EXPECT_EQ(fake_->sent().size(), 1u);
}

}  // namespace
}  // namespace brivo
