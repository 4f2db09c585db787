// Help forms, byte for byte where the form is fixed, and the limits of the summary matrix.
#include "modules/brivo/cli/cli_help.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_parser.h"
#include "modules/brivo/cli/cli_test_support.h"

namespace brivo::cli {
namespace {

using testing::CapturedContext;

std::unique_ptr<CapturedContext> help(std::vector<std::string> words, int* result = nullptr) {
  auto out = std::make_unique<CapturedContext>();
  out->ctx.words = {"qcli", "help"};
  out->ctx.words.insert(out->ctx.words.end(), words.begin(), words.end());
  const int r = parseAndRun(out->ctx);
  if (result != nullptr) *result = r;
  return out;
}

TEST(CliHelp, ObjectNames) {
  EXPECT_EQ(help({"-obj"})->text(),
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
}

TEST(CliHelp, ObjectHelpByNameOrAliasInAnyCase) {
  const std::string expected =
      "OBJECT:\n"
      "    clock      | clk\n"
      "DESCRIPTION:\n"
      "    Allows a controller's clock to be seen and adjusted.\n"
      "COMMANDS:\n"
      "    display    | d\n"
      "    set        | s\n";
  EXPECT_EQ(help({"clock"})->text(), expected);
  EXPECT_EQ(help({"CLK"})->text(), expected);
  // The help object through its alias, and its own help.
  auto out = std::make_unique<CapturedContext>();
  out->ctx.words = {"qcli", "H", "help"};
  parseAndRun(out->ctx);
  EXPECT_EQ(out->text(),
            "OBJECT:\n"
            "    help       | h\n"
            "DESCRIPTION:\n"
            "    Displays help for objects and their commands. Type help for basic help\n"
            "    information.\n"
            "COMMANDS:\n"
            "    none\n");
}

TEST(CliHelp, CommandHelpWrapsAndTagsModifiers) {
  EXPECT_EQ(help({"jobs", "delete"})->text(),
            "COMMAND:\n"
            "    jobs delete\n"
            "DESCRIPTION:\n"
            "    Stops a long term operation. An Array whose initialization or rebuild is\n"
            "    stopped is not redundant.\n"
            "MODIFIERS:\n"
            "    -ji jobId\n"
            "        ID of the job, as jobs display shows it.\n"
            "    -q\n"
            "        Suppresses the confirmation question.\n"
            "\n");
  EXPECT_EQ(help({"mapping", "delete"})->text(),
            "COMMAND:\n"
            "    mapping delete\n"
            "DESCRIPTION:\n"
            "    Deletes mappings: those of one host port (-hba or -mi), of one Logical\n"
            "    Drive (-li), or every mapping when neither is given.\n"
            "MODIFIERS:\n"
            "    -hba hbaIndex\n"
            "        Index of a detected HBA (host port of a host), as mapping display\n"
            "        lists it.\n"
            "        *Optional Group 1* Only 1 may be present.\n"
            "    -mi mapIndex\n"
            "        Index of an existing mapping as mapping display lists it, or the host\n"
            "        port's WWNN-WWPN.\n"
            "        *Optional Group 1* Only 1 may be present.\n"
            "    -li logicalId\n"
            "        Index of a Logical Drive: only its mappings are deleted. Default is\n"
            "        every Logical Drive.\n"
            "        *Optional*\n"
            "    -q\n"
            "        Suppresses the confirmation question.\n"
            "\n");
  const std::string upgrade = help({"drive", "upg"})->text();
  EXPECT_NE(upgrade.find("    -all\n"), std::string::npos);
  EXPECT_NE(upgrade.find("        *Required Group 1* Only 1 must be present.\n"), std::string::npos);
  EXPECT_NE(upgrade.find("    --sfile sndfile\n"), std::string::npos);
  const std::string identify = help({"drive", "identify"})->text();
  EXPECT_NE(identify.find("    -di diskIds\n"), std::string::npos);
  EXPECT_NE(identify.find("        *Optional*\n        *List*\n"), std::string::npos);
  EXPECT_NE(help({"config", "display"})->text().find("MODIFIERS:\n    none\n"), std::string::npos);
}

TEST(CliHelp, UnknownNamesAreReported) {
  int result = 0;
  EXPECT_EQ(help({"arrays"}, &result)->text(), "Error: Unknown object name <arrays>.\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(help({"Array", "Show"}, &result)->text(), "Error: unknown command name\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(help({"-SUM"}, &result)->text(), "Error: Unknown object name <-SUM>.\n");
}

TEST(CliHelp, SummaryMatrix) {
  EXPECT_EQ(help({"-sum"})->text(),
            "COMMAND SUMMARY:\n"
            "             c c d d e i i r s r s r s u r\n"
            "             h r e i x d n e e e a e h p e\n"
            "             e e l s p e i b t s v s u g s\n"
            "             c a e p a n t u   t e e t r c\n"
            "             k t t l n t i i   o   t d a a\n"
            "               e e a d i a l   r     o d n\n"
            "                   y   f l d   e     w e\n"
            "                       y i           n\n"
            "                         z\n"
            "                         e\n"
            "            ------------------------------\n"
            "array        x x x x x x x x x . . . . . .\n"
            "clock        . . . x . . . . x . . . . . .\n"
            "config       . . x x . . . . x x x . . . .\n"
            "controller   . . . x . . . . . . . x x x .\n"
            "drive        . . . x . x . . x . . . . x .\n"
            "enclosure    . . . x . x . . . . . . . . .\n"
            "events       . . x x . . . . . . x . . . .\n"
            "help         . . . . . . . . . . . . . . .\n"
            "jobs         . . x x . . . . . . . . . . .\n"
            "logical      . x x x x x . . x . . . . . .\n"
            "mapping      . x x x . . . . x . . . . . .\n"
            "server       . . . x . . . . x . . . . . x\n"
            "statistics   . . x x . . . . . . . . . . .\n");
}

TEST(CliHelp, SummaryMatrixRefusesTablesItCannotShow) {
  std::vector<ObjectEntry> objects(14, ObjectEntry{"o", "o", "d", {}});
  CapturedContext tooMany;
  EXPECT_EQ(writeSummaryMatrix(tooMany.ctx, objects), 1);
  EXPECT_EQ(tooMany.text(), "Error: Function does not support enough objects.\n");

  static const char* const kNames[17] = {"a", "b", "c", "d", "e", "f", "g", "h", "i",
                                         "j", "k", "l", "m", "n", "o", "p", "q"};
  std::vector<CommandEntry> commands;
  for (const char* name : kNames) commands.push_back(CommandEntry{name, name, nullptr, {}, ""});
  // Sixteen distinct names spread over two objects fit; the seventeenth does not.
  std::vector<ObjectEntry> fits = {{"x", "x", "", std::span(commands).first(10)},
                                   {"y", "y", "", std::span(commands).subspan(6, 10)}};
  CapturedContext ok;
  EXPECT_EQ(writeSummaryMatrix(ok.ctx, fits), 0);
  EXPECT_EQ(ok.lines().back(), "y            . . . . . . x x x x x x x x x x\n");
  std::vector<ObjectEntry> over = {{"x", "x", "", commands}};
  CapturedContext refused;
  EXPECT_EQ(writeSummaryMatrix(refused.ctx, over), 1);
  EXPECT_EQ(refused.text(), "Error: Function does not support enough commands.\n");
}

TEST(CliHelp, AllHelpCoversEveryObjectAndCommand) {
  const std::string all = help({"-all"})->text();
  EXPECT_EQ(all.rfind("qcli 1.00 -- Kestrova Command Line Interface Tool\n", 0), 0u);
  EXPECT_NE(all.find("OBJECT NAMES:\n"), std::string::npos);
  size_t commandBlocks = 0, objectBlocks = 0;
  for (size_t at = all.find("COMMAND:\n"); at != std::string::npos; at = all.find("COMMAND:\n", at + 1)) {
    ++commandBlocks;
  }
  for (size_t at = all.find("OBJECT:\n"); at != std::string::npos; at = all.find("OBJECT:\n", at + 1)) {
    ++objectBlocks;
  }
  size_t tableCommands = 0;
  for (const ObjectEntry& object : objectTable()) tableCommands += object.commands.size();
  EXPECT_EQ(objectBlocks, objectTable().size());
  EXPECT_EQ(commandBlocks, tableCommands);
  EXPECT_NE(all.find("    help       | h\nDESCRIPTION:\n"), std::string::npos);
  EXPECT_NE(all.find("    No commands for this object.\n"), std::string::npos);

  const std::string logical = help({"log", "-all"})->text();
  EXPECT_EQ(logical.rfind("COMMAND:\n    logical create\n", 0), 0u);
  EXPECT_NE(logical.find("    logical set\n"), std::string::npos);
  EXPECT_EQ(logical.find("OBJECT:"), std::string::npos);
}

TEST(CliHelp, BasicAndClientTextsFitTheDefaultWidth) {
  for (const std::vector<std::string>& words : {std::vector<std::string>{}, {"-basic"}}) {
    auto out = help(words);
    const auto lines = out->lines();
    EXPECT_GT(lines.size(), 20u);
    for (const std::string& line : lines) {
      EXPECT_LE(line.size(), 79u) << line;  // 78 columns and the line feed
      EXPECT_EQ(line.back(), '\n');
    }
  }
  EXPECT_NE(help({})->text().find("    qcli help -obj             >> Lists the object names.\n"),
            std::string::npos);
}

TEST(CliTables, NamesAreUniqueAndEveryCommandHasAHandlerAndHelp) {
  std::vector<std::string> objectWords;
  for (const ObjectEntry& object : objectTable()) {
    objectWords.push_back(object.name);
    objectWords.push_back(object.alias);
    std::vector<std::string> commandWords;
    for (const CommandEntry& command : object.commands) {
      EXPECT_NE(command.handler, nullptr) << object.name << " " << command.name;
      EXPECT_GT(std::strlen(command.description), 20u) << command.name;
      commandWords.push_back(command.name);
      commandWords.push_back(command.alias);
      std::vector<std::string> modifierWords;
      for (const ModifierEntry& modifier : command.modifiers) {
        modifierWords.push_back(modifier.name);
        EXPECT_GT(std::strlen(modifier.help), 10u) << command.name << " " << modifier.name;
        EXPECT_EQ(modifier.kind == kKindFlag, modifier.argument == nullptr) << modifier.name;
      }
      std::sort(modifierWords.begin(), modifierWords.end());
      EXPECT_EQ(std::adjacent_find(modifierWords.begin(), modifierWords.end()), modifierWords.end())
          << object.name << " " << command.name;
    }
    std::sort(commandWords.begin(), commandWords.end());
    EXPECT_EQ(std::adjacent_find(commandWords.begin(), commandWords.end()), commandWords.end())
        << object.name;
  }
  std::sort(objectWords.begin(), objectWords.end());
  EXPECT_EQ(std::adjacent_find(objectWords.begin(), objectWords.end()), objectWords.end());
}

}  // namespace
}  // namespace brivo::cli
