// The client's displays: their order, their layouts, masked passwords, the example
// configuration read back as a configuration file, the banner and the help page.
#include <gtest/gtest.h>

#include <string>

#include "common/test_folder.h"
#include "qcli/client_test_support.h"
#include "qcli/config_file.h"

namespace qcli {
namespace {

using testing::runClientWith;

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class DisplaysTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> env() { return {{"QCLI_CONFIG_FILE", folder_.file("qcliConfig.db")}}; }
  TestFolder folder_;
};

TEST_F(DisplaysTest, DisplaysComeOutInTableOrderWhateverTheCommandLineOrder) {
  writeBytes(folder_.file("qcliConfig.db"), "");
  auto a = runClientWith({"--ip", "1.1.1.1", "--info", "--infoarg", "--infoc"}, env());
  auto b = runClientWith({"--infoc", "--infoarg", "--ip", "1.1.1.1", "--info"}, env());
  EXPECT_EQ(a.exitCode, 0);
  EXPECT_EQ(a.output, b.output);
  size_t info = a.output.find("Settings used for execution:");
  size_t args = a.output.find("Argument settings:");
  size_t example = a.output.find("# qcli Configuration File");
  ASSERT_NE(info, std::string::npos);
  EXPECT_LT(info, args);
  EXPECT_LT(args, example);
  // A display given twice is shown twice.
  auto twice = runClientWith({"--ip", "1.1.1.1", "--infoarg", "--infoarg", "--infoc"}, env());
  EXPECT_EQ(count(twice.output, "Argument settings:"), 2u);
}

TEST_F(DisplaysTest, SettingsListingLayout) {
  writeBytes(folder_.file("qcliConfig.db"), "");
  auto run = runClientWith({"--ip", "1.1.1.1", "--rfile", "out.csv", "--infoarg", "--infoc"}, env());
  const std::string expectedHead =
      "\nArgument settings:\n"
      "Label                 Key         Value\n"
      "Device Number       = --num     = \n"
      "Device Name         = --name    = \n"
      "Device WWN          = --wwn     = \n"
      "Server IP           = --ip      = 1.1.1.1\n";
  EXPECT_EQ(run.output.rfind(expectedHead, 0), 0u) << run.output;
  EXPECT_NE(
      run.output.find("Receive File        = --rfile   = out.csv\nSend File           = --sfile   = \n\n#"),
      std::string::npos);

  auto env = runClientWith({"--infoenv", "--infoc"}, {{"QCLI_SERVER_IP", "2.2.2.2"}});
  EXPECT_NE(env.output.find("Label                 Key                    Value\n"), std::string::npos);
  EXPECT_NE(env.output.find("Server IP           = QCLI_SERVER_IP       = 2.2.2.2\n"), std::string::npos);
}

TEST_F(DisplaysTest, UserPasswordsAreMaskedEverywhere) {
  writeBytes(folder_.file("qcliConfig.db"), "DefaultPassword=filepw\nDevice1Password=linepw\n");
  auto run = runClientWith(
      {"--ip", "1.1.1.1", "--pass", "argpw", "--info", "--infodb", "--infoenv", "--infoarg", "--infoc"},
      {{"QCLI_CONFIG_FILE", folder_.file("qcliConfig.db")}, {"QCLI_SERVER_PASSWORD", "envpw"}});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* secret : {"filepw", "linepw", "argpw", "envpw"}) {
    EXPECT_EQ(run.output.find(secret), std::string::npos) << secret;
  }
  // info, Default set, Device line, environment, arguments.
  EXPECT_EQ(count(run.output, "= ********\n"), 5u);
}

TEST_F(DisplaysTest, DefaultsAndOptionsVersusEnvironment) {
  auto run = runClientWith({"--ip", "1.1.1.1", "--infodef", "--info+", "--infoc"}, {});
  EXPECT_NE(run.output.find("\nDefault settings:\nLabel                 Key         Value\n"
                            "Device Number       = --num     = 1\n"),
            std::string::npos);
  EXPECT_NE(run.output.find("Send File           = --sfile   = \n"
                            "Config File Name    = --cfgfile = qcliConfig.db\n\n"),
            std::string::npos);
  EXPECT_NE(run.output.find("\nArguments vs Environment:\n"
                            "Device Number       = --num     = QCLI_DEV_NUM        \n"),
            std::string::npos);
  EXPECT_NE(run.output.find("Shows http request  = --req     =                     \n\n"), std::string::npos);
}

TEST_F(DisplaysTest, ExampleConfigurationReadsBackAsTheBuiltInDefaults) {
  auto run = runClientWith({"--ip", "1.1.1.1", "--infoc"}, {{"QCLI_CONFIG_FILE", folder_.file("none.db")}});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output.find("Warning"), std::string::npos);
  EXPECT_EQ(run.output.rfind("# qcli Configuration File\n#\n#\n#\n#\n#\n#\n"
                             "#     If present, these individual settings override the Default settings.\n",
                             0),
            0u);
  EXPECT_NE(run.output.find("\n\nDefaultNum=\"1\"\nDefaultName=\"\"\n"), std::string::npos);
  EXPECT_NE(run.output.find("DefaultMethod=\"qcli\"\n\n# HTTPS: set Tls to \"yes\""), std::string::npos);
  EXPECT_NE(run.output.find("\nDefaultTls=\"no\"\nDefaultCaFile=\"\"\n\n#\n# Device 1 settings\n#\n\nDevice1Name=\"\"\n"),
            std::string::npos);
  EXPECT_TRUE(run.output.ends_with(
      "Device1Method=\"qcli\"\n\n# Add additional Device settings here -- Use sequential numbering.\n"));

  writeBytes(folder_.file("example.db"), run.output);
  ConfigContents contents;
  ASSERT_TRUE(readConfigFile(folder_.file("example.db"), &contents));
  SettingSet defaults = builtInDefaults();
  for (size_t i = 0; i < kSettingCount; ++i) {
    bool inDefault = option(i).exampleMask & kExampleDefault;
    EXPECT_EQ(contents.defaults[i], inDefault ? defaults[i] : "") << option(i).label;
  }
  // The HTTPS keys read back as an explicit "off" and no CA file, and their comment as no key.
  EXPECT_EQ(contents.tls, "no");
  EXPECT_EQ(contents.caFile, "");
  ASSERT_EQ(contents.devices.size(), 1u);
  EXPECT_EQ(contents.devices[0].number, "1");
  EXPECT_EQ(contents.devices[0].settings[kPort], "9292");
  // A renamed program names itself in the first line.
  auto renamed = runClientWith({"--ip", "1.1.1.1", "--infoc"}, {}, "", "/opt/array");
  EXPECT_EQ(renamed.output.rfind("# array Configuration File\n", 0), 0u);
}

TEST_F(DisplaysTest, BannerWithoutArgumentsEvenWithABrokenConfiguration) {
  writeBytes(folder_.file("qcliConfig.db"), "DefaultNum=42\n");
  auto run = runClientWith({}, env());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output,
            "qcli :: Quorvex Command Line Tool - 1.00\n\nCommand line syntax:\n"
            "    qcli object {command {arguments}}\n\nFor additional help type:\n    qcli --help\n\n\n\n");
}

TEST_F(DisplaysTest, HelpPageInsteadOfTheRequest) {
  auto run = runClientWith({"--ip", "1.1.1.1", "--h", "array", "display"},
                           {{"QCLI_CONFIG_FILE", "/nonexistent/q.db"}});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output.rfind("Warning: Config File read failed: /nonexistent/q.db\n\n"
                             "\nqcli :: Quorvex Command Line Tool - 1.00\n\nCommand line syntax:\n",
                             0),
            0u);
  EXPECT_NE(run.output.find("                      The default name is qcliConfig.db. The environment \n"
                            "                      variable QCLI_CONFIG_FILE will also change this.\n"),
            std::string::npos);
  EXPECT_NE(run.output.find("Note:\n    The program may be renamed using an object name and that will \n"
                            "    replace the 'qcli object' pair.\n\nExit codes:\n    0 : "),
            std::string::npos);
  // The addendum names every code a script can see.
  for (const char* code : {"\n    1 : ", "\n    2 : ", "\n    3 : "}) {
    EXPECT_NE(run.output.find(code), std::string::npos) << code;
  }
  EXPECT_TRUE(run.output.ends_with("        or the format of its page failed.\n\n"));
  EXPECT_EQ(run.output.find("--req"), std::string::npos);
  // Without a server address the error comes first, then the page, and still exit code 0.
  run = runClientWith({"--help"}, {{"QCLI_CONFIG_FILE", "/nonexistent/q.db"}});
  EXPECT_EQ(run.exitCode, 0);
  size_t error = run.output.find("Error: Required user parameter 'Server IP' has no value.\n");
  ASSERT_NE(error, std::string::npos);
  EXPECT_LT(error, run.output.find("Client side 'management' options:"));
}

}  // namespace
}  // namespace qcli
