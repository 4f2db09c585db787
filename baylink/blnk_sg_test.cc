// Tests of the SCSI generic back end through a fake ioctl: the open sequence, the SG_IO header,
// the outcome categories and the retry rule of the command function.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "baylink/blnk_debug.h"
#include "baylink/blnk_internal.h"
#include "baylink/blnk_sg_category.h"
#include "baylink/linux/blnk_sg_device.h"

namespace {

struct Scripted {
  int rc = 0;  // ioctl result; -1 means the request was not issued
  uint8_t status = 0;
  uint16_t host = 0;
  uint16_t driver = 0;
  std::vector<uint8_t> sense;
};

Scripted senseReply(uint8_t key, uint8_t asc) {
  std::vector<uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = key;
  sense[12] = asc;
  return Scripted{0, 2, 0, kBlnkDriverSense, sense};
}

class SgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BlnkSgOps ops;
    ops.open = [this](const char* path, int flags) {
      calls.push_back(std::string("open ") + path + ((flags & O_ACCMODE) == O_RDONLY ? " ro" : " rw") +
                      ((flags & O_NONBLOCK) != 0 ? " nb" : ""));
      if (denyReadOnly && (flags & O_ACCMODE) == O_RDONLY) {
        errno = EACCES;
        return -1;
      }
      return 42;
    };
    ops.close = [this](int fd) {
      calls.push_back("close " + std::to_string(fd));
      return 0;
    };
    ops.ioctl = [this](int, unsigned long request, void* arg) { return ioctl(request, arg); };
    blnkSetSgOpsForTesting(ops);
  }
  void TearDown() override {
    SCSI_CloseDevice();
    blnkSetSgOpsForTesting(BlnkSgOps{});
  }

  int ioctl(unsigned long request, void* arg) {
    int* value = static_cast<int*>(arg);
    switch (request) {
      case SG_SET_TIMEOUT:
        calls.push_back("timeout " + std::to_string(*value));
        return 0;
      case SCSI_IOCTL_GET_IDLUN:
        calls.push_back("idlun");
        return failIdlun ? -1 : 0;
      case SCSI_IOCTL_GET_BUS_NUMBER:
        calls.push_back("bus");
        return 0;
      case SG_GET_RESERVED_SIZE:
        *value = 32768;
        return 0;
      case SG_SET_RESERVED_SIZE:
        calls.push_back("reserve " + std::to_string(*value));
        return 0;
      case SG_GET_VERSION_NUM:
        *value = 30536;
        return 0;
      case SG_IO:
        return sgIo(static_cast<sg_io_hdr_t*>(arg));
      default:
        return -1;
    }
  }
  int sgIo(sg_io_hdr_t* h) {
    headers.push_back(*h);
    Scripted next = script.empty() ? Scripted{} : script.front();
    if (!script.empty()) script.pop_front();
    if (next.rc < 0) return -1;
    h->status = next.status;
    h->host_status = next.host;
    h->driver_status = next.driver;
    std::copy(next.sense.begin(), next.sense.end(), h->sbp);
    h->sb_len_wr = static_cast<unsigned char>(next.sense.size());
    return 0;
  }
  int read(unsigned char* buffer, int length) {
    unsigned char cdb[6] = {0x1C, 0x01, 0x02, 0, static_cast<unsigned char>(length), 0};
    unsigned char sense[16];
    return SCSI_ExecuteCommand(1, cdb, 6, buffer, length, sense);
  }

  std::vector<std::string> calls;
  std::vector<sg_io_hdr_t> headers;
  std::deque<Scripted> script;
  bool denyReadOnly = false;
  bool failIdlun = false;
};

TEST_F(SgTest, OpenSetsTimeoutChecksTheAddressAndRaisesTheReservedBuffer) {
  ASSERT_EQ(SCSI_OpenDevice("/dev/sg3"), 1);
  std::vector<std::string> expected = {
      "open /dev/sg3 ro", "timeout 1000", "close 42", "open /dev/sg3 rw", "idlun", "bus", "reserve 65663"};
  EXPECT_EQ(calls, expected);

  calls.clear();
  denyReadOnly = true;
  ASSERT_EQ(SCSI_OpenDevice("/dev/sg4"), 1);
  EXPECT_EQ(calls[1], "open /dev/sg4 rw nb");

  calls.clear();
  failIdlun = true;
  EXPECT_EQ(SCSI_OpenDevice("/dev/sg5"), 0);
  EXPECT_EQ(calls.back(), "close 42");

  calls.clear();
  EXPECT_EQ(SCSI_OpenDevice("/dev/../etc/passwd"), 0);  // never opened
  EXPECT_EQ(SCSI_OpenDevice("/etc/passwd"), 0);
  EXPECT_TRUE(calls.empty());
}

TEST_F(SgTest, RequestHeaderAndRetryRule) {
  ASSERT_EQ(SCSI_OpenDevice("/dev/sg0"), 1);
  unsigned char buffer[64];
  std::memset(buffer, 0xAA, sizeof(buffer));
  script = {senseReply(6, 0x29), Scripted{}};
  EXPECT_EQ(read(buffer, 64), 0);  // unit attention, then success
  ASSERT_EQ(headers.size(), 2u);
  const sg_io_hdr_t& h = headers[0];
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.cmd_len, 6);
  EXPECT_EQ(h.mx_sb_len, 32);
  EXPECT_EQ(h.dxfer_len, 64u);
  EXPECT_EQ(h.timeout, 10000u);
  EXPECT_NE(headers[0].pack_id, headers[1].pack_id);
  EXPECT_EQ(buffer[0], 0);  // data in: cleared first

  headers.clear();
  script = {senseReply(5, 0x24)};
  EXPECT_EQ(read(buffer, 64), 5);
  EXPECT_EQ(headers.size(), 1u);

  headers.clear();
  script = {senseReply(2, 0x04), senseReply(2, 0x04)};
  EXPECT_EQ(read(buffer, 64), 2);
  EXPECT_EQ(headers.size(), 2u);

  headers.clear();
  script = {Scripted{-1}, Scripted{-1}};
  EXPECT_EQ(read(buffer, 64), -1);
  EXPECT_EQ(headers.size(), 2u);

  // Recovered errors count as success; a time-out without sense is a failure.
  headers.clear();
  script = {senseReply(1, 0x17)};
  EXPECT_EQ(read(buffer, 64), 0);
  script = {Scripted{0, 0, kBlnkHostTimeOut, 0, {}}};
  EXPECT_EQ(read(buffer, 64), -1);

  unsigned char tur[6] = {};
  headers.clear();
  EXPECT_EQ(SCSI_ExecuteCommand(3, tur, 6, nullptr, 0, nullptr), 0);
  EXPECT_EQ(headers[0].dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(SCSI_ExecuteCommand(3, tur, 17, nullptr, 0, nullptr), -1);
}

TEST_F(SgTest, LevelTwoDumpsTheCommandAndSenseHeadersIntoTheDebugFile) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "blnk-sg-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path previous = fs::current_path();
  fs::current_path(pattern);
  const int level = iDebugMode;
  ASSERT_EQ(SCSI_OpenDevice("/dev/sg0"), 1);
  unsigned char buffer[64];
  auto debugText = [] {
    std::ifstream in(kBlnkDebugFile);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  iDebugMode = 1;
  script = {senseReply(5, 0x24)};
  EXPECT_EQ(read(buffer, 64), 5);
  const std::string messages = debugText();
  EXPECT_NE(messages.find("SCSI_ExecuteCommandSG - CDB:"), std::string::npos) << messages;
  EXPECT_EQ(messages.find("0000: 1C 01 02 00 40 00"), std::string::npos) << "level 1 has no dumps";
  iDebugMode = 2;
  script = {senseReply(5, 0x24)};
  EXPECT_EQ(read(buffer, 64), 5);
  const std::string dumps = debugText();
  iDebugMode = level;
  fs::current_path(previous);
  fs::remove_all(pattern);
  EXPECT_NE(dumps.find("0000: 1C 01 02 00 40 00"), std::string::npos) << dumps;
  EXPECT_NE(dumps.find("0000: 70 00 05 00"), std::string::npos) << "the sense header too";
}

TEST(SgCategories, FollowTheGenericUtilities) {
  BlnkRawOutcome o;
  o.issued = true;
  EXPECT_EQ(blnkCategorize(o), kBlnkCatClean);
  o.status = 2;
  o.senseLength = 18;
  o.sense[0] = 0x70;
  o.sense[2] = 6;
  o.sense[12] = 0x28;
  EXPECT_EQ(blnkCategorize(o), kBlnkCatMediaChanged);
  o.sense[12] = 0x29;
  EXPECT_EQ(blnkCategorize(o), kBlnkCatReset);
  o.sense[2] = 3;
  EXPECT_EQ(blnkCategorize(o), kBlnkCatSense);
  o.sense[0] = 0x72;  // descriptor format: key in byte 1
  o.sense[1] = 1;
  EXPECT_EQ(blnkCategorize(o), kBlnkCatRecovered);
  BlnkRawOutcome busy;
  busy.hostStatus = kBlnkHostBusBusy;
  EXPECT_EQ(blnkCategorize(busy), kBlnkCatTimeout);
  busy.hostStatus = 0x07;
  EXPECT_EQ(blnkCategorize(busy), kBlnkCatOther);
  EXPECT_STREQ(blnkSenseKeyText(6), "Target device has been reset");
}

}  // namespace
