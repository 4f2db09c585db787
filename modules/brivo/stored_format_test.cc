// Formatting texts from data files: the conversions the texts use, and that a hostile or broken
// text can neither read past its arguments nor write anywhere.
#include "modules/brivo/stored_format.h"

#include <gtest/gtest.h>

namespace brivo {
namespace {

TEST(StoredFormat, TheConversionsTheTextsUse) {
  EXPECT_EQ(formatStoredText("Brivo %s (%s)", {"20000004CF8A1B2C", "0+1"}), "Brivo 20000004CF8A1B2C (0+1)");
  EXPECT_EQ(formatStoredText("sense %.2X/%.2X/%.2X", {5, 0x24, 0}), "sense 05/24/00");
  EXPECT_EQ(formatStoredText("%d%% at %3d|%-4d|%04x|%c", {80, 7, 7, 0xBEEF, 'A'}), "80% at   7|7   |beef|A");
  EXPECT_EQ(formatStoredText("%u %lu %X", {-1, 5, -2}), "4294967295 5 FFFFFFFE");
  EXPECT_EQ(formatStoredText("[%5s][%-5s][%.2s]", {"ab", "ab", "abcdef"}), "[   ab][ab   ][ab]");
}

TEST(StoredFormat, MismatchedAndMissingArgumentsAreHarmless) {
  EXPECT_EQ(formatStoredText("%s and %s and %d", {"one"}), "one and  and ");
  EXPECT_EQ(formatStoredText("%s=%d", {42, "text"}), "42=0");
  EXPECT_EQ(formatStoredText("%n%p%f%*d%", {1, 2}), "%n%p%f%*d%") << "unknown conversions stay as text";
  EXPECT_EQ(formatStoredText("%99999d", {1}), "%99999d") << "absurd widths are not conversions";
  EXPECT_EQ(formatStoredText("no conversions", {"unused"}), "no conversions");
  const std::string wide = formatStoredText("%900s|", {"x"});
  EXPECT_EQ(wide.size(), 901u);
  EXPECT_EQ(wide.back(), '|');
}

}  // namespace
}  // namespace brivo
