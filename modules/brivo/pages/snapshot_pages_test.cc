// The snapshot page and its actions against a pair kept in memory: what each action sends, what
// it refuses before sending, and the page's rows for areas, snapshots and snapbacks.
#include <gtest/gtest.h>

#include <cstring>

#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

class SnapshotPagesTest : public testing::PageTest {
 protected:
  SnapshotPagesTest() {
    pair_.info.controllers[0].snapshotGeneration = 2;
    pair_.info.controllers[1].snapshotGeneration = 2;
    pair_.addDrive(0, 5).availability = 0x0F;  // a host drive at host LUN 5
    std::memcpy(pair_.config->logicalDrives[0].name, "data", 4);
    pair_.addDrive(1, kLunNone).availability = kAvailabilityInternal;  // area of drive 0
    pair_.addDrive(2, kLunNone).availability = kAvailabilityInternal;  // free for an area
    pair_.addDrive(3, 7).availability = 0x0F;                          // a host drive without area
    SnapshotArea& area = pair_.areas.areas[0];
    area.valid = kOn;
    area.sourceDrive = 0;
    area.areaDrive = 1;
    area.areaSizeGb = 10;
    area.usedPercent = 42;
    area.warningPercent = 80;
    area.sourceHostLun = 5;
    area.flags = kSnapPresent | kSnapSnapback;
    area.snapbackPercent = 37;
    area.snapshotTime = 1700000000;
  }
};

TEST_F(SnapshotPagesTest, ThePageListsAreasSnapshotsSnapbacksAndFreeAreaDrives) {
  auto keys = run(getSnapProgressInfoMethod, requestFor({}));
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/snapshot/snapshots.htm");
  EXPECT_EQ(keys["SnapshotsSupported"], "true");
  EXPECT_EQ(keys["SnapLoop"], "2") << "host drives only";
  EXPECT_EQ(keys["SnapLoop0Number"], "0");
  EXPECT_EQ(keys["SnapLoop0Name"], "data");
  EXPECT_EQ(keys["SnapLoop0HasArea"], "true");
  EXPECT_EQ(keys["SnapLoop0AreaDrive"], "1");
  EXPECT_EQ(keys["SnapLoop0UsedPercent"], "42");
  EXPECT_EQ(keys["SnapLoop0HasSnapshot"], "true");
  EXPECT_EQ(keys["SnapLoop0Snapback"], "true");
  EXPECT_EQ(keys["SnapLoop0SnapbackPercent"], "37");
  EXPECT_EQ(keys["SnapLoop1Number"], "3");
  EXPECT_EQ(keys["SnapLoop1HasArea"], "false");
  EXPECT_EQ(keys["AreaCandidateLoop"], "1") << "drive 1 serves an area already";
  EXPECT_EQ(keys["AreaCandidateLoop0Number"], "2");
  EXPECT_EQ(keys["SnapbackRunning"], "true");
  EXPECT_EQ(keys["SnapBackPercentLoop0LUNNum"], "5");
  EXPECT_EQ(keys["SnapBackPercentLoop0LUNPercent"], "37");
  EXPECT_TRUE(writes().empty()) << "the page only reads";

  pair_.refusedReads.insert(kOpReadSnapshotAreasV2);
  keys = run(getSnapProgressInfoMethod, requestFor({}));
  EXPECT_EQ(keys["ReadFailed"], "true");
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_EQ(keys.count("SnapLoop0Number"), 0u);
}

TEST_F(SnapshotPagesTest, ActionsSendTheirOperationForTheNamedDrive) {
  struct Case {
    VariableTable (*method)(VariableTable);
    uint8_t id;
    const char* summary;
  };
  const Case cases[] = {{createSnapMethod, kOpTakeSnapshot, "Take snapshot"},
                        {snapbackMethod, kOpSnapback, "Snapback"},
                        {deleteSnapMethod, kOpDeleteSnapshot, "Delete snapshot"}};
  for (const Case& c : cases) {
    fake_->clearSent();
    takeConfigurationChanged();
    auto keys = run(c.method, requestFor({{"LogicalDriveIndex", "0"}}));
    EXPECT_EQ(keys["MessageSummary"],
              std::string("The command \"") + c.summary + "\" completed successfully.");
    EXPECT_EQ(keys["UpdateParent"], "true");
    ASSERT_EQ(writes().size(), 1u) << c.summary << ": no configuration bracket";
    EXPECT_EQ(writes()[0].id, c.id);
    SnapshotBlock block{};
    std::memcpy(&block, writes()[0].block.data(), sizeof(block));
    EXPECT_EQ(block.sourceDrive, 0);
    EXPECT_TRUE(takeConfigurationChanged()) << "monitor pages reload";
  }

  fake_->clearSent();
  auto keys =
      run(createNewOdaMethod,
          requestFor({{"LogicalDriveIndex", "3"}, {"OdaLogicalDriveIndex", "2"}, {"WarningPercent", "70"}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "true");
  ASSERT_EQ(writes().size(), 1u);
  EXPECT_EQ(writes()[0].id, kOpCreateSnapshotArea);
  SnapshotAreaBlock area{};
  std::memcpy(&area, writes()[0].block.data(), sizeof(area));
  EXPECT_EQ(area.sourceDrive, 3);
  EXPECT_EQ(area.areaDrive, 2);
  EXPECT_EQ(area.warningPercent, 70);

  fake_->clearSent();
  pair_.refusedWrites.insert(kOpSnapback);
  keys = run(snapbackMethod, requestFor({{"LogicalDriveIndex", "0"}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_NE(keys["MessageDetails"].find("out of range"), std::string::npos) << keys["MessageDetails"];
  EXPECT_EQ(keys["UpdateParent"], "false");
}

TEST_F(SnapshotPagesTest, UnusableValuesSendNothing) {
  const std::vector<std::vector<std::pair<const char*, const char*>>> bad = {
      {},
      {{"LogicalDriveIndex", "512"}},
      {{"LogicalDriveIndex", "-1"}},
      {{"LogicalDriveIndex", "1x"}},
      {{"LogicalDriveIndex", "3"}, {"OdaLogicalDriveIndex", "3"}},
      {{"LogicalDriveIndex", "3"}, {"OdaLogicalDriveIndex", "2"}, {"WarningPercent", "100"}},
      {{"LogicalDriveIndex", "3"}, {"OdaLogicalDriveIndex", "2"}, {"WarningPercent", "x"}},
  };
  for (const auto& pairs : bad) {
    VariableTable request = requestFor({});
    for (const auto& [key, value] : pairs) addVariable(&request, key, value);
    auto keys = run(createNewOdaMethod, request);
    EXPECT_EQ(keys["MessageIsSuccess"], "false");
    EXPECT_NE(keys["MessageDetails"].find("nothing was sent"), std::string::npos) << keys["MessageDetails"];
  }
  auto unknown = run(createSnapMethod, requestFor({{"LogicalDriveIndex", "0"}}, "Brivo0000000000000000"));
  EXPECT_EQ(unknown["MessageIsSuccess"], "false");
  pair_.info.controllers[0].snapshotGeneration = pair_.info.controllers[1].snapshotGeneration = 0;
  auto none = run(createSnapMethod, requestFor({{"LogicalDriveIndex", "0"}}));
  EXPECT_EQ(none["MessageIsSuccess"], "false") << "a pair without snapshots";
  EXPECT_TRUE(writes().empty());
  auto page = run(getSnapProgressInfoMethod, requestFor({}));
  EXPECT_EQ(page["SnapshotsSupported"], "false");
}

TEST_F(SnapshotPagesTest, DisablingADriveWithoutAreaSendsNothingAndSucceeds) {
  auto keys = run(deleteOdaMethod, requestFor({{"LogicalDriveIndex", "3"}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "true");
  EXPECT_TRUE(writes().empty());
  keys = run(deleteOdaMethod, requestFor({{"LogicalDriveIndex", "0"}}));
  ASSERT_EQ(writes().size(), 1u);
  EXPECT_EQ(writes()[0].id, kOpReleaseSnapshotArea);
}

}  // namespace
}  // namespace brivo
