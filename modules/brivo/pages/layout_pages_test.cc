// Configuration apply and the disk wizard against a pair kept in memory that makes the arrays it
// is asked for: the proposal, the order of the changes that build a layout, and every refusal
// that must come before a command is sent.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "modules/brivo/pages/layout_file.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

class LayoutPagesTest : public testing::PageTest {
 protected:
  LayoutPagesTest() {
    pair_.drives.count = 7;
    for (int i = 0; i < 7; ++i) {
      DriveListEntry& d = pair_.drives.entries[i];
      d.status = kDriveGood;
      d.usage = kUsageFree;
      d.slot = static_cast<uint8_t>(i);
      d.blocks = i < 5 ? 1953525168ULL : 3907029168ULL;  // five 931 GB drives, two 1863 GB
      d.blockSize = 512;
      testing::putWwn(0x5000C50000000100ULL + static_cast<uint64_t>(i), d.wwn);
    }
    // The controller makes each array it is asked for at its lowest free number, with one free
    // region of 500 GB.
    pair_.refuseWrite = [this](const ScsiCommand& c) {
      if (c.cdb[2] != kOpCreateArray || c.dataLength < kSignatureLength + sizeof(CreateArrayBlock))
        return false;
      CreateArrayBlock block;
      std::memcpy(&block, c.data + kSignatureLength, sizeof(block));
      int n = 0;
      while (pair_.config->arrays[n].valid == kOn) ++n;
      ArrayRecord& a = pair_.config->arrays[n];
      a.valid = kOn;
      a.driveCount = block.driveCount;
      a.raidLevel = block.raidLevel;
      std::memcpy(a.memberWwn, block.driveWwn, sizeof(a.memberWwn));
      pair_.addFreeRegion(static_cast<uint8_t>(n), pair_.regions.freeCount, 500);
      created.push_back(block);
      return false;
    };
  }
  std::string wwn(int drive) { return wwnText(pair_.drives.entries[drive].wwn); }
  std::string upload(const std::string& text) {
    folder_.write("layout.txt", text);
    return (folder_.path() / "layout.txt").string();
  }
  std::vector<CreateArrayBlock> created;
};

TEST_F(LayoutPagesTest, TheWizardProposesArraysSparesAndLogicalDrivesForUnusedDrives) {
  pair_.drives.entries[6].usage = kUsageMember;  // in an array already
  pair_.addFreeRegion(9, 0, 120);                // free space on an existing array
  auto keys = run(diskConfigWizardMethod, requestFor({}));
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/wizard/disk_wizard.htm");
  EXPECT_EQ(keys["TotalUnusedDrives"], "6");
  EXPECT_EQ(keys["WizardArrayLoop"], "1");
  EXPECT_EQ(keys["WizardArrayLoop0DriveCount"], "4") << "five equal drives: four in RAID 5, one spare";
  EXPECT_EQ(keys["WizardArrayLoop0Level"], "5");
  EXPECT_EQ(keys["WizardArrayLoop0Drives"], wwn(0) + "," + wwn(1) + "," + wwn(2) + "," + wwn(3));
  EXPECT_EQ(keys["WizardArrayLoop0LevelLoop"], "6") << "RAID 0, 1, 3, 5, 6 and 10 fit four drives";
  EXPECT_EQ(keys["WizardArrayLoop0LevelLoop4Code"], "6");
  EXPECT_EQ(keys["WizardSpareLoop"], "2") << "the fifth drive and the lone large one";
  EXPECT_EQ(keys["WizardSpareLoop0Wwn"], wwn(4));
  EXPECT_EQ(keys["WizardRegionLoop"], "1");
  EXPECT_EQ(keys["WizardRegionLoop0Array"], "9");
  EXPECT_EQ(keys["WizardRegionLoop0SizeGb"], "120");
  EXPECT_TRUE(writes().empty());
  bool secondForm = false;
  for (const auto& c : fake_->sent())
    secondForm = secondForm || (c.cdb[2] == kOpReadRegions && c.cdb[3] == 1 && c.cdb[4] == kOff);
  EXPECT_TRUE(secondForm) << "the free regions come from the second form of 0x20";
}

TEST_F(LayoutPagesTest, SubmitBuildsArraysSparesThenEachLogicalDrive) {
  const std::string drives = wwn(0) + "," + wwn(1) + "," + wwn(2);
  const std::string spare = wwn(4);
  auto keys = run(diskConfigWizardSubmitMethod, requestFor({{"ArrayCount", "1"},
                                                            {"Array0Create", "true"},
                                                            {"Array0Drives", drives.c_str()},
                                                            {"Array0Level", "5"},
                                                            {"Array0Name", "web"},
                                                            {"Array0LdGb", "all"},
                                                            {"Array0LdName", "vol"},
                                                            {"Array0LdLun", "3"},
                                                            {"SpareCount", "1"},
                                                            {"Spare0Create", "true"},
                                                            {"Spare0Wwn", spare.c_str()},
                                                            {"RegionCount", "0"}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "true") << keys["MessageDetails"];
  EXPECT_EQ(keys["ArraysMade"], "1");
  EXPECT_EQ(keys["LogicalDrivesMade"], "1");
  EXPECT_EQ(keys["SparesMade"], "1");
  const std::vector<uint8_t> ids = testing::idsOf(writes());
  ASSERT_GE(ids.size(), 9u);
  EXPECT_EQ(
      std::vector<uint8_t>(ids.begin(), ids.begin() + 9),
      (std::vector<uint8_t>{kOpConfigStart, kOpCreateArray, kOpAddHotSpare, kOpConfigSave, kOpConfigStart,
                            kOpCreateLogicalDrive, kOpSetHostLun, kOpConfigSave, kOpConfigStart}));
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].raidLevel, kRaid5);
  EXPECT_EQ(created[0].driveCount, 3);
  EXPECT_STREQ(created[0].name, "web");
  CreateLogicalDriveBlock drive{};
  std::memcpy(&drive, writes()[5].block.data(), sizeof(drive));
  EXPECT_EQ(drive.sizeGb, 500) << "\"all\" takes the array's free region";
  EXPECT_STREQ(std::string(drive.name, 3).c_str(), "vol");
  SetHostLunBlock lun{};
  std::memcpy(&lun, writes()[6].block.data(), sizeof(lun));
  EXPECT_EQ(lun.hostLun, 3);
}

TEST_F(LayoutPagesTest, RefusalsComeBeforeAnyCommand) {
  const std::string two = wwn(0) + "," + wwn(1);
  const std::string gone = wwn(0) + ",5000C50000000FFF," + wwn(2);
  const std::string spare = wwn(5);
  pair_.drives.entries[5].usage = kUsageGlobalSpare;
  pair_.addDrive(0, 3);
  struct Case {
    std::vector<std::pair<const char*, const char*>> keys;
    const char* details;
  };
  const std::vector<Case> cases = {
      {{{"ArrayCount", "1"}, {"Array0Create", "true"}, {"Array0Drives", two.c_str()}, {"Array0Level", "5"}},
       "The RAID level of array 0 does not fit its number of drives"},
      {{{"ArrayCount", "1"}, {"Array0Create", "true"}, {"Array0Drives", gone.c_str()}, {"Array0Level", "5"}},
       "The pair has no drive 5000C50000000FFF"},
      {{{"SpareCount", "1"}, {"Spare0Create", "true"}, {"Spare0Wwn", spare.c_str()}},
       "is failed or already used"},
      {{{"ArrayCount", "1"},
        {"Array0Create", "true"},
        {"Array0Drives", two.c_str()},
        {"Array0Level", "1"},
        {"Array0LdGb", "10"},
        {"Array0LdLun", "3"}},
       "Host LUN 3 is already in use"},
      {{{"ArrayCount", "1"}}, "Nothing was chosen"},
      {{{"ArrayCount", "x"}}, "not a configuration layout"},
      {{{"ArrayCount", "1"},
        {"Array0Create", "true"},
        {"Array0Drives", two.c_str()},
        {"Array0Level", "1"},
        {"Array0LdGb", "-4"}},
       "not a configuration layout"},
      {{{"RegionCount", "1"}, {"Region0Create", "true"}, {"Region0Array", "40"}, {"Region0Gb", "all"}},
       "names array 40, which neither exists nor is being created"},
  };
  for (const Case& c : cases) {
    VariableTable request = requestFor({});
    for (const auto& [key, value] : c.keys) addVariable(&request, key, value);
    auto keys = run(diskConfigWizardSubmitMethod, request);
    EXPECT_EQ(keys["MessageIsSuccess"], "false");
    EXPECT_NE(keys["MessageDetails"].find(c.details), std::string::npos) << keys["MessageDetails"];
  }
  EXPECT_TRUE(writes().empty());
}

TEST_F(LayoutPagesTest, ExportWritesTheLayoutAndApplyRefusesAMismatch) {
  ArrayRecord& a = pair_.config->arrays[0];
  a.valid = kOn;
  a.raidLevel = kRaid1;
  a.driveCount = 2;
  a.chunkSizeKb = 64;
  std::memcpy(a.memberWwn[0], pair_.drives.entries[0].wwn, 8);
  std::memcpy(a.memberWwn[1], pair_.drives.entries[1].wwn, 8);
  auto keys = run(slmGetDataMethod, requestFor({}));
  EXPECT_EQ(keys["ExportText"], std::string("../../temp/BrivoLayout-") + testing::kTestPair + ".txt");
  std::ifstream in(std::string("temp/BrivoLayout-") + testing::kTestPair + ".txt");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Array0 = level=1 chunk=64"), std::string::npos) << text;
  EXPECT_TRUE(writes().empty()) << "an export only reads";

  pair_.drives.entries[0].usage = pair_.drives.entries[1].usage = kUsageMember;  // the drives are in use
  keys = run(slmApplyMethod, requestFor({{"UploadedFile", upload(text).c_str()}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_NE(keys["MessageDetails"].find("already used"), std::string::npos) << keys["MessageDetails"];
  keys = run(slmApplyMethod,
             requestFor({{"UploadedFile", upload("LayoutVersion = 1\nArray0 = nonsense\n").c_str()}}));
  EXPECT_NE(keys["MessageDetails"].find("(at Array0)"), std::string::npos) << keys["MessageDetails"];
  keys = run(slmApplyMethod, requestFor({{"UploadedFile", "no/such/file"}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "false");
  EXPECT_TRUE(writes().empty());

  pair_.drives.entries[0].usage = pair_.drives.entries[1].usage = kUsageFree;  // the same drives, free
  a.valid = 0;
  keys = run(slmApplyMethod, requestFor({{"UploadedFile", upload(text).c_str()}}));
  EXPECT_EQ(keys["MessageIsSuccess"], "true") << keys["MessageDetails"];
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].raidLevel, kRaid1);
  EXPECT_EQ(created[0].initialize, kOff);
}

}  // namespace
}  // namespace brivo
