// Helpers for the Brivo module's unit tests: a fake SCSI transport that records every command and
// answers through per-device responders (installed as the process-wide transport), a builder that
// owns a device list like the server's, controller-information buffers, a temporary working
// folder with the module's files, and a services table that records raised events.
//
// Thread safety: the fake transport may be called from any thread (it locks); everything else
// belongs to the test's thread.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/device_list.h"
#include "common/module_abi.h"
#include "common/scsi/scsi_transport.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/protocol.h"

namespace brivo::testing {

struct SentCommand {
  std::string device;
  uint8_t path = 0, target = 0, lun = 0;
  std::array<uint8_t, 10> cdb{};
  ScsiDirection direction = ScsiDirection::kNone;
  uint32_t length = 0;
  uint32_t timeoutMs = 0;
  std::vector<uint8_t> data;  // what a WRITE BUFFER carried
};

inline uint32_t cdbOffset(const ScsiCommand& c) { return c.cdb[3] << 16 | c.cdb[4] << 8 | c.cdb[5]; }

inline ScsiResult goodResult(uint32_t transferred) {
  ScsiResult r;
  r.outcome = ScsiOutcome::kGood;
  r.transferred = transferred;
  return r;
}

inline ScsiResult checkCondition(const ScsiCommand& c, uint8_t key, uint8_t asc, uint8_t ascq) {
  ScsiResult r;
  r.outcome = ScsiOutcome::kCheckCondition;
  r.status = 2;
  if (c.sense != nullptr && c.senseCapacity >= 14) {
    std::memset(c.sense, 0, c.senseCapacity);
    c.sense[0] = 0x70;
    c.sense[2] = key;
    c.sense[7] = 10;
    c.sense[12] = asc;
    c.sense[13] = ascq;
    r.senseLength = 18;
  }
  return r;
}

inline ScsiResult noAnswer() {
  ScsiResult r;
  r.outcome = ScsiOutcome::kNoAnswer;
  r.error = 5;
  return r;
}

class FakeControllers : public ScsiTransport {
 public:
  using Responder = std::function<ScsiResult(const ScsiCommand&)>;

  void answer(const std::string& device, Responder responder) {
    std::lock_guard<std::mutex> lock(mu_);
    responders_[device] = std::move(responder);
  }
  std::vector<SentCommand> sent() const {
    std::lock_guard<std::mutex> lock(mu_);
    return sent_;
  }
  void clearSent() {
    std::lock_guard<std::mutex> lock(mu_);
    sent_.clear();
  }

  std::vector<ScsiAdapter> listAdapters() override { return {}; }
  bool readBusTable(int, std::vector<ScsiBusEntry>*) override { return false; }
  std::vector<ScsiDeviceName> listDeviceNames() override { return {}; }
  bool deviceAddress(std::string_view, ScsiAddress*) override { return false; }
  ScsiLimitStatus maxPhysicalPages(std::string_view, uint32_t*) override {
    return ScsiLimitStatus::kNotOpened;
  }

  ScsiResult execute(const ScsiCommand& command) override {
    Responder responder;
    {
      std::lock_guard<std::mutex> lock(mu_);
      SentCommand record;
      record.device = std::string(command.device);
      record.path = command.path;
      record.target = command.target;
      record.lun = command.lun;
      std::memcpy(record.cdb.data(), command.cdb, std::min<size_t>(command.cdbLength, 10));
      record.direction = command.direction;
      record.length = command.dataLength;
      record.timeoutMs = command.timeoutMs;
      if (command.direction == ScsiDirection::kOut)
        record.data.assign(command.data, command.data + command.dataLength);
      sent_.push_back(std::move(record));
      auto found = responders_.find(std::string(command.device));
      if (found != responders_.end()) responder = found->second;
    }
    return responder ? responder(command) : noAnswer();
  }

 private:
  mutable std::mutex mu_;
  std::map<std::string, Responder> responders_;
  std::vector<SentCommand> sent_;
};

// Makes a FakeControllers the process-wide transport for the scope.
class FakeTransportScope {
 public:
  FakeTransportScope() {
    auto fake = std::make_unique<FakeControllers>();
    fake_ = fake.get();
    setScsiSystemForTesting(std::move(fake));
  }
  ~FakeTransportScope() { setScsiSystemForTesting(nullptr); }
  FakeControllers& operator*() { return *fake_; }
  FakeControllers* operator->() { return fake_; }

 private:
  FakeControllers* fake_;
};

// Serves READ BUFFER from buffer (offset from bytes 3-5 outside mode 1) and accepts writes.
inline FakeControllers::Responder bufferResponder(std::vector<uint8_t> buffer) {
  return [buffer = std::move(buffer)](const ScsiCommand& c) {
    if (c.direction != ScsiDirection::kIn) return goodResult(c.dataLength);
    const uint32_t offset = c.cdb[1] == kModeCommand ? 0 : cdbOffset(c);
    std::memset(c.data, 0, c.dataLength);
    if (offset < buffer.size()) {
      std::memcpy(c.data, buffer.data() + offset, std::min<size_t>(c.dataLength, buffer.size() - offset));
    }
    return goodResult(c.dataLength);
  };
}

struct RecordSpec {
  uint64_t wwn = 0x20000004CF8A1B2CULL;
  uint8_t family = 0x81;
  uint8_t byte188 = 0;
  std::array<uint8_t, 4> interfaceWord{3, 2, 0x21, 0};  // SAS drives, 2 loops; FC host, 2 ports
};

inline void putWwn(uint64_t wwn, uint8_t* out) {
  for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(wwn >> (56 - 8 * k));
}

// A controller-information buffer (1792 bytes) with both records filled from a and b.
inline std::vector<uint8_t> controllerInformation(uint8_t stateA, uint8_t stateB, const RecordSpec& a,
                                                  const RecordSpec& b) {
  std::vector<uint8_t> buffer(kControllerInfoLength, 0);
  auto* info = reinterpret_cast<ControllerInformation*>(buffer.data());
  info->length = kControllerInfoLength;
  info->stateA = stateA;
  info->stateB = stateB;
  const RecordSpec* specs[2] = {&a, &b};
  for (int c = 0; c < 2; ++c) {
    ControllerRecord& r = info->controllers[c];
    putWwn(specs[c]->wwn, r.configurationWwn);
    r.family = specs[c]->family;
    r.olderFamilyType2 = specs[c]->byte188;
    std::memcpy(&r.driveInterface, specs[c]->interfaceWord.data(), 4);
  }
  return buffer;
}
inline std::vector<uint8_t> controllerInformation(const RecordSpec& both = RecordSpec{}) {
  return controllerInformation(kOn, kOn, both, both);
}

// Owns a device list the way the server does; frees every unit (Brivo states included) at the end.
class DeviceList {
 public:
  struct Spec {
    std::string name;
    uint8_t target = 0;
    uint8_t type = 0;  // peripheral device type
    std::string vendor = "KESTROVA";
    std::string product = "BRIVO RAID";
    uint32_t maxTransfer = 0;
    int32_t valid = DEVICE_RECORD_VALID;
  };
  DeviceList() = default;
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  ~DeviceList() {
    while (head_ != nullptr) {
      DeviceRecord* next = head_->next;
      freeUnits(head_);
      std::free(head_->info);
      std::free(head_);
      head_ = next;
    }
  }

  DeviceRecord* add(const Spec& spec) {
    auto* record = static_cast<DeviceRecord*>(std::calloc(1, sizeof(DeviceRecord)));
    auto* info = static_cast<DeviceInfo*>(std::calloc(1, sizeof(DeviceInfo)));
    record->valid = spec.valid;
    record->info = info;
    info->targetId = spec.target;
    std::snprintf(info->deviceName, sizeof(info->deviceName), "%s", spec.name.c_str());
    info->maxTransferSize = spec.maxTransfer;
    info->inquiryData[0] = spec.type;
    std::memset(info->inquiryData + 8, ' ', 24);
    std::memcpy(info->inquiryData + 8, spec.vendor.data(), std::min<size_t>(spec.vendor.size(), 8));
    std::memcpy(info->inquiryData + 16, spec.product.data(), std::min<size_t>(spec.product.size(), 16));
    DeviceRecord** link = &head_;
    while (*link != nullptr) link = &(*link)->next;
    *link = record;
    return record;
  }
  DeviceRecord* add(const std::string& name, uint8_t type = 0, uint32_t maxTransfer = 0) {
    Spec spec;
    spec.name = name;
    spec.type = type;
    spec.maxTransfer = maxTransfer;
    return add(spec);
  }
  // Hangs a Brivo item with a fresh state (or a foreign item when state is false) on device.
  ModDeviceItem* hangItem(DeviceRecord* device, const std::string& name, bool withState = true) {
    auto* item = static_cast<ModDeviceItem*>(std::calloc(1, sizeof(ModDeviceItem)));
    std::snprintf(item->name, sizeof(item->name), "%s", name.c_str());
    item->modStatus = UNCLAIMED;
    if (withState && name.rfind(kBrivoNamePrefix, 0) == 0) item->modState = newDeviceState();
    ModDeviceItem** link = &device->units;
    while (*link != nullptr) link = &(*link)->next;
    *link = item;
    return item;
  }
  DeviceRecord* head() const { return head_; }
  static int unitCount(const DeviceRecord* device) {
    int n = 0;
    for (const ModDeviceItem* u = device->units; u != nullptr; u = u->next) ++n;
    return n;
  }

 private:
  static void freeUnits(DeviceRecord* record) {
    while (record->units != nullptr) {
      ModDeviceItem* next = record->units->next;
      if (isBrivoItem(record->units)) {
        freeDeviceState(stateOf(record->units));
      } else {
        std::free(record->units->modState);
      }
      std::free(record->units);
      record->units = next;
    }
  }
  DeviceRecord* head_ = nullptr;
};

// Sets the module's running flag for the scope.
class RunningModule {
 public:
  RunningModule() { moduleState().running.store(true); }
  ~RunningModule() { moduleState().running.store(false); }
};

// A temporary working folder (the test changes into it) holding mods/Brivo/ with the files given,
// or with the shipped data files when copyShipped is set.
class ModuleFolder {
 public:
  explicit ModuleFolder(bool copyShipped = false) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-brivo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::create_directories(path_ / "mods/Brivo");
    std::filesystem::create_directories(path_ / "Information");
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    if (copyShipped && source != nullptr) {
      for (const auto& entry :
           std::filesystem::directory_iterator(std::filesystem::path(source) / "data/mods/Brivo")) {
        std::filesystem::copy_file(entry.path(), path_ / "mods/Brivo" / entry.path().filename());
      }
    }
    std::filesystem::current_path(path_);
  }
  ~ModuleFolder() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ModuleFolder(const ModuleFolder&) = delete;
  ModuleFolder& operator=(const ModuleFolder&) = delete;

  void write(const std::string& relative, const std::string& text) const {
    std::ofstream out(path_ / relative, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(path_ / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // A text file as the platform reads text: Windows' CR LF line ends come back as "\n".
  std::string readText(const std::string& relative) const {
    std::ifstream in(path_ / relative);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

// A ModuleServices table whose raiseEvent records the events (one recorder per process).
struct RaisedEventRecord {
  std::string device, message;
  uint32_t level = 0, time = 0, id = 0;
  uint8_t sync = 0;
};
inline std::mutex& raisedLock() {
  static std::mutex lock;
  return lock;
}
inline std::vector<RaisedEventRecord>& raisedEvents() {
  static std::vector<RaisedEventRecord> events;
  return events;
}
inline int recordRaise(const char* device, const char* message, uint32_t level, uint32_t time, uint32_t id,
                       uint8_t sync) {
  std::lock_guard<std::mutex> lock(raisedLock());
  raisedEvents().push_back({device ? device : "", message ? message : "", level, time, id, sync});
  return 0;
}
inline int recordDispatch(const EventRecord*) { return 0; }
inline int quietDebugPrint(uint32_t, const char*, ...) { return 0; }
inline ModuleServices recordingServices() {
  ModuleServices services{};
  services.dispatchEvent = recordDispatch;
  services.raiseEvent = recordRaise;
  services.debugPrint = quietDebugPrint;
  return services;
}

}  // namespace brivo::testing
