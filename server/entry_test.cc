// Tests of the program entry: the command line rules and the service commands against a unit
// folder of the test's own (the service manager itself is never asked).
#include "server/entry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/test_folder.h"
#include "server/server_state.h"
#include "server/service_unit.h"

namespace {

namespace fs = std::filesystem;

const char kUsageText[] =
    "prog -install [-name ServiceName]          to install the service\n"
    "prog -remove  [-name ServiceName]          to remove the service\n"
    "prog -start   [-name ServiceName] [params] to start the service\n"
    "prog -stop    [-name ServiceName]          to stop the service\n"
    "prog -debug   [-name ServiceName] [params] to run in console for debugging\n"
    "prog -netkey  set|add|switch|drop|clear|show to change the network key (key from standard input)\n";

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(units_.path().empty());
    // Every test works on its own unit folder; without it the test must not run at all.
    ASSERT_EQ(setenv(kUnitFolderVariable, units_.path().c_str(), 1), 0);
    ASSERT_FALSE(serviceSetupFromEnvironment().systemManaged);
    ASSERT_TRUE(setServiceNames(kDefaultServiceName));
  }

  // Runs the entry with "prog" and args; returns what it printed.
  std::string run(std::vector<std::string> args) {
    std::vector<char*> argv{const_cast<char*>("prog")};
    for (std::string& a : args) argv.push_back(a.data());
    ::testing::internal::CaptureStdout();
    serverEntry(static_cast<int>(argv.size()), argv.data());
    return ::testing::internal::GetCapturedStdout();
  }

  std::string unit(const char* name) const { return units_.file(std::string(name) + ".service"); }

  TestFolder units_;
};

TEST_F(EntryTest, CommandsAreMatchedWithoutCaseAfterDashOrSlash) {
  const char* argv1[] = {"prog", "/DeBuG", "1011"};
  EntryRequest request = parseEntryArguments(3, argv1);
  EXPECT_EQ(request.command, EntryCommand::kDebug);
  ASSERT_EQ(request.params.size(), 1u);
  EXPECT_STREQ(request.params[0], "1011");

  const char* argv2[] = {"prog", "-INSTALL"};
  EXPECT_EQ(parseEntryArguments(2, argv2).command, EntryCommand::kInstall);
  const char* argv3[] = {"prog"};
  EXPECT_EQ(parseEntryArguments(1, argv3).command, EntryCommand::kNoArguments);
}

TEST_F(EntryTest, NamePairFollowsCommandAndOtherOptionsArePassedOn) {
  const char* withName[] = {"prog", "-debug", "-name", "Other", "1011", "-tag"};
  EntryRequest request = parseEntryArguments(6, withName);
  EXPECT_EQ(request.command, EntryCommand::kDebug);
  ASSERT_NE(request.name, nullptr);
  EXPECT_STREQ(request.name, "Other");
  ASSERT_EQ(request.params.size(), 2u);
  EXPECT_STREQ(request.params[0], "1011");
  EXPECT_STREQ(request.params[1], "-tag");

  // An option pair that is not "name" stays with the debug options.
  const char* timeFirst[] = {"prog", "-debug", "-time", "1011"};
  request = parseEntryArguments(4, timeFirst);
  EXPECT_EQ(request.name, nullptr);
  ASSERT_EQ(request.params.size(), 2u);
  EXPECT_STREQ(request.params[0], "-time");

  // "-name" needs a value after it: with three arguments it is an ordinary parameter.
  const char* shortLine[] = {"prog", "-debug", "-name"};
  request = parseEntryArguments(3, shortLine);
  EXPECT_EQ(request.name, nullptr);
  EXPECT_EQ(request.params.size(), 1u);
}

TEST_F(EntryTest, BadCommandsPrintUsage) {
  EXPECT_EQ(run({"-name", "X", "-start"}), kUsageText);
  EXPECT_EQ(run({"debug"}), kUsageText);
  EXPECT_EQ(run({"-launch"}), kUsageText);
  EXPECT_EQ(run({"-"}), kUsageText);
  // A name that cannot be a service (unit file) name is refused before anything happens.
  EXPECT_EQ(run({"-install", "-name", "../../etc/evil"}), kUsageText);
  EXPECT_EQ(run({"-install", "-name", std::string(100, 'a')}), kUsageText);
  EXPECT_TRUE(fs::is_empty(units_.path()));
}

TEST_F(EntryTest, MoreThan128ArgumentsAreRefused) {
  std::vector<std::string> args{"-debug"};
  for (int i = 0; i < 129; ++i) args.push_back("1011");
  EXPECT_EQ(run(args), "More than 128 arguments given...\n");
  args[0] = "-start";
  EXPECT_EQ(run(args), "More than 128 arguments given...\n");
}

TEST_F(EntryTest, InstallWritesUnitFileAndRefusesSecondInstall) {
  EXPECT_EQ(run({"-install", "-name", "Other"}), "Other installed.\n");
  EXPECT_STREQ(serviceName(), "Other");
  const std::string text = readBytes(unit("Other"));
  const std::string program = programPath();
  EXPECT_NE(text.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(text.find("ExecStart=\"" + program + "\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("WorkingDirectory=" + folderOf(program) + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Environment=KESTROVA_SERVICE_NAME=Other\n"), std::string::npos) << text;
  EXPECT_NE(text.find("WantedBy=multi-user.target"), std::string::npos);

  const std::string again = run({"-install", "-name", "Other"});
  EXPECT_EQ(again.rfind("CreateService failed - ", 0), 0u) << again;
  EXPECT_NE(again.find("(0x11)\n"), std::string::npos) << again;  // EEXIST
  EXPECT_EQ(readBytes(unit("Other")), text);
}

TEST_F(EntryTest, InstallReportsUnusableUnitFolder) {
  ASSERT_EQ(setenv(kUnitFolderVariable, units_.file("missing").c_str(), 1), 0);
  const std::string output = run({"-install"});
  EXPECT_EQ(output.rfind("OpenSCManager failed - ", 0), 0u) << output;
  EXPECT_NE(output.find("(0x2)\n"), std::string::npos) << output;  // ENOENT
}

TEST_F(EntryTest, StartStopAndRemoveWorkOnTheUnitFileOnly) {
  EXPECT_EQ(run({"-start"}).rfind("OpenService failed - ", 0), 0u);
  EXPECT_EQ(run({"-remove"}).rfind("OpenService failed - ", 0), 0u);
  ASSERT_EQ(run({"-install"}), "Kestrova installed.\n");
  // Without the service manager nothing can run, which is what start and stop report.
  EXPECT_EQ(run({"-start", "1011"}), "Starting Kestrova.\nKestrova failed to start.\n");
  EXPECT_EQ(run({"-stop"}), "Stopping Kestrova.\nKestrova stopped.\n");
  EXPECT_EQ(run({"-remove"}), "Kestrova removed.\n");
  EXPECT_FALSE(fs::exists(unit("Kestrova")));
}

TEST(ServiceUnitTest, UnitTextQuotesPathsAndEscapesSpecifiers) {
  std::string text;
  ASSERT_TRUE(buildUnitText("Kestrova", "Kestrova 100%", "/opt/my \"k\" dir/server", &text));
  EXPECT_NE(text.find("Description=Kestrova 100%%\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ExecStart=\"/opt/my \\\"k\\\" dir/server\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("WorkingDirectory=/opt/my \"k\" dir\n"), std::string::npos) << text;
  EXPECT_FALSE(buildUnitText("Kestrova", "Kestrova", "relative/server", &text));
  EXPECT_FALSE(buildUnitText("Kestrova", "Kestrova", "/opt/a\nExecStartPre=/bin/evil/server", &text));
}

TEST(ServiceUnitTest, ErrorTextEndsWithHexNumber) {
  EXPECT_EQ(errorText(2), "No such file or directory (0x2)");
  EXPECT_EQ(folderOf("/server"), "/");
  EXPECT_EQ(folderOf("server"), "");
}

}  // namespace
