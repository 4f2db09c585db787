// The method table and dispatch: names in any letter case, unknown and unbuilt methods answer
// null, the read marks, no answers while stopped, the capability keys added to replies that name
// a pair, and the command result texts built from the shipped CommandStrings.db.
#include "modules/brivo/method_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/capabilities.h"
#include "modules/brivo/command_result.h"

namespace brivo {
namespace {

std::map<std::string, std::string> pairsOf(VariableTable table) {
  std::map<std::string, std::string> pairs;
  for (VariableEntry* e = table; e != nullptr; e = e->next) pairs.emplace(e->key, e->value);
  return pairs;
}

TableOwner request(const char* method) {
  TableOwner table;
  addVariable(table.address(), "module", "Brivo");
  if (method != nullptr) addVariable(table.address(), "method", method);
  return table;
}

TEST(MethodTable, OrderAndReadMarks) {
  const auto table = methodTable();
  ASSERT_EQ(table.size(), 70u);
  EXPECT_STREQ(table[0].name, "PingPage");
  EXPECT_STREQ(table[18].name, "GetAllControllerLogs");
  EXPECT_STREQ(table[62].name, "qcli");
  EXPECT_STREQ(table[63].name, "TestMethod");
  EXPECT_STREQ(table[64].name, "GetMetrics");
  EXPECT_STREQ(table[65].name, "GetOverview");
  EXPECT_STREQ(table[68].name, "IdentifySlot");
  std::set<std::string> readers;
  for (const MethodEntry& entry : table) {
    if (entry.read) readers.insert(entry.name);
  }
  EXPECT_EQ(readers, (std::set<std::string>{"PingPage",
                                            "GetMonitor",
                                            "GetMainPage",
                                            "LocateEnclosure",
                                            "ArchiveConfiguration",
                                            "DownloadConfiguration",
                                            "GetControllerInformation",
                                            "GetControllerParams",
                                            "GetAllControllerLogs",
                                            "GetRankInformation",
                                            "GetCreateNewRankInformation",
                                            "GetHostLunInformation",
                                            "GetCreateNewHostLunInformation",
                                            "GetStatistics",
                                            "ExportStatistics",
                                            "GetSnapProgressInfo",
                                            "GetDriveInformation",
                                            "BlinkDrive",
                                            "GetHostPortTopologies",
                                            "SlmGetData",
                                            "GetMetrics",
                                            "GetOverview",
                                            "GetEnclosureInformation",
                                            "GetPairNames",
                                            "TestMethod"}));
}

TEST(MethodTable, NamesMatchInAnyCase) {
  EXPECT_EQ(findMethod("getmonitor"), &methodTable()[1]);
  EXPECT_EQ(findMethod("QCLI"), &methodTable()[62]);
  EXPECT_EQ(findMethod("GetMonitorX"), nullptr);
  EXPECT_EQ(findMethod(nullptr), nullptr);
}

TEST(Dispatch, UnknownUnbuiltStoppedAndTestMethodAnswerNull) {
  testing::RunningModule running;
  EXPECT_EQ(dispatchRequest(request("testmethod").get()), nullptr);
  EXPECT_EQ(dispatchRequest(request("NoSuchMethod").get()), nullptr);
  EXPECT_EQ(dispatchRequest(request(nullptr).get()), nullptr);
  EXPECT_FALSE(moduleState().gate.busy()) << "every admitted request left the gate";
  moduleState().running.store(false);
  EXPECT_EQ(dispatchRequest(request("TestMethod").get()), nullptr);
}

TEST(Decoration, RepliesNamingAPairGetItsCapabilities) {
  testing::DeviceList list;
  DeviceRecord* device = list.add("sim:/tmp/x.sock:0:0:0:0");
  ModDeviceItem* item = list.hangItem(device, "Brivo20000004CF8A1B2C");
  BrivoDeviceState* state = stateOf(item);
  state->controllerInfo = 0x81;
  state->controllerType = 4;
  const uint8_t word[4] = {2, 1, 0x21, 0};  // SATA drives on one loop, two FC host ports
  std::memcpy(state->interfaceWord, word, 4);
  moduleState().deviceList.store(list.head());

  TableOwner reply;
  addVariable(reply.address(), "ModDeviceName", "brivo20000004cf8a1b2c");
  decorateReply(reply.address());
  auto keys = pairsOf(reply.get());
  EXPECT_EQ(keys.size(), 25u) << "the capability keys and the pair's identity";
  EXPECT_EQ(keys["PairWwn"], "20000004cf8a1b2c") << "from the name when the header cannot be read";
  EXPECT_EQ(keys["PairName"], "");
  const std::string p = "brivo20000004cf8a1b2c";
  EXPECT_EQ(keys[p + "IsBrivo2"], "true");
  EXPECT_EQ(keys[p + "DualHostLoops"], "true");
  EXPECT_EQ(keys[p + "HostInterfaceFibre"], "true");
  EXPECT_EQ(keys[p + "HostInterfaceFibre0IsOldFibre"], "false");
  EXPECT_EQ(keys[p + "HostInterfaceFibrePorts"], "2");
  EXPECT_EQ(keys[p + "HostInterfaceSASPorts"], "0");
  EXPECT_EQ(keys[p + "NoHostInterfaceSAS"], "true");
  EXPECT_EQ(keys[p + "DualDriveLoops"], "false");
  EXPECT_EQ(keys[p + "TargetInterfaceSATA"], "true");
  EXPECT_EQ(keys[p + "TargetInterfaceSATAChannels"], "1");
  EXPECT_EQ(keys[p + "TargetInterfaceFibre"], "false");
  EXPECT_EQ(keys[p + "ControllerType"], "4");
  EXPECT_EQ(keys[p + "SlotOffset"], "1");

  TableOwner unknown;
  addVariable(unknown.address(), "ModDeviceName", "Brivo0000000000000000");
  decorateReply(unknown.address());
  auto unknownKeys = pairsOf(unknown.get());
  EXPECT_EQ(unknownKeys.size(), 3u) << "no capabilities, but the name the page asked for";
  EXPECT_EQ(unknownKeys["PairWwn"], "0000000000000000");
  moduleState().deviceList.store(nullptr);
}

class CommandResultTest : public ::testing::Test {
 protected:
  void SetUp() override { moduleState().files.load(); }
  void TearDown() override { moduleState().files.saveAndUnload(); }
  std::map<std::string, std::string> result(int code, const uint8_t* sense) {
    TableOwner reply;
    addControllerCommandResult(reply.address(), "ClearControllerLogs", code, sense);
    return pairsOf(reply.get());
  }
  static std::array<uint8_t, 32> sense(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::array<uint8_t, 32> s{};
    s[0] = 0x70;
    s[2] = key;
    s[12] = asc;
    s[13] = ascq;
    return s;
  }

  testing::ModuleFolder folder_{true};
};

TEST_F(CommandResultTest, SuccessAndEveryKindOfFailure) {
  auto ok = result(0, nullptr);
  EXPECT_EQ(ok["MessageSummary"], "The command \"Clear controller event logs\" completed successfully.");
  EXPECT_EQ(ok["MessageDetails"], " ");
  EXPECT_EQ(ok["MessageImageSrc"], "/images/popup_info.gif");
  EXPECT_EQ(ok["MessageIsSuccess"], "true");

  const auto known = sense(5, 0x24, 0);
  auto failed = result(2, known.data());
  EXPECT_EQ(failed["MessageSummary"], "The command \"Clear controller event logs\" failed.");
  EXPECT_EQ(
      failed["MessageDetails"],
      "A parameter of the command is out of range or names nothing on the controller (sense 05/24/00).");
  EXPECT_EQ(failed["MessageImageSrc"], "/images/popup_error.gif");
  EXPECT_EQ(failed["MessageIsSuccess"], "false");

  const auto other = sense(3, 0x11, 0x04);
  EXPECT_EQ(
      result(2, other.data())["MessageDetails"],
      "The controller refused the command (sense key 0x03, additional sense code 0x11, qualifier 0x04).");
  EXPECT_EQ(result(2, nullptr)["MessageDetails"], "The controller reported an error without saying which.");
  EXPECT_EQ(result(8, nullptr)["MessageDetails"], "The controller is busy. Try again in a moment.");
  EXPECT_EQ(result(255, nullptr)["MessageDetails"].rfind("The controller did not answer.", 0), 0u);
  EXPECT_EQ(result(0x30, nullptr)["MessageDetails"],
            "The controller answered with the unexpected status 0x30.");
}

TEST_F(CommandResultTest, TextsFromTheFileAreNeverUsedAsFormats) {
  moduleState().files.saveAndUnload();
  folder_.write("mods/Brivo/CommandStrings.db",
                "CommandFail = %s failed %s %n %s\nClearControllerLogs = Clear %s %n logs\n"
                "CommandFail_02_MoreInfo = %s %s %s %s %n %p\n");
  moduleState().files.load();
  const auto codes = sense(3, 0x11, 0x04);
  auto reply = result(2, codes.data());
  EXPECT_EQ(reply["MessageSummary"], "Clear %s %n logs failed %s %n %s");
  EXPECT_EQ(reply["MessageDetails"], "3 17 4  %n %p");
}

}  // namespace
}  // namespace brivo
