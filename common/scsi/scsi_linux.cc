// Linux back end of the SCSI layer; see scsi_linux.h.
#include "common/scsi/scsi_linux.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

namespace fs = std::filesystem;

namespace {

constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint16_t kHostTimeOut = 0x03;    // DID_TIME_OUT
constexpr uint16_t kDriverTimeout = 0x06;  // DRIVER_TIMEOUT
constexpr uint16_t kDriverSense = 0x08;    // DRIVER_SENSE
constexpr uint32_t kPageKb = 4;

struct Hctl {
  int host = 0;
  int channel = 0;
  int target = 0;
  int lun = 0;
  bool operator<(const Hctl& o) const {
    return std::tie(host, channel, target, lun) < std::tie(o.host, o.channel, o.target, o.lun);
  }
};

std::optional<std::string> readText(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

std::optional<long long> readNumber(const fs::path& path) {
  std::optional<std::string> text = readText(path);
  if (!text || text->empty()) return std::nullopt;
  char* end = nullptr;
  long long value = std::strtoll(text->c_str(), &end, 10);
  if (end == text->c_str() || *end != '\0') return std::nullopt;
  return value;
}

bool parseHctl(const std::string& text, Hctl* out) {
  char tail = 0;
  return std::sscanf(text.c_str(), "%d:%d:%d:%d%c", &out->host, &out->channel, &out->target, &out->lun,
                     &tail) == 4;
}

// Copies text into field, blank-padded, as INQUIRY data holds it.
void putPadded(uint8_t* field, size_t width, const std::string& text) {
  std::memset(field, ' ', width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

// "/dev/" followed by a plain node path: no "..", no odd characters, so a name can never open
// anything outside the device folder.
bool safeNodeName(std::string_view name) {
  constexpr std::string_view kDev = "/dev/";
  if (name.substr(0, kDev.size()) != kDev || name.size() == kDev.size()) return false;
  std::string_view rest = name.substr(kDev.size());
  if (rest.find("..") != std::string_view::npos) return false;
  return std::all_of(rest.begin(), rest.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '/' || c == '.';
  });
}

class LinuxTransport : public ScsiTransport {
 public:
  explicit LinuxTransport(LinuxScsiOps ops) : ops_(std::move(ops)) {
    if (!ops_.open) ops_.open = [](const char* path, int flags) { return ::open(path, flags); };
    if (!ops_.ioctl)
      ops_.ioctl = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); };
    if (!ops_.close) ops_.close = [](int fd) { return ::close(fd); };
  }

  std::vector<ScsiAdapter> listAdapters() override {
    std::vector<ScsiAdapter> adapters;
    std::vector<int> hosts = listHosts();
    for (size_t i = 0; i < hosts.size(); ++i) adapters.push_back(ScsiAdapter{static_cast<int>(i), ""});
    return adapters;
  }

  void rescanBus(int port) override {
    std::vector<int> hosts = listHosts();
    if (port < 0 || static_cast<size_t>(port) >= hosts.size()) return;
    std::ofstream scan(hostDir(hosts[port]) / "scan");
    scan << "- - -\n";
  }

  bool readBusTable(int port, std::vector<ScsiBusEntry>* entries) override {
    std::vector<int> hosts = listHosts();
    if (port < 0 || static_cast<size_t>(port) >= hosts.size()) return false;
    long long thisId = readNumber(hostDir(hosts[port]) / "this_id").value_or(-1);
    entries->clear();
    for (const auto& [hctl, dir] : listDevices()) {
      if (hctl.host != hosts[port]) continue;
      ScsiBusEntry entry;
      entry.initiatorBusId = static_cast<uint8_t>(thisId);
      entry.pathId = static_cast<uint8_t>(hctl.channel);
      entry.targetId = static_cast<uint8_t>(hctl.target);
      entry.lun = static_cast<uint8_t>(hctl.lun);
      std::error_code ec;
      entry.claimed = fs::exists(dir / "driver", ec) || fs::exists(dir / "block", ec);
      readInquiry(dir, &entry.inquiry);
      entries->push_back(entry);
    }
    return true;
  }

  std::vector<ScsiDeviceName> listDeviceNames() override {
    std::vector<ScsiDeviceName> names;
    for (const auto& [hctl, dir] : listDevices()) {
      std::string node = genericNode(dir);
      if (!node.empty()) names.push_back({"/dev/" + node, false, 0});
    }
    return names;
  }

  bool deviceAddress(std::string_view name, ScsiAddress* address) override {
    Hctl hctl;
    fs::path dir;
    if (!findByName(name, &hctl, &dir)) return false;
    std::vector<int> hosts = listHosts();
    auto it = std::find(hosts.begin(), hosts.end(), hctl.host);
    if (it == hosts.end()) return false;
    *address = ScsiAddress{static_cast<int>(it - hosts.begin()), hctl.channel, hctl.target, hctl.lun};
    return true;
  }

  ScsiLimitStatus maxPhysicalPages(std::string_view name, uint32_t* pages) override {
    Hctl hctl;
    fs::path dir;
    if (!findByName(name, &hctl, &dir)) return ScsiLimitStatus::kNotOpened;
    std::optional<long long> kb = queueLimitKb(dir);
    // A device without a block device (an enclosure, a processor) still has the queue of its
    // SCSI device, whose limit only the generic node tells (BLKSECTGET, in bytes): sysfs shows
    // queue attributes only under a block device and has no host max_sectors attribute.
    if (!kb) kb = genericNodeLimitKb(std::string(name));
    if (!kb) {
      std::optional<long long> sectors = readNumber(hostDir(hctl.host) / "max_sectors");
      if (sectors && *sectors > 0) kb = *sectors / 2;
    }
    if (!kb || *kb <= 0) return ScsiLimitStatus::kFailed;
    long long count = *kb / kPageKb + 1;
    *pages = count >= 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(count);
    return ScsiLimitStatus::kOk;
  }

  ScsiResult execute(const ScsiCommand& command) override {
    ScsiResult result = validateScsiCommand(command);
    if (result.outcome != ScsiOutcome::kGood) return result;
    constexpr std::string_view kDev = "/dev/";
    if (!safeNodeName(command.device)) {
      result.outcome = ScsiOutcome::kInvalid;
      result.error = EINVAL;
      return result;
    }
    std::string node = ops_.devRoot + "/" + std::string(command.device.substr(kDev.size()));
    int fd = ops_.open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      result.outcome = ScsiOutcome::kNoAnswer;
      result.error = errno != 0 ? errno : ENODEV;
      return result;
    }
    sg_io_hdr_t header;
    buildSgIoHeader(command, &header);
    errno = 0;
    int rc = ops_.ioctl(fd, SG_IO, &header);
    int savedErrno = errno;
    ops_.close(fd);
    return classifySgIoResult(header, rc, savedErrno);
  }

 private:
  fs::path hostDir(int host) const {
    return fs::path(ops_.sysfsRoot) / "class/scsi_host" / ("host" + std::to_string(host));
  }

  std::vector<int> listHosts() const {
    std::vector<int> hosts;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(ops_.sysfsRoot) / "class/scsi_host", ec)) {
      std::string name = entry.path().filename().string();
      int number = 0;
      char tail = 0;
      if (std::sscanf(name.c_str(), "host%d%c", &number, &tail) == 1 && number >= 0) hosts.push_back(number);
    }
    std::sort(hosts.begin(), hosts.end());
    return hosts;
  }

  std::vector<std::pair<Hctl, fs::path>> listDevices() const {
    std::vector<std::pair<Hctl, fs::path>> devices;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(ops_.sysfsRoot) / "bus/scsi/devices", ec)) {
      Hctl hctl;
      if (parseHctl(entry.path().filename().string(), &hctl)) devices.emplace_back(hctl, entry.path());
    }
    std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return devices;
  }

  // "sgN" of a device directory, or empty.
  static std::string genericNode(const fs::path& dir) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir / "scsi_generic", ec)) {
      std::string name = entry.path().filename().string();
      if (name.rfind("sg", 0) == 0) return name;
    }
    return "";
  }

  bool findByName(std::string_view name, Hctl* hctl, fs::path* dir) const {
    constexpr std::string_view kDev = "/dev/";
    if (name.substr(0, kDev.size()) != kDev) return false;
    std::string_view node = name.substr(kDev.size());
    for (const auto& [candidate, path] : listDevices()) {
      if (genericNode(path) == node) {
        *hctl = candidate;
        *dir = path;
        return true;
      }
    }
    return false;
  }

  std::optional<long long> genericNodeLimitKb(const std::string& name) const {
    if (!safeNodeName(name)) return std::nullopt;
    std::string node = ops_.devRoot + "/" + name.substr(5);
    int fd = ops_.open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    int bytes = 0;
    int rc = ops_.ioctl(fd, BLKSECTGET, &bytes);
    ops_.close(fd);
    if (rc != 0 || bytes <= 0) return std::nullopt;
    return bytes / 1024;
  }

  static std::optional<long long> queueLimitKb(const fs::path& dir) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir / "block", ec)) {
      for (const char* attribute : {"max_sectors_kb", "max_hw_sectors_kb"}) {
        std::optional<long long> kb = readNumber(entry.path() / "queue" / attribute);
        if (kb && *kb > 0) return kb;
      }
    }
    return std::nullopt;
  }

  static void readInquiry(const fs::path& dir, std::array<uint8_t, kScsiInquiryBytes>* inquiry) {
    inquiry->fill(0);
    std::ifstream in(dir / "inquiry", std::ios::binary);
    if (in) {
      in.read(reinterpret_cast<char*>(inquiry->data()), inquiry->size());
      if (in.gcount() >= 36) return;
      inquiry->fill(0);
    }
    // Older kernels have no inquiry attribute: rebuild the standard fields from the text ones.
    (*inquiry)[0] = static_cast<uint8_t>(readNumber(dir / "type").value_or(0x1F) & 0x1F);
    (*inquiry)[2] = 5;
    (*inquiry)[3] = 2;
    (*inquiry)[4] = static_cast<uint8_t>(kScsiInquiryBytes - 5);
    putPadded(inquiry->data() + 8, 8, readText(dir / "vendor").value_or(""));
    putPadded(inquiry->data() + 16, 16, readText(dir / "model").value_or(""));
    putPadded(inquiry->data() + 32, 4, readText(dir / "rev").value_or(""));
  }

  LinuxScsiOps ops_;
};

}  // namespace

std::unique_ptr<ScsiTransport> makeLinuxScsiTransport(LinuxScsiOps ops) {
  return std::make_unique<LinuxTransport>(std::move(ops));
}

void buildSgIoHeader(const ScsiCommand& command, sg_io_hdr_t* header) {
  std::memset(header, 0, sizeof(*header));
  header->interface_id = 'S';
  switch (command.dataLength == 0 ? ScsiDirection::kNone : command.direction) {
    case ScsiDirection::kIn:
      header->dxfer_direction = SG_DXFER_FROM_DEV;
      break;
    case ScsiDirection::kOut:
      header->dxfer_direction = SG_DXFER_TO_DEV;
      break;
    case ScsiDirection::kNone:
      header->dxfer_direction = SG_DXFER_NONE;
      break;
  }
  header->cmd_len = command.cdbLength;
  header->cmdp = const_cast<unsigned char*>(command.cdb);
  header->dxfer_len = header->dxfer_direction == SG_DXFER_NONE ? 0 : command.dataLength;
  header->dxferp = header->dxfer_len != 0 ? command.data : nullptr;
  header->mx_sb_len = command.sense != nullptr ? command.senseCapacity : 0;
  header->sbp = header->mx_sb_len != 0 ? command.sense : nullptr;
  header->timeout = command.timeoutMs == 0 ? kScsiDefaultTimeoutMs : command.timeoutMs;
}

ScsiResult classifySgIoResult(const sg_io_hdr_t& header, int ioctlResult, int ioctlErrno) {
  ScsiResult result;
  if (ioctlResult < 0) {
    result.outcome = ioctlErrno == ETIMEDOUT ? ScsiOutcome::kTimeout : ScsiOutcome::kNoAnswer;
    result.error = ioctlErrno != 0 ? ioctlErrno : EIO;
    return result;
  }
  uint16_t driver = header.driver_status & 0x0F;
  if (header.host_status == kHostTimeOut || driver == kDriverTimeout) {
    result.outcome = ScsiOutcome::kTimeout;
    result.error = ETIMEDOUT;
    return result;
  }
  if (header.host_status != 0 || (driver != 0 && driver != kDriverSense)) {
    result.outcome = ScsiOutcome::kNoAnswer;
    result.error = EIO;
    return result;
  }
  result.senseLength = std::min<uint8_t>(header.sb_len_wr, header.mx_sb_len);
  int resid = std::max(0, header.resid);
  result.transferred = header.dxfer_len > static_cast<unsigned>(resid) ? header.dxfer_len - resid : 0;
  result.status = header.status & 0xFE;
  // Sense reported by the driver without a status byte still means the command failed, unless
  // it only tells of a recovered error (sense key 1) or nothing (0).
  uint8_t senseKey = 0;
  if (result.senseLength > 2) {
    bool descriptorFormat = (header.sbp[0] & 0x7F) >= 0x72;
    senseKey = (descriptorFormat ? header.sbp[1] : header.sbp[2]) & 0x0F;
  }
  if (result.status == 0 && driver == kDriverSense && senseKey > 1) result.status = kStatusCheckCondition;
  if (result.status == 0) {
    result.outcome = ScsiOutcome::kGood;
  } else if (result.status == kStatusCheckCondition) {
    result.outcome = ScsiOutcome::kCheckCondition;
  } else {
    result.outcome = ScsiOutcome::kStatus;
  }
  if (result.outcome != ScsiOutcome::kCheckCondition && result.outcome != ScsiOutcome::kGood)
    result.senseLength = 0;
  return result;
}

std::pair<std::string, std::unique_ptr<ScsiTransport>> makeNativeScsiTransport() {
  return {"/dev/", makeLinuxScsiTransport(LinuxScsiOps{})};
}
