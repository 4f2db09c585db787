// The SCSI device scan; see device_scan.h.
#include "common/scsi/device_scan.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/debug.h"

namespace {

constexpr int kMaxPorts = 256;  // the information block holds the port in 8 bits
constexpr uint32_t kPagesTooBig = 0xFFFFFFFFu;
constexpr uint64_t kPageBytes = 4096;

std::atomic<bool> scanning{false};

void emit(const ScanOutput* output, const char* format, ...) __attribute__((format(printf, 2, 3)));

void emit(const ScanOutput* output, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (output != nullptr && output->print != nullptr) {
    output->print(output->context, text);
  } else {
    debugPrint(kScanDebugCode, "%s", text);
  }
}

bool sameDevice(const DeviceInfo& a, const DeviceInfo& b) {
  return a.initiatorBusId == b.initiatorBusId && a.port == b.port && a.targetId == b.targetId &&
         a.lun == b.lun && a.claimed == b.claimed;
}

// Adds one bus-table entry at the tail unless an equal record exists. True when added.
bool addDevice(DeviceRecord** head, int port, const ScsiBusEntry& entry, const ScanOutput* output) {
  DeviceInfo* info = static_cast<DeviceInfo*>(std::calloc(1, sizeof(DeviceInfo)));
  if (info == nullptr) {
    emit(output, "Unable to allocate a device record\n");
    return false;
  }
  info->initiatorBusId = entry.initiatorBusId;
  info->port = static_cast<uint8_t>(port);
  info->pathId = entry.pathId;
  info->targetId = entry.targetId;
  info->lun = entry.lun;
  info->claimed = entry.claimed ? 1 : 0;
  std::memcpy(info->inquiryData, entry.inquiry.data(), DEVICE_INQUIRY_SIZE);
  emit(output, "**  ADDING DEVICE type:%.2x port:%d path:%d target:%d lun:%d devclaimed:%d **\n",
       info->inquiryData[0] & 0x0F, info->port, info->pathId, info->targetId, info->lun, info->claimed);
  DeviceRecord** tail = head;
  for (; *tail != nullptr; tail = &(*tail)->next) {
    if ((*tail)->info != nullptr && sameDevice(*(*tail)->info, *info)) {
      std::free(info);
      return false;
    }
  }
  DeviceRecord* record = static_cast<DeviceRecord*>(std::calloc(1, sizeof(DeviceRecord)));
  if (record == nullptr) {
    emit(output, "Unable to allocate a device record\n");
    std::free(info);
    return false;
  }
  record->valid = DEVICE_RECORD_VALID;
  record->info = info;
  *tail = record;
  return true;
}

// (pages - 1) * 4096, with the "too big" rule; a limit that does not fit 32 bits is too big too.
void setTransferSize(ScsiTransport& transport, DeviceInfo* info, const ScanOutput* output) {
  uint32_t pages = 0;
  switch (transport.maxPhysicalPages(info->deviceName, &pages)) {
    case ScsiLimitStatus::kOk: {
      uint64_t bytes = pages == 0 ? 0 : (static_cast<uint64_t>(pages) - 1) * kPageBytes;
      if (pages == kPagesTooBig || bytes > UINT32_MAX) {
        emit(output, "Maximum Transfer size is too big, setting to default setting\n");
        bytes = 0;
      }
      info->maxTransferSize = static_cast<uint32_t>(bytes);
      break;
    }
    case ScsiLimitStatus::kFailed:
      emit(output, "Failed to get transfer size\n");
      info->maxTransferSize = 0;
      break;
    case ScsiLimitStatus::kNotOpened:
      break;
  }
}

void nameRecord(ScsiTransport& transport, DeviceRecord* record, const std::string& name,
                const ScanOutput* output) {
  std::memcpy(record->info->deviceName, name.c_str(), name.size() + 1);
  setTransferSize(transport, record->info, output);
  printDeviceRecord(*record, output);
}

void nameDevices(ScsiTransport& transport, DeviceRecord* head, const ScanOutput* output) {
  for (const ScsiDeviceName& name : transport.listDeviceNames()) {
    if (name.name.empty() || name.name.size() >= DEVICE_NAME_SIZE) {
      emit(output, "Device name too long, skipped: %.60s...\n", name.name.c_str());
      continue;
    }
    ScsiAddress address;
    if (!name.isAdapter && !transport.deviceAddress(name.name, &address)) continue;
    for (DeviceRecord* record = head; record != nullptr; record = record->next) {
      DeviceInfo* info = record->info;
      if (info == nullptr || info->deviceName[0] != '\0') continue;
      if (name.isAdapter) {
        if (info->claimed == 0 && info->port == name.port) nameRecord(transport, record, name.name, output);
        continue;  // every unclaimed device of the adapter shares its name
      }
      if (info->port == address.port && info->pathId == address.path && info->targetId == address.target &&
          info->lun == address.lun) {
        nameRecord(transport, record, name.name, output);
        break;
      }
    }
  }
}

// Copies an inquiry text field into a terminated buffer.
void field(const DeviceInfo& info, size_t offset, size_t width, char* out) {
  std::memcpy(out, info.inquiryData + offset, width);
  out[width] = '\0';
}

}  // namespace

int scanScsiDevices(ScsiTransport& transport, bool rescanBuses, DeviceRecord** head,
                    const ScanOutput* output) {
  int added = 0;
  for (const ScsiAdapter& adapter : transport.listAdapters()) {
    if (adapter.port < 0 || adapter.port >= kMaxPorts) continue;
    if (rescanBuses) transport.rescanBus(adapter.port);
    std::vector<ScsiBusEntry> entries;
    if (!transport.readBusTable(adapter.port, &entries)) continue;
    for (const ScsiBusEntry& entry : entries) {
      if (addDevice(head, adapter.port, entry, output)) ++added;
    }
  }
  nameDevices(transport, *head, output);
  return added;
}

void printDeviceRecord(const DeviceRecord& record, const ScanOutput* output) {
  const DeviceInfo& info = *record.info;
  char vendor[9];
  char product[17];
  char revision[5];
  field(info, 8, 8, vendor);
  field(info, 16, 16, product);
  field(info, 32, 4, revision);
  emit(output, "---------------- Device Name : %s\n", info.deviceName);
  emit(output, "Port.Bus.Target.LUN.Claimed : %d.%d.%d.%d.%s\n", info.port, info.pathId, info.targetId,
       info.lun, info.claimed != 0 ? "Yes" : "No");
  emit(output, "Vendor         : %s\n", vendor);
  emit(output, "Product ID     : %s\n", product);
  emit(output, "Revision Level : %s\n", revision);
  emit(output, "Device Type    : 0x%x\n", info.inquiryData[0] & 0x1F);
  emit(output, "Max Trans Size : %d(KB)\n", static_cast<int>(info.maxTransferSize / 1024));
  emit(output, "Command Queue  : %s\n", (info.inquiryData[7] & 0x02) != 0 ? "Yes" : "No");
  emit(output, "Linked Commands: %s\n", (info.inquiryData[7] & 0x08) != 0 ? "Yes" : "No");
  emit(output, "\n");
}

bool isScanningSystem() { return scanning.load(); }

bool beginDeviceScan() {
  bool idle = false;
  return scanning.compare_exchange_strong(idle, true);
}

void endDeviceScan() { scanning.store(false); }

void destroyDeviceList(DeviceRecord* head) { destroyDeviceListWith(head, std::free); }

void destroyDeviceListWith(DeviceRecord* head, void (*release)(void* block)) {
  while (head != nullptr) {
    DeviceRecord* next = head->next;
    release(head->info);
    ModDeviceItem* unit = head->units;
    while (unit != nullptr) {
      ModDeviceItem* nextUnit = unit->next;
      release(unit->modState);
      release(unit);
      unit = nextUnit;
    }
    release(head);
    head = next;
  }
}
