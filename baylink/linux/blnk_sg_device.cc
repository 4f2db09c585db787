// The SCSI generic driver back end; see blnk_sg_device.h.
#include "baylink/linux/blnk_sg_device.h"

#include <fcntl.h>
#include <scsi/scsi.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "baylink/blnk_host.h"

namespace {

BlnkSgOps& ops() {
  static BlnkSgOps* instance = new BlnkSgOps();
  if (!instance->open) instance->open = [](const char* path, int flags) { return ::open(path, flags); };
  if (!instance->ioctl)
    instance->ioctl = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); };
  if (!instance->close) instance->close = [](int fd) { return ::close(fd); };
  return *instance;
}

// "/dev/" and a plain node name: a tampered device list cannot make us open anything else.
bool plainNodeName(const std::string& name) {
  if (name.rfind("/dev/", 0) != 0 || name.size() == 5 || name.find("..") != std::string::npos) return false;
  for (size_t i = 5; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (std::isalnum(c) == 0 && c != '_' && c != '-' && c != '/') return false;
  }
  return true;
}

class SgDevice : public BlnkDevice {
 public:
  explicit SgDevice(int fd) : fd_(fd) {}
  ~SgDevice() override { ops().close(fd_); }

  BlnkRawOutcome issue(int direction, const uint8_t* cdb, int cdbLength, uint8_t* buffer,
                       int bufferLength) override {
    static unsigned packetId = 0;
    BlnkRawOutcome outcome;
    sg_io_hdr_t header;
    blnkBuildSgHeader(direction, cdb, cdbLength, buffer, bufferLength, outcome.sense, ++packetId, &header);
    if (ops().ioctl(fd_, SG_IO, &header) < 0) return outcome;
    outcome.issued = true;
    outcome.status = header.status;
    outcome.hostStatus = header.host_status;
    outcome.driverStatus = header.driver_status;
    outcome.senseLength = std::min<int>(header.sb_len_wr, kBlnkSenseBytes);
    return outcome;
  }

 private:
  int fd_;
};

int failOpen(int fd, const char* what, const std::string& name) {
  int saved = errno;
  std::printf("Device failed open on %s device \"%s\" - %s\n", what, name.c_str(), std::strerror(saved));
  ops().close(fd);
  return -1;
}

// The open sequence; returns the handle or -1.
int openNode(const std::string& name) {
  std::string path = blnkHostPath(name);
  int fd = ops().open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = ops().open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    int timeout = kBlnkSgDriverTimeout;
    ops().ioctl(fd, SG_SET_TIMEOUT, &timeout);
    ops().close(fd);
    fd = ops().open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) {
    std::printf("Cannot open SCSI/FC-AL device \"%s\" - %s\n", name.c_str(), std::strerror(errno));
    return -1;
  }
  int idlun[2] = {0, 0};
  if (ops().ioctl(fd, SCSI_IOCTL_GET_IDLUN, idlun) < 0) return failOpen(fd, "SCSI_IOCTL_GET_IDLUN", name);
  int bus = 0;
  if (ops().ioctl(fd, SCSI_IOCTL_GET_BUS_NUMBER, &bus) < 0)
    return failOpen(fd, "SCSI_IOCTL_GET_BUS_NUMBER", name);
  int reserved = 0;
  if (ops().ioctl(fd, SG_GET_RESERVED_SIZE, &reserved) < 0) return failOpen(fd, "SG_GET_RESERVED_SIZE", name);
  int version = 0;
  ops().ioctl(fd, SG_GET_VERSION_NUM, &version);
  if (reserved < kBlnkSgReservedSize) {
    reserved = kBlnkSgReservedSize;
    if (ops().ioctl(fd, SG_SET_RESERVED_SIZE, &reserved) < 0)
      return failOpen(fd, "SG_SET_RESERVED_SIZE", name);
  }
  return fd;
}

}  // namespace

void blnkSetSgOpsForTesting(BlnkSgOps replacement) { ops() = std::move(replacement); }

void blnkBuildSgHeader(int direction, const uint8_t* cdb, int cdbLength, uint8_t* buffer, int bufferLength,
                       uint8_t* sense, unsigned packetId, sg_io_hdr_t* header) {
  std::memset(header, 0, sizeof(*header));
  header->interface_id = 'S';
  bool noData = bufferLength <= 0 || buffer == nullptr || (direction != 1 && direction != 2);
  header->dxfer_direction = noData ? SG_DXFER_NONE : direction == 1 ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  header->cmd_len = static_cast<unsigned char>(cdbLength);
  header->cmdp = const_cast<unsigned char*>(cdb);
  header->mx_sb_len = kBlnkSenseBytes;
  header->sbp = sense;
  header->dxfer_len = noData ? 0 : static_cast<unsigned>(bufferLength);
  header->dxferp = noData ? nullptr : buffer;
  header->timeout = kBlnkTimeoutMs;
  header->pack_id = static_cast<int>(packetId);
}

std::unique_ptr<BlnkDevice> blnkOpenSgDevice(const std::string& name) {
  if (!plainNodeName(name)) {
    std::printf("Cannot open SCSI/FC-AL device \"%s\" - %s\n", name.c_str(), "not a device node name");
    return nullptr;
  }
  int fd = openNode(name);
  if (fd < 0) return nullptr;
  return std::make_unique<SgDevice>(fd);
}

std::unique_ptr<BlnkDevice> blnkOpenHostDevice(const std::string& name, const std::string& listLine) {
  (void)listLine;  // a node's address is its own
  return blnkOpenSgDevice(name);
}
