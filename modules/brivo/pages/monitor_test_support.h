// Helpers for the unit tests of the monitor, ping, controller and array pages: the in-memory pair
// of pages_test_support.h also answering array records (0x04), job progress (0x57) and failure
// prediction (0x59), with builders for arrays and drives, the devices-accepted flag set, and a
// second pair that another server monitors.
//
// Thread safety: test thread only.
#pragma once

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>
#include <string>

#include "modules/brivo/pages/pages_test_support.h"

namespace brivo::testing {

inline constexpr char kOtherPair[] = "Brivo5000000000000001";
inline constexpr char kOtherDevice[] = "dev1";

// Drive n's WWN: 5000C5000000000n in hexadecimal.
inline void driveWwn(int n, uint8_t out[8]) { putWwn(0x5000C50000000000ULL + n, out); }
inline std::string driveWwnText(int n) {
  uint8_t wwn[8];
  driveWwn(n, wwn);
  return wwnText(wwn);
}


inline constexpr uint8_t kEnclosureWwn[8] = {0x50, 0x0A, 0x0B, 0x80, 0x00, 0x11, 0x22, 0x33};
inline constexpr uint8_t kSesAddress = 0x7D;

// Page 1 (configuration) of an enclosure with 4 slots, 2 power supplies, 2 fans, 1 temperature
// sensor, an alarm, the enclosure element, 2 ESIs and a non-volatile cache; page 2 (status) with
// all of them OK.
struct SesImage {
  std::vector<uint8_t> config, status;

  SesImage() {
    static constexpr std::pair<uint8_t, uint8_t> kTypes[] = {{0x01, 4}, {0x02, 2}, {0x03, 2}, {0x04, 1},
                                                             {0x06, 1}, {0x0E, 1}, {0x07, 2}, {0x09, 1}};
    config.assign(48, 0);
    config[0] = 1;
    config[10] = std::size(kTypes);  // type headers
    config[11] = 36;                 // descriptor bytes after its first four (to byte 47)
    std::memcpy(&config[12], kEnclosureWwn, 8);
    std::memcpy(&config[20], "KESTROVA", 8);
    std::memcpy(&config[28], "BAY-12          ", 16);
    std::memcpy(&config[44], "0104", 4);
    status.assign(8, 0);
    status[0] = 2;
    status[7] = 9;  // generation
    for (const auto& [type, count] : kTypes) {
      config.insert(config.end(), {type, count, 0, 0});
      status.insert(status.end(), {0, 0, 0, 0});  // overall element
      for (int i = 0; i < count; ++i) status.insert(status.end(), {1, 0, 0, 0});
    }
    setLength(&config);
    setLength(&status);
  }
  static void setLength(std::vector<uint8_t>* page) {
    (*page)[2] = static_cast<uint8_t>((page->size() - 4) >> 8);
    (*page)[3] = static_cast<uint8_t>(page->size() - 4);
  }
  // The 4 status bytes of element `index` of the type at position `typeIndex` (0 slots, 1 power
  // supplies, 2 fans, 3 temperature, 4 alarm, 5 enclosure, 6 ESIs, 7 cache).
  uint8_t* element(int typeIndex, int index) {
    static constexpr int kCounts[] = {4, 2, 2, 1, 1, 1, 2, 1};
    size_t offset = 8;
    for (int t = 0; t < typeIndex; ++t) offset += 4 * (1 + kCounts[t]);
    return &status[offset + 4 + 4 * index];
  }
};

// Puts copies of image's pages into the pair's enclosure slot, as the monitor caches them.
inline void cacheEnclosurePages(BrivoDeviceState* state, const SesImage& image, int slot) {
  auto* s = static_cast<BrivoEnclosureSlot*>(std::calloc(1, sizeof(BrivoEnclosureSlot)));
  s->address = kSesAddress;
  s->configPage = static_cast<uint8_t*>(std::malloc(image.config.size()));
  std::memcpy(s->configPage, image.config.data(), image.config.size());
  s->configLength = static_cast<uint32_t>(image.config.size());
  s->statusPage = static_cast<uint8_t*>(std::malloc(image.status.size()));
  std::memcpy(s->statusPage, image.status.data(), image.status.size());
  s->statusLength = static_cast<uint32_t>(image.status.size());
  MutexLock lock(brivo::monitor::enclosureLock());
  state->enclosures[slot] = s;
}

class MonitorPageTest : public PageTest {
 protected:
  MonitorPageTest() {
    fake_->answer(kTestDevice, [this](const ScsiCommand& c) { return answer(c); });
    item()->modStatus = MINE;
    pair_.info.enclosures[0].valid = kOn;
    pair_.info.enclosures[0].slots = 12;
    std::memcpy(pair_.config->header.name, "alpha", 5);
    putWwn(0x20000004CF8A1B2CULL, pair_.config->header.configurationWwn);
    pair_.config->header.singleControllerMode = kOff;
    state_->controllerType = 6;
    for (ControllerRecord& r : pair_.info.controllers) makeHealthy(r, state_->controllerType);
    moduleState().devicesAccepted.store(true);
  }
  ~MonitorPageTest() override { moduleState().devicesAccepted.store(false); }

  ModDeviceItem* item() { return devices_.head()->units; }

  // Loops and host ports up, battery charged and every sensor of the controller type inside its
  // range.
  static void makeHealthy(ControllerRecord& r, uint8_t type) {
    r.driveLoop1State = r.driveLoop2State = r.hostPort0State = r.hostPort1State = kOn;
    r.batteryState = kOn;
    r.batteryCharge = 100;
    r.airTemperature = 30;
    r.expanderTemperature = 40;
    r.cpuTemperature = 40;
    const VoltageTable table = voltageSensors(type);
    for (int i = 0; i < table.count; ++i) {
      const int index = voltageIndex(table.rows[i].offset);
      if (index >= 0)
        r.voltages[index] = static_cast<uint16_t>((table.rows[i].lowMv + table.rows[i].highMv) / 2);
    }
  }

  // A drive entry in enclosure 0, slot n, on both loops, good and free.
  DriveListEntry& addDiskDrive(int n) {
    DriveListEntry& e = pair_.drives.entries[n];
    e = DriveListEntry{};
    e.loop1Id = static_cast<uint8_t>(n);
    e.loop2Id = static_cast<uint8_t>(n);
    e.driveId = static_cast<uint8_t>(n);
    e.enclosure = 0;
    e.slot = static_cast<uint8_t>(n);
    e.array = 0xFF;
    e.member = 0xFF;
    e.hotSpareNumber = 0xFF;
    e.blocks = 1953525168;
    e.blockSize = 512;
    std::memcpy(e.serial, "SER", 3);
    e.serial[3] = static_cast<char>('A' + n);
    driveWwn(n, e.wwn);
    if (pair_.drives.count <= n) pair_.drives.count = static_cast<uint8_t>(n + 1);
    return e;
  }

  // An array of the drives first .. first + count - 1, all members good.
  ArrayRecord& addArray(int n, uint8_t level, int first, int count) {
    ArrayRecord& a = pair_.config->arrays[n];
    a = ArrayRecord{};
    a.valid = kOn;
    a.raidLevel = level;
    a.arrayNumber = static_cast<uint8_t>(n);
    a.driveCount = static_cast<uint8_t>(count);
    a.chunkSizeKb = 64;
    a.capacityGb = 1000;
    a.freeGb = 400;
    a.faultStatus = level == kRaid0 ? kFaultNone : kFaultTolerant;
    a.initialized = kOn;
    a.writeBackMb = 16;
    a.cacheFlags = kCacheWriteBack | kCacheMirror;
    for (int m = 0; m < count; ++m) {
      DriveListEntry& d = addDiskDrive(first + m);
      d.usage = kUsageMember;
      d.array = static_cast<uint8_t>(n);
      d.member = static_cast<uint8_t>(m);
      std::memcpy(a.memberWwn[m], d.wwn, 8);
    }
    if (pair_.config->header.arrayCount <= n) pair_.config->header.arrayCount = static_cast<uint16_t>(n + 1);
    return a;
  }

  // A second pair, monitored by the server at ownerAddress (host order), on its own device.
  void addOtherPair(uint32_t ownerAddress) {
    DeviceRecord* device = devices_.add(kOtherDevice);
    ModDeviceItem* other = devices_.hangItem(device, kOtherPair);
    other->modStatus = NOT_MINE;
    other->ownerAddress = ownerAddress;
    std::memcpy(other_.config->header.name, "beta", 4);
    putWwn(0x5000000000000001ULL, other_.config->header.configurationWwn);
    fake_->answer(kOtherDevice, other_.responder());
  }

  JobProgress jobs{};
  FailurePrediction prediction{};
  MemoryPair other_;

 private:
  ScsiResult answer(const ScsiCommand& c) {
    const uint8_t id = c.cdb[2];
    const void* source = nullptr;
    size_t size = 0;
    if (c.direction == ScsiDirection::kIn && pair_.refusedReads.count(id) == 0) {
      if (id == kOpReadArray)
        source = &pair_.config->arrays[c.cdb[4] % kMaxArrays], size = sizeof(ArrayRecord);
      if (id == kOpReadJobProgress) source = &jobs, size = sizeof(jobs);
      if (id == kOpReadFailurePrediction) source = &prediction, size = sizeof(prediction);
    }
    if (source == nullptr) return pair_.responder()(c);
    const uint32_t offset = c.cdb[1] == kModeCommand ? 0 : cdbOffset(c);
    std::memset(c.data, 0, c.dataLength);
    if (offset < size) {
      std::memcpy(c.data, static_cast<const uint8_t*>(source) + offset,
                  std::min<size_t>(c.dataLength, size - offset));
    }
    return goodResult(c.dataLength);
  }
};

}  // namespace brivo::testing
