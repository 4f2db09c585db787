// Helpers for the unit tests of the storage handlers (array, logical, mapping, jobs): one fake pair
// behind the fake transport whose WRITE BUFFERs are recorded and may be refused by buffer ID, whose
// READ BUFFERs of regions, topology and job progress answer from buffers the test fills, and a
// captured context that holds the pair with its configuration, drive list and controller
// information as the test builds them.
//
// Thread safety: test thread only.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/cli/cli_test_support.h"
#include "modules/brivo/module_state.h"

namespace brivo::cli::testing {

inline constexpr char kPairPath[] = "sim:/tmp/cli-storage.sock:0:0:0:0";
inline constexpr char kPairName[] = "Brivo20000004CF8A1B2C";

// One WRITE BUFFER as the controller saw it: buffer ID, CDB bytes 3-5 and the block after the
// command signature.
struct SentOperation {
  uint8_t id = 0;
  uint8_t p3 = 0, p4 = 0, p5 = 0;
  std::vector<uint8_t> block;

  template <typename T>
  T as() const {
    T value{};
    std::memcpy(&value, block.data(), std::min(sizeof(T), block.size()));
    return value;
  }
};

// The WWN of disk i of the fake pair.
inline void diskWwn(int i, uint8_t out[8]) { ::brivo::testing::putWwn(0x5000C50000000100ULL + i, out); }

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = list_.add(kPairPath);
    list_.hangItem(device_, kPairName);
    moduleState().deviceList.store(list_.head());
    fake_->answer(kPairPath, [this](const ScsiCommand& c) { return respond(c); });
    captured_.ctx.pair = findPair(kPairName);
    ctx().config = newConfigurationBlock();
    ctx().drives = std::make_unique<DriveList>();
    ctx().info = std::make_unique<ControllerInformation>();
    ctx().info->stateA = kOn;
    ctx().info->stateB = kOn;
    regions_ = std::make_unique<RegionInformation>();
    topology_ = std::make_unique<HostTopology>();
  }
  void TearDown() override { moduleState().deviceList.store(nullptr); }

  CliContext& ctx() { return captured_.ctx; }
  std::string text() const { return captured_.text(); }
  // Forgets the output so far (the next text() holds only what follows).
  void clearOutput() {
    captured_.reply = TableOwner();
    captured_.ctx.lineCount = 0;
  }
  void clearSent() { fake_->clearSent(); }

  // The command line's modifiers, as the parser would leave them.
  void modifiers(std::vector<ParsedModifier> list) { ctx().modifiers = std::move(list); }

  // count free good disks on both loops, disk i with drive ID i + 10 (so that indexes and IDs
  // differ) and 931 GB.
  void addDisks(int count) {
    DriveList& d = *ctx().drives;
    for (int i = 0; i < count; ++i) {
      DriveListEntry& e = d.entries[d.count++];
      e = DriveListEntry{};
      e.loop1Id = e.loop2Id = static_cast<uint8_t>(i + 10);
      e.driveId = static_cast<uint8_t>(i + 10);
      e.usage = kUsageFree;
      e.array = e.member = 0xFF;
      e.status = kDriveGood;
      e.blocks = 1953525168ULL;
      e.blockSize = 512;
      diskWwn(i, e.wwn);
    }
  }
  // An array of the given disks (which become members in the drive list).
  ArrayRecord& addArray(int n, uint8_t level, std::vector<int> disks, const char* name = "") {
    ArrayRecord& a = ctx().config->arrays[n];
    a = ArrayRecord{};
    a.valid = kOn;
    a.raidLevel = level;
    a.arrayNumber = static_cast<uint8_t>(n);
    a.driveCount = static_cast<uint8_t>(disks.size());
    a.chunkSizeKb = 64;
    a.faultStatus = level == kRaid0 ? kFaultNone : kFaultTolerant;
    a.memberCapacityGb = 922;
    a.capacityGb = a.freeGb = 922 * static_cast<uint32_t>(disks.size() - (level == kRaid0 ? 0 : 1));
    a.writeBackMb = 16;
    a.cacheFlags = kCacheWriteBack | kCacheMirror;
    std::snprintf(a.name, sizeof(a.name), "%s", name);
    for (size_t m = 0; m < disks.size(); ++m) {
      diskWwn(disks[m], a.memberWwn[m]);
      DriveListEntry& e = ctx().drives->entries[disks[m]];
      e.usage = kUsageMember;
      e.array = static_cast<uint8_t>(n);
      e.member = static_cast<uint8_t>(m);
    }
    return a;
  }
  LogicalDriveRecord& addLogical(int d, int array, uint32_t gb, uint16_t lun, const char* name = "") {
    LogicalDriveRecord& ld = ctx().config->logicalDrives[d];
    ld = LogicalDriveRecord{};
    ld.valid = kOn;
    ld.number = static_cast<uint16_t>(d);
    ld.hostLun = lun;
    ld.availability = 0x0F;
    ld.segmentCount = 1;
    ld.sizeGb = gb;
    ld.segments[0].array = static_cast<uint8_t>(array);
    ld.segments[0].sizeGb = gb;
    std::snprintf(ld.name, sizeof(ld.name), "%s", name);
    return ld;
  }
  void addFreeRegion(int array, uint16_t freeIndex, uint32_t gb) {
    RegionEntry& e = regions_->entries[regions_->count++];
    e = RegionEntry{};
    e.array = static_cast<uint8_t>(array);
    e.kind = kRegionFree;
    e.freeIndex = freeIndex;
    e.logicalDrive = 0xFFFF;
    e.sizeGb = gb;
    ++regions_->freeCount;
  }
  void addInitiator(uint8_t controller, uint8_t port, uint64_t wwnn, uint64_t wwpn) {
    HostTopologyEntry& e = topology_->entries[topology_->count++];
    e = HostTopologyEntry{};
    e.kind = kTopologyInitiator;
    e.controller = controller;
    e.port = port;
    e.state = kOn;
    ::brivo::testing::putWwn(wwnn, e.wwnn);
    ::brivo::testing::putWwn(wwpn, e.wwpn);
  }

  // The next WRITE BUFFER with this buffer ID is refused with ILLEGAL REQUEST / 0x26.
  void refuse(uint8_t id) { refused_[id] = true; }

  std::vector<SentOperation> operations() {
    std::vector<SentOperation> out;
    for (const auto& sent : fake_->sent()) {
      if (sent.cdb[0] != kWriteBuffer) continue;
      SentOperation op;
      op.id = sent.cdb[2];
      op.p3 = sent.cdb[3];
      op.p4 = sent.cdb[4];
      op.p5 = sent.cdb[5];
      if (sent.data.size() > kSignatureLength)
        op.block.assign(sent.data.begin() + kSignatureLength, sent.data.end());
      out.push_back(op);
    }
    return out;
  }
  std::vector<uint8_t> operationIds() {
    std::vector<uint8_t> ids;
    for (const SentOperation& op : operations()) ids.push_back(op.id);
    return ids;
  }

  std::unique_ptr<RegionInformation> regions_;
  std::unique_ptr<HostTopology> topology_;
  JobProgress jobs_{};

 private:
  ScsiResult respond(const ScsiCommand& c) {
    if (c.direction == ScsiDirection::kOut) {
      auto armed = refused_.find(c.cdb[2]);
      if (armed != refused_.end()) {
        refused_.erase(armed);
        return ::brivo::testing::checkCondition(c, kSenseIllegalRequest, kAscInvalidParameter, 0);
      }
      return ::brivo::testing::goodResult(c.dataLength);
    }
    const void* source = nullptr;
    size_t size = 0;
    if (c.cdb[2] == kOpReadRegions) source = regions_.get(), size = sizeof(RegionInformation);
    if (c.cdb[2] == kOpReadTopology) source = topology_.get(), size = sizeof(HostTopology);
    if (c.cdb[2] == kOpReadJobProgress) source = &jobs_, size = sizeof(JobProgress);
    const uint32_t offset = c.cdb[1] == kModeCommand ? 0 : ::brivo::testing::cdbOffset(c);
    std::memset(c.data, 0, c.dataLength);
    if (source != nullptr && offset < size) {
      std::memcpy(c.data, static_cast<const uint8_t*>(source) + offset,
                  std::min<size_t>(c.dataLength, size - offset));
    }
    return ::brivo::testing::goodResult(c.dataLength);
  }

  ::brivo::testing::RunningModule running_;
  ::brivo::testing::FakeTransportScope fake_;
  ::brivo::testing::DeviceList list_;
  DeviceRecord* device_ = nullptr;
  std::map<uint8_t, bool> refused_;
  CapturedContext captured_;
};

}  // namespace brivo::cli::testing
