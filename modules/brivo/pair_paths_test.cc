// Choosing the path to a controller pair among several devices with items of the same name, and
// the exchange of states that makes the event bookmarks follow the chosen path.
#include "modules/brivo/pair_paths.h"

#include <gtest/gtest.h>

#include "modules/brivo/brivo_test_support.h"

namespace brivo {
namespace {

constexpr char kPair[] = "Brivo20000004CF8A1B2C";

class PairPathTest : public ::testing::Test {
 protected:
  // A device of the given peripheral type with a Brivo item of the pair's name.
  ModDeviceItem* path(const char* device, uint8_t type, int32_t failures) {
    DeviceRecord* record = list_.add(device, type);
    ModDeviceItem* item = list_.hangItem(record, kPair);
    stateOf(item)->failureCount = failures;
    return item;
  }
  DeviceRecord* find(const char* name, ModDeviceItem** item = nullptr) {
    return findControllerPairIn(list_.head(), name, item);
  }

  testing::DeviceList list_;
};

TEST_F(PairPathTest, FewestFailuresWinThenTheProcessorPath) {
  path("a0", 0, 2);
  ModDeviceItem* healthy = path("a1", 0, 0);
  path("a2", 3, 1);
  ModDeviceItem* found = nullptr;
  ASSERT_NE(find(kPair, &found), nullptr);
  EXPECT_EQ(found, healthy);

  stateOf(healthy)->failureCount = 1;  // now level with the processor path
  EXPECT_STREQ(find(kPair)->info->deviceName, "a2");
}

TEST_F(PairPathTest, AFailingProcessorPathIsNotPreferredToAWorkingDiskPath) {
  ModDeviceItem* disk = path("d", 0, 0);
  path("p", 3, 3);
  ModDeviceItem* found = nullptr;
  find(kPair, &found);
  EXPECT_EQ(found, disk);
}

TEST_F(PairPathTest, NamesMatchWithoutCaseAndItemsWithoutStateAreSkipped) {
  DeviceRecord* bare = list_.add("bare", 0);
  list_.hangItem(bare, kPair, false);
  path("real", 0, 0);
  list_.hangItem(list_.add("other", 0), "Brivo0000000000000001");
  EXPECT_STREQ(find("brivo20000004cf8a1b2c")->info->deviceName, "real");
  EXPECT_EQ(find("Brivo1111111111111111"), nullptr);
  EXPECT_EQ(find(nullptr), nullptr);
}

TEST_F(PairPathTest, BookmarksFollowTheChosenPathAndFailureCountsStay) {
  ModDeviceItem* bookmarked = path("first", 0, 2);
  BrivoDeviceState* withBookmarks = stateOf(bookmarked);
  withBookmarks->lastAEventIndex = 17;
  withBookmarks->lastAEventTime = 1700000000;
  ModDeviceItem* chosen = path("second", 0, 0);
  BrivoDeviceState* empty = stateOf(chosen);

  ModDeviceItem* found = nullptr;
  find(kPair, &found);
  ASSERT_EQ(found, chosen);
  EXPECT_EQ(stateOf(chosen), withBookmarks);
  EXPECT_EQ(stateOf(bookmarked), empty);
  EXPECT_EQ(stateOf(chosen)->lastAEventIndex, 17);
  EXPECT_EQ(stateOf(chosen)->failureCount, 0) << "each path keeps its own failure count";
  EXPECT_EQ(stateOf(bookmarked)->failureCount, 2);

  // Once the chosen path has the bookmarks nothing moves any more.
  find(kPair, &found);
  EXPECT_EQ(stateOf(chosen), withBookmarks);
}

TEST_F(PairPathTest, TheBookmarksReadLastFollowWhenEveryPathHasSome) {
  // Both paths were identified (each read the logs once); then the events were read on through
  // the first one only, so the second path's bookmarks are old.
  ModDeviceItem* first = path("first", 0, 0);
  ModDeviceItem* second = path("second", 0, 0);
  BrivoDeviceState* stale = stateOf(second);
  stale->lastBEventIndex = 1;
  stale->bookmarkSerial = nextBookmarkSerial();
  BrivoDeviceState* current = stateOf(first);
  current->lastBEventIndex = 1222;
  current->bookmarkSerial = nextBookmarkSerial();

  // The first path fails: the second is chosen and takes the current bookmarks with it.
  stateOf(first)->failureCount = 3;
  ModDeviceItem* found = nullptr;
  find(kPair, &found);
  ASSERT_EQ(found, second);
  EXPECT_EQ(stateOf(second), current);
  EXPECT_EQ(stateOf(second)->lastBEventIndex, 1222);
  EXPECT_EQ(stateOf(second)->failureCount, 0);
  EXPECT_EQ(stateOf(first)->failureCount, 3);

  // Read on through the second path, then it fails and the first one is back: the bookmarks
  // return with it, and a state read at once with the chosen one's is left where it is.
  current->lastBEventIndex = 1400;
  current->bookmarkSerial = nextBookmarkSerial();
  stateOf(first)->failureCount = 0;
  stateOf(second)->failureCount = 5;
  find(kPair, &found);
  ASSERT_EQ(found, first);
  EXPECT_EQ(stateOf(first), current);
  EXPECT_EQ(stateOf(first)->lastBEventIndex, 1400);
  find(kPair, &found);
  EXPECT_EQ(stateOf(first), current);
}

}  // namespace
}  // namespace brivo
