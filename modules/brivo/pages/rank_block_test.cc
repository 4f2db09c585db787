// The create-array and expansion blocks built from requests: drive keys, parity drives by level,
// the write-back default and its cache bit, defaults for absent values, and refused values.
#include "modules/brivo/pages/rank_block.h"

#include <gtest/gtest.h>

#include <string>

#include "modules/brivo/pair_access.h"

namespace brivo {
namespace {

struct Request {
  TableOwner table;
  Request& set(const std::string& key, const std::string& value) {
    addVariable(table.address(), key.c_str(), value.c_str());
    return *this;
  }
  VariableTable get() const { return table.get(); }
};

std::string wwnOf(int n) {
  char text[17];
  std::snprintf(text, sizeof text, "5000C500%08X", n);
  return text;
}

TEST(CreateArrayBlock, TakesTheFirstSixteenDriveKeysInKeyOrder) {
  Request r;
  r.set("RaidLevel", "5");
  // Twenty drives, added in reverse so table order differs from key order; key 3 left out.
  for (int i = 20; i >= 0; --i) {
    if (i != 3) r.set("Drive" + std::to_string(i), wwnOf(i));
  }
  CreateArrayBlock block;
  std::string bad;
  ASSERT_TRUE(buildCreateArrayBlock(r.get(), &block, &bad)) << bad;
  EXPECT_EQ(block.driveCount, 16);
  int expected = 0;
  for (int m = 0; m < 16; ++m, ++expected) {
    if (expected == 3) ++expected;
    EXPECT_EQ(wwnText(block.driveWwn[m]), wwnOf(expected)) << "member " << m;
  }
  EXPECT_EQ(wwnText(block.driveWwn[15]), wwnOf(16));
}

TEST(CreateArrayBlock, ParityDrivesFollowTheLevel) {
  struct Case {
    const char* level;
    const char* asked;
    uint8_t sent;
  };
  for (const Case& c : {Case{"6", "5", 2}, Case{"6", nullptr, 2}, Case{"5", "3", 0}, Case{"5", nullptr, 0},
                        Case{"80", "3", 3}, Case{"16", "2", 0}}) {
    Request r;
    r.set("RaidLevel", c.level).set("Drive0", wwnOf(1));
    if (c.asked != nullptr) r.set("NumberOfParityDrives", c.asked);
    CreateArrayBlock block;
    std::string bad;
    ASSERT_TRUE(buildCreateArrayBlock(r.get(), &block, &bad)) << bad;
    EXPECT_EQ(block.parityDrives, c.sent) << "level " << c.level << " asked " << (c.asked ? c.asked : "none");
  }
}

TEST(CreateArrayBlock, WriteBackEmptyIsZeroMissingIsFiveWithTheCacheBit) {
  CreateArrayBlock block;
  std::string bad;
  Request empty;
  empty.set("WriteBackCacheSize", "");
  ASSERT_TRUE(buildCreateArrayBlock(empty.get(), &block, &bad));
  EXPECT_EQ(block.writeBackMb, 0);
  EXPECT_EQ(block.cacheFlags & kCacheWriteBack, 0);

  Request missing;
  ASSERT_TRUE(buildCreateArrayBlock(missing.get(), &block, &bad));
  EXPECT_EQ(block.writeBackMb, 5);
  EXPECT_EQ(block.cacheFlags & kCacheWriteBack, kCacheWriteBack);

  Request marked;
  marked.set("WriteBackCacheSize", "(missing)");
  ASSERT_TRUE(buildCreateArrayBlock(marked.get(), &block, &bad));
  EXPECT_EQ(block.writeBackMb, 5);
}

TEST(CreateArrayBlock, AbsentValuesTakeTheirDefaultsAndFlagsSetTheirBits) {
  Request r;
  r.set("CacheMirror", "true").set("CacheUPS", "on").set("CacheBattery", "false").set("CacheCacheFlush", "1");
  r.set("ArrayName", "data-01").set("ReadAheadCacheSize", "256").set("ChunkSize", "128");
  CreateArrayBlock block;
  std::string bad;
  ASSERT_TRUE(buildCreateArrayBlock(r.get(), &block, &bad));
  EXPECT_EQ(block.raidLevel, 0xFF);
  EXPECT_EQ(block.cacheFlush, 0xFF);
  EXPECT_EQ(block.initialize, 0xFF);
  EXPECT_EQ(block.unusedPercent, 0xFF);
  EXPECT_EQ(block.chunkSizeKb, 128);
  EXPECT_EQ(block.readAheadKb, 256);
  EXPECT_EQ(block.driveCount, 0);
  EXPECT_EQ(block.cacheFlags, kCacheWriteBack | kCacheMirror | kCacheUps | kCacheFlushEnabled);
  EXPECT_EQ(std::string(block.name, 7), "data-01");
  EXPECT_EQ(block.name[7], '\0');

  Request chunkless;
  ASSERT_TRUE(buildCreateArrayBlock(chunkless.get(), &block, &bad));
  EXPECT_EQ(block.chunkSizeKb, 0xFFFF);
  Request init;
  init.set("Initialize", "off");
  ASSERT_TRUE(buildCreateArrayBlock(init.get(), &block, &bad));
  EXPECT_EQ(block.initialize, 0);
}

TEST(CreateArrayBlock, UnusableValuesAreRefusedByName) {
  const std::pair<const char*, std::string> cases[] = {{"RaidLevel", "five"},
                                                       {"RaidLevel", "256"},
                                                       {"ChunkSize", "-64"},
                                                       {"CacheFlush", "4s"},
                                                       {"UnusedPercent", "300"},
                                                       {"Drive2", "not-a-wwn"},
                                                       {"ArrayName", std::string(33, 'x')},
                                                       {"WriteBackCacheSize", "70000"}};
  for (const auto& [key, value] : cases) {
    Request r;
    r.set("Drive0", wwnOf(0)).set(key, value);
    CreateArrayBlock block;
    std::string bad;
    EXPECT_FALSE(buildCreateArrayBlock(r.get(), &block, &bad)) << key << "=" << value;
    EXPECT_EQ(bad, key);
  }
  Request exact;
  exact.set("ArrayName", std::string(32, 'n'));
  CreateArrayBlock block;
  std::string bad;
  EXPECT_TRUE(buildCreateArrayBlock(exact.get(), &block, &bad))
      << "32 bytes fill the field without a terminator";
}

TEST(ExpandArrayBlock, ArrayDrivesAndParityMarker) {
  Request r;
  r.set("RankNumber", "7").set("Drive0", wwnOf(9)).set("Drive5", wwnOf(10));
  ExpandArrayBlock block;
  std::string bad;
  ASSERT_TRUE(buildExpandArrayBlock(r.get(), &block, &bad));
  EXPECT_EQ(block.array, 7);
  EXPECT_EQ(block.driveCount, 2);
  EXPECT_EQ(block.parityGiven, kOff);
  EXPECT_EQ(wwnText(block.driveWwn[1]), wwnOf(10));

  r.set("NumberOfParityDrives", "2");
  ASSERT_TRUE(buildExpandArrayBlock(r.get(), &block, &bad));
  EXPECT_EQ(block.parityGiven, kOn);
  EXPECT_EQ(block.parityDrives, 2);

  for (const char* rank : {"", "64", "x"}) {
    Request no;
    no.set("RankNumber", rank).set("Drive0", wwnOf(1));
    EXPECT_FALSE(buildExpandArrayBlock(no.get(), &block, &bad)) << rank;
    EXPECT_EQ(bad, "RankNumber");
  }
}

}  // namespace
}  // namespace brivo
