// Tests of the Linux back end through its seam: a fake sysfs tree in a temporary folder and a fake
// open/ioctl that checks the SG_IO header and plays the kernel's answer.
#include "common/scsi/scsi_linux.h"

#include <linux/fs.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class FakeSysfs {
 public:
  FakeSysfs() {
    root_ = fs::temp_directory_path() /
            ("kestrova-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::create_directories(root_ / "class/scsi_host");
    fs::create_directories(root_ / "bus/scsi/devices");
  }
  ~FakeSysfs() { fs::remove_all(root_); }

  void host(int h, int thisId) {
    write("class/scsi_host/host" + std::to_string(h) + "/this_id", std::to_string(thisId));
  }
  fs::path device(const std::string& hctl) {
    fs::path dir = root_ / "bus/scsi/devices" / hctl;
    fs::create_directories(dir);
    return dir;
  }
  void write(const fs::path& relative, const std::string& text) {
    fs::path path = relative.is_absolute() ? relative : root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string root() const { return root_.string(); }

 private:
  static inline int counter_ = 0;
  fs::path root_;
};

class LinuxScsiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sysfs.host(0, 7);
    sysfs.host(3, -1);
    // 0:0:1:0 a claimed disk with a block queue and an inquiry attribute.
    fs::path disk = sysfs.device("0:0:1:0");
    std::string inquiry(96, '\0');
    inquiry[0] = 0x00;
    inquiry.replace(8, 8, "ATA     ");
    inquiry.replace(16, 16, "SAMSUNG SSD 870 ");
    sysfs.write(disk / "inquiry", inquiry);
    sysfs.write(disk / "driver/.keep", "");
    sysfs.write(disk / "block/sda/queue/max_sectors_kb", "1280\n");
    sysfs.write(disk / "scsi_generic/sg0/dev", "21:0\n");
    // 3:0:2:0 an unclaimed enclosure without an inquiry attribute and without a block queue.
    fs::path ses = sysfs.device("3:0:2:0");
    sysfs.write(ses / "type", "13\n");
    sysfs.write(ses / "vendor", "KESTROVA\n");
    sysfs.write(ses / "model", "BAY-12          \n");
    sysfs.write(ses / "rev", "0100\n");
    sysfs.write(ses / "scsi_generic/sg4/dev", "21:4\n");
    // 3:0:3:0 a device without a generic node.
    sysfs.write(sysfs.device("3:0:3:0") / "type", "0\n");
    ops.sysfsRoot = sysfs.root();
    ops.devRoot = "/fake/dev";
  }

  FakeSysfs sysfs;
  LinuxScsiOps ops;
};

TEST_F(LinuxScsiTest, EnumeratesHostsDevicesNamesAndAddresses) {
  auto transport = makeLinuxScsiTransport(ops);
  auto adapters = transport->listAdapters();
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[1].port, 1);
  EXPECT_TRUE(adapters[1].name.empty());

  std::vector<ScsiBusEntry> entries;
  ASSERT_TRUE(transport->readBusTable(0, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].initiatorBusId, 7);
  EXPECT_EQ(entries[0].targetId, 1);
  EXPECT_TRUE(entries[0].claimed);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&entries[0].inquiry[16]), 16), "SAMSUNG SSD 870 ");

  ASSERT_TRUE(transport->readBusTable(1, &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].initiatorBusId, 0xFF);  // this_id -1: unknown
  EXPECT_FALSE(entries[0].claimed);
  EXPECT_EQ(entries[0].inquiry[0], 13);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&entries[0].inquiry[8]), 28),
            "KESTROVABAY-12          0100");
  EXPECT_FALSE(transport->readBusTable(2, &entries));

  auto names = transport->listDeviceNames();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].name, "/dev/sg0");
  EXPECT_EQ(names[1].name, "/dev/sg4");
  ScsiAddress address;
  ASSERT_TRUE(transport->deviceAddress("/dev/sg4", &address));
  EXPECT_EQ(address.port, 1);
  EXPECT_EQ(address.target, 2);
  EXPECT_FALSE(transport->deviceAddress("/dev/sg9", &address));
  EXPECT_FALSE(transport->deviceAddress("sim:/x:0:0:0:0", &address));
}

TEST_F(LinuxScsiTest, TransferLimitFromQueueOrHostAsPages) {
  auto transport = makeLinuxScsiTransport(ops);
  uint32_t pages = 0;
  ASSERT_EQ(transport->maxPhysicalPages("/dev/sg0", &pages), ScsiLimitStatus::kOk);
  EXPECT_EQ((pages - 1) * 4096u, 1280u * 1024);
  EXPECT_EQ(transport->maxPhysicalPages("/dev/sg4", &pages), ScsiLimitStatus::kFailed);
  sysfs.write("class/scsi_host/host3/max_sectors", "512\n");
  ASSERT_EQ(transport->maxPhysicalPages("/dev/sg4", &pages), ScsiLimitStatus::kOk);
  EXPECT_EQ((pages - 1) * 4096u, 256u * 1024);
  EXPECT_EQ(transport->maxPhysicalPages("/dev/sg7", &pages), ScsiLimitStatus::kNotOpened);
}

// A device with no block device (here an enclosure) has its queue limit only through its
// generic node: the kernel answers BLKSECTGET in bytes, and that comes before any host file.
TEST_F(LinuxScsiTest, TransferLimitOfADeviceWithoutBlockDeviceComesFromItsGenericNode) {
  std::string opened;
  unsigned long asked = 0;
  int closed = 0;
  ops.open = [&](const char* path, int) { return opened = path, 42; };
  ops.ioctl = [&](int fd, unsigned long request, void* arg) {
    EXPECT_EQ(fd, 42);
    asked = request;
    *static_cast<int*>(arg) = 1310720;  // 1280 KB
    return 0;
  };
  ops.close = [&](int) { return ++closed, 0; };
  sysfs.write("class/scsi_host/host3/max_sectors", "512\n");
  auto transport = makeLinuxScsiTransport(ops);
  uint32_t pages = 0;
  ASSERT_EQ(transport->maxPhysicalPages("/dev/sg4", &pages), ScsiLimitStatus::kOk);
  EXPECT_EQ((pages - 1) * 4096u, 1280u * 1024);
  EXPECT_EQ(opened, "/fake/dev/sg4");
  EXPECT_EQ(asked, static_cast<unsigned long>(BLKSECTGET));
  EXPECT_EQ(closed, 1);
  // The kernel refuses: the host's attribute (where a kernel has one) stands in.
  ops.ioctl = [](int, unsigned long, void*) { return errno = ENOTTY, -1; };
  transport = makeLinuxScsiTransport(ops);
  ASSERT_EQ(transport->maxPhysicalPages("/dev/sg4", &pages), ScsiLimitStatus::kOk);
  EXPECT_EQ((pages - 1) * 4096u, 256u * 1024);
}

// Fake kernel: records the header it was given and answers as configured.
struct FakeKernel {
  sg_io_hdr_t seen{};
  std::string openedPath;
  int closed = 0;
  int ioctlResult = 0;
  int ioctlErrno = 0;
  uint8_t status = 0;
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  std::vector<uint8_t> sense;
  int resid = 0;

  void install(LinuxScsiOps* ops) {
    ops->open = [this](const char* path, int) {
      openedPath = path;
      return 42;
    };
    ops->close = [this](int fd) {
      closed += fd == 42 ? 1 : 0;
      return 0;
    };
    ops->ioctl = [this](int fd, unsigned long request, void* arg) {
      EXPECT_EQ(fd, 42);
      EXPECT_EQ(request, static_cast<unsigned long>(SG_IO));
      auto* header = static_cast<sg_io_hdr_t*>(arg);
      seen = *header;
      if (ioctlResult < 0) {
        errno = ioctlErrno;
        return -1;
      }
      header->status = status;
      header->host_status = hostStatus;
      header->driver_status = driverStatus;
      header->resid = resid;
      size_t n = std::min<size_t>(sense.size(), header->mx_sb_len);
      if (n != 0) std::memcpy(header->sbp, sense.data(), n);
      header->sb_len_wr = static_cast<unsigned char>(n);
      return 0;
    };
  }
};

TEST_F(LinuxScsiTest, BuildsTheSgIoHeaderForEachDirection) {
  FakeKernel kernel;
  kernel.install(&ops);
  auto transport = makeLinuxScsiTransport(ops);
  uint8_t cdb[10] = {0x3C, 0x02, 0x40};
  uint8_t data[1792];
  uint8_t sense[32];
  ScsiCommand command{"/dev/sg4",   0,      0,     0, cdb, 10, ScsiDirection::kIn, data,
                      sizeof(data), 120000, sense, 32};
  kernel.resid = 792;
  ScsiResult result = transport->execute(command);
  EXPECT_EQ(kernel.openedPath, "/fake/dev/sg4");
  EXPECT_EQ(kernel.closed, 1);
  EXPECT_EQ(kernel.seen.interface_id, 'S');
  EXPECT_EQ(kernel.seen.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(kernel.seen.cmd_len, 10);
  EXPECT_EQ(kernel.seen.cmdp, cdb);
  EXPECT_EQ(kernel.seen.dxfer_len, 1792u);
  EXPECT_EQ(kernel.seen.dxferp, data);
  EXPECT_EQ(kernel.seen.mx_sb_len, 32);
  EXPECT_EQ(kernel.seen.timeout, 120000u);
  EXPECT_EQ(result.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(result.transferred, 1000u);

  command.direction = ScsiDirection::kOut;
  command.timeoutMs = 0;
  transport->execute(command);
  EXPECT_EQ(kernel.seen.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(kernel.seen.timeout, kScsiDefaultTimeoutMs);

  command.direction = ScsiDirection::kNone;
  command.data = nullptr;
  command.dataLength = 0;
  command.sense = nullptr;
  command.senseCapacity = 0;
  transport->execute(command);
  EXPECT_EQ(kernel.seen.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(kernel.seen.dxfer_len, 0u);
  EXPECT_EQ(kernel.seen.mx_sb_len, 0);
}

TEST_F(LinuxScsiTest, ClassifiesTheKernelsAnswers) {
  FakeKernel kernel;
  kernel.install(&ops);
  auto transport = makeLinuxScsiTransport(ops);
  uint8_t cdb[6] = {0x00};
  uint8_t sense[32] = {};
  ScsiCommand command{"/dev/sg0", 0, 0, 0, cdb, 6, ScsiDirection::kNone, nullptr, 0, 1000, sense, 32};

  kernel.status = 0x02;
  kernel.driverStatus = 0x08;
  kernel.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
  ScsiResult r = transport->execute(command);
  EXPECT_EQ(r.outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(r.status, 0x02);
  EXPECT_EQ(r.senseLength, 14);
  EXPECT_EQ(sense[12], 0x24);

  kernel.status = 0x08;  // BUSY
  kernel.driverStatus = 0;
  kernel.sense.clear();
  r = transport->execute(command);
  EXPECT_EQ(r.outcome, ScsiOutcome::kStatus);
  EXPECT_EQ(r.status, 0x08);

  kernel.status = 0;
  kernel.hostStatus = 0x01;  // DID_NO_CONNECT
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kNoAnswer);
  kernel.hostStatus = 0x03;  // DID_TIME_OUT
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kTimeout);
  kernel.hostStatus = 0;
  kernel.driverStatus = 0x06;  // DRIVER_TIMEOUT
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kTimeout);
  kernel.driverStatus = 0x04;  // DRIVER_ERROR
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kNoAnswer);

  // Sense without a status byte: a real error is a check condition, a recovered one is not.
  kernel.driverStatus = 0x08;
  kernel.sense = {0x70, 0, 0x04, 0, 0, 0, 0, 10};
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kCheckCondition);
  kernel.sense = {0x70, 0, 0x01, 0, 0, 0, 0, 10};
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kGood);

  kernel.ioctlResult = -1;
  kernel.ioctlErrno = EIO;
  r = transport->execute(command);
  EXPECT_EQ(r.outcome, ScsiOutcome::kNoAnswer);
  EXPECT_EQ(r.error, EIO);
  EXPECT_EQ(r.senseLength, 0);
  kernel.ioctlErrno = ETIMEDOUT;
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kTimeout);
  EXPECT_EQ(kernel.closed, 10);  // every opened node was closed
}

TEST_F(LinuxScsiTest, RefusesBadCommandsAndUnopenableNodesWithoutAnIoctl) {
  int ioctls = 0;
  ops.ioctl = [&](int, unsigned long, void*) { return ++ioctls, 0; };
  ops.open = [](const char*, int) { return errno = ENOENT, -1; };
  auto transport = makeLinuxScsiTransport(ops);
  uint8_t cdb[6] = {0x12};
  uint8_t buffer[8];
  ScsiCommand command{"/dev/sg0", 0, 0, 0, cdb, 6, ScsiDirection::kIn, nullptr, 8, 1000, nullptr, 0};
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kInvalid);  // data length without data
  command.data = buffer;
  command.cdbLength = 17;
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kInvalid);
  command.cdbLength = 6;
  for (const char* bad : {"sda", "/dev/", "/dev/../etc/passwd", "/dev/sg0;rm", "/dev/sg\n0"}) {
    command.device = bad;
    EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kInvalid) << bad;
  }
  command.device = "/dev/sg0";
  ScsiResult r = transport->execute(command);
  EXPECT_EQ(r.outcome, ScsiOutcome::kNoAnswer);
  EXPECT_EQ(r.error, ENOENT);
  EXPECT_EQ(ioctls, 0);
}

}  // namespace
