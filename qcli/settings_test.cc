// The client's settings: merge strength order, configuration-file Device lines and the gap rule,
// controller selection messages, the argument pass, required settings and the help step.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/test_folder.h"
#include "qcli/client.h"
#include "qcli/client_test_support.h"
#include "qcli/command_line.h"

namespace qcli {
namespace {

using testing::runClientWith;

struct Startup {
  ClientState state;
  StartupResult result;
  std::string output;
};

Startup startup(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
  std::vector<std::string> argv{"qcli"};
  argv.insert(argv.end(), args.begin(), args.end());
  Startup s{makeClientState(argv), {}, {}};
  FILE* out = std::tmpfile();
  ClientIo io;
  io.env = [&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  io.out = out;
  s.result = runStartup(&s.state, io);
  s.output = testing::readAll(out);
  std::fclose(out);
  return s;
}

class SettingsTest : public ::testing::Test {
 protected:
  void writeConfig(const std::string& text) { writeBytes(folder_.file("qcliConfig.db"), text); }
  std::map<std::string, std::string> env(std::map<std::string, std::string> more = {}) {
    more["QCLI_CONFIG_FILE"] = folder_.file("qcliConfig.db");
    return more;
  }
  TestFolder folder_;
};

// Each layer sets the port; taking the strongest layer away must reveal the next one down.
TEST_F(SettingsTest, MergeFollowsTheStrengthOrder) {
  struct Layer {
    std::string config;
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
  };
  const std::string lines = "Device1Port=1002\nDevice1Ip=10.0.0.1\nDevice2Port=1003\nDevice3Port=1005\n";
  // Weakest first; layer i adds to layer i-1.
  std::vector<Layer> layers = {
      {"", {}, {}},
      {"DefaultPort=1001\n" + lines, {}, {}},
      {"DefaultPort=1001\nDefaultNum=1\n" + lines, {}, {}},
      {"DefaultPort=1001\nDefaultNum=1\n" + lines, {{"QCLI_DEV_NUM", "2"}}, {}},
      {"DefaultPort=1001\nDefaultNum=1\n" + lines, {{"QCLI_DEV_NUM", "2"}, {"QCLI_SERVER_PORT", "1004"}}, {}},
      {"DefaultPort=1001\nDefaultNum=1\n" + lines,
       {{"QCLI_DEV_NUM", "2"}, {"QCLI_SERVER_PORT", "1004"}},
       {"--num", "3"}},
      {"DefaultPort=1001\nDefaultNum=1\n" + lines,
       {{"QCLI_DEV_NUM", "2"}, {"QCLI_SERVER_PORT", "1004"}},
       {"--num", "3", "--port", "1006"}},
  };
  const char* expected[] = {"9292", "1001", "1002", "1003", "1004", "1005", "1006"};
  for (size_t i = 0; i < layers.size(); ++i) {
    writeConfig(layers[i].config);
    std::vector<std::string> args = layers[i].args;
    args.insert(args.end(), {"--ip", "1.2.3.4", "array"});
    Startup s = startup(args, env(layers[i].env));
    ASSERT_TRUE(s.result.proceed) << "layer " << i << "\n" << s.output;
    EXPECT_EQ(s.state.effective[kPort], expected[i]) << "layer " << i;
  }
  // The Device line chosen by DefaultNum filled the IP, but the command line's --ip wins.
  Startup s = startup({"--ip", "5.6.7.8", "x"}, env());
  EXPECT_EQ(s.state.effective[kIp], "5.6.7.8");
}

TEST_F(SettingsTest, EmptyValuesNeverOverrideAndSelectedLinesOverlayOnlyTheirKeys) {
  writeConfig("DefaultUser=operator\nDefaultIp=10.1.1.1\nDevice1Wwn=ABC\nDevice1Ip=\n");
  Startup s = startup({"--wwn", "ABC", "array"}, env());
  ASSERT_TRUE(s.result.proceed) << s.output;
  EXPECT_EQ(s.state.effective[kIp], "10.1.1.1");  // the line's empty Ip does not blank it
  EXPECT_EQ(s.state.effective[kUser], "operator");
  EXPECT_EQ(s.state.effective[kWwn], "ABC");
  EXPECT_EQ(s.state.effective[kPassword], "pinecone");
}

TEST_F(SettingsTest, DeviceLinesAllowGapsOfUpToNineNumbers) {
  writeConfig("Device1Ip=1.1.1.1\nDevice5Ip=5.5.5.5\n");
  Startup s = startup({"--infodb"}, env());
  ASSERT_EQ(s.state.config.devices.size(), 2u);
  EXPECT_EQ(s.state.config.devices[1].number, "5");
  EXPECT_EQ(s.state.config.devices[1].settings[kIp], "5.5.5.5");

  writeConfig("Device1Ip=1.1.1.1\nDevice11Ip=11.11.11.11\n");
  s = startup({"--infodb"}, env());
  ASSERT_EQ(s.state.config.devices.size(), 2u);  // 2..10 is a gap of nine: 11 still read
  EXPECT_EQ(s.state.config.devices[1].number, "11");

  writeConfig("Device1Ip=1.1.1.1\nDevice12Ip=12.12.12.12\n");  // 2..11: a gap of ten
  s = startup({"--infodb"}, env());
  ASSERT_EQ(s.state.config.devices.size(), 1u);
  EXPECT_EQ(s.state.config.devices[0].number, "1");
}

TEST_F(SettingsTest, DeviceZeroAndNumKeysAndLaterLinesWin) {
  writeConfig(
      "Device0Name=zero\nDevice2Num=7\nDevice2Name=seven\nDevice2Name=renamed\n'Device3Name=skipped\n");
  Startup s = startup({"--ip", "1.1.1.1", "--num", "7", "x"}, env());
  ASSERT_TRUE(s.result.proceed) << s.output;
  ASSERT_EQ(s.state.config.devices.size(), 2u);
  EXPECT_EQ(s.state.config.devices[0].number, "0");
  EXPECT_EQ(s.state.effective[kName], "renamed");
  // The section number no longer selects a renamed line.
  s = startup({"--ip", "1.1.1.1", "--num", "2", "x"}, env());
  EXPECT_FALSE(s.result.proceed);
}

struct SelectionCase {
  std::string config;
  std::map<std::string, std::string> env;
  std::vector<std::string> args;
  std::string message;
};

TEST_F(SettingsTest, EverySelectionMessage) {
  const std::string lines = "Device1Name=alpha\nDevice1Wwn=W1\nDevice2Name=beta\nDevice2Wwn=W2\n";
  std::vector<SelectionCase> cases = {
      {"DefaultNum=9\n" + lines,
       {},
       {},
       "Error: Defaults specified numeric controller selection failed. Controller number 9 not found.\n"},
      {lines,
       {{"QCLI_DEV_NUM", "01"}},
       {},
       "Error: Environment specified numeric controller selection failed. Controller number 01 not found.\n"},
      {lines,
       {{"QCLI_DEV_WWN", "w1"}},
       {},
       "Error: Environment specified WWN controller selection failed. Controller WWN w1 not found.\n"},
      {lines,
       {{"QCLI_DEV_NAME", "gamma"}},
       {},
       "Error: Environment specified named controller selection failed. Controller name gamma not found.\n"},
      {lines,
       {{"QCLI_DEV_NUM", "1"}, {"QCLI_DEV_NAME", "beta"}},
       {},
       "Error: Multiple environment specified controller selectors.\n"},
      {lines,
       {},
       {"--num", "3"},
       "Error: Command line specified numeric controller selection failed. Controller number 3 not found.\n"},
      {lines,
       {},
       {"--wwn", "W3"},
       "Error: Command line specified WWN controller selection failed. Controller WWN W3 not found.\n"},
      {lines,
       {},
       {"--name", "Alpha"},
       "Error: Command line specified named controller selection failed. Controller name Alpha not found.\n"},
      {lines,
       {},
       {"--wwn", "W1", "--name", "alpha"},
       "Error: Multiple command line specified controller selectors.\n"},
  };
  for (const SelectionCase& c : cases) {
    writeConfig(c.config);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--ip", "1.1.1.1", "array"});
    auto run = runClientWith(args, env(c.env));
    EXPECT_EQ(run.exitCode, 1) << c.message;
    EXPECT_EQ(run.output, c.message);
    // With --help the same error is followed by the help page, and the exit code is 0.
    args.push_back("--help");
    run = runClientWith(args, env(c.env));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output.rfind(c.message, 0), 0u);
    EXPECT_NE(run.output.find("Client side 'control' options:"), std::string::npos);
  }
}

TEST_F(SettingsTest, EnvironmentAndCommandLineSelectorsTogetherCommandLineWins) {
  writeConfig("Device1Name=alpha\nDevice1Ip=1.1.1.1\nDevice2Wwn=W2\nDevice2Ip=2.2.2.2\n");
  Startup s = startup({"--wwn", "W2", "array"}, env({{"QCLI_DEV_NAME", "alpha"}}));
  ASSERT_TRUE(s.result.proceed) << s.output;
  EXPECT_EQ(s.state.effective[kIp], "2.2.2.2");
  EXPECT_EQ(s.state.effective[kName], "alpha");  // the environment's value stays where the line had none
}

TEST_F(SettingsTest, RequiredSettingsStopBeforeDisplaysAndRequest) {
  // Empty values never override, so the built-in port, user, password and type survive an empty
  // configuration value or variable; only the IP, which has no default, is missing.
  writeConfig("DefaultUser=\n");
  auto run = runClientWith({"--info", "array"}, env({{"QCLI_DEV_TYPE", ""}}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "Error: Required user parameter 'Server IP' has no value.\n\n");
  // --infoc alone fails the same way, without the configuration-file warning.
  run = runClientWith({"--infoc"}, {{"QCLI_CONFIG_FILE", folder_.file("none.db")}});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "Error: Required user parameter 'Server IP' has no value.\n\n");
}

TEST_F(SettingsTest, ArgumentPassNeedsValuesAndConsumesInTableOrder) {
  writeConfig("");
  auto run = runClientWith({"array", "--ip", "-x"}, env());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "Error: Argument '--ip' requires data component.\n");
  run = runClientWith({"array", "--ip"}, env());
  EXPECT_EQ(run.output, "Error: Argument '--ip' requires data component.\n");
  // A value already taken by an earlier table entry is not a value.
  run = runClientWith({"--ip", "--num", "2"}, env());
  EXPECT_EQ(run.output, "Error: Argument '--ip' requires data component.\n");
  run = runClientWith({"array", "--cfgfile"}, {});
  EXPECT_EQ(run.output, "Error: Argument '--cfgfile' requires a data component.\n");

  Startup s =
      startup({"--port", "1", "--ip", "1.1.1.1", "array", "--port", "2", "--bogus", "--infoarg"}, env());
  ASSERT_TRUE(s.result.proceed);
  EXPECT_EQ(s.state.arguments[kPort], "2");  // the last value wins
  std::vector<bool> expected{false, true, true, true, true, false, true, true, false, true};
  EXPECT_EQ(s.state.consumed, expected);  // the unknown --bogus is left for the server
}

TEST_F(SettingsTest, ConfigFileNameLimitsAndWarning) {
  std::string longName(2048, 'c');
  auto run = runClientWith({"x"}, {{"QCLI_CONFIG_FILE", longName}});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "Error: Environment Config File Name too long: " + longName + "\n");
  run = runClientWith({"--cfgfile", longName, "x"}, {});
  EXPECT_EQ(run.output, "Error: Command Line Config File Name too long: " + longName + "\n");
  // The first --cfgfile counts; the environment loses to it.
  writeConfig("DefaultIp=9.9.9.9\n");
  std::string missing = folder_.file("missing.db");
  Startup s = startup({"--cfgfile", folder_.file("qcliConfig.db"), "--cfgfile", missing, "x"},
                      {{"QCLI_CONFIG_FILE", missing}});
  EXPECT_EQ(s.state.effective[kIp], "9.9.9.9");
  s = startup({"--ip", "1.1.1.1", "x"}, {{"QCLI_CONFIG_FILE", missing}});
  EXPECT_EQ(s.output, "Warning: Config File read failed: " + missing + "\n\n");
  EXPECT_TRUE(s.result.proceed);
  // Names longer than a setting slot are still fine up to their own limit.
  std::string deep = folder_.file(std::string(600, 'd'));
  s = startup({"--cfgfile", deep, "--ip", "1.1.1.1", "x"}, {});
  EXPECT_EQ(s.output, "Warning: Config File read failed: " + deep + "\n\n");
  EXPECT_TRUE(s.result.proceed);
}

TEST_F(SettingsTest, OverlongValuesAreRefused) {
  writeConfig("");
  std::string value(512, 'v');
  auto run = runClientWith({"--name", value, "x"}, env());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "Error: Argument '--name' value is longer than 511 characters.\n");
  run = runClientWith({"x"}, env({{"QCLI_SERVER_USER", value}}));
  EXPECT_EQ(run.output, "Error: Environment variable 'QCLI_SERVER_USER' is longer than 511 characters.\n");
  Startup s = startup({"--method", std::string(511, 'v'), "--ip", "1.1.1.1", "x"}, env());
  EXPECT_TRUE(s.result.proceed);
  EXPECT_EQ(s.state.effective[kMethod].size(), 511u);
}

TEST(BaseNameTest, CutsFoldersAndExe) {
  EXPECT_EQ(baseNameOf("/usr/bin/qcli"), "qcli");
  EXPECT_EQ(baseNameOf("C:\\tools/x\\array.exe"), "array");
  EXPECT_EQ(baseNameOf("dir/drive.exe.bak"), "drive");
  EXPECT_EQ(baseNameOf("qcli"), "qcli");
  EXPECT_EQ(baseNameOf("tools/ARRAY.EXE"), "ARRAY.EXE");  // the cut is case-sensitive
}

}  // namespace
}  // namespace qcli
