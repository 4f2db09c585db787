// Tests of the MegaRAID paths through the storelib substitute and raidsim: the drives in the
// device list, the system-drive table, the pass-through, and a missing storelib.
#include "baylink/blnk_test_support.h"

namespace {

const char kConfig[] = R"(
[disk boot]
path = 0:0:1:0
[enclosure mrbay]
wwn = 500A0B80000000CC
self_slot = 2
[megaraid mr0]
enclosure = mrbay
enclosure_drives = 2
system_drives = 25
drive_blocks = 1953525168
)";

class MegaRaidTest : public blnktest::SimFixture {
 protected:
  std::string config() const override { return kConfig; }
  static std::string mr(int device) { return "\\\\MR" + std::to_string(device) + "-0"; }
};

TEST_F(MegaRaidTest, ScanListsTheDrivesBehindTheController) {
  std::vector<std::string> lines = tableLines(getSESDevices());
  ASSERT_EQ(lines.size(), 1u + 1u + 2u + 25u);
  EXPECT_EQ(lines[1].rfind(mr(0) + "^Serial:", 0), 0u);
  EXPECT_NE(lines[1].find("^Part:SIM_ENCLOSURE___^Enc:0^Slot:02^SES:Y^"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2].rfind(mr(1) + "^Serial:MR00D00001__^Part:SIM_MR_DISK_____^Enc:0^Slot:02^SES:N^FWVer:0200"
                                   "^size:1000204886016^vendor:KESTROVA^SCSIID:0",
                           0),
            0u)
      << lines[2];
  EXPECT_EQ(lines.back().rfind(mr(27) + "^", 0), 0u);
  std::string list = readText(listFile);
  EXPECT_NE(list.find("\n" + mr(3) + " _ _ _ _ _ _ _ _ _ _ _\n"), std::string::npos);
}

TEST_F(MegaRaidTest, SystemDriveTableHoldsTheFirst24DrivesOutsideEnclosures) {
  getSESDevices();
  const char* table = getMegaRaidSystemDriveListing();
  for (int i = 0; i < BLNK_SYSTEM_DRIVES; ++i) {
    std::string entry(table + i * BLNK_SYSTEM_DRIVE_BYTES);
    char expected[200];
    std::snprintf(
        expected, sizeof(expected),
        "Handle %s^Vendor KESTROVA^Product SIM_MR_DISK_____^Size 1000204886016^Serial MR00D%05d__^FW 0200#",
        mr(3 + i).c_str(), 3 + i);
    EXPECT_EQ(entry, expected);
  }
  EXPECT_NE(readText(dir / "blnkDebug.txt").find("Found Drive, but listed as in an enclosure"),
            std::string::npos);
}

TEST_F(MegaRaidTest, PassThroughReachesOneDriveByName) {
  getSESDevices();
  commands->clear();
  ASSERT_EQ(SCSI_OpenDevice(mr(3).c_str()), 1);
  unsigned char inquiry[255];
  EXPECT_EQ(ScsiInquiry(inquiry), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry) + 36, 10), "MR00D00003");
  unsigned long long capacity = 0;
  EXPECT_EQ(SCSIReadCap(&capacity), 0);
  EXPECT_EQ(capacity, 1953525168ULL * 512);
  EXPECT_TRUE(commands->empty());  // nothing went through the host's SCSI layer
  SCSI_CloseDevice();
  ASSERT_EQ(SCSI_OpenDevice(mr(99).c_str()), 1);
  EXPECT_EQ(ScsiInquiry(inquiry), 12);  // storelib: device not found
  SCSI_CloseDevice();
  // A page of the enclosure behind the controller, by its device-list name.
  EXPECT_EQ(getSESPage(mr(0).c_str(), 0x02)[0], 0x02);
}

TEST_F(MegaRaidTest, WithoutStorelibTheScanGoesOn) {
  setenv("BAYLINK_STORELIB", (dir / "absent/libstorelib.so.2").c_str(), 1);
  std::vector<std::string> lines = tableLines(getSESDevices());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(device(1) + "^", 0), 0u);
  EXPECT_EQ(getMegaRaidSystemDriveListing()[0], '\0');
  EXPECT_NE(readText(dir / "blnkDebug.txt").find("FAILED TO LOAD MEGARAID LIB"), std::string::npos);
}

}  // namespace
