// The drive handlers against a fake pair: spares made and removed inside one change (and nothing
// sent when one drive cannot take the state), blinking through the loop a drive is on, the
// drives a firmware image goes to, and the summary table.
#include <gtest/gtest.h>

#include <string>

#include "modules/brivo/cli/cli_drive_text.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_pair_test_support.h"

namespace brivo::cli {
namespace {

class DriveCommands : public testing::PairTest {
 protected:
  void SetUp() override {
    PairTest::SetUp();
    addDrives(6);
    ctx().config->arrays[2].valid = kOn;
    DriveListEntry& member = ctx().drives->entries[0];
    member.usage = kUsageMember, member.array = 2, member.member = 0;
    DriveListEntry& spare = ctx().drives->entries[1];
    spare.usage = kUsageGlobalSpare, spare.hotSpareNumber = 4;
  }
  // A drive firmware image of the given level for a drive model as the file sent with --sfile.
  void sendImage(uint32_t level, size_t size = 4096, const char* product = "ST1000NM0001") {
    std::string image(size, '\x5A');
    FirmwareImageHeader header{};
    header.length = static_cast<uint32_t>(size);
    std::memcpy(header.magic, kFirmwareMagic, 4);
    header.part = kFirmwareApplication;
    header.level = level;
    image.replace(0, sizeof(header), reinterpret_cast<const char*>(&header), sizeof(header));
    if (size >= sizeof(header) + sizeof(DriveFirmwareModel)) {
      DriveFirmwareModel model{};
      std::memset(&model, ' ', sizeof(model));
      std::memcpy(model.product, product, std::strlen(product));
      image.replace(sizeof(header), sizeof(model), reinterpret_cast<const char*>(&model), sizeof(model));
    }
    folder_.write("image.bin", image);
    global(kOptSendFile, "image.bin");
  }
};

TEST_F(DriveCommands, SetMakesDedicatedSparesAndFreesThem) {
  modifiers({{kModDiskId, "1"}, {kModDiskId, "3"}, {kModState, "2"}, {kModConfirm, "."}});
  ASSERT_EQ(driveSet(ctx()), 0) << text();
  const auto ops = writes();
  ASSERT_EQ(writeIds(), (std::vector<uint8_t>{kOpConfigStart, kOpRemoveHotSpare, kOpAddHotSpare,
                                              kOpAddHotSpare, kOpConfigSave, kOpConfigStart}));
  EXPECT_EQ(ops[1].p3, 4) << "the global spare leaves its slot first";
  const HotSpareBlock block = ops[3].as<HotSpareBlock>();
  EXPECT_EQ(0, std::memcmp(block.wwn, ctx().drives->entries[3].wwn, 8));
  EXPECT_EQ(block.array, 2);
  EXPECT_NE(text().find("Disk 3 is a dedicated hot spare of array 2.\n"), std::string::npos) << text();

  testing::CapturedContext again;
  again.ctx.pair = ctx().pair;
  again.ctx.config = newConfigurationBlock();
  again.ctx.drives = std::make_unique<DriveList>(*ctx().drives);
  again.ctx.modifiers = {{kModDiskId, "4"}, {kModState, "HotSpare"}};
  ASSERT_EQ(driveSet(again.ctx), 0) << again.text();
  EXPECT_EQ(writes()[7].as<HotSpareBlock>().array, kSpareGlobal);
}

TEST_F(DriveCommands, SetRefusesUnfitDrivesWithoutSendingAnything) {
  struct Case {
    std::vector<ParsedModifier> modifiers;
    const char* error;
  };
  ctx().drives->entries[5].status = kDriveFailed;
  const Case cases[] = {
      {{{kModDiskId, "2"}, {kModDiskId, "0"}, {kModState, "hotspare"}},
       "Error: Disk not available for use. Disk 0.\n"},
      {{{kModDiskId, "5"}, {kModState, "hotspare"}}, "Error: Disk not available for use. Disk 5.\n"},
      {{{kModDiskId, "0"}, {kModState, "free"}}, "Error: Disk 0 is not a hot spare.\n"},
      {{{kModDiskId, "2"}, {kModState, "7"}}, "Error: Array index out of range.\n"},
      {{{kModDiskId, "2"}, {kModState, "64"}}, "Error: Parsing state value. Out of range.\n"},
      {{{kModDiskId, "2"}, {kModState, "spare"}}, "Error: Parsing state value. Use hotspare, free"},
      {{{kModDiskId, "9"}, {kModState, "free"}}, "Error: Disk index out of range.\n"},
  };
  for (const Case& c : cases) {
    testing::CapturedContext fresh;
    fresh.ctx.pair = ctx().pair;
    fresh.ctx.config = newConfigurationBlock();
    fresh.ctx.config->arrays[2].valid = kOn;
    fresh.ctx.drives = std::make_unique<DriveList>(*ctx().drives);
    fresh.ctx.modifiers = c.modifiers;
    EXPECT_EQ(driveSet(fresh.ctx), 1);
    EXPECT_EQ(fresh.text().rfind(c.error, 0), 0u) << fresh.text();
  }
  EXPECT_EQ(sentCount(), 0u);
}

TEST_F(DriveCommands, SetFailureNamesTheDriveAndTheSense) {
  refuse(kOpAddHotSpare, kSenseIllegalRequest, kAscNoRoom, 0);
  modifiers({{kModDiskId, "2"}, {kModState, "hotspare"}});
  EXPECT_EQ(driveSet(ctx()), 1);
  EXPECT_EQ(text(), "Error: Cannot make spare of disk 2. Status: 2 Sense: 5/55/00\n");
  EXPECT_EQ(writeIds().back(), kOpAddHotSpare) << "the change is not saved";
}

TEST_F(DriveCommands, IdentifyBlinksThroughTheLoopADriveIsOn) {
  ctx().drives->entries[3].loop1Id = kNotOnLoop;
  ctx().drives->entries[4].loop1Id = ctx().drives->entries[4].loop2Id = kNotOnLoop;
  modifiers({{kModDiskId, "2"}, {kModDiskId, "3"}, {kModTime, "30"}});
  ASSERT_EQ(driveIdentify(ctx()), 0) << text();
  const auto ops = writes();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].p3, 0);
  EXPECT_EQ(ops[0].p4, 12) << "the drive ID, not the index";
  EXPECT_EQ(ops[0].p5, 30);
  EXPECT_EQ(ops[1].p3, 1) << "drive 3 is on the second loop only";
  modifiers({{kModDiskId, "4"}, {kModTime, "30"}});
  EXPECT_EQ(driveIdentify(ctx()), 1);
  modifiers({{kModTime, "0"}});
  EXPECT_EQ(driveIdentify(ctx()), 1);
  EXPECT_NE(text().find("Error: Disk 4 is not on a drive loop"), std::string::npos) << text();
  EXPECT_NE(text().find("Error: Parsing ident time. Out of range.\n"), std::string::npos) << text();
  refuse(kOpIdentify, kSenseIllegalRequest, kAscInvalidCdbField, 0);
  modifiers({{kModDiskId, "5"}, {kModTime, "9"}});
  EXPECT_EQ(driveIdentify(ctx()), 1);
  EXPECT_NE(text().find("Error: Cannot blink disk 5. Status: 2 Sense: 5/24/00\n"), std::string::npos);
}

TEST_F(DriveCommands, UpgradeSelectsTheChosenDrivesThenSendsTheImage) {
  std::memcpy(ctx().drives->entries[3].revision, "0102", 4);
  sendImage(0x00000102);
  modifiers({{kModInactiveOld, "."}});
  ASSERT_EQ(driveUpgrade(ctx()), 0) << text();
  std::vector<int> selected;
  for (const testing::SentWrite& w : writes()) {
    if (w.id == kOpSelectDriveFirmware) {
      const auto block = w.as<DriveFirmwareSelectBlock>();
      EXPECT_EQ(block.select, 1);
      for (int i = 0; i < 6; ++i) {
        if (std::memcmp(block.wwn, ctx().drives->entries[i].wwn, 8) == 0) selected.push_back(i);
      }
    }
  }
  EXPECT_EQ(selected, (std::vector<int>{1, 2, 4, 5}))
      << "not the member 0, not drive 3 at the image's revision";
  EXPECT_EQ(writes().back().mode, kModeFirmware);
  EXPECT_EQ(writes().back().id, kFirmwareDrive);
  EXPECT_EQ(writes().back().data.size(), 4096u);

  sendImage(0x102, 8);  // shorter than its header
  EXPECT_EQ(driveUpgrade(ctx()), 1);
  EXPECT_NE(text().find("Error: The file is not a firmware image. Nothing was sent.\n"), std::string::npos);
}

TEST_F(DriveCommands, UpgradeGoesOnlyToDrivesOfTheImagesModel) {
  std::memcpy(ctx().drives->entries[2].product, "OTHERMODEL      ", 16);
  sendImage(0x300);
  modifiers({{kModAll, "."}});
  ASSERT_EQ(driveUpgrade(ctx()), 0) << text();
  int selects = 0;
  for (const testing::SentWrite& w : writes()) {
    if (w.id != kOpSelectDriveFirmware) continue;
    ++selects;
    EXPECT_NE(std::memcmp(w.as<DriveFirmwareSelectBlock>().wwn, ctx().drives->entries[2].wwn, 8), 0)
        << "drive 2 is of another model";
  }
  EXPECT_EQ(selects, 5);

  const size_t before = sentCount();
  modifiers({{kModDiskId, "2"}});
  EXPECT_EQ(driveUpgrade(ctx()), 1);
  EXPECT_NE(text().find("Error: The file is for another disk model than disk 2. Nothing was sent.\n"),
            std::string::npos)
      << text();
  sendImage(0x300, 4096, "");
  modifiers({{kModAll, "."}});
  EXPECT_EQ(driveUpgrade(ctx()), 1);
  EXPECT_NE(text().find("Error: The file names no disk model. Nothing was sent.\n"), std::string::npos);
  EXPECT_EQ(sentCount(), before);
}

TEST_F(DriveCommands, FailedUpgradeLeavesNoDriveSelected) {
  sendImage(0x200);
  refuse(kFirmwareDrive, 4, 0x44, 0);
  modifiers({{kModDiskId, "2"}});
  EXPECT_EQ(driveUpgrade(ctx()), 1);
  const auto ops = writes();
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[2].id, kOpSelectDriveFirmware);
  EXPECT_EQ(ops[2].as<DriveFirmwareSelectBlock>().select, 0);
  EXPECT_EQ(text(), "Error: Cannot upgrade disk firmware. Status: 2 Sense: 4/44/00\n");
}

TEST_F(DriveCommands, DisplayFiltersAndSummarises) {
  ctx().drives->entries[4].status = kDriveFailed;
  modifiers({{kModSpares, "."}, {kModFailed, "."}, {kModSummary, "."}});
  ASSERT_EQ(driveDisplay(ctx()), 0);
  const std::vector<std::string> lines = testing::replyLines(reply());
  ASSERT_EQ(lines.size(), 5u) << text();
  EXPECT_EQ(lines[0], "--- Drive Total=2 ---\n");
  EXPECT_EQ(lines[3], "  1    0    1  931G Good       Spare        ST1000NM0001     0002\n");
  EXPECT_EQ(lines[4].substr(0, 33), "  4    0    4  931G Failed     Fr");
  for (const std::string& line : lines) EXPECT_LE(line.size(), 80u);

  testing::CapturedContext blocks;
  blocks.ctx.drives = std::make_unique<DriveList>(*ctx().drives);
  blocks.ctx.modifiers = {{kModDiskId, "0"}};
  ASSERT_EQ(driveDisplay(blocks.ctx), 0);
  EXPECT_NE(blocks.text().find(" Drive 0 "), std::string::npos);
  EXPECT_NE(blocks.text().find("Usage* : Member 0 of array 2\n"), std::string::npos) << blocks.text();
  EXPECT_NE(blocks.text().find("Capacity : 931 GB (1953525168 blocks of 512 bytes)\n"), std::string::npos);
}

}  // namespace
}  // namespace brivo::cli
