// The Windows scan, pass-through and drive listing over a fake SCSI port driver (the common
// layer's WinScsiOps seam): the device list lines of drives and adapter devices, claimed and
// already-listed devices left out, an adapter device's commands sent with the bus, target and LUN
// of its own line, the same list on a rescan, device lookup, and getSysDrives.
#include <windows.h>
// after windows.h: the control codes first
#include <winioctl.h>
// then the SCSI port structures
#include <gtest/gtest.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_internal.h"
#include "common/scsi/scsi_win.h"
#include "common/scsi/scsi_win_test_support.h"

namespace {

namespace fs = std::filesystem;

struct Sent {
  std::string device;
  int path, target, lun;
  uint8_t opcode;
};

// A drive at 0:0:0 (PhysicalDrive0), and on adapter SCSI0: the same disk unclaimed, a claimed
// disk, an enclosure with two LUNs and a CD-ROM (a type never listed).
struct FakeDriver {
  std::map<std::string, intptr_t> handles = {{"\\\\.\\PhysicalDrive0", 1}, {"\\\\.\\SCSI0:", 2}};
  std::map<intptr_t, std::string> names = {{1, "\\\\.\\PhysicalDrive0"}, {2, "\\\\.\\SCSI0:"}};
  std::vector<Sent> sent;

  static std::vector<uint8_t> busInfo() {
    struct Unit {
      UCHAR target, lun, type;
      bool claimed;
    };
    const std::vector<Unit> units = {
        {0, 0, 0, false}, {1, 0, 0, true}, {5, 0, 13, false}, {5, 1, 13, false}, {6, 0, 5, false}};
    std::vector<FakeBusUnit> fake(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
      fake[i].address.TargetId = units[i].target;
      fake[i].address.Lun = units[i].lun;
      fake[i].address.DeviceClaimed = units[i].claimed ? TRUE : FALSE;
      fake[i].inquiry[0] = units[i].type;
      std::memcpy(fake[i].inquiry.data() + 8, units[i].type == 13 ? "KESTROVA" : "SEAGATE ", 8);
      std::memcpy(fake[i].inquiry.data() + 16, units[i].type == 13 ? "ENCL JBOD       " : "ST1000NM0001    ",
                  16);
    }
    return fakeBusInfo(0, fake);
  }

  // The device's answer to a data-in command.
  void answer(const std::string& device, UCHAR target, const uint8_t* cdb, uint8_t* data, size_t length) {
    std::memset(data, 0, length);
    const bool enclosure = device == "\\\\.\\SCSI0:" && target == 5;
    if (cdb[0] == 0x12 && length >= 48) {
      data[0] = enclosure ? 13 : 0;
      std::memcpy(data + 8, enclosure ? "KESTROVA" : "SEAGATE ", 8);
      std::memcpy(data + 16, enclosure ? "ENCL JBOD       " : "ST1000NM0001    ", 16);
      std::memcpy(data + 32, enclosure ? "0100" : "0002", 4);
      std::memcpy(data + 36, enclosure ? "ENC000000001" : "Z1N2X3      ", 12);
    } else if (cdb[0] == 0x25 && length >= 8) {
      data[3] = 7;  // last block 7, blocks of 512 bytes: 4096 bytes
      data[6] = 2;
    } else if (cdb[0] == 0x1C && enclosure && length >= 80) {
      data[0] = cdb[2];  // pages 1 (configuration) and 2 (status) of an SES device
      if (cdb[2] == 1) std::memcpy(data + 12, "\x50\x00\x11\x22\x33\x44\x55\x66", 8);
    }
  }

  WinScsiOps ops() {
    WinScsiOps o;
    o.open = [this](const std::string& path) -> void* {
      auto it = handles.find(path);
      return it == handles.end() ? nullptr : reinterpret_cast<void*>(it->second);
    };
    o.close = [](void*) {};
    o.listDosDevices = [] { return std::string("PhysicalDrive0\0SCSI0:\0C:\0", 25); };
    o.ioctl = [this](void* handle, uint32_t code, void* in, uint32_t, void* out, uint32_t outSize,
                     uint32_t* returned, uint32_t* error) {
      *error = 0;
      const std::string device = names[reinterpret_cast<intptr_t>(handle)];
      switch (code) {
        case IOCTL_SCSI_GET_ADDRESS: {
          if (device != "\\\\.\\PhysicalDrive0") return false;
          SCSI_ADDRESS address{};
          address.Length = sizeof address;
          std::memcpy(out, &address, sizeof address);
          *returned = sizeof address;
          return true;
        }
        case IOCTL_SCSI_GET_INQUIRY_DATA: {
          const std::vector<uint8_t> block = busInfo();
          *returned = static_cast<uint32_t>(std::min<size_t>(block.size(), outSize));
          std::memcpy(out, block.data(), *returned);
          return true;
        }
        case IOCTL_SCSI_RESCAN_BUS:
        case IOCTL_SCSI_GET_CAPABILITIES:
          return true;
        case IOCTL_SCSI_PASS_THROUGH_DIRECT: {
          auto* request = static_cast<SCSI_PASS_THROUGH_DIRECT*>(in);
          sent.push_back({device, request->PathId, request->TargetId, request->Lun, request->Cdb[0]});
          if (request->DataIn == SCSI_IOCTL_DATA_IN && request->DataBuffer != nullptr)
            answer(device, request->TargetId, request->Cdb, static_cast<uint8_t*>(request->DataBuffer),
                   request->DataTransferLength);
          request->ScsiStatus = 0;
          return true;
        }
        default:
          *error = ERROR_INVALID_FUNCTION;
          return false;
      }
    };
    return o;
  }
};

class WinScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "blnk-scan-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    previous = fs::current_path();
    fs::current_path(dir);
    listFile = (dir / "blnkscan").string();
    setenv("BAYLINK_DEVICE_LIST", listFile.c_str(), 1);
    setenv("BAYLINK_STORELIB", (dir / "no-storelib.dll").string().c_str(), 1);
    std::vector<std::pair<std::string, std::unique_ptr<ScsiTransport>>> backEnds;
    backEnds.emplace_back("\\\\.\\", makeWinScsiTransport(driver.ops()));
    setScsiSystemForTesting(makeCombinedScsiTransport(std::move(backEnds)));
  }
  void TearDown() override {
    SCSI_CloseDevice();
    iDebugMode = 0;
    setScsiSystemForTesting(nullptr);
    unsetenv("BAYLINK_DEVICE_LIST");
    unsetenv("BAYLINK_STORELIB");
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::vector<std::string> listLines() const {
    std::ifstream in(listFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static std::vector<std::string> tableLines(const char* table) {
    std::vector<std::string> lines;
    for (int i = 0; i < BLNK_DEVICE_LINES && table[i * BLNK_DEVICE_LINE_BYTES] != '\0'; ++i)
      lines.emplace_back(table + i * BLNK_DEVICE_LINE_BYTES);
    return lines;
  }

  FakeDriver driver;
  fs::path dir, previous;
  std::string listFile;
};

const std::vector<std::string> kListed = {
    "\\\\.\\PhysicalDrive0 path=0 id=0 lun=0 type=Disk SEAGATE_ ST1000NM0001____ 4096 Z1N2X3______ 0002",
    "\\\\.\\SCSI0:0:5 path=0 id=5 lun=0 type=Enclosure KESTROVA ENCL_JBOD_______ 0 ____ ____________",
    "\\\\.\\SCSI0:0:5 path=0 id=5 lun=1 type=Enclosure KESTROVA ENCL_JBOD_______ 0 ____ ____________",
};

TEST_F(WinScanTest, DrivesThenUnclaimedAdapterDevicesEachCommandWithItsLinesAddress) {
  const std::vector<std::string> table = tableLines(getSESDevices());
  EXPECT_EQ(listLines(), kListed);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0],
            "\\\\.\\PhysicalDrive0^Serial:Z1N2X3______^Part:ST1000NM0001____^Enc:0^Slot:TM^SES:N^FWVer:0002"
            "^size:4096^vendor:SEAGATE_^SCSIID:0");
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(table[i].rfind("\\\\.\\SCSI0:0:5^Serial:ENC000000001^Part:ENCL_JBOD_______^Enc:0^", 0), 0u)
        << table[i];
    EXPECT_NE(table[i].find("^SES:Y^FWVer:0100^size:4096^vendor:KESTROVA^"), std::string::npos) << table[i];
  }
  // The drive's commands went to its own handle; each enclosure LUN's to the adapter with the
  // address of its own line.
  std::map<std::string, int> perDevice;
  for (const Sent& s : driver.sent) {
    if (s.device == "\\\\.\\SCSI0:") {
      EXPECT_EQ(s.path, 0);
      EXPECT_EQ(s.target, 5);
      ++perDevice["lun" + std::to_string(s.lun)];
    } else {
      EXPECT_EQ(s.device, "\\\\.\\PhysicalDrive0");
      ++perDevice["drive"];
    }
  }
  EXPECT_GT(perDevice["drive"], 0);
  EXPECT_GT(perDevice["lun0"], 0);
  EXPECT_GT(perDevice["lun1"], 0);
  EXPECT_EQ(perDevice.size(), 3u);

  // A second scan finds the same devices (the list of devices already found starts empty).
  EXPECT_EQ(tableLines(getSESDevices()).size(), 3u);
  EXPECT_EQ(listLines(), kListed);
}

TEST_F(WinScanTest, DevicesAreFoundThroughTheListAndNothingElseOpens) {
  getSESDevices();
  EXPECT_EQ(OpenDevForCommunication("\\\\.\\SCSI0:0:5", 1), 0);
  SCSI_CloseDevice();
  EXPECT_EQ(OpenDevForCommunication("\\\\.\\PhysicalDrive0", 1), 1) << "a disk is no SES device";
  EXPECT_EQ(OpenDevForCommunication("\\\\.\\PhysicalDrive0", 0), 0);
  EXPECT_EQ(OpenDevForCommunication("\\\\.\\SCSI0:0:6", 0), 1) << "a CD-ROM is never listed";
  for (const char* name : {"\\\\.\\SCSI0:0:9", "\\\\.\\PhysicalDrive7", "\\\\.\\SCSI0:", "\\\\.\\SCSI0:0:5:1",
                           "\\\\.\\PhysicalDrive0\\..\\SCSI0:", "\\\\.\\C:", "C:\\Windows", ""}) {
    EXPECT_EQ(SCSI_OpenDevice(name), 0) << name;
  }
  EXPECT_EQ(SCSI_OpenDevice("\\\\.\\SCSI0:0:5"), 1) << "the first line of the name";
  SCSI_CloseDevice();
  const unsigned char* page = getSESPage("\\\\.\\SCSI0:0:5", 2);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page[0], 2);
  EXPECT_EQ(driver.sent.back().device, "\\\\.\\SCSI0:");
  EXPECT_EQ(driver.sent.back().opcode, 0x1C);
}

TEST_F(WinScanTest, SysDrivesDescribesEachPhysicalDrive) {
  const std::string drives = getSysDrives();
  const std::string head = "Handle \\\\.\\PhysicalDrive0^Name ";
  ASSERT_EQ(drives.rfind(head, 0), 0u) << drives;
  EXPECT_NE(drives.find("^Vendor SEAGATE^Product ST1000NM0001^Size 4096^Serial Z1N2X3^FW 0002^Format "),
            std::string::npos)
      << drives;
  EXPECT_EQ(drives.back(), '#');
  EXPECT_EQ(std::count(drives.begin(), drives.end(), '#'), 1) << drives;
}

}  // namespace
