// The module's GetMetrics against fake controllers: one set of samples per pair however many paths
// reach it, what a failed controller may still report, a pair that cannot be read, and a path the
// monitor counts as failing (not asked at all).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/method_table.h"

namespace brivo {
namespace {

using namespace brivo::testing;

constexpr char kAlpha[] = "Brivo20000004CF8A1B2C";
constexpr char kBeta[] = "Brivo20000004CF8A9F10";

std::vector<uint8_t> driveList() {
  std::vector<uint8_t> buffer(sizeof(DriveList), 0);
  auto* list = reinterpret_cast<DriveList*>(buffer.data());
  list->length = sizeof(DriveList);
  list->count = 3;
  for (int i = 0; i < 3; ++i) {
    list->entries[i].enclosure = 0;
    list->entries[i].slot = static_cast<uint8_t>(i + 4);
    list->entries[i].driveId = static_cast<uint8_t>(i + 20);
  }
  list->entries[1].status = kDriveFailed;
  list->entries[2].enclosure = 0xFE;
  return buffer;
}

std::vector<uint8_t> configuration() {
  std::vector<uint8_t> buffer(sizeof(ConfigurationBlock), 0);
  auto* cfg = reinterpret_cast<ConfigurationBlock*>(buffer.data());
  cfg->header.length = kConfigurationLength;
  cfg->header.arrayCount = 2;
  cfg->header.logicalDriveCount = 1;
  std::memcpy(cfg->header.name, "alpha", 5);
  putWwn(0x20000004CF8A1B2CULL, cfg->header.configurationWwn);
  cfg->arrays[1].valid = kOn;
  cfg->arrays[1].faultStatus = kFaultDegraded;
  cfg->arrays[1].capacityGb = 1842;
  cfg->arrays[1].jobKind = kJobRebuild;
  std::memcpy(cfg->arrays[1].name, "mail\0\0\0", 7);
  cfg->logicalDrives[0].valid = kOn;
  cfg->logicalDrives[0].state = kDriveDegraded;
  std::memcpy(cfg->logicalDrives[0].name, "store \"x\"   ", 12);
  return buffer;
}

// Answers READ BUFFER by buffer ID; failId (if any) gets CHECK CONDITION.
FakeControllers::Responder pairResponder(uint8_t failId = 0) {
  RecordSpec spec;
  auto info = controllerInformation(kOn, kOff, spec, spec);
  auto* record = reinterpret_cast<ControllerInformation*>(info.data());
  record->controllers[0].batteryCharge = 64;
  record->controllers[0].batteryState = kDisabled;
  record->controllers[0].airTemperature = 41;
  record->controllers[0].cpuTemperature = 70;
  auto serveInfo = bufferResponder(info);
  auto serveDrives = bufferResponder(driveList());
  auto serveConfig = bufferResponder(configuration());
  return [=](const ScsiCommand& c) {
    const uint8_t id = c.cdb[2];
    if (id == failId) return checkCondition(c, 5, 0x24, 0);
    if (id == kOpReadControllerInfo) return serveInfo(c);
    if (id == kOpReadDriveList) return serveDrives(c);
    if (id == kOpReadConfiguration) return serveConfig(c);
    return checkCondition(c, 5, 0x20, 0);
  };
}

class ModuleMetrics : public ::testing::Test {
 protected:
  void SetUp() override {
    // Pair alpha is reached through two paths, beta through one.
    const DeviceRecord* a = list_.add("sim:a");
    const DeviceRecord* b = list_.add("sim:b", 3);
    const DeviceRecord* c = list_.add("sim:c");
    list_.hangItem(const_cast<DeviceRecord*>(a), kAlpha);
    list_.hangItem(const_cast<DeviceRecord*>(b), kAlpha);
    beta_ = list_.hangItem(const_cast<DeviceRecord*>(c), kBeta);
    moduleState().deviceList.store(list_.head());
  }
  void TearDown() override { moduleState().deviceList.store(nullptr); }

  // The reply's samples as "name{labels}" -> value.
  std::map<std::string, std::string> metrics() {
    TableOwner request;
    addVariable(request.address(), "method", "GetMetrics");
    TableOwner reply(getMetricsMethod(request.get()));
    std::map<std::string, std::string> samples;
    for (VariableEntry* e = reply.get(); e != nullptr; e = e->next) {
      const std::string key = e->key;
      if (key.rfind("metric:", 0) == 0) {
        EXPECT_TRUE(samples.emplace(key.substr(7), e->value).second) << key;
      }
    }
    return samples;
  }

  FakeTransportScope transport_;
  RunningModule running_;
  DeviceList list_;
  ModDeviceItem* beta_ = nullptr;
};

TEST_F(ModuleMetrics, OnePairOneSetOfSamples) {
  transport_->answer("sim:a", pairResponder());
  transport_->answer("sim:b", pairResponder());
  transport_->answer("sim:c", pairResponder());
  const auto m = metrics();
  const std::string a = std::string("pair=\"") + kAlpha + "\"";
  EXPECT_EQ(m.at("kestrova_pair_readable{" + a + "}"), "1");
  EXPECT_EQ(m.at("kestrova_controller_up{" + a + ",controller=\"A\"}"), "1");
  EXPECT_EQ(m.at("kestrova_controller_up{" + a + ",controller=\"B\"}"), "0");
  EXPECT_EQ(m.at("kestrova_controller_battery_charge_percent{" + a + ",controller=\"A\"}"), "64");
  EXPECT_EQ(m.at("kestrova_controller_battery_state{" + a + ",controller=\"A\"}"), "2");
  EXPECT_EQ(m.at("kestrova_controller_temperature_celsius{" + a + ",controller=\"A\",sensor=\"cpu\"}"), "70");
  // A failed controller's record is stale: none of its readings are reported.
  EXPECT_EQ(m.count("kestrova_controller_battery_charge_percent{" + a + ",controller=\"B\"}"), 0u);
  // The drive's place in qcli's list and the controller's drive ID, as the event log names it.
  EXPECT_EQ(m.at("kestrova_drive_status{" + a + ",drive=\"1\",drive_id=\"21\",enclosure=\"0\",slot=\"5\"}"), "1");
  EXPECT_EQ(m.at("kestrova_drive_status{" + a + ",drive=\"2\",drive_id=\"22\",enclosure=\"none\",slot=\"6\"}"),
            "0");
  EXPECT_EQ(m.at("kestrova_pair_info{" + a + ",name=\"alpha\",wwn=\"20000004CF8A1B2C\"}"), "1");
  EXPECT_EQ(m.at("kestrova_drives{" + a + ",status=\"good\"}"), "2");
  EXPECT_EQ(m.at("kestrova_drives{" + a + ",status=\"failed\"}"), "1");
  EXPECT_EQ(m.at("kestrova_array_fault_status{" + a + ",array=\"1\",name=\"mail\"}"), "0");
  EXPECT_EQ(m.at("kestrova_array_job{" + a + ",array=\"1\",name=\"mail\"}"), "2");
  EXPECT_EQ(m.count("kestrova_array_fault_status{" + a + ",array=\"0\",name=\"\"}"), 0u);  // a free slot
  EXPECT_EQ(m.at("kestrova_arrays{" + a + ",state=\"degraded\"}"), "1");
  EXPECT_EQ(m.at("kestrova_logical_drive_state{" + a + ",logical_drive=\"0\",name=\"store \\\"x\\\"\"}"),
            "1");
  // Each pair is read through one path only.
  int alphaInfoReads = 0;
  for (const SentCommand& sent : transport_->sent()) {
    if (sent.cdb[2] == kOpReadControllerInfo && sent.device != "sim:c") ++alphaInfoReads;
  }
  EXPECT_EQ(alphaInfoReads, 1);
}

TEST_F(ModuleMetrics, UnreadableAndFailingPairsReportOnlyThat) {
  transport_->answer("sim:a", pairResponder(kOpReadDriveList));
  transport_->answer("sim:b", pairResponder(kOpReadDriveList));
  transport_->answer("sim:c", pairResponder());
  storeField(stateOf(beta_)->failureCount, 3);
  const auto m = metrics();
  for (const char* pair : {kAlpha, kBeta}) {
    const std::string label = std::string("pair=\"") + pair + "\"";
    EXPECT_EQ(m.at("kestrova_pair_readable{" + label + "}"), "0") << pair;
    EXPECT_EQ(m.count("kestrova_pair_solution_status{" + label + "}"), 1u) << pair;
    for (const auto& [key, value] : m) {
      const bool other = key.find(label) != std::string::npos && key.rfind("kestrova_pair_", 0) != 0;
      EXPECT_FALSE(other) << key;
    }
  }
  for (const SentCommand& sent : transport_->sent()) EXPECT_NE(sent.device, "sim:c");
}

}  // namespace
}  // namespace brivo
