// The config handlers against a fake pair: settings turned into their operations inside one change
// (and nothing sent for a bad value), clearing, the saved block as a file for the client, the
// restore of a file of exactly the block's length, and the failure form with the sense.
#include <gtest/gtest.h>

#include <string>

#include "modules/brivo/cli/cli_config_set.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_pair_test_support.h"

namespace brivo::cli {
namespace {

class ConfigCommands : public testing::PairTest {};

TEST_F(ConfigCommands, SetSendsEachSettingInOneChange) {
  ctx().config->header.hostPorts[1] = HostPortSetting{4, 2, 0x21, 0};
  modifiers({{kModName, "lab pair"},
             {kModAutoSpare, "Enabled"},
             {kModSingleCtlr, "disabled"},
             {kModControllerLun, "disable"},
             {kModRebuildPriority, "70"},
             {kModHostPortRate, "c0p1:2"},
             {kModHostPortId, "c1p0:soft"},
             {kModConfirm, "."}});
  ASSERT_EQ(configSet(ctx()), 0) << text();
  const std::vector<uint8_t> expected = {kOpConfigStart,          kOpConfigName,       kOpAutoSpare,
                                         kOpSingleControllerMode, kOpControllerLun,    kOpRebuildPriority,
                                         kOpHostPortSettings,     kOpHostPortSettings, kOpConfigSave,
                                         kOpConfigStart};  // the last start only shows readiness
  ASSERT_EQ(writeIds(), expected);
  const auto ops = writes();
  EXPECT_STREQ(ops[1].as<NameBlock64>().name, "lab pair");
  EXPECT_EQ(ops[2].p3, kOn);
  EXPECT_EQ(ops[3].p3, kOff);
  EXPECT_EQ(ops[4].p3 << 8 | ops[4].p4, kLunDisable);
  EXPECT_EQ(ops[5].p3, 70);
  // C0P1 keeps its connection and ID, takes rate 2; C1P0 goes soft with the defaults it had.
  EXPECT_EQ(ops[6].p3, 2 << 4 | 2);
  EXPECT_EQ(ops[6].p4, 0x02);
  EXPECT_EQ(ops[6].p5, 0x21);
  EXPECT_EQ(ops[7].p4, 0x04);
  EXPECT_EQ(ops[7].p5, 0xFF);
  EXPECT_NE(text().find("Auto Spare is changed.\n"), std::string::npos) << text();
}

TEST_F(ConfigCommands, BadSettingsSendNothing) {
  struct Case {
    std::vector<ParsedModifier> modifiers;
    const char* error;
  };
  const Case cases[] = {
      {{{kModAutoSpare, "maybe"}}, "Error: Parsing Auto Spare. Use enabled or disabled.\n"},
      {{{kModInitPriority, "95"}}, "Error: Parsing Initialization Priority. Out of range.\n"},
      {{{kModControllerLun, "512"}}, "Error: Parsing Controller LUN. Out of range.\n"},
      {{{kModControllerWwn, "x"}}, "Error: Parsing Controller WWN index. Not a number.\n"},
      {{{kModName, std::string(64, 'n')}}, "Error: Parsing Configuration Name. Too long.\n"},
      {{{kModHostPortConn, "c2p0:loop"}}, "Error: Parsing Host Port Connection. Unknown port"},
      {{{kModHostPortRate, "c0p0:3"}}, "Error: Parsing Host Port Rate. Out of range.\n"},
      {{{kModHostPortId, "c0p0:128"}}, "Error: Parsing Host Port ID. Out of range.\n"},
      {{{kModHostPortPack, "c0p0:true"}}, "Error: Host port packing cannot be set"},
      {{{kModConfirm, "."}}, "Error: No setting given."},
  };
  for (const Case& c : cases) {
    testing::CapturedContext fresh;
    fresh.ctx.pair = ctx().pair;
    fresh.ctx.config = newConfigurationBlock();
    fresh.ctx.modifiers = c.modifiers;
    EXPECT_EQ(configSet(fresh.ctx), 1);
    EXPECT_EQ(fresh.text().rfind(c.error, 0), 0u) << fresh.text();
  }
  EXPECT_EQ(sentCount(), 0u);
}

TEST_F(ConfigCommands, HostPortPackingWhereTheControllerReportsIt) {
  ctx().info->controllers[0].features |= kFeatureHostPortPacking;
  ctx().config->header.hostPorts[1] = HostPortSetting{4, 2, 0x21, kOn};
  modifiers({{kModHostPortPack, "c0p0:true"}, {kModHostPortRate, "c0p1:2"}, {kModConfirm, "."}});
  ASSERT_EQ(configSet(ctx()), 0) << text();
  std::vector<testing::SentWrite> ports;
  for (const testing::SentWrite& op : writes()) {
    if (op.id == kOpHostPortSettings) ports.push_back(op);
  }
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].p4, 0x01);
  EXPECT_EQ(ports[0].p3 & kHostPortPackBit, kHostPortPackBit) << "packing switched on";
  EXPECT_EQ(ports[1].p4, 0x02);
  EXPECT_EQ(ports[1].p3, 2 << 4 | 2 | kHostPortPackBit) << "the rate changes, the port keeps packing";

  testing::CapturedContext fresh;
  fresh.ctx.pair = ctx().pair;
  fresh.ctx.config = newConfigurationBlock();
  fresh.ctx.info = std::make_unique<ControllerInformation>(*ctx().info);
  fresh.ctx.info->controllers[0].features |= kFeatureHostPortPacking;
  fresh.ctx.modifiers = {{kModHostPortPack, "c1p1:maybe"}};
  EXPECT_EQ(configSet(fresh.ctx), 1);
  EXPECT_EQ(fresh.text(), "Error: Parsing Host Port Packing. Use true or false.\n");
}

TEST_F(ConfigCommands, DeleteClearsInsideAChangeAndReportsTheFailingCommand) {
  modifiers({{kModConfirm, "."}});
  ASSERT_EQ(configDelete(ctx()), 0);
  EXPECT_EQ(writeIds(),
            (std::vector<uint8_t>{kOpConfigStart, kOpConfigClear, kOpConfigSave, kOpConfigStart}));
  EXPECT_EQ(text(), "Configuration is deleted.\n");

  refuse(kOpConfigClear, kSenseIllegalRequest, kAscSequenceError, 0);
  testing::CapturedContext second;
  second.ctx.pair = ctx().pair;
  EXPECT_EQ(configDelete(second.ctx), 1);
  EXPECT_EQ(second.text(), "Error: Cannot delete configuration. Status: 2 Sense: 5/2c/00\n");
  EXPECT_EQ(writeIds().back(), kOpConfigClear) << "no save after a failed clear";
}

TEST_F(ConfigCommands, SaveAnswersWithTheBlockAsABinaryFile) {
  std::memcpy(ctx().config->header.name, "saved", 5);
  ctx().config->reserved[100] = 0xA5;
  ASSERT_EQ(configSave(ctx()), 0) << text();
  EXPECT_STREQ(getVariable(reply(), "ExportBinary"), "../../temp/Brivo.ConfigurationBlock");
  const std::string file = folder_.read("temp/Brivo.ConfigurationBlock");
  ASSERT_EQ(file.size(), kConfigurationLength);
  EXPECT_EQ(file.compare(0, file.size(), reinterpret_cast<const char*>(ctx().config.get()), file.size()), 0);
}

TEST_F(ConfigCommands, RestoreSendsOnlyAFileOfTheBlocksLength) {
  for (uint32_t length : {kConfigurationLength - 1, kConfigurationLength + 1, 0u}) {
    folder_.write("upload.bin", std::string(length, '\x11'));
    global(kOptSendFile, "upload.bin");
    EXPECT_EQ(configRestore(ctx()), 1) << length;
  }
  EXPECT_EQ(sentCount(), 0u);
  EXPECT_NE(text().find("Error: The configuration file length is wrong."), std::string::npos) << text();

  std::string block(kConfigurationLength, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  folder_.write("upload.bin", block);
  ASSERT_EQ(configRestore(ctx()), 0) << text();
  const auto sent = writes();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].mode, kModeData);
  EXPECT_EQ(sent[0].id, kOpRestoreConfiguration);
  EXPECT_EQ(std::string(sent[0].data.begin(), sent[0].data.end()), block) << "sent unchanged, in pieces";
  EXPECT_NE(text().find("Configuration is restored.\n"), std::string::npos);

  refuse(kOpRestoreConfiguration, kSenseIllegalRequest, kAscInvalidParameter, 0);
  EXPECT_EQ(configRestore(ctx()), 1);
  EXPECT_NE(text().find("Error: Cannot restore configuration. Status: 2 Sense: 5/26/00\n"),
            std::string::npos);
}

TEST_F(ConfigCommands, DisplayMarksTheChangeableSettings) {
  std::memcpy(ctx().config->header.name, "alpha", 5);
  ctx().config->header.autoSpare = kOn;
  ctx().config->header.controllerLun = 31;
  ctx().config->header.rebuildPriority = 50;
  ctx().config->header.hostPorts[0] = HostPortSetting{0, 1, 0xFF, 0};
  ctx().config->arrays[3].valid = kOn;
  ASSERT_EQ(configDisplay(ctx()), 0);
  for (const char* line :
       {"Name* : alpha\n", "Arrays : 1\n", "Auto Spare* : on\n", "Controller LUN* : 31\n",
        "Rebuild Priority* : 50 %\n", "Host Port C0P0* : ID soft, rate auto, connection point-to-point\n"}) {
    EXPECT_NE(text().find(line), std::string::npos) << line << text();
  }
}

}  // namespace
}  // namespace brivo::cli
