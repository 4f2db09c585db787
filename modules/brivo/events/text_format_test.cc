// Tests of the data-file formatter: conversions, positional values, and texts that ask for more or
// other values than given (as an edited data file may) never reach the C library as formats.
#include "modules/brivo/events/text_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace brivo::events {
namespace {

std::string fill(const char* format, std::vector<FormatArg> args, bool* ok = nullptr) {
  return formatted(format, args, ok);
}

TEST(TextFormatTest, FillsPrintfConversions) {
  bool ok = false;
  EXPECT_EQ(fill("Array %d: RAID %X, 0x%.2X, %u GB, [%5s] [%-4s] %c 100%%",
                 {FormatArg::of(3), FormatArg::of(0x50), FormatArg::of(10), FormatArg::of(4000000000LL),
                  FormatArg::of(std::string("ab")), FormatArg::of(std::string("x")), FormatArg::of('Z')},
                 &ok),
            "Array 3: RAID 50, 0x0A, 4000000000 GB, [   ab] [x   ] Z 100%");
  EXPECT_TRUE(ok);
  EXPECT_EQ(fill("%.8X|%03d|%+d|%lu|%hhx", {FormatArg::of(0x10), FormatArg::of(7), FormatArg::of(5),
                                            FormatArg::of(9), FormatArg::of(255)}),
            "00000010|007|+5|9|ff");
  EXPECT_EQ(fill("%.3s", {FormatArg::of(std::string("abcdef"))}), "abc");
}

TEST(TextFormatTest, PositionalValuesPickTheirArgument) {
  bool ok = false;
  EXPECT_EQ(fill("Drive ID %2$d on loop %1$d for %3$d s",
                 {FormatArg::of(1), FormatArg::of(7), FormatArg::of(30)}, &ok),
            "Drive ID 7 on loop 1 for 30 s");
  EXPECT_TRUE(ok);
  EXPECT_EQ(fill("%2$s then %s", {FormatArg::of(std::string("a")), FormatArg::of(std::string("b"))}),
            "b then a");
}

TEST(TextFormatTest, UnusedValuesAreNoFault) {
  bool ok = false;
  EXPECT_EQ(fill("The controller has started.", {FormatArg::of(1), FormatArg::of(2)}, &ok),
            "The controller has started.");
  EXPECT_TRUE(ok);
}

TEST(TextFormatTest, MismatchesAreReportedAndStillWritten) {
  bool ok = true;
  EXPECT_EQ(fill("%s and %d", {FormatArg::of(5), FormatArg::of(std::string("x"))}, &ok), "5 and x");
  EXPECT_FALSE(ok);
  ok = true;
  EXPECT_EQ(fill("a %d b %s c", {FormatArg::of(1)}, &ok), "a 1 b  c");
  EXPECT_FALSE(ok);
  ok = true;
  EXPECT_EQ(fill("%5$d", {FormatArg::of(1)}, &ok), "");
  EXPECT_FALSE(ok);
}

TEST(TextFormatTest, HostileFormatsAreCopiedNotExecuted) {
  bool ok = true;
  EXPECT_EQ(fill("%n%f%*d%p", {FormatArg::of(1)}, &ok), "%n%f%*d%p");
  EXPECT_FALSE(ok);
  ok = true;
  EXPECT_EQ(fill("%999999d|%.100s|100%", {FormatArg::of(1)}, &ok), "%999999d|%.100s|100%");
  EXPECT_FALSE(ok);
  ok = true;
  EXPECT_EQ(fill("%s%s%s%s%s%s", {}, &ok), "");
  EXPECT_FALSE(ok);
}

}  // namespace
}  // namespace brivo::events
