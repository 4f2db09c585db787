// The writers: line numbering, the label column, rulers, wrapping and the command-failure form.
#include <gtest/gtest.h>

#include <cstring>

#include "modules/brivo/cli/cli_context.h"
#include "modules/brivo/cli/cli_test_support.h"

namespace brivo::cli {
namespace {

using testing::CapturedContext;

TEST(CliOutput, EveryTextIsTheNextNumberedLine) {
  CapturedContext out;
  writeText(out.ctx, "first %d\n", 1);
  writeText(out.ctx, "no line end ");
  writeText(out.ctx, "%s\n", std::string(700, 'x').c_str());  // longer than the writer's small buffer
  ASSERT_EQ(out.ctx.lineCount, 3);
  EXPECT_STREQ(getVariable(out.reply.get(), "textloop0text"), "first 1\n");
  EXPECT_STREQ(getVariable(out.reply.get(), "textloop1text"), "no line end ");
  EXPECT_EQ(std::strlen(getVariable(out.reply.get(), "textloop2text")), 701u);
}

TEST(CliOutput, LabelColumnFollowsWidthAndItsSecondBit) {
  for (auto [width, column] : {std::pair{79, 40}, {80, 40}, {82, 42}, {100, 50}, {60, 30}, {63, 32}}) {
    CliContext ctx;
    ctx.width = width;
    EXPECT_EQ(labelColumnOf(ctx), column) << width;
  }
}

TEST(CliOutput, FieldLabelsEndAtTheCommonColumn) {
  CapturedContext out;
  writeField(out.ctx, "Name", "Pool 1");
  writeField(out.ctx, "Read Ahead Cache*", "auto", ' ');
  writeField(out.ctx, std::string(50, 'L').c_str(), "v");  // longer than the column: starts at 0
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(34, ' ') + "Name : Pool 1\n");
  EXPECT_EQ(lines[1], std::string(21, ' ') + "Read Ahead Cache*   auto\n");
  EXPECT_EQ(lines[2], std::string(50, 'L') + " : v\n");
  // The separator sits at the same column on every line.
  EXPECT_EQ(lines[0].find(':'), 39u);
  EXPECT_EQ(lines[1].find("   auto"), 38u);
}

TEST(CliOutput, RulersSpanTheWidthWithTitleFromColumnThree) {
  CapturedContext out;
  out.ctx.width = 100;
  writeRuler(out.ctx, '=');
  writeRuler(out.ctx, '-', "Array 3");
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(100, '=') + "\n");
  EXPECT_EQ(lines[1], "--- Array 3 " + std::string(88, '-') + "\n");

  CapturedContext narrow;
  narrow.ctx.width = 8;
  writeRuler(narrow.ctx, '=', "Much too long");
  EXPECT_EQ(narrow.lines()[0], "=== Much\n");
}

TEST(CliOutput, WrapBreaksAtLastBlankWithinFifteenColumns) {
  CapturedContext out;
  out.ctx.width = 40;  // writers do not check the width; 39 columns a line, 35 after the indent
  // A blank at text column 30 (5 from the edge) and one at 10: the break takes the later one.
  std::string text = std::string(10, 'a') + " " + std::string(19, 'b') + " " + std::string(10, 'c');
  writeWrapped(out.ctx, text.c_str(), 4);
  auto lines = out.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "    " + std::string(10, 'a') + " " + std::string(19, 'b') + "\n");
  EXPECT_EQ(lines[1], "    " + std::string(10, 'c') + "\n");

  // The only blank is 20 columns before the edge: too far back, so the word is cut at the edge.
  CapturedContext hard;
  hard.ctx.width = 40;
  text = std::string(15, 'a') + " " + std::string(40, 'b');
  writeWrapped(hard.ctx, text.c_str(), 4);
  lines = hard.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "    " + std::string(15, 'a') + " " + std::string(19, 'b') + "\n");
  EXPECT_EQ(lines[1], "    " + std::string(21, 'b') + "\n");
}

TEST(CliOutput, WrapBreaksAtEveryLineFeedAndKeepsEmptyLines) {
  CapturedContext out;
  writeWrapped(out.ctx, "one\n\ntwo three\n", 8);
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "        one\n");
  EXPECT_EQ(lines[1], "\n");
  EXPECT_EQ(lines[2], "        two three\n");
  // A text exactly as long as the line fits on it.
  CapturedContext exact;
  writeWrapped(exact.ctx, std::string(74, 'x').c_str(), 4);
  EXPECT_EQ(exact.lines().size(), 1u);
  writeWrapped(exact.ctx, std::string(75, 'x').c_str(), 4);
  EXPECT_EQ(exact.lines().size(), 3u);
}

TEST(CliOutput, CommandFailureCarriesResultAndSense) {
  CapturedContext out;
  ControllerCommand failed{};
  failed.sense[0] = 0x70;
  failed.sense[2] = 5;
  failed.sense[7] = 10;
  failed.sense[12] = 0x24;
  failed.sense[13] = 0x01;
  writeCommandFailure(out.ctx, "reset controller 1", 2, failed);
  ControllerCommand noSense{};
  writeCommandFailure(out.ctx, "delete job", 255, noSense);
  EXPECT_EQ(out.text(),
            "Error: Cannot reset controller 1. Status: 2 Sense: 5/24/01\n"
            "Error: Cannot delete job. Status: 255 Sense: 0/00/00\n");
}

TEST(CliContextAccess, ModifiersOptionsAndNumbers) {
  CliContext ctx;
  ctx.modifiers = {{kModDiskId, "3"}, {kModName, "x"}, {kModDiskId, "7"}};
  EXPECT_TRUE(hasModifier(ctx, kModName));
  EXPECT_FALSE(hasModifier(ctx, kModConfirm));
  EXPECT_STREQ(modifierValue(ctx, kModDiskId), "3");
  EXPECT_EQ(modifierValue(ctx, kModConfirm), nullptr);
  EXPECT_EQ(modifierValues(ctx, kModDiskId), (std::vector<std::string>{"3", "7"}));
  EXPECT_EQ(globalOption(ctx, kOptCtlrWwn), nullptr);
  ctx.globals[kOptCtlrWwn] = "";
  ctx.globalGiven[kOptCtlrWwn] = true;
  EXPECT_STREQ(globalOption(ctx, kOptCtlrWwn), "");

  long n = -1;
  EXPECT_TRUE(parseNumber("42", &n));
  EXPECT_EQ(n, 42);
  for (const char* bad : {"", "-1", "+1", " 1", "1x", "0x10", "99999999999999999999", "all"}) {
    EXPECT_FALSE(parseNumber(bad, &n)) << bad;
  }
  EXPECT_FALSE(parseNumber(nullptr, &n));
  EXPECT_TRUE(parseNumberOrAll("ALL", 99, &n));
  EXPECT_EQ(n, 99);
  EXPECT_TRUE(parseNumberOrAll("5", 99, &n));
  EXPECT_EQ(n, 5);
  EXPECT_FALSE(parseNumberOrAll("alll", 99, &n));
}

}  // namespace
}  // namespace brivo::cli
