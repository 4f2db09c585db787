// Windows back end of the SCSI layer; see scsi_win.h.
#include <windows.h>
// after windows.h: the control-code macros, then the SCSI port structures
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "common/scsi/scsi_win.h"
#include "common/thread_annotations.h"

namespace {

constexpr int kAdapterPorts = 25;
constexpr DWORD kInquiryBufferBytes = 8192;
constexpr DWORD kDosDeviceBufferChars = 0x3FFFF;
constexpr const char kAdapterPrefix[] = "\\\\.\\SCSI";
constexpr uint8_t kSenseBytes = 32;

// The pass-through request with its sense area right behind it, as the driver expects.
struct PassThroughWithSense {
  SCSI_PASS_THROUGH_DIRECT request;
  ULONG align;
  UCHAR sense[kSenseBytes];
};

int errnoFromWindows(uint32_t error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENODEV;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_FUNCTION:
      return EINVAL;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
      return ETIMEDOUT;
    default:
      return EIO;
  }
}

WinScsiOps withDefaults(WinScsiOps ops) {
  if (!ops.open) {
    ops.open = [](const std::string& path) -> void* {
      HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
      return h == INVALID_HANDLE_VALUE ? nullptr : h;
    };
  }
  if (!ops.ioctl) {
    ops.ioctl = [](void* handle, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                   uint32_t* returned, uint32_t* error) {
      DWORD got = 0;
      const BOOL ok = DeviceIoControl(static_cast<HANDLE>(handle), code, in, inSize, out, outSize, &got, nullptr);
      *returned = got;
      *error = ok ? 0 : GetLastError();
      return ok != FALSE;
    };
  }
  if (!ops.close) ops.close = [](void* handle) { CloseHandle(static_cast<HANDLE>(handle)); };
  if (!ops.listDosDevices) {
    ops.listDosDevices = [] {
      std::string buffer(kDosDeviceBufferChars, '\0');
      const DWORD length = QueryDosDeviceA(nullptr, buffer.data(), kDosDeviceBufferChars);
      buffer.resize(length);
      return buffer;
    };
  }
  return ops;
}

std::string adapterPath(int number) { return kAdapterPrefix + std::to_string(number) + ":"; }

// Closes the handle when it goes out of scope.
class Handle {
 public:
  Handle(const WinScsiOps& ops, const std::string& path) : ops_(ops), handle_(ops.open(path)) {}
  ~Handle() {
    if (handle_ != nullptr) ops_.close(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void* get() const { return handle_; }

 private:
  const WinScsiOps& ops_;
  void* handle_;
};

class WinTransport : public ScsiTransport {
 public:
  explicit WinTransport(WinScsiOps ops) : ops_(withDefaults(std::move(ops))) {}

  std::vector<ScsiAdapter> listAdapters() override {
    std::vector<int> numbers;
    std::vector<ScsiAdapter> adapters;
    for (int n = 0; n < kAdapterPorts; ++n) {
      Handle adapter(ops_, adapterPath(n));
      if (adapter.get() == nullptr) continue;
      adapters.push_back(ScsiAdapter{static_cast<int>(numbers.size()), adapterPath(n)});
      numbers.push_back(n);
    }
    MutexLock lock(mu_);
    numbers_ = std::move(numbers);
    return adapters;
  }

  void rescanBus(int port) override {
    const int number = adapterNumber(port);
    if (number < 0) return;
    Handle adapter(ops_, adapterPath(number));
    if (adapter.get() == nullptr) return;
    uint32_t returned = 0, error = 0;
    (void)ops_.ioctl(adapter.get(), IOCTL_SCSI_RESCAN_BUS, nullptr, 0, nullptr, 0, &returned, &error);
  }

  bool readBusTable(int port, std::vector<ScsiBusEntry>* entries) override {
    entries->clear();
    const int number = adapterNumber(port);
    if (number < 0) return false;
    Handle adapter(ops_, adapterPath(number));
    if (adapter.get() == nullptr) return false;
    std::vector<uint8_t> buffer(kInquiryBufferBytes, 0);
    uint32_t returned = 0, error = 0;
    if (!ops_.ioctl(adapter.get(), IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), kInquiryBufferBytes,
                    &returned, &error) ||
        returned == 0) {
      return false;
    }
    return parseAdapterBusInfo(buffer.data(), std::min<size_t>(returned, buffer.size()), entries);
  }

  std::vector<ScsiDeviceName> listDeviceNames() override {
    std::vector<ScsiDeviceName> names;
    for (const std::string& name : scsiNamesFromDosDevices(ops_.listDosDevices())) {
      ScsiDeviceName entry{name, false, 0};
      if (name.rfind(kAdapterPrefix, 0) == 0) {
        // The adapter number: the decimal digits from the ninth character on.
        const int number = std::atoi(name.c_str() + std::strlen(kAdapterPrefix));
        const int port = portOfNumber(number);
        if (port < 0) continue;
        entry.isAdapter = true;
        entry.port = port;
      }
      names.push_back(std::move(entry));
    }
    return names;
  }

  bool deviceAddress(std::string_view name, ScsiAddress* address) override {
    Handle device(ops_, std::string(name));
    if (device.get() == nullptr) return false;
    SCSI_ADDRESS scsi{};
    uint32_t returned = 0, error = 0;
    if (!ops_.ioctl(device.get(), IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &scsi, sizeof(scsi), &returned, &error)) {
      return false;
    }
    const int port = portOfNumber(scsi.PortNumber);
    if (port < 0) return false;
    *address = ScsiAddress{port, scsi.PathId, scsi.TargetId, scsi.Lun};
    return true;
  }

  ScsiLimitStatus maxPhysicalPages(std::string_view name, uint32_t* pages) override {
    Handle device(ops_, std::string(name));
    if (device.get() == nullptr) return ScsiLimitStatus::kNotOpened;
    IO_SCSI_CAPABILITIES capabilities{};
    uint32_t returned = 0, error = 0;
    if (!ops_.ioctl(device.get(), IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &capabilities, sizeof(capabilities),
                    &returned, &error)) {
      return ScsiLimitStatus::kFailed;
    }
    *pages = capabilities.MaximumPhysicalPages;
    return ScsiLimitStatus::kOk;
  }

  ScsiResult execute(const ScsiCommand& command) override {
    ScsiResult result = validateScsiCommand(command);
    if (result.outcome != ScsiOutcome::kGood) return result;
    if (command.device.rfind("\\\\.\\", 0) != 0 || command.device.find('#') != std::string_view::npos) {
      result.outcome = ScsiOutcome::kInvalid;
      result.error = EINVAL;
      return result;
    }
    Handle device(ops_, std::string(command.device));
    if (device.get() == nullptr) {
      result.outcome = ScsiOutcome::kNoAnswer;
      result.error = ENODEV;
      return result;
    }
    PassThroughWithSense request{};
    SCSI_PASS_THROUGH_DIRECT& sptd = request.request;
    sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    sptd.PathId = command.path;
    sptd.TargetId = command.target;
    sptd.Lun = command.lun;
    sptd.CdbLength = command.cdbLength;
    sptd.SenseInfoLength = kSenseBytes;
    sptd.DataIn = command.direction == ScsiDirection::kIn    ? SCSI_IOCTL_DATA_IN
                  : command.direction == ScsiDirection::kOut ? SCSI_IOCTL_DATA_OUT
                                                             : SCSI_IOCTL_DATA_UNSPECIFIED;
    sptd.DataTransferLength = command.dataLength;
    const uint32_t timeoutMs = command.timeoutMs != 0 ? command.timeoutMs : kScsiDefaultTimeoutMs;
    sptd.TimeOutValue = (timeoutMs + 999) / 1000;
    sptd.DataBuffer = command.dataLength != 0 ? command.data : nullptr;
    sptd.SenseInfoOffset = offsetof(PassThroughWithSense, sense);
    std::memcpy(sptd.Cdb, command.cdb, command.cdbLength);

    uint32_t returned = 0, error = 0;
    if (!ops_.ioctl(device.get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof(request), &request,
                    sizeof(request), &returned, &error)) {
      result.error = errnoFromWindows(error);
      result.outcome = result.error == ETIMEDOUT ? ScsiOutcome::kTimeout : ScsiOutcome::kNoAnswer;
      if (command.senseCapacity != 0) std::memset(command.sense, 0, command.senseCapacity);
      return result;
    }
    result.status = sptd.ScsiStatus;
    result.transferred = std::min<uint32_t>(sptd.DataTransferLength, command.dataLength);
    if (sptd.ScsiStatus == 0) {
      result.outcome = ScsiOutcome::kGood;
    } else if (sptd.ScsiStatus == 2) {
      result.outcome = ScsiOutcome::kCheckCondition;
      const uint8_t length = std::min<uint8_t>(std::min<uint8_t>(sptd.SenseInfoLength, kSenseBytes),
                                               command.senseCapacity);
      if (length != 0) std::memcpy(command.sense, request.sense, length);
      result.senseLength = length;
    } else {
      result.outcome = ScsiOutcome::kStatus;
    }
    return result;
  }

 private:
  int adapterNumber(int port) {
    MutexLock lock(mu_);
    if (port < 0 || static_cast<size_t>(port) >= numbers_.size()) return -1;
    return numbers_[port];
  }

  int portOfNumber(int number) {
    MutexLock lock(mu_);
    auto it = std::find(numbers_.begin(), numbers_.end(), number);
    return it == numbers_.end() ? -1 : static_cast<int>(it - numbers_.begin());
  }

  const WinScsiOps ops_;
  Mutex mu_;
  std::vector<int> numbers_ GUARDED_BY(mu_);  // adapter number n of each port
};

template <typename T>
bool readAt(const uint8_t* block, size_t size, size_t offset, T* out) {
  if (offset > size || size - offset < sizeof(T)) return false;
  std::memcpy(out, block + offset, sizeof(T));
  return true;
}

}  // namespace

bool parseAdapterBusInfo(const uint8_t* block, size_t size, std::vector<ScsiBusEntry>* entries) {
  if (block == nullptr || size < 1) return false;
  const uint8_t buses = block[0];
  const size_t busBase = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
  if (size < busBase + buses * sizeof(SCSI_BUS_DATA)) return false;
  for (uint8_t b = 0; b < buses; ++b) {
    SCSI_BUS_DATA bus;
    std::memcpy(&bus, block + busBase + b * sizeof(SCSI_BUS_DATA), sizeof(bus));
    size_t offset = bus.InquiryDataOffset;
    for (int unit = 0; unit < bus.NumberOfLogicalUnits && offset != 0; ++unit) {
      SCSI_INQUIRY_DATA item;
      const size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
      if (offset > size || size - offset < header) break;
      std::memcpy(&item, block + offset, header);
      ScsiBusEntry entry;
      entry.initiatorBusId = bus.InitiatorBusId;
      entry.pathId = item.PathId;
      entry.targetId = item.TargetId;
      entry.lun = item.Lun;
      entry.claimed = item.DeviceClaimed != 0;
      const size_t available = size - offset - header;
      const size_t copy = std::min<size_t>({item.InquiryDataLength, available, kScsiInquiryBytes});
      std::memcpy(entry.inquiry.data(), block + offset + header, copy);
      entries->push_back(entry);
      // A chain that points back at or before itself would never end.
      if (item.NextInquiryDataOffset <= offset) break;
      offset = item.NextInquiryDataOffset;
    }
  }
  return true;
}

std::vector<std::string> scsiNamesFromDosDevices(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\0', start);
    if (end == std::string::npos) end = list.size();
    std::string name = "\\\\.\\" + list.substr(start, end - start);
    start = end + 1;
    if (name.size() == 4) continue;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const bool wanted = name.find("\\\\.\\PHYSICALDRIVE") != std::string::npos ||
                        name.find("\\\\.\\SCSI") != std::string::npos ||
                        name.find("\\\\.\\SCANNER") != std::string::npos;
    if (wanted && name.find('#') == std::string::npos) names.push_back(std::move(name));
  }
  return names;
}

std::unique_ptr<ScsiTransport> makeWinScsiTransport(WinScsiOps ops) {
  return std::make_unique<WinTransport>(std::move(ops));
}

std::pair<std::string, std::unique_ptr<ScsiTransport>> makeNativeScsiTransport() {
  return {"\\\\.\\", makeWinScsiTransport(WinScsiOps{})};
}
