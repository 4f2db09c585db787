// The controller parameters and host port topology pages with their saves, against a pair kept
// in memory: only changed settings are sent, keys the form left out stay alone, bad values and
// stale pages send nothing.
#include <gtest/gtest.h>

#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

class ControllerParamsTest : public testing::PageTest {
 protected:
  ControllerParamsTest() {
    ConfigurationHeader& h = pair_.config->header;
    h.autoRebuild = kOn;
    h.autoSpare = kOff;
    h.backgroundVerify = kOff;
    h.enclosureSupport = kOn;
    h.autoDriveFirmware = kOff;
    h.differentNodeNames = kOff;
    h.rebuildPriority = 50;
    h.initPriority = 30;
    h.controllerLun = 31;
    std::strcpy(h.name, "lab");
    for (HostPortSetting& s : h.hostPorts) s = {0, 0, 0xFF, 0};
    h.hostPorts[3] = {4, 2, 5, 0};
  }
};

TEST_F(ControllerParamsTest, PageShowsTheHeaderSettings) {
  auto page = run(getControllerParamsMethod, requestFor({}));
  EXPECT_EQ(page["ConfigurationName"], "lab");
  EXPECT_EQ(page["ConfigurationTime"], "1700000000");
  EXPECT_EQ(page["AutoRebuild"], "true");
  EXPECT_EQ(page["AutoSpare"], "false");
  EXPECT_EQ(page["RebuildPriority"], "50");
  EXPECT_EQ(page["ControllerLunEnabled"], "true");
  EXPECT_EQ(page["ControllerLun"], "31");
  EXPECT_EQ(page["ArchiveLoop"], "0");
  EXPECT_EQ(page["HTMLPath"], "../../html/Brivo/controller/controller_params.htm");
}

TEST_F(ControllerParamsTest, SaveSendsOnlyWhatChanged) {
  auto reply = run(changeControllerParamsMethod, requestFor({{"ConfigurationTime", "1700000000"},
                                                             {"ConfigurationName", "lab"},
                                                             {"AutoRebuild", "true"},
                                                             {"AutoSpare", "true"},
                                                             {"RebuildPriority", "70"},
                                                             {"InitPriority", "30"},
                                                             {"ControllerLunEnabled", "false"}}));
  const auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0x80, 0xB9, 0x9A, 0xAA, 0x82, 0x80}));
  EXPECT_EQ(ops[1].cdb[3], kOn);
  EXPECT_EQ(ops[2].cdb[3], 70);
  EXPECT_EQ(ops[3].cdb[3] << 8 | ops[3].cdb[4], 0xFFFF);
  EXPECT_EQ(reply["MessageSummary"], "The command \"Change controller parameters\" completed successfully.");
  EXPECT_TRUE(takeConfigurationChanged());
}

TEST_F(ControllerParamsTest, BadValuesAndStalePagesSendNothing) {
  auto priority =
      run(changeControllerParamsMethod, requestFor({{"AutoSpare", "true"}, {"RebuildPriority", "95"}}));
  auto lun = run(changeControllerParamsMethod,
                 requestFor({{"ControllerLunEnabled", "true"}, {"ControllerLun", "512"}}));
  auto stale =
      run(changeControllerParamsMethod, requestFor({{"ConfigurationTime", "1"}, {"AutoSpare", "true"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(priority["MessageIsSuccess"], "false");
  EXPECT_EQ(lun["MessageIsSuccess"], "false");
  EXPECT_NE(stale["MessageDetails"].find("changed since this page was shown"), std::string::npos);
  auto nothing = run(changeControllerParamsMethod, requestFor({{"AutoRebuild", "true"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(nothing["MessageIsSuccess"], "true");
}

TEST_F(ControllerParamsTest, TopologyPageAndSave) {
  HostTopologyEntry& port = pair_.topology.entries[pair_.topology.count++];
  port.kind = kTopologyHostPort;
  port.controller = 1;
  port.port = 1;
  port.state = kOn;
  port.dataRate = 4;
  port.topology = 2;
  HostTopologyEntry& host = pair_.topology.entries[pair_.topology.count++];
  host.kind = kTopologyInitiator;
  host.state = kOn;
  auto page = run(getHostPortTopologiesMethod, requestFor({}));
  EXPECT_EQ(page["HostPortLoop"], "4");
  EXPECT_EQ(page["HostPortLoop0HardId"], "");
  EXPECT_EQ(page["HostPortLoop0SoftAddressing"], "true");
  EXPECT_EQ(page["HostPortLoop3HardId"], "5");
  EXPECT_EQ(page["HostPortLoop3State"], "Up");
  EXPECT_EQ(page["HostPortLoop3CurrentRate"], "4 Gb/s");
  EXPECT_EQ(page["InitiatorLoop"], "1");

  auto bad = run(setHostPortTopologiesMethod, requestFor({{"DataRate1", "3"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(bad["MessageIsSuccess"], "false");
  auto saved = run(setHostPortTopologiesMethod, requestFor({{"DataRate0", "2"},
                                                            {"Connection0", "1"},
                                                            {"HardId0", "12"},
                                                            {"DataRate3", "4"},
                                                            {"Connection3", "2"},
                                                            {"HardId3", "5"},
                                                            {"HardId1", ""}}));
  const auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0x80, 0x98, 0x82, 0x80}));
  EXPECT_EQ(ops[1].cdb[3], 0x21);
  EXPECT_EQ(ops[1].cdb[4], 0x01);
  EXPECT_EQ(ops[1].cdb[5], 12);
  EXPECT_EQ(saved["MessageIsSuccess"], "true");
  EXPECT_EQ(saved["HTMLPath"], "../../html/Brivo/controller/host_topology.htm");
}

}  // namespace
}  // namespace brivo
