// The Windows scan's device list lines, the address SCSI_OpenDevice takes back from a line, and
// the getSysDrives entries: their exact shape, and device texts that try to add fields or lines.
#include "baylink/blnk_win_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Standard INQUIRY data: type, vendor (8), product (16), revision (4).
std::string inquiry(unsigned char type, const char* vendor, const char* product, const char* revision) {
  std::string data(96, ' ');
  data[0] = static_cast<char>(type);
  std::memcpy(&data[8], vendor, std::min<size_t>(8, std::strlen(vendor)));
  std::memcpy(&data[16], product, std::min<size_t>(16, std::strlen(product)));
  std::memcpy(&data[32], revision, std::min<size_t>(4, std::strlen(revision)));
  return data;
}

const unsigned char* bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

TEST(WinDeviceList, PhysicalDriveAndAdapterLines) {
  const std::string disk = inquiry(0x00, "SEAGATE", "ST3300657SS", "0006");
  EXPECT_EQ(blnkwin::physicalDriveLine(2, 0, 5, 0, bytes(disk), 300000000000ull, "3SJ1ABCD"),
            "\\\\.\\PhysicalDrive2 path=0 id=5 lun=0 type=Disk SEAGATE_ ST3300657SS_____ 300000000000 "
            "3SJ1ABCD____ 0006");
  const std::string enclosure = inquiry(0x0D, "KESTROVA", "BAY-12 SES", "0101");
  EXPECT_EQ(blnkwin::adapterDeviceLine(3, 1, 14, 0, bytes(enclosure)),
            "\\\\.\\SCSI3:1:14 path=1 id=14 lun=0 type=Enclosure KESTROVA BAY_12_SES______ 0 ____ ____________");
  EXPECT_EQ(blnkwin::physicalDriveLine(0, 0, 0, 0, nullptr, 0, ""), "");
  EXPECT_EQ(blnkwin::adapterDeviceLine(0, 0, 0, 0, nullptr), "");
}

TEST(WinDeviceList, DeviceTextsCannotAddFieldsOrLines) {
  std::string hostile = inquiry(0x00, "A B\nC", "x path=9 id=9\r\n", "1 2");
  hostile[10] = '\0';
  const std::string line = blnkwin::physicalDriveLine(1, 0, 2, 3, bytes(hostile), 512, "ser ial\n#^");
  EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  EXPECT_EQ(line.find('\r'), std::string::npos) << line;
  EXPECT_EQ(line, "\\\\.\\PhysicalDrive1 path=0 id=2 lun=3 type=Disk A___C___ x_path_9_id_9___ 512 ser_ial_____ 1_2_");
  blnkwin::ListAddress address;
  ASSERT_TRUE(blnkwin::parseListAddress(line, &address));
  EXPECT_EQ(address.bus, 0);
  EXPECT_EQ(address.target, 2);
  EXPECT_EQ(address.lun, 3);
}

TEST(WinDeviceList, AddressOfAListLine) {
  blnkwin::ListAddress address;
  ASSERT_TRUE(blnkwin::parseListAddress("\\\\.\\SCSI3:1:14 path=1 id=14 lun=7 type=Enclosure K P 0 ____ ____", &address));
  EXPECT_EQ(address.bus, 1);
  EXPECT_EQ(address.target, 14);
  EXPECT_EQ(address.lun, 7);
  for (const char* bad : {"\\\\.\\SCSI3: path=1 id=14", "path=1 id=14 lun=", "path=1 id=x lun=0",
                          "path=256 id=1 lun=0", "path=1 id=1 lun=0000", "path=1 id=1 lun=-1",
                          "path=1 id=1 lun=2x", "xpath=1 id=1 lun=1", "", "\\\\MR3-0 _ _ _"}) {
    SCOPED_TRACE(bad);
    blnkwin::ListAddress untouched{9, 9, 9};
    EXPECT_FALSE(blnkwin::parseListAddress(bad, &untouched));
    EXPECT_EQ(untouched.bus, 9);
  }
}

TEST(WinSysDrives, EntriesKeepTheirSeparatorsToThemselves) {
  blnkwin::SysDrive drive;
  drive.handle = "\\\\.\\PhysicalDrive0";
  drive.name = "C:D:";
  drive.vendor = "ATA";
  drive.product = "WDC WD5000AAKX";
  drive.sizeBytes = 500107862016;
  drive.serial = "WD-WCAYUJ123456";
  drive.firmware = "15.01H15";
  drive.format = "MBR";
  EXPECT_EQ(blnkwin::sysDriveEntry(drive),
            "Handle \\\\.\\PhysicalDrive0^Name C:D:^Vendor ATA^Product WDC_WD5000AAKX^Size 500107862016"
            "^Serial WD_WCAYUJ123456^FW 15_01H15^Format MBR#");
  drive.vendor = "evil^Name X#Handle Y";
  drive.serial = "";
  const std::string entry = blnkwin::sysDriveEntry(drive);
  EXPECT_EQ(std::count(entry.begin(), entry.end(), '^'), 7) << entry;
  EXPECT_EQ(std::count(entry.begin(), entry.end(), '#'), 1) << entry;
  EXPECT_NE(entry.find("^Vendor evil_Name_X_Handle_Y^"), std::string::npos) << entry;
  EXPECT_NE(entry.find("^Serial _^"), std::string::npos) << "an empty text stays a field" << entry;
}

}  // namespace
