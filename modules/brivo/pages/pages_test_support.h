// Helpers for the unit tests of the module's action pages: a controller pair kept in memory
// (configuration block, controller information, drive list, regions, topology, statistics and
// snapshot areas) answering READ BUFFER through the fake transport, with refusals injected by
// buffer ID, and a fixture that hangs the pair on a device list with the module's shipped string
// files loaded and the ready wait's pause set to 0.
//
// Thread safety: test thread only (the fake transport locks itself).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/variable_table.h"
#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pair_access.h"
#include "modules/brivo/protocol.h"

namespace brivo::testing {

inline constexpr char kTestPair[] = "Brivo20000004CF8A1B2C";
inline constexpr char kTestDevice[] = "dev0";

// A WRITE BUFFER as the controller received it.
struct SentOp {
  uint8_t mode = 0;
  uint8_t id = 0;
  std::array<uint8_t, 10> cdb{};
  std::vector<uint8_t> block;  // mode 1: the bytes after the signature; other modes: all data
};

class MemoryPair {
 public:
  MemoryPair() : config(std::make_unique<ConfigurationBlock>()) {
    config->header.length = kConfigurationLength;
    std::memcpy(config->header.magic, kConfigMagic, 4);
    config->header.layoutVersion = kConfigLayoutVersion;
    config->header.configurationTime = 1700000000;
    config->header.controllerLun = kLunDisable;
    const std::vector<uint8_t> image = controllerInformation();
    std::memcpy(&info, image.data(), sizeof(info));
    regions.length = sizeof(RegionInformation);
    drives.length = sizeof(DriveList);
    topology.length = sizeof(HostTopology);
    areas.length = sizeof(SnapshotAreasV2);
  }

  // Adds an in-use logical drive.
  LogicalDriveRecord& addDrive(int number, uint16_t hostLun, uint16_t reference = 1) {
    LogicalDriveRecord& d = config->logicalDrives[number];
    d = LogicalDriveRecord{};
    d.valid = kOn;
    d.number = static_cast<uint16_t>(number);
    d.hostLun = hostLun;
    d.referenceNumber = reference;
    d.sizeGb = 10;
    if (config->header.logicalDriveCount <= number)
      config->header.logicalDriveCount = static_cast<uint16_t>(number + 1);
    return d;
  }
  void addFreeRegion(uint8_t array, uint16_t index, uint32_t sizeGb) {
    RegionEntry& e = regions.entries[regions.count++];
    e.array = array;
    e.kind = kRegionFree;
    e.freeIndex = index;
    e.logicalDrive = 0xFFFF;
    e.sizeGb = sizeGb;
    ++regions.freeCount;
  }

  FakeControllers::Responder responder() {
    return [this](const ScsiCommand& c) { return answer(c); };
  }

  std::unique_ptr<ConfigurationBlock> config;
  ControllerInformation info{};
  RegionInformation regions{};
  DriveList drives{};
  HostTopology topology{};
  SnapshotAreasV2 areas{};
  uint64_t statisticsCounter = 0;   // 0: counters derived from controller, port and drive
  std::set<uint8_t> refusedReads;   // READ BUFFER IDs answered with ILLEGAL REQUEST / 0x24
  std::set<uint8_t> refusedWrites;  // WRITE BUFFER IDs answered likewise
  std::function<bool(const ScsiCommand&)> refuseWrite;  // further writes to refuse, when set

 private:
  std::vector<uint8_t> image(const ScsiCommand& c) const {
    const uint8_t id = c.cdb[2];
    auto bytes = [](const auto& value) {
      const auto* p = reinterpret_cast<const uint8_t*>(&value);
      return std::vector<uint8_t>(p, p + sizeof(value));
    };
    switch (id) {
      case kOpReadConfiguration:
        return bytes(*config);
      case kOpReadConfigHeader: {
        ConfigurationHeader header = config->header;
        header.length = kConfigHeaderLength;
        return bytes(header);
      }
      case kOpReadLogicalDrive:
        return bytes(config->logicalDrives[(c.cdb[4] << 8 | c.cdb[5]) % kMaxLogicalDrives]);
      case kOpReadRegions:
        return bytes(regions);
      case kOpReadControllerInfo:
        return bytes(info);
      case kOpReadDriveList:
        return bytes(drives);
      case kOpReadTopology:
        return bytes(topology);
      case kOpReadStatisticsA:
      case kOpReadStatisticsB:
        return bytes(statistics(c));
      case kOpReadSnapshotAreasV2:
        return bytes(areas);
      default:
        return std::vector<uint8_t>(c.dataLength, 0);
    }
  }

  StatisticsBuffer statistics(const ScsiCommand& c) const {
    StatisticsBuffer s{};
    s.length = sizeof(s);
    s.controller = c.cdb[2] == kOpReadStatisticsA ? 0 : 1;
    s.portSelector = c.cdb[3];
    s.logicalDrive = static_cast<uint16_t>(c.cdb[4] << 8 | c.cdb[5]);
    for (int r = 0; r < 2; ++r) {
      s.records[r].commands =
          statisticsCounter != 0 ? statisticsCounter : 1000u * (s.controller + 1) + 10u * s.portSelector + r;
      s.records[r].blocks = 8 * s.records[r].commands;
      for (int i = 0; i < 33; ++i) s.records[r].sizeDistribution[i] = static_cast<uint8_t>(i);
    }
    for (int i = 0; i < 12; ++i) s.alignment[i] = static_cast<uint8_t>(100 + i);
    s.cacheHitPercent = 77;
    s.reserved157 = 99;  // never exported
    for (int i = 0; i < 30; ++i) s.queueDepth[i] = static_cast<uint8_t>(200 + i);
    return s;
  }

  ScsiResult answer(const ScsiCommand& c) {
    const uint8_t id = c.cdb[2];
    if (c.direction != ScsiDirection::kIn) {
      const bool refused = refusedWrites.count(id) != 0 || (refuseWrite && refuseWrite(c));
      return refused ? checkCondition(c, kSenseIllegalRequest, kAscInvalidCdbField, 0)
                     : goodResult(c.dataLength);
    }
    if (refusedReads.count(id) != 0) return checkCondition(c, kSenseIllegalRequest, kAscInvalidCdbField, 0);
    const std::vector<uint8_t> full = image(c);
    const uint32_t offset = c.cdb[1] == kModeCommand ? 0 : cdbOffset(c);
    std::memset(c.data, 0, c.dataLength);
    if (offset < full.size())
      std::memcpy(c.data, full.data() + offset, std::min<size_t>(c.dataLength, full.size() - offset));
    return goodResult(c.dataLength);
  }
};

// The WRITE BUFFER commands sent so far, in order.
inline std::vector<SentOp> writesOf(const FakeControllers& fake) {
  std::vector<SentOp> ops;
  for (const SentCommand& sent : fake.sent()) {
    if (sent.cdb[0] != kWriteBuffer) continue;
    SentOp op;
    op.mode = sent.cdb[1];
    op.id = sent.cdb[2];
    op.cdb = sent.cdb;
    const bool signed_ = sent.data.size() >= kSignatureLength &&
                         std::memcmp(sent.data.data(), kCommandSignature, kSignatureLength) == 0;
    op.block.assign(sent.data.begin() + (op.mode == kModeCommand && signed_ ? kSignatureLength : 0),
                    sent.data.end());
    ops.push_back(std::move(op));
  }
  return ops;
}

inline std::vector<uint8_t> idsOf(const std::vector<SentOp>& ops) {
  std::vector<uint8_t> ids;
  for (const SentOp& op : ops) ids.push_back(op.id);
  return ids;
}

// Reply keys as a map (the newest value of a key wins).
inline std::map<std::string, std::string> keysOf(VariableTable reply) {
  std::map<std::string, std::string> keys;
  for (const VariableEntry* e = reply; e != nullptr; e = e->next) keys.emplace(e->key, e->value);
  return keys;
}

// A request naming the test pair plus the given pairs.
inline VariableTable requestFor(std::initializer_list<std::pair<const char*, const char*>> pairs,
                                const char* pair = kTestPair) {
  VariableTable request = nullptr;
  if (pair != nullptr) addVariable(&request, "ModDeviceName", pair);
  for (const auto& [key, value] : pairs) addVariable(&request, key, value);
  return request;
}

// The pair hung on a device, the shipped files loaded, the module running, no ready pause.
class PageTest : public ::testing::Test {
 protected:
  PageTest() {
    moduleState().files.load();
    setReadyPollSecondsForTesting(0);
    DeviceRecord* device = devices_.add(kTestDevice);
    state_ = stateOf(devices_.hangItem(device, kTestPair));
    setInterfaces(kInterfaceSas, kInterfaceFc, 2);
    moduleState().deviceList.store(devices_.head());
    fake_->answer(kTestDevice, pair_.responder());
    takeConfigurationChanged();
  }
  ~PageTest() override {
    moduleState().deviceList.store(nullptr);
    moduleState().files.saveAndUnload();
    setReadyPollSecondsForTesting(3);
  }

  void setInterfaces(uint8_t drive, uint8_t host, uint8_t hostPorts) {
    state_->controllerInfo = 0x81;
    const uint8_t word[4] = {drive, 2, static_cast<uint8_t>(hostPorts << 4 | host), 0};
    std::memcpy(state_->interfaceWord, word, 4);
  }
  // Runs a method on a request it frees; returns the reply's keys.
  template <typename Method>
  std::map<std::string, std::string> run(Method method, VariableTable request) {
    TableOwner owned(request);
    TableOwner reply(method(owned.get()));
    return keysOf(reply.get());
  }
  std::vector<SentOp> writes() { return writesOf(*fake_); }

  ModuleFolder folder_{true};
  RunningModule running_;
  MemoryPair pair_;
  FakeTransportScope fake_;
  DeviceList devices_;
  BrivoDeviceState* state_ = nullptr;
};

}  // namespace brivo::testing
