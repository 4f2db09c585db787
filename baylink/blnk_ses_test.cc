// Tests of the device scan and the SES operations against a raidsim world: the line format and
// enclosure table, page reads and writes with the generation-code rule, the CLI pages, VPD, raw
// buffers, the retry rule and the device list file's safety.
#include <sys/stat.h>

#include "baylink/blnk_test_support.h"

namespace {

namespace fs = std::filesystem;
using blnktest::Recorded;

const char kConfig[] = R"(
[disk boot]
vendor = SEAGATE
product = ST4000NM0035
revision = TN03
serial = ZC1A2B3C
blocks = 8
block_size = 512
path = 0:0:2:0
[enclosure bayA]
wwn = 500A0B8000112233
self_slot = 3
path = 0:0:8:0
[enclosure bayA2]
wwn = 500A0B8000112233
self_slot = 7
path = 0:0:9:0
[disk middle]
serial = MID0001
path = 0:0:10:0
[enclosure bayB]
wwn = 500A0B80000000BB
path = 0:0:11:0
[disk last]
path = 0:0:12:0
)";

class SesTest : public blnktest::SimFixture {
 protected:
  std::string config() const override { return kConfig; }
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    lines = tableLines(getSESDevices());
    commands->clear();
  }
  std::vector<std::string> lines;
};

TEST_F(SesTest, ScanDescribesEveryDeviceWithEnclosureAndSlot) {
  ASSERT_EQ(lines.size(), 6u);
  // A disk before any enclosure: its identity from INQUIRY, enclosure 0 and no slot.
  EXPECT_EQ(lines[0],
            device(2) +
                "^Serial:ZC1A2B3C____^Part:ST4000NM0035____^Enc:0^Slot:TM^SES:N^FWVer:TN03^size:4096"
                "^vendor:SEAGATE_^SCSIID:0");
  // Two expanders of one enclosure share its index; each reports its own slot.
  EXPECT_NE(lines[1].find("^Enc:0^Slot:03^SES:Y^"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("^Enc:0^Slot:07^SES:Y^"), std::string::npos) << lines[2];
  // A disk without page 1 takes the last enclosure and the last slot found.
  EXPECT_NE(lines[3].find("^Serial:MID0001_____^Part:SIM_DISK________^Enc:0^Slot:07^SES:N^"),
            std::string::npos)
      << lines[3];
  // A new identifier gets the next index; no reporting slot gives "TM".
  EXPECT_NE(lines[4].find("^Enc:1^Slot:TM^SES:Y^"), std::string::npos) << lines[4];
  EXPECT_NE(lines[5].find("^Enc:1^Slot:TM^SES:N^"), std::string::npos) << lines[5];
  for (const std::string& line : lines) EXPECT_LE(line.size(), 255u);

  std::string list = readText(listFile);
  EXPECT_EQ(list, device(2) + "\n" + device(8) + "\n" + device(9) + "\n" + device(10) + "\n" + device(11) +
                      "\n" + device(12) + "\n");
  struct stat st {};
  ASSERT_EQ(lstat(listFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(readText(dir / "blnkDebug.txt").rfind("Debug Reset\nBuild Version: Baylink - v0.90", 0),
            std::string::npos);
}

TEST_F(SesTest, PagesReadAndWriteWithTheGenerationCode) {
  unsigned char* status = getSESPage(device(8).c_str(), 0x02);
  EXPECT_EQ(status[0], 0x02);
  EXPECT_EQ(BytesToU32(status + 4), 1u);  // generation code
  EXPECT_EQ(status[14 + 4 * 3], 0x01);    // report bit of the SES processor's slot

  // A control page with a stale generation code: the library puts in the current one.
  std::vector<unsigned char> control(status, status + BytesToU16(status + 2) + 4);
  std::fill(control.begin() + 4, control.end(), 0);
  control[0] = 0x02;
  control[12 + 4 * 5] = 0x80;  // slot 5: select, identify
  control[12 + 4 * 5 + 2] = 0x02;
  EXPECT_EQ(setSESPage(device(8).c_str(), control.data()), 0);
  EXPECT_EQ(BytesToU32(control.data() + 4), 1u);
  std::vector<Recorded> sends = sent(0x1D);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].dataOut.size(), control.size());
  EXPECT_EQ(BytesToU16(&sends[0].cdb[3]), control.size());
  EXPECT_EQ(getSESPage(device(8).c_str(), 0x02)[14 + 4 * 5], 0x02);

  // String out (page 4) keeps the caller's bytes 4-7.
  unsigned char text[] = {0x04, 0, 0, 7, 'A', 'B', 'C', 'D', 'x', 'y', 'z'};
  EXPECT_EQ(setSESPage(device(11).c_str(), text), 0);
  unsigned char* back = getSESPage(device(11).c_str(), 0x04);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back) + 4, 7), "ABCDxyz");

  // Failures: an unknown page and a device that is not listed give cleared buffers.
  EXPECT_EQ(getSESPage(device(8).c_str(), 0x07)[0], 0);
  commands->clear();
  unsigned char* missing = getSESPage((device(8) + "0").c_str(), 0x02);
  EXPECT_TRUE(std::all_of(missing, missing + BLNK_PAGE_BYTES, [](unsigned char b) { return b == 0; }));
  EXPECT_TRUE(commands->empty());
  EXPECT_EQ(setSESPage((device(8) + "0").c_str(), control.data()), 1);
  unsigned char oversized[8] = {0x02, 0, 0xFF, 0xFF};
  EXPECT_EQ(setSESPage(device(8).c_str(), oversized), -1);
  EXPECT_TRUE(commands->empty());
}

TEST_F(SesTest, CliCommandTravelsAsOneParameterList) {
  EXPECT_EQ(sendCLICommand(device(8).c_str(), 0x84, "hello"), 0);
  std::vector<Recorded> sends = sent(0x1D);
  ASSERT_EQ(sends.size(), 1u);
  std::vector<uint8_t> expected = {0x84, 0,   0,   17,  0,   0,   0, 1, 0, 0, 0,
                                   0,    'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0};
  EXPECT_EQ(sends[0].dataOut, expected);
  EXPECT_EQ(sends[0].cdb, (std::vector<uint8_t>{0x1D, 0x10, 0, 0, 21, 0}));
  unsigned char* answer = getCLIResponse(device(8).c_str(), 0x84);
  EXPECT_EQ(answer[0], 0x84);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(answer) + 12), "hello\r\nOK\r\n");

  // Only pages 0x84 and 0x85; other pages send nothing.
  commands->clear();
  EXPECT_EQ(sendCLICommand(device(8).c_str(), 0x83, "hello"), 0);
  EXPECT_TRUE(commands->empty());
  // The CLI needs an SES device: a disk under that name is not one.
  EXPECT_EQ(sendCLICommand(device(10).c_str(), 0x84, "hello"), 1);
  EXPECT_EQ(getCLIResponse(device(10).c_str(), 0x85)[0], 0);
}

TEST_F(SesTest, VitalProductDataAndRawBuffers) {
  unsigned char* serial = getScsiVPDSense(device(2).c_str(), 0x80);
  EXPECT_EQ(serial[1], 0x80);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(serial) + 4, 8), "ZC1A2B3C");
  EXPECT_EQ(getScsiVPDSense(device(2).c_str(), 0x99)[1], 0);

  unsigned char readCapacity[10] = {0x25};
  unsigned char* data = ReadBuffer(device(2).c_str(), readCapacity, 10);
  EXPECT_EQ(BytesToU32(data), 7u);
  EXPECT_EQ(BytesToU32(data + 4), 512u);
  EXPECT_EQ(ReadBuffer(device(2).c_str(), readCapacity, 13)[0], 0);  // CDB too long

  unsigned char send[6] = {0x1D, 0x10, 0, 0, 7, 0};
  unsigned char page[7] = {0x04, 0, 0, 3, 'a', 'b', 'c'};
  EXPECT_EQ(WriteBuffer(device(11).c_str(), send, 6, page, 7), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(getSESPage(device(11).c_str(), 0x04)) + 4, 3), "abc");
  EXPECT_EQ(WriteBuffer(device(11).c_str(), send, 0, page, 7), -1);
  std::string debug = readText(dir / "blnkDebug.txt");
  EXPECT_NE(debug.find("Exiting WriteBuffer - RC = 0"), std::string::npos);
}

TEST_F(SesTest, UnitAttentionIsRetriedOnceIllegalRequestNot) {
  ctl("sense 0:0:11:0 1 6 0x29 0");
  EXPECT_EQ(getSESPage(device(11).c_str(), 0x02)[0], 0x02);
  EXPECT_EQ(sent(0x1C).size(), 2u);

  ASSERT_EQ(SCSI_OpenDevice(device(11).c_str()), 1);
  unsigned char page[BLNK_PAGE_BYTES];
  ctl("sense 0:0:11:0 2 6 0x29 0");
  commands->clear();
  EXPECT_EQ(iReadSESFromDrive(0x02, page, sizeof(page)), 6);  // both attempts saw it
  EXPECT_EQ(commands->size(), 2u);

  ctl("sense 0:0:11:0 1 5 0x24 0");
  commands->clear();
  EXPECT_EQ(iReadSESFromDrive(0x02, page, sizeof(page)), 5);
  EXPECT_EQ(commands->size(), 1u);

  // No answer at all is a failure, never success; it is retried once too.
  ctl("noanswer 0:0:11:0 2");
  commands->clear();
  EXPECT_EQ(iReadSESFromDrive(0x02, page, sizeof(page)), -1);
  EXPECT_EQ(commands->size(), 2u);
  SCSI_CloseDevice();
}

TEST_F(SesTest, DeviceListFileIsReplacedNotFollowedAndMustBePrivate) {
  // A link planted under the list's name is replaced, and its target left alone.
  fs::path victim = dir / "victim";
  { std::ofstream(victim) << "precious\n"; }
  fs::remove(listFile);
  fs::create_symlink(victim, listFile);
  lines = tableLines(getSESDevices());
  EXPECT_EQ(lines.size(), 6u);
  EXPECT_EQ(readText(victim), "precious\n");
  EXPECT_FALSE(fs::is_symlink(listFile));

  // A list others may write is not trusted: nothing is opened through it.
  fs::permissions(listFile, fs::perms::others_write, fs::perm_options::add);
  commands->clear();
  EXPECT_EQ(OpenDevForCommunication(device(8).c_str(), 0), 1);
  EXPECT_TRUE(commands->empty());
  fs::permissions(listFile, fs::perms::others_write, fs::perm_options::remove);
  EXPECT_EQ(OpenDevForCommunication(device(8).c_str(), 1), 0);
  SCSI_CloseDevice();
}

}  // namespace
