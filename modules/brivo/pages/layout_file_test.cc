// The storage layout file: a configuration written and read back gives the same plan, and files
// that are malformed, out of range or hostile are refused with the place named.
#include "modules/brivo/pages/layout_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "modules/brivo/brivo_test_support.h"

namespace brivo {
namespace {

std::unique_ptr<ConfigurationBlock> sampleConfiguration() {
  auto config = std::make_unique<ConfigurationBlock>();
  for (int n : {3, 7}) {
    ArrayRecord& a = config->arrays[n];
    a.valid = kOn;
    a.raidLevel = n == 3 ? kRaid5 : kRaid1;
    a.driveCount = n == 3 ? 3 : 2;
    a.chunkSizeKb = 128;
    a.cacheFlags = 1;
    a.cacheFlush = 4;
    a.writeBackMb = 16;
    a.unusedPercent = 1;
    for (int m = 0; m < a.driveCount; ++m)
      testing::putWwn(0x5000C50000000100ULL + n * 16 + m, a.memberWwn[m]);
    std::memcpy(a.name, n == 3 ? "fast\nname" : "mirror", n == 3 ? 9 : 6);
  }
  LogicalDriveRecord& d = config->logicalDrives[4];
  d.valid = kOn;
  d.hostLun = 12;
  d.availability = 0x05;
  d.segmentCount = 2;
  d.segments[0] = {3, {}, 0, 100};
  d.segments[1] = {7, {}, 0, 50};
  std::memcpy(d.name, "db", 2);
  LogicalDriveRecord& internal = config->logicalDrives[5];
  internal.valid = kOn;
  internal.availability = kAvailabilityInternal;
  internal.segmentCount = 1;
  internal.segments[0] = {3, {}, 100, 10};
  config->spares[0].valid = kOn;
  config->spares[0].array = 7;
  testing::putWwn(0x5000C50000000999ULL, config->spares[0].wwn);
  config->spares[1].valid = kOn;
  config->spares[1].array = kSpareGlobal;
  testing::putWwn(0x5000C50000000998ULL, config->spares[1].wwn);
  return config;
}

TEST(LayoutFile, AConfigurationReadsBackAsTheSamePlan) {
  const LayoutPlan plan = layoutOfConfiguration(*sampleConfiguration());
  ASSERT_EQ(plan.arrays.size(), 2u);
  ASSERT_EQ(plan.drives.size(), 1u) << "the internal drive is no part of a layout";
  ASSERT_EQ(plan.spares.size(), 2u);
  const std::string text = layoutText(plan, "Brivo20000004CF8A1B2C");
  EXPECT_NE(text.find("Array0Name = fast?name\n"), std::string::npos) << "a name never breaks its line";
  EXPECT_NE(text.find("LogicalDrive0 = segments=0:100,1:50 lun=12 ports=5 block=0\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Spare0 = drive=5000C50000000999 array=1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Spare1 = drive=5000C50000000998 array=global\n"), std::string::npos) << text;

  LayoutPlan back;
  std::string error;
  ASSERT_TRUE(parseLayout(text, &back, &error)) << error;
  ASSERT_EQ(back.arrays.size(), 2u);
  EXPECT_EQ(std::memcmp(&back.arrays[0].block, &plan.arrays[0].block, sizeof(CreateArrayBlock)), 0);
  EXPECT_EQ(std::memcmp(&back.arrays[1].block, &plan.arrays[1].block, sizeof(CreateArrayBlock)), 0);
  EXPECT_EQ(back.arrays[0].block.initialize, kOff) << "applying never erases the drives again";
  ASSERT_EQ(back.drives.size(), 1u);
  EXPECT_EQ(back.drives[0].segments.size(), 2u);
  EXPECT_EQ(back.drives[0].segments[1].array, 1);
  EXPECT_EQ(back.drives[0].segments[1].sizeGb, 50u);
  EXPECT_EQ(back.drives[0].hostLun, 12);
  EXPECT_EQ(back.drives[0].name, "db");
  EXPECT_EQ(back.spares[0].array, 1);
  EXPECT_EQ(back.spares[1].array, -1);
}

TEST(LayoutFile, MalformedFilesAreRefusedWithThePlace) {
  const std::string good = layoutText(layoutOfConfiguration(*sampleConfiguration()), "BrivoX");
  struct Case {
    std::string from, to, place;
  };
  const Case cases[] = {
      {"LayoutVersion = 1", "LayoutVersion = 2", "LayoutVersion"},
      {"level=5", "level=5x", "Array0"},
      {"chunk=128", "chunk=999", "Array0"},
      {"drives=5000C50000000130", "drives=5000C5000000013G", "Array0"},
      {"segments=0:100", "segments=9:100", "LogicalDrive0"},
      {"segments=0:100", "segments=0:0", "LogicalDrive0"},
      {"lun=12", "lun=512", "LogicalDrive0"},
      {"ports=5", "ports=5 extra=1", "LogicalDrive0"},
      {"array=global", "array=7", "Spare1"},
      {"Spare1 =", "Spare7 =", "unknown or out-of-order key"},
      {"Array1Name = mirror", "Array1Name = " + std::string(33, 'n'), "Array1"},
  };
  for (const Case& c : cases) {
    std::string text = good;
    const size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    text.replace(at, c.from.size(), c.to);
    LayoutPlan plan;
    std::string error;
    EXPECT_FALSE(parseLayout(text, &plan, &error)) << c.to;
    EXPECT_EQ(error, c.place) << c.to;
  }
  LayoutPlan plan;
  std::string error;
  EXPECT_FALSE(parseLayout(good + "Array0 = level=0\n", &plan, &error)) << "a key twice";
  EXPECT_FALSE(parseLayout(std::string(5000, '\n'), &plan, &error));
  EXPECT_FALSE(parseLayout(std::string("\0\xff garbage", 10), &plan, &error));
  std::string many = "LayoutVersion = 1\n";
  for (int i = 0; i < 65; ++i)
    many += "Array" + std::to_string(i) +
            " = level=0 chunk=64 parity=0 unused=1 cache=0 flush=4 readahead=0 "
            "writeback=0 drives=5000C50000000100\n";
  EXPECT_FALSE(parseLayout(many, &plan, &error)) << "more arrays than a pair holds";
  EXPECT_EQ(error, "Array64");
}

}  // namespace
}  // namespace brivo
