// The brivo model's preset configuration ("model.array.N", "model.logical.N", "model.spare.N"):
// what a pair powers on with, read back through the SCSI layer as the RAID module reads it.
#include "sim/brivo_preset.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "sim/brivo_test_fixture.h"

namespace brivotest {
namespace {

constexpr char kPairSection[] = R"(
[host 0]
max_transfer_kb = 1024
[pair alpha]
wwn = 2000000000000A1F
model = brivo
model.job_seconds = 100
drives = 12
enclosure = bay
path = A 0:0:0:0
path = B 0:0:1:0
)";
constexpr char kEnclosureSection[] = R"(
[enclosure bay]
wwn = 500A0B8000112233
slots = 12
)";

// A fixture whose pair section ends with the preset lines of the test.
class BrivoPreset : public BrivoSimTest {
 public:
  const char* configText() const override { return text_.c_str(); }

 protected:
  explicit BrivoPreset(const std::string& preset) : text_(kPairSection + preset + kEnclosureSection) {}

 private:
  std::string text_;
};

class GoodPreset : public BrivoPreset {
 protected:
  GoodPreset()
      : BrivoPreset(
            "model.array.0 = raid=5 drives=0-4 name=finance\n"
            "model.array.1 = raid=1 drives=5,6 name=scratch init=running\n"
            "model.array.2 = raid=0 drives=7 init=none\n"
            "model.logical.0 = array=0 size=1000 name=ledger lun=3\n"
            "model.logical.1 = array=0 size=rest name=archive\n"
            "model.logical.2 = array=1 size=100 name=render lun=0\n"
            "model.spare.0 = drive=10\n"
            "model.spare.1 = drive=11 array=0\n") {}
};

TEST_F(GoodPreset, PairPowersOnWithTheConfigurationInServiceAndNothingLogged) {
  auto cfg = config();
  ASSERT_EQ(cfg->header.arrayCount, 3);
  const brivo::ArrayRecord& finance = cfg->arrays[0];
  EXPECT_EQ(finance.raidLevel, brivo::kRaid5);
  EXPECT_EQ(finance.driveCount, 5);
  EXPECT_STREQ(finance.name, "finance");
  EXPECT_EQ(finance.faultStatus, brivo::kFaultTolerant);  // initialised: in service from the start
  EXPECT_EQ(std::vector<uint8_t>(finance.memberWwn[4], finance.memberWwn[4] + 8), driveWwn(4));
  EXPECT_EQ(cfg->arrays[1].jobKind, brivo::kJobInit);  // init=running
  EXPECT_EQ(cfg->arrays[1].faultStatus, brivo::kFaultUninitialized);
  EXPECT_EQ(cfg->arrays[2].faultStatus, brivo::kFaultNone);  // RAID 0 has no redundancy to build

  ASSERT_EQ(cfg->header.logicalDriveCount, 3);
  EXPECT_EQ(cfg->logicalDrives[0].sizeGb, 1000u);
  EXPECT_EQ(cfg->logicalDrives[0].hostLun, 3);
  EXPECT_STREQ(cfg->logicalDrives[0].name, "ledger");
  // "rest" takes what the array has left after the first drive.
  EXPECT_EQ(cfg->logicalDrives[1].sizeGb, finance.capacityGb - 1000);
  EXPECT_EQ(cfg->logicalDrives[1].hostLun, brivo::kLunNone);
  EXPECT_EQ(cfg->logicalDrives[2].segments[0].array, 1);
  EXPECT_EQ(cfg->arrays[0].freeGb, 0u);

  ASSERT_EQ(cfg->header.hotSpareCount, 2);
  EXPECT_EQ(cfg->spares[0].array, brivo::kSpareGlobal);
  EXPECT_EQ(cfg->spares[1].array, 0);
  auto drives = driveList();
  EXPECT_EQ(drives->entries[10].usage, brivo::kUsageGlobalSpare);
  EXPECT_EQ(drives->entries[11].usage, brivo::kUsageDedicatedSpare);
  EXPECT_EQ(drives->entries[8].usage, brivo::kUsageFree);

  // The configuration predates power-on: no creation events in either log.
  EXPECT_TRUE(events(0, brivo::kEvArrayCreated).empty());
  EXPECT_TRUE(events(1, brivo::kEvDriveCreated).empty());
}

TEST_F(GoodPreset, ASavedStateReplacesThePresetAfterARestart) {
  begin();
  ASSERT_TRUE(command(brivo::kOpDeleteLogicalDrive, {}, 0, 2).good());
  ASSERT_TRUE(command(brivo::kOpDeleteArray, {}, 0, 1).good());
  save();
  stopServer();
  startServer();
  auto cfg = config();
  // The array the user deleted does not come back from the preset, nor does its job.
  EXPECT_EQ(cfg->arrays[1].valid, 0);
  EXPECT_EQ(cfg->logicalDrives[2].valid, 0);
  EXPECT_EQ(cfg->arrays[0].valid, brivo::kOn);
  EXPECT_EQ(cfg->logicalDrives[0].hostLun, 3);
  EXPECT_EQ(cfg->header.hotSpareCount, 2);
  auto information = info();
  EXPECT_NE(information->initValid, brivo::kOn);
}

// Each bad preset leaves the pair with an empty configuration: nothing half-built.
class BadPreset : public BrivoPreset, public ::testing::WithParamInterface<const char*> {
 protected:
  BadPreset() : BrivoPreset(GetParam()) {}
};

TEST_P(BadPreset, PairStartsEmpty) {
  auto cfg = config();
  EXPECT_EQ(cfg->header.arrayCount, 0);
  EXPECT_EQ(cfg->header.logicalDriveCount, 0);
  EXPECT_EQ(cfg->header.hotSpareCount, 0);
  EXPECT_EQ(driveList()->entries[0].usage, brivo::kUsageFree);
  EXPECT_FALSE(info()->initValid == brivo::kOn);
  // Nothing of the refused preset lingers: the first drive a host creates is reference 1.
  createArray(brivo::kRaid1, {8, 9});
  begin();
  ASSERT_TRUE(createDrive(10, 0).good());
  save();
  EXPECT_EQ(config()->logicalDrives[0].referenceNumber, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, BadPreset,
    ::testing::Values(
        // a drive in two arrays
        "model.array.0 = raid=5 drives=0-4\nmodel.array.1 = raid=1 drives=4,5\n",
        // a gap in the array numbers
        "model.array.0 = raid=5 drives=0-4\nmodel.array.2 = raid=1 drives=5,6\n",
        // more than the array holds
        "model.array.0 = raid=1 drives=0,1\nmodel.logical.0 = array=0 size=60000\n",
        // a logical drive on an array that is not there
        "model.array.0 = raid=1 drives=0,1\nmodel.logical.0 = array=1 size=10\n",
        // a drive built, the next one refused when it does not fit
        "model.array.0 = raid=1 drives=0,1 init=running\nmodel.logical.0 = array=0 size=10\n"
        "model.logical.1 = array=0 size=60000\n",
        // a preset key that names no slot
        "model.array.0 = raid=1 drives=0,1\nmodel.array.x = raid=1 drives=2,3\n",
        // the same host LUN twice
        "model.array.0 = raid=5 drives=0-3\nmodel.logical.0 = array=0 size=10 lun=1\n"
        "model.logical.1 = array=0 size=10 lun=1\n",
        // layouts the level does not allow, unknown levels and words, bad lists
        "model.array.0 = raid=5 drives=0,1\n", "model.array.0 = raid=4 drives=0-3\n",
        "model.array.0 = raid=5 drives=0-3 colour=red\n", "model.array.0 = raid=5 drives=3-0\n",
        "model.array.0 = raid=5 drives=10-12\n", "model.array.0 = raid=5 drives=0-3 chunk=100\n",
        "model.array.0 = raid=5 drives=0-3 raid=6\n",
        // a spare that is an array member
        "model.array.0 = raid=5 drives=0-3\nmodel.spare.0 = drive=2\n"));

// The plan reads every line before anything is built; its error names the line.
class PresetPlanning : public ::testing::Test {
 protected:
  PresetPlanning() : drives(12) {
    for (int i = 0; i < 12; ++i) drives[i].wwn = 0x5000C50000000100ULL + static_cast<uint64_t>(i);
  }
  std::string refusal(std::map<std::string, std::string> options) {
    sim::PairConfig config;
    config.modelOptions = std::move(options);
    sim::PresetPlan plan;
    std::string error;
    EXPECT_FALSE(sim::planPreset(config, drives, &plan, &error));
    return error;
  }
  std::vector<sim::PairDrive> drives;
};

TEST_F(PresetPlanning, ALineAfterGoodOnesIsNamedInTheError) {
  EXPECT_EQ(refusal({{"array.0", "raid=5 drives=0-4"},
                     {"array.1", "raid=1 drives=5,6"},
                     {"logical.0", "array=0 size=10"},
                     {"logical.1", "array=3 size=10"}}),
            "model.logical.1 = array=3 size=10: array must name one of the preset arrays");
  EXPECT_EQ(refusal({{"array.0", "raid=5 drives=0-4"}, {"spare.0", "drive=4"}}),
            "model.spare.0 = drive=4: drive 4 is already used by model.array.0");
  EXPECT_EQ(refusal({{"array.0", "raid=1 drives=0,1"}, {"array.2", "raid=1 drives=2,3"}}),
            "model.array.2 = raid=1 drives=2,3: arrays are numbered from 0 without gaps (this one would be "
            "array 1)");
  EXPECT_EQ(refusal({{"array.0", "raid=1 drives=0,1"},
                     {"logical.0", "array=0 size=5 lun=2"},
                     {"logical.1", "array=0 size=5 lun=2"}}),
            "model.logical.1 = array=0 size=5 lun=2: host LUN 2 is taken");
  EXPECT_EQ(refusal({{"spare.32", "drive=1"}}),
            "model.spare.32 = drive=1: the number after spare. must be 0-31");
}

TEST_F(PresetPlanning, AGoodPresetBecomesAPlanInNumberOrder) {
  sim::PairConfig config;
  config.modelOptions = {{"array.1", "raid=1 drives=2,3 init=running"},
                         {"array.0", "raid=6 drives=4-9 name=big"},
                         {"logical.0", "array=1 size=rest lun=7"},
                         {"spare.0", "drive=11 array=0"},
                         {"job_seconds", "100"}};
  sim::PresetPlan plan;
  std::string error;
  ASSERT_TRUE(sim::planPreset(config, drives, &plan, &error)) << error;
  ASSERT_EQ(plan.arrays.size(), 2u);
  EXPECT_EQ(plan.arrays[0].block.raidLevel, brivo::kRaid6);
  EXPECT_EQ(plan.arrays[0].block.parityDrives, 2);
  EXPECT_EQ(plan.arrays[0].block.driveCount, 6);
  EXPECT_STREQ(plan.arrays[0].block.name, "big");
  EXPECT_EQ(plan.arrays[1].init, sim::PresetArray::kRunning);
  EXPECT_EQ(plan.arrays[1].block.driveWwn[1][7], 0x03);  // drive 3, big-endian
  ASSERT_EQ(plan.logicalDrives.size(), 1u);
  EXPECT_EQ(plan.logicalDrives[0].sizeGb, 0);  // the rest of the region
  EXPECT_EQ(plan.logicalDrives[0].lun, 7);
  ASSERT_EQ(plan.spares.size(), 1u);
  EXPECT_EQ(plan.spares[0].array, 0);
}

}  // namespace
}  // namespace brivotest
