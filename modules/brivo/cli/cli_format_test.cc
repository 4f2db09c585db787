// The shared display texts: sizes that fit their columns at every boundary, job IDs, port sets and
// progress bars.
#include "modules/brivo/cli/cli_format.h"

#include <gtest/gtest.h>

namespace brivo::cli {
namespace {

TEST(CliFormat, CompactSizesNeverOutgrowFiveColumns) {
  EXPECT_EQ(compactSize(0), "0G");
  EXPECT_EQ(compactSize(1023), "1023G");
  EXPECT_EQ(compactSize(1024), "1.0T");
  EXPECT_EQ(compactSize(102399), "99.9T") << "truncated, not rounded up to a sixth column";
  EXPECT_EQ(compactSize(102400), "100T");
  EXPECT_EQ(compactSize(10239999), "9999T");
  EXPECT_EQ(compactSize(10240000), "9.7P");
  EXPECT_EQ(compactSize(UINT64_MAX), "15.9R");
  for (uint64_t gb : {1ULL, 999ULL, 5000ULL, 51199ULL, 1ULL << 40, 1ULL << 63}) {
    EXPECT_LE(compactSize(gb).size(), 5u) << gb;
  }
  EXPECT_EQ(sizeText(931), "931 GB");
  EXPECT_EQ(sizeText(1862), "1862 GB (1.82 TB)");
}

TEST(CliFormat, JobIdsPortsAndBars) {
  EXPECT_EQ(jobId(kJobInit, 0), 100);
  EXPECT_EQ(jobId(kJobExpansion, 63), 463);
  EXPECT_EQ(jobId(kJobNone, 3), -1);
  EXPECT_EQ(portsText(0x00), "none");
  EXPECT_EQ(portsText(0x09), "C0P0 C1P1");
  EXPECT_EQ(portsText(0x81), "internal");
  EXPECT_EQ(progressBar(0, 4), "[....]   0%");
  EXPECT_EQ(progressBar(150, 4), "[####] 100%");
  EXPECT_EQ(progressBar(49, 4), "[#...]  49%");
  uint8_t level = 0;
  EXPECT_TRUE(raidLevelFromNumber(50, &level));
  EXPECT_EQ(raidLevelText(level), "RAID 50");
  EXPECT_FALSE(raidLevelFromNumber(4, &level));
  EXPECT_EQ(readAheadText(kReadAheadDisabled), "disabled");
  EXPECT_EQ(writeBackText(kWriteBackMaximum), "max");
}

}  // namespace
}  // namespace brivo::cli
