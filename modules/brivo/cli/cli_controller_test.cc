// The controller, statistics and enclosure handlers against a fake pair: sensors judged against
// their limits, reset and shutdown selectors and failure lines, firmware images checked before
// they are sent, the diagnostics dump, statistics read and cleared per controller, and the
// enclosure elements decoded from SES pages.
#include <gtest/gtest.h>

#include <string>

#include "modules/brivo/cli/cli_enclosure_ses.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_pair_test_support.h"
#include "modules/brivo/cli/cli_statistics_text.h"

namespace brivo::cli {
namespace {

class ControllerCommands : public testing::PairTest {
 protected:
  void SetUp() override {
    PairTest::SetUp();
    ControllerRecord& a = ctx().info->controllers[0];
    a.family = 0x81;
    a.driveInterface = kInterfaceSas;
    a.driveLoops = 2;
    a.hostInterface = 0x21;  // two FC host ports: type 6
    a.hostPort0State = kOn, a.hostPort0LoopId = 0x20;
    a.airTemperature = 56;  // limit 55
    a.cpuTemperature = 40;
    a.voltages[0] = 12050;  // 12V input
    a.voltages[1] = 5600;   // 5V input, above 5.25
    a.batteryState = kOn;
    a.batteryCharge = 80;
    a.firmwareLevel = 0x03012345;
    std::memcpy(a.firmwareText, "R301", 4);
  }
};

TEST_F(ControllerCommands, DisplayJudgesSensorsByTheControllersType) {
  ctx().info->stateB = kOff;
  ASSERT_EQ(controllerDisplay(ctx()), 0);
  for (const char* line :
       {"--- Controller Total=2 ---\n", "Air Temperature : 56 C (limit 55 C) OVER LIMIT\n",
        "CPU Temperature : 40 C (limit 65 C)\n", "12V Input Voltage : 12.05 V (10.80-13.20 V)\n",
        "5V Input Voltage : 5.60 V (4.75-5.25 V) OUT OF RANGE\n", "Firmware : R301 (3.01 build 2345)\n",
        "Battery Charge : 80 %\n", "Host Port 0 : Up, ID 32\n", "Status : Failed or not responding\n"}) {
    EXPECT_NE(text().find(line), std::string::npos) << line << text();
  }
  EXPECT_EQ(text().find("Node Name", text().find(" Controller 1 ")), std::string::npos)
      << "a silent controller's stale record is not shown";
}

TEST_F(ControllerCommands, ResetAndShutdownSendTheSelector) {
  modifiers({{kModControllerId, "1"}, {kModConfirm, "."}});
  ASSERT_EQ(controllerReset(ctx()), 0);
  modifiers({{kModConfirm, "."}});
  ASSERT_EQ(controllerShutdown(ctx()), 0);
  const auto ops = writes();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].id, kOpResetController);
  EXPECT_EQ(ops[0].p3, kSelectB);
  EXPECT_EQ(ops[1].id, kOpShutdownController);
  EXPECT_EQ(ops[1].p3, kSelectBoth);
  EXPECT_EQ(ops[1].p4, 1) << "graceful without the module setting";
  EXPECT_EQ(text(),
            "Controller is reset. Please give it time to come up.\n"
            "Shutdown mode in effect. Recovery requires a power cycle.\n");

  refuse(kOpResetController, kSenseIllegalRequest, kAscInvalidCdbField, 0);
  refuse(kOpShutdownController, 6, 0x29, 0);
  modifiers({{kModControllerId, "0"}});
  EXPECT_EQ(controllerReset(ctx()), 1);
  modifiers({});
  EXPECT_EQ(controllerShutdown(ctx()), 1);
  EXPECT_NE(text().find("Error: Cannot reset controller 0. Status: 2 Sense: 5/24/00\n"), std::string::npos);
  EXPECT_NE(text().find("Error: Cannot shutdown controller 0. Status: 2 Sense: 6/29/00\n"
                        "Error: Cannot shutdown controller 1. Status: 2 Sense: 6/29/00\n"),
            std::string::npos)
      << text();
}

TEST_F(ControllerCommands, UpgradeSendsOnlyAFirmwareImage) {
  folder_.write("notes.txt", std::string(100, 'x'));
  global(kOptSendFile, "notes.txt");
  EXPECT_EQ(controllerUpgrade(ctx()), 1);
  EXPECT_EQ(sentCount(), 0u);
  std::string image(200000, '\x42');
  FirmwareImageHeader header{
      static_cast<uint32_t>(image.size()), {'B', 'F', 'W', '1'}, kFirmwareApplication, {}, 0x03020001};
  image.replace(0, sizeof(header), reinterpret_cast<const char*>(&header), sizeof(header));
  folder_.write("fw.bin", image);
  global(kOptSendFile, "fw.bin");
  ASSERT_EQ(controllerUpgrade(ctx()), 0) << text();
  const auto ops = writes();
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].mode, kModeFirmwareOffsets) << "larger than one transfer: in pieces with offsets";
  EXPECT_EQ(ops[0].id, kFirmwareController);
  EXPECT_EQ(std::string(ops[0].data.begin(), ops[0].data.end()), image);
  EXPECT_NE(text().find("Controller firmware is loaded (level 3.02 build 0001).\n"), std::string::npos);
}

TEST_F(ControllerCommands, DiagnosticsDumpFollowsTheBlocks) {
  const std::string dump = "line one\nline two\n";
  std::vector<uint8_t> bytes(4 + dump.size());
  const uint32_t length = static_cast<uint32_t>(bytes.size());
  std::memcpy(bytes.data(), &length, 4);
  std::memcpy(bytes.data() + 4, dump.data(), dump.size());
  serve(kOpReadDiagnosticsDump, bytes);
  modifiers({{kModControllerId, "0"}, {kModDiagnostics, "."}});
  ASSERT_EQ(controllerDisplay(ctx()), 0) << text();
  EXPECT_EQ(writeIds(), std::vector<uint8_t>{kOpPrepareDiagnostics});
  const size_t ruler = text().find(" Diagnostics ");
  ASSERT_NE(ruler, std::string::npos);
  EXPECT_EQ(text().substr(text().find('\n', ruler) + 1), "line one\nline two\n");
}

TEST_F(ControllerCommands, StatisticsReadPerControllerAndClearEveryPort) {
  StatisticsBuffer buffer{};
  buffer.records[0].commands = 4;
  buffer.records[0].blocks = 512;
  buffer.records[0].latencyTotalUs = 10000;
  buffer.records[0].sizeDistribution[7] = 100;
  buffer.cacheHitPercent = 73;
  buffer.alignment[1] = 60;
  serveStruct(kOpReadStatisticsB, buffer);
  ctx().config->logicalDrives[3].valid = kOn;
  modifiers({{kModControllerId, "1"}, {kModPortIndex, "0"}, {kModLogicalId, "3"}});
  ASSERT_EQ(statisticsDisplay(ctx()), 0) << text();
  const auto sent = writes();
  EXPECT_TRUE(sent.empty());
  for (const char* line :
       {" Controller 1, Port 0, Logical Drive 3 ", "Read Commands : 4\n", "Average Read Size : 128 blocks\n",
        "Average Read Latency : 2.50 ms\n", "Read Sizes (blocks) : 128:100%\n", "Start Alignment : 4K:60%\n",
        "Cache Hits : 73 %\n", "Write Commands : 0\n", "Average Write Latency : -\n"}) {
    EXPECT_NE(text().find(line), std::string::npos) << line << text();
  }
  modifiers({{kModLogicalId, "4"}});
  EXPECT_EQ(statisticsDisplay(ctx()), 1);
  EXPECT_NE(text().find("Error: Logical Drive index out of range.\n"), std::string::npos);

  ctx().info->stateA = kOff;
  ASSERT_EQ(statisticsDelete(ctx()), 0);
  ASSERT_EQ(writeIds(), std::vector<uint8_t>{kOpClearStatisticsB}) << "only the controller that answers";
  EXPECT_EQ(writes()[0].p3, kPortBoth);
  EXPECT_EQ(writes()[0].p4 << 8 | writes()[0].p5, kAllLogicalDrives);
}

// SES page 1 with one enclosure descriptor and the given element types, and page 2 with their
// elements (each 4 bytes, the overall element first).
std::vector<uint8_t> configPage(const std::vector<std::pair<uint8_t, uint8_t>>& types) {
  std::vector<uint8_t> page = {0x01, 0, 0, 0, 0, 0, 0, 0, 0x11, 0, static_cast<uint8_t>(types.size()), 0};
  for (const auto& [type, count] : types) page.insert(page.end(), {type, count, 0, 0});
  page[3] = static_cast<uint8_t>(page.size() - 4);
  return page;
}

TEST(EnclosureElements, StatusesInWords) {
  const auto config = configPage({{0x01, 3}, {0x02, 1}, {0x03, 2}, {0x04, 1}});
  std::vector<uint8_t> status = {0x02, 0, 0, 0, 0, 0, 0, 0};
  auto element = [&status](uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    status.insert(status.end(), {b0, b1, b2, b3});
  };
  element(0, 0, 0, 0), element(1, 0, 0, 0), element(1, 0, 0, 0), element(5, 0, 0, 0);  // slots
  element(0, 0, 0, 0), element(2, 0, 0, 0);                                            // power supply
  element(0, 0, 0, 0), element(1, 0, 0, 3), element(2, 0, 0, 0);                       // fans
  element(0, 0, 0, 0), element(1, 0, 52, 0);                                           // temperature
  status[3] = static_cast<uint8_t>(status.size() - 4);
  testing::CapturedContext captured;
  ASSERT_TRUE(writeEnclosureElements(captured.ctx, config, status));
  for (const char* line :
       {"Slot Status (3) : 1 Not installed 2 OK\n", "Power Supplies : 1 Critical\n",
        "Fans : 1 OK (speed 3) 2 Critical (stopped)\n", "Temperatures : 1 32C OK\n", "Alarm : none\n"}) {
    EXPECT_NE(captured.text().find(line), std::string::npos) << line << captured.text();
  }
  status.resize(20);
  status[3] = 16;
  EXPECT_FALSE(writeEnclosureElements(captured.ctx, config, status)) << "a page too short for its types";
}

}  // namespace
}  // namespace brivo::cli
