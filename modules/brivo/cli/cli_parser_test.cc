// The interpreter's parser: global options, letter case and aliases, the error block (byte for
// byte), modifier kinds, the argument checks and their order, confirmation, and pair selection
// with its errors against the fake transport.
#include "modules/brivo/cli/cli_parser.h"

#include <gtest/gtest.h>

#include <memory>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_tables.h"
#include "modules/brivo/cli/cli_test_support.h"

namespace brivo::cli {
namespace {

using testing::CapturedContext;

struct Run {
  std::unique_ptr<CapturedContext> out = std::make_unique<CapturedContext>();
  TableOwner request;
  int result = -1;
  bool split = false;

  CliContext& ctx() { return out->ctx; }
  std::vector<std::string> lines() const { return out->lines(); }
  std::string text() const { return out->text(); }
};

// Runs "qcli" + words as the method does; upload, when given, is the request's "UploadedFile".
std::unique_ptr<Run> run(std::vector<std::string> words, const char* upload = nullptr) {
  auto r = std::make_unique<Run>();
  if (upload != nullptr) addVariable(r->request.address(), "UploadedFile", upload);
  r->ctx().request = r->request.get();
  r->ctx().words = {"qcli"};
  r->ctx().words.insert(r->ctx().words.end(), words.begin(), words.end());
  r->split = splitGlobalOptions(r->ctx());
  if (r->split) r->result = parseAndRun(r->ctx());
  return r;
}

std::string errorLine(const std::unique_ptr<Run>& r) {
  const auto lines = r->lines();
  return lines.size() > 2 ? lines[2] : std::string();
}

constexpr char kNoSelection[] = "Error: Cannot get controller device without --type and --wwn.\n";

TEST(CliParser, ObjectsAndCommandsMatchInAnyCaseAndByAlias) {
  for (const auto& words :
       {std::vector<std::string>{"arr", "d"}, {"array", "display"}, {"ARRAY", "Display"}, {"Arr", "D"}}) {
    auto r = run(words);
    ASSERT_NE(r->ctx().command, nullptr) << words[0];
    EXPECT_STREQ(r->ctx().object->name, "array");
    EXPECT_EQ(r->ctx().command->handler, &arrayDisplay);
    // Without a pair the command stops at the selection, after the parse succeeded.
    EXPECT_EQ(r->lines(),
              (std::vector<std::string>{kNoSelection, "Controllers seen by this server:\n", "    none\n"}));
    EXPECT_EQ(r->result, 1);
  }
  // The word is lowered in place, so an error block echoes it lowered.
  auto upper = run({"ARRAY", "Display", "-X"});
  EXPECT_EQ(upper->lines()[4], "qcli array display -X\n");
}

TEST(CliParser, ModifiersAreCaseSensitive) {
  auto r = run({"array", "display", "-SUM"});
  const auto lines = r->lines();
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[2], "Error: Unknown Command Argument.\n");
  EXPECT_EQ(lines[5], std::string(19, ' ') + "^\n");
  EXPECT_EQ(r->result, 1);
  EXPECT_EQ(r->ctx().errors, 1);
}

TEST(CliParser, UnknownModifierBlockIsFollowedByTheCommandHelp) {
  auto r = run({"clock", "d", "-X"});
  EXPECT_EQ(r->text(),
            "\n"
            "qcli 1.00 -- Kestrova Command Line Interface Tool\n"
            "Error: Unknown Command Argument.\n"
            "---------------\n"
            "qcli clock d -X\n"
            "             ^\n"
            "---------------\n"
            "\n"
            "COMMAND:\n"
            "    clock display\n"
            "DESCRIPTION:\n"
            "    Displays the date and time of the controllers' clocks.\n"
            "MODIFIERS:\n"
            "    -ci controllerId\n"
            "        The Controller ID, either 0, 1 or all. Default is all.\n"
            "        *Optional*\n"
            "\n");
}

TEST(CliParser, MissingObjectOrCommandListsTheChoices) {
  auto noObject = run({});
  EXPECT_EQ(noObject->text(),
            "\n"
            "qcli 1.00 -- Kestrova Command Line Interface Tool\n"
            "Error: Unknown/missing object.\n"
            "----\n"
            "qcli\n"
            "     ^\n"
            "----\n"
            "\n"
            "OBJECT NAMES:\n"
            "    array      | arr\n"
            "    clock      | clk\n"
            "    config     | cfig\n"
            "    controller | ctlr\n"
            "    drive      | disk\n"
            "    enclosure  | enc\n"
            "    events     | event\n"
            "    help       | h\n"
            "    jobs       | job\n"
            "    logical    | log\n"
            "    mapping    | map\n"
            "    server     | svr\n"
            "    statistics | stats\n");
  EXPECT_EQ(errorLine(run({"arrays", "display"})), "Error: Unknown/missing object.\n");

  auto noCommand = run({"JOBS"});
  EXPECT_EQ(noCommand->text(),
            "\n"
            "qcli 1.00 -- Kestrova Command Line Interface Tool\n"
            "Error: Unknown/missing command.\n"
            "---------\n"
            "qcli jobs\n"
            "          ^\n"
            "---------\n"
            "\n"
            "COMMANDS:\n"
            "    delete     | del\n"
            "    display    | d\n");
  auto wrongCommand = run({"jobs", "show", "-ji", "1"});
  EXPECT_EQ(errorLine(wrongCommand), "Error: Unknown/missing command.\n");
  EXPECT_EQ(wrongCommand->lines()[5], std::string(10, ' ') + "^\n");
}

TEST(CliParser, GlobalOptionsAreTakenAnywhere) {
  auto r = run({"--ip", "10.0.0.1", "jobs", "--echo", "display", "--user", "admin", "--num", "2"});
  EXPECT_EQ(r->ctx().words, (std::vector<std::string>{"qcli", "jobs", "display"}));
  EXPECT_STREQ(globalOption(r->ctx(), kOptServerIp), "10.0.0.1");
  EXPECT_STREQ(globalOption(r->ctx(), kOptEcho), ".");
  EXPECT_STREQ(globalOption(r->ctx(), kOptCtlrLineNum), "2");
  EXPECT_EQ(globalOption(r->ctx(), kOptCtlrWwn), nullptr);

  // A value option at the end: the error block echoes the whole line with the caret under it.
  auto missing = run({"array", "display", "--wwn"});
  EXPECT_FALSE(missing->split);
  EXPECT_EQ(missing->text(),
            "\n"
            "qcli 1.00 -- Kestrova Command Line Interface Tool\n"
            "Error: Argument missing data component.\n"
            "------------------------\n"
            "qcli array display --wwn\n"
            "                   ^\n"
            "------------------------\n"
            "\n");
}

TEST(CliParser, WidthIsAcceptedOnlyFrom60To512) {
  for (auto [text, width] : {std::pair{"40", 79},
                             {"59", 79},
                             {"60", 60},
                             {"512", 512},
                             {"513", 79},
                             {"1e2", 79},
                             {"", 79},
                             {"100", 100}}) {
    auto r = run({"server", "display", "--width", text});
    EXPECT_EQ(r->ctx().width, width) << text;
  }
  auto wide = run({"--width", "100", "server", "display"});
  const auto lines = wide->lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "=== Command " + std::string(88, '=') + "\n");
  EXPECT_EQ(lines[1], "server display\n");
  EXPECT_EQ(lines[2], std::string(100, '=') + "\n");
  EXPECT_EQ(lines[3], "=== Results " + std::string(88, '=') + "\n");
  EXPECT_EQ(lines[4], "Server Information\n");
  EXPECT_EQ(lines[5].substr(0, 51), std::string(40, ' ') + "Hostname : ");  // label column 50
  EXPECT_EQ(lines.back(), std::string(100, '=') + "\n");
}

TEST(CliParser, ModifierKindsTakeTheirValues) {
  auto list = run({"drive", "display", "-di", "1", "2", "3", "-sum"});
  EXPECT_EQ(modifierValues(list->ctx(), kModDiskId), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_TRUE(hasModifier(list->ctx(), kModSummary));
  EXPECT_STREQ(modifierValue(list->ctx(), kModSummary), ".");
  ASSERT_EQ(list->ctx().modifiers.size(), 4u);
  EXPECT_EQ(list->ctx().modifiers[2].word, 3u);  // each list value remembers its modifier's word

  auto value = run({"array", "delete", "-ai", "-q"});
  EXPECT_EQ(errorLine(value), "Error: Missing Command Argument.\n");
  EXPECT_EQ(value->lines()[5], std::string(18, ' ') + "^\n");
  EXPECT_EQ(value->lines()[8], "COMMAND:\n");
  EXPECT_EQ(errorLine(run({"array", "delete", "-ai"})), "Error: Missing Command Argument.\n");
  EXPECT_EQ(errorLine(run({"drive", "display", "-di", "-sum"})),
            "Error: Missing command argument data component.\n");
  EXPECT_EQ(errorLine(run({"drive", "display", "-di"})), "Error: Missing command argument data component.\n");
  // A stray word where a modifier belongs.
  EXPECT_EQ(errorLine(run({"array", "display", "3"})), "Error: Unknown Command Argument.\n");
}

TEST(CliParser, RequiredArgumentsAreCheckedInTableOrder) {
  auto absent = run({"array", "check", "-q"});
  EXPECT_EQ(errorLine(absent), "Error: Required argument -ai is missing.\n");
  EXPECT_EQ(absent->lines()[5], std::string(20, ' ') + "^\n");  // where a next word would start
  EXPECT_EQ(errorLine(run({"array", "check", "-ai", "1", "-q"})),
            "Error: Required argument -m is missing.\n");
  auto empty = run({"array", "check", "-m", "1", "-ai", "", "-q"});
  EXPECT_EQ(errorLine(empty), "Error: Required argument, -ai, is missing or incorrect.\n");
  EXPECT_EQ(empty->lines()[5], std::string(22, ' ') + "^\n");
  EXPECT_EQ(errorLine(run({"config", "save"})), "Error: Required argument --rfile is missing.\n");
  EXPECT_EQ(errorLine(run({"config", "save", "--rfile", ""})),
            "Error: Required argument, --rfile, is missing or incorrect.\n");
}

TEST(CliParser, SendFileIsTheUploadNeverTheClientPath) {
  auto noUpload = run({"config", "restore", "--sfile", "/etc/shadow", "-q"});
  EXPECT_EQ(errorLine(noUpload), "Error: Required argument, --sfile, is missing or incorrect.\n");
  EXPECT_STREQ(globalOption(noUpload->ctx(), kOptSendFile), "");

  auto uploaded = run({"config", "restore", "--sfile", "cfg.bin", "-q"}, "/srv/kestrova/temp/upload-7");
  EXPECT_STREQ(globalOption(uploaded->ctx(), kOptSendFile), "/srv/kestrova/temp/upload-7");
  EXPECT_EQ(uploaded->lines()[0], kNoSelection);  // checks passed; no pair named
}

TEST(CliParser, GroupsAllowAtMostOrExactlyOneMember) {
  const char* upload = "/tmp/fw";
  auto both = run({"drive", "upgrade", "-all", "-oldrev", "--sfile", "fw.bin", "-q"}, upload);
  EXPECT_EQ(errorLine(both), "Error: More than one member of a Required Group is present.\n");
  EXPECT_EQ(both->lines()[5], std::string(24, ' ') + "^\n");  // under the second member
  EXPECT_EQ(errorLine(run({"drive", "upgrade", "--sfile", "fw.bin", "-q"}, upload)),
            "Error: No member of a Required Group is present.\n");
  // The required global option comes first, in table order.
  EXPECT_EQ(errorLine(run({"drive", "upgrade", "-all", "-oldrev", "-q"})),
            "Error: Required argument --sfile is missing.\n");
  EXPECT_EQ(run({"drive", "upgrade", "-inactold", "--sfile", "fw.bin", "-q"}, upload)->lines()[0],
            kNoSelection);

  EXPECT_EQ(run({"mapping", "delete", "-q"})->lines()[0], kNoSelection);
  EXPECT_EQ(run({"mapping", "delete", "-mi", "2", "-q"})->lines()[0], kNoSelection);
  auto optional = run({"mapping", "delete", "-hba", "1", "-mi", "2", "-q"});
  EXPECT_EQ(errorLine(optional), "Error: More than one member of an Optional Group is present.\n");
  EXPECT_EQ(optional->lines()[5], std::string(27, ' ') + "^\n");
  EXPECT_EQ(errorLine(run({"mapping", "create", "-li", "0", "-q"})),
            "Error: No member of a Required Group is present.\n");
}

TEST(CliParser, DataAlteringCommandsAskForConfirmationOnly) {
  auto ask = run({"array", "create", "-n", "x", "-di", "0", "1", "2", "-r", "5"});
  EXPECT_EQ(ask->lines(),
            (std::vector<std::string>{"Confirmation is required to complete this operation.\n"}));
  EXPECT_EQ(ask->result, 0);
  EXPECT_EQ(ask->ctx().errors, 0);
  // Checks come before the question; -q goes on to the pair.
  EXPECT_EQ(errorLine(run({"array", "create", "-n", "x", "-r", "5"})),
            "Error: Required argument -di is missing.\n");
  EXPECT_EQ(run({"array", "create", "-n", "x", "-di", "0", "-r", "5", "-q"})->lines()[0], kNoSelection);
  // A command without -q in its table runs without asking.
  EXPECT_EQ(run({"array", "rebuild", "-ai", "0", "-di", "3"})->lines()[0], kNoSelection);
}

// A server with two paths to one pair and one path to another.
class CliSelection : public ::testing::Test {
 protected:
  void SetUp() override {
    hang("sg-a", "Brivo20000004CF8A1B2D");
    hang("sg-b", "Brivo20000004CF8A1B2C");
    hang("sg-c", "Brivo20000004CF8A1B2C");
    hang("sg-d", "BrivoNotRead");
    moduleState().deviceList.store(list_.head());
  }
  void TearDown() override { moduleState().deviceList.store(nullptr); }

  void hang(const std::string& device, const std::string& name) {
    list_.hangItem(list_.add(device), name);
    fake_->answer(device, brivo::testing::bufferResponder(brivo::testing::controllerInformation()));
  }

  brivo::testing::FakeTransportScope fake_;
  brivo::testing::DeviceList list_;
  brivo::testing::RunningModule running_;
};

TEST_F(CliSelection, ErrorsListThePairsThisServerSees) {
  const std::vector<std::string> pairs = {"Controllers seen by this server:\n",
                                          "    --type Brivo --wwn 20000004CF8A1B2C\n",
                                          "    --type Brivo --wwn 20000004CF8A1B2D\n"};
  auto none = run({"jobs", "display"});
  std::vector<std::string> expected = {kNoSelection};
  expected.insert(expected.end(), pairs.begin(), pairs.end());
  EXPECT_EQ(none->lines(), expected);

  auto unknown = run({"jobs", "display", "--type", "Brivo", "--wwn", "0000000000000001"});
  expected[0] = "Error: Cannot get controller device for type Brivo and WWN 0000000000000001.\n";
  EXPECT_EQ(unknown->lines(), expected);
  EXPECT_EQ(unknown->ctx().errors, 1);
  EXPECT_TRUE(fake_->sent().empty());

  // An empty --wwn (the client forwards one whenever it has none) is no selection.
  EXPECT_EQ(run({"jobs", "display", "--type", "Brivo", "--wwn", ""})->lines()[0], kNoSelection);
}

TEST_F(CliSelection, ReadFailuresStopBeforeTheHandler) {
  struct Case {
    uint8_t failing;
    const char* message;
  };
  for (const Case& c : {Case{kOpReadConfiguration, "Error: Cannot read configuration info.\n"},
                        Case{kOpReadDriveList, "Error: Cannot read disk info.\n"},
                        Case{kOpReadControllerInfo, "Error: Cannot read controller fail info.\n"}}) {
    auto good = brivo::testing::bufferResponder(brivo::testing::controllerInformation());
    const uint8_t failing = c.failing;
    for (const char* device : {"sg-b", "sg-c"}) {
      fake_->answer(device, [good, failing](const ScsiCommand& command) {
        if (command.cdb[2] == failing) return brivo::testing::checkCondition(command, 4, 0x44, 0);
        return good(command);
      });
    }
    auto r = run({"jobs", "display", "--type", "Brivo", "--wwn", "20000004cf8a1b2c"});
    EXPECT_EQ(r->lines(), (std::vector<std::string>{c.message}));
    EXPECT_FALSE(r->ctx().hasPair());
    EXPECT_EQ(r->result, 1);
  }
}

TEST_F(CliSelection, SelectedPairRunsTheHandlerBetweenRulers) {
  auto r = run({"array", "display", "-exp", "-sum", "--type", "Brivo", "--wwn", "20000004CF8A1B2D"});
  ASSERT_TRUE(r->ctx().hasPair());
  EXPECT_EQ(r->ctx().pair.device, list_.head());
  const auto lines = r->lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "=== Command " + std::string(67, '=') + "\n");
  EXPECT_EQ(lines[1], "array display -sum -exp\n");
  EXPECT_EQ(lines[2], std::string(79, '=') + "\n");
  EXPECT_EQ(lines[3], "=== Results " + std::string(67, '=') + "\n");
  EXPECT_EQ(lines.back(), std::string(79, '=') + "\n");
  // The three buffers were read from the selected pair's path.
  int reads = 0;
  for (const auto& sent : fake_->sent()) {
    if (sent.device == "sg-a" && sent.cdb[0] == kReadBuffer &&
        (sent.cdb[2] == kOpReadConfiguration || sent.cdb[2] == kOpReadDriveList ||
         sent.cdb[2] == kOpReadControllerInfo)) {
      ++reads;
    }
  }
  EXPECT_GE(reads, 3);
}

TEST(CliParser, ServerCommandsNeedNoPair) {
  auto r = run({"svr", "d", "--type", "Brivo", "--wwn", "0000000000000001"});
  EXPECT_EQ(r->lines()[1], "server display\n");
  EXPECT_EQ(r->ctx().errors, 0);
  EXPECT_FALSE(r->ctx().pair.found());
}

}  // namespace
}  // namespace brivo::cli
