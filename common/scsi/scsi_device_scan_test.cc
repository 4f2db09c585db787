// Tests of the device scan through a fake transport: duplicates, naming, transfer sizes, the
// printed texts, the scan flag and the list's destruction.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/scsi/device_scan.h"

namespace {

ScsiBusEntry entry(uint8_t path, uint8_t target, uint8_t lun, bool claimed, uint8_t type = 0,
                   const char* vendor = "VENDOR01", const char* product = "PRODUCT-NAME-016",
                   uint8_t initiator = 7) {
  ScsiBusEntry e;
  e.initiatorBusId = initiator;
  e.pathId = path;
  e.targetId = target;
  e.lun = lun;
  e.claimed = claimed;
  e.inquiry[0] = type;
  e.inquiry[7] = 0x02;
  std::memcpy(&e.inquiry[8], vendor, 8);
  std::memcpy(&e.inquiry[16], product, 16);
  std::memcpy(&e.inquiry[32], "0412", 4);
  return e;
}

class FakeTransport : public ScsiTransport {
 public:
  std::map<int, std::vector<ScsiBusEntry>> buses;  // port -> table; a port without one fails
  std::vector<int> ports;
  std::vector<ScsiDeviceName> names;
  std::map<std::string, ScsiAddress> addresses;
  std::map<std::string, uint32_t> pages;  // names absent here do not open
  std::vector<std::string> failingLimits;
  std::vector<int> rescanned;

  std::vector<ScsiAdapter> listAdapters() override {
    std::vector<ScsiAdapter> out;
    for (int p : ports) out.push_back({p, "adapter" + std::to_string(p)});
    return out;
  }
  void rescanBus(int port) override { rescanned.push_back(port); }
  bool readBusTable(int port, std::vector<ScsiBusEntry>* entries) override {
    auto it = buses.find(port);
    if (it == buses.end()) return false;
    *entries = it->second;
    return true;
  }
  std::vector<ScsiDeviceName> listDeviceNames() override { return names; }
  bool deviceAddress(std::string_view name, ScsiAddress* address) override {
    auto it = addresses.find(std::string(name));
    if (it == addresses.end()) return false;
    *address = it->second;
    return true;
  }
  ScsiLimitStatus maxPhysicalPages(std::string_view name, uint32_t* count) override {
    for (const std::string& f : failingLimits) {
      if (f == name) return ScsiLimitStatus::kFailed;
    }
    auto it = pages.find(std::string(name));
    if (it == pages.end()) return ScsiLimitStatus::kNotOpened;
    *count = it->second;
    return ScsiLimitStatus::kOk;
  }
  ScsiResult execute(const ScsiCommand&) override { return ScsiResult{}; }
};

void capture(void* context, const char* text) { static_cast<std::string*>(context)->append(text); }

class DeviceScanTest : public ::testing::Test {
 protected:
  void TearDown() override { destroyDeviceList(head); }

  int scan(bool rescan = false) {
    ScanOutput output{capture, &printed};
    return scanScsiDevices(fake, rescan, &head, &output);
  }
  std::vector<DeviceRecord*> records() const {
    std::vector<DeviceRecord*> out;
    for (DeviceRecord* r = head; r != nullptr; r = r->next) out.push_back(r);
    return out;
  }

  FakeTransport fake;
  DeviceRecord* head = nullptr;
  std::string printed;
};

TEST_F(DeviceScanTest, DuplicatesWithinAScanAndPathOnlyDifferencesYieldOneRecord) {
  fake.ports = {0, 1};
  fake.buses[0] = {entry(0, 1, 0, false), entry(0, 1, 0, false), entry(1, 1, 0, false)};
  // Same target and LUN on another port, or with another claimed flag or initiator: distinct.
  fake.buses[1] = {entry(0, 1, 0, false), entry(0, 1, 0, true),
                   entry(0, 1, 0, false, 0, "VENDOR01", "PRODUCT-NAME-016", 6)};
  EXPECT_EQ(scan(), 4);
  auto list = records();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0]->info->port, 0);
  EXPECT_EQ(list[0]->info->pathId, 0);  // the first one is kept
  EXPECT_EQ(list[1]->info->port, 1);
  EXPECT_EQ(list[2]->info->claimed, 1);
  EXPECT_EQ(list[3]->info->initiatorBusId, 6);
  for (DeviceRecord* r : list) {
    EXPECT_EQ(r->valid, DEVICE_RECORD_VALID);
    EXPECT_EQ(r->units, nullptr);
    EXPECT_EQ(r->handle, 0);
  }
  // Every entry is announced, duplicates included.
  size_t count = 0;
  for (size_t at = printed.find("**  ADDING DEVICE"); at != std::string::npos;
       at = printed.find("**  ADDING DEVICE", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 6u);
  EXPECT_NE(printed.find("**  ADDING DEVICE type:00 port:0 path:1 target:1 lun:0 devclaimed:0 **\n"),
            std::string::npos);
}

TEST_F(DeviceScanTest, UnclaimedDevicesShareTheAdapterNameAndClaimedOnesGetTheirOwn) {
  fake.ports = {0, 1, 2};
  fake.buses[0] = {};
  fake.buses[1] = {};
  fake.buses[2] = {entry(0, 0, 0, false, 3), entry(0, 1, 0, true), entry(0, 2, 0, false, 0x0D)};
  fake.names = {{"disk7", false, 0}, {"adapter2:", true, 2}, {"adapter1:", true, 1}};
  fake.addresses["disk7"] = {2, 0, 1, 0};
  fake.pages = {{"disk7", 17}, {"adapter2:", 33}};
  scan();
  auto list = records();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_STREQ(list[0]->info->deviceName, "adapter2:");
  EXPECT_STREQ(list[1]->info->deviceName, "disk7");
  EXPECT_STREQ(list[2]->info->deviceName, "adapter2:");
  EXPECT_EQ(list[1]->info->maxTransferSize, 65536u);
  EXPECT_EQ(list[0]->info->maxTransferSize, 32u * 4096);
  EXPECT_NE(printed.find("---------------- Device Name : disk7\n"
                         "Port.Bus.Target.LUN.Claimed : 2.0.1.0.Yes\n"
                         "Vendor         : VENDOR01\n"
                         "Product ID     : PRODUCT-NAME-016\n"
                         "Revision Level : 0412\n"
                         "Device Type    : 0x0\n"
                         "Max Trans Size : 64(KB)\n"
                         "Command Queue  : Yes\n"
                         "Linked Commands: No\n"
                         "\n"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("Port.Bus.Target.LUN.Claimed : 2.0.2.0.No\n"), std::string::npos);
}

TEST_F(DeviceScanTest, PerDeviceNameGoesToTheFirstUnnamedRecordAtItsAddressOnly) {
  fake.ports = {0};
  // Same address twice (differs by claimed flag, so two records).
  fake.buses[0] = {entry(0, 4, 1, true), entry(0, 4, 1, false), entry(0, 4, 2, true)};
  fake.names = {{"first", false, 0}, {"second", false, 0}, {"nowhere", false, 0}, {"noaddress", false, 0}};
  fake.addresses = {{"first", {0, 0, 4, 1}}, {"second", {0, 0, 4, 1}}, {"nowhere", {0, 1, 4, 2}}};
  scan();
  auto list = records();
  EXPECT_STREQ(list[0]->info->deviceName, "first");
  EXPECT_STREQ(list[1]->info->deviceName, "second");
  EXPECT_STREQ(list[2]->info->deviceName, "");  // path 1 does not match path 0
}

TEST_F(DeviceScanTest, TransferSizeRules) {
  fake.ports = {0};
  fake.buses[0] = {entry(0, 0, 0, true), entry(0, 1, 0, true), entry(0, 2, 0, true), entry(0, 3, 0, true),
                   entry(0, 4, 0, true)};
  fake.names = {
      {"big", false, 0}, {"fails", false, 0}, {"closed", false, 0}, {"zero", false, 0}, {"huge", false, 0}};
  fake.addresses = {{"big", {0, 0, 0, 0}},
                    {"fails", {0, 0, 1, 0}},
                    {"closed", {0, 0, 2, 0}},
                    {"zero", {0, 0, 3, 0}},
                    {"huge", {0, 0, 4, 0}}};
  fake.pages = {{"big", 0xFFFFFFFFu}, {"zero", 0}, {"huge", 0x00200000u}};
  fake.failingLimits = {"fails"};
  scan();
  for (DeviceRecord* r : records()) EXPECT_EQ(r->info->maxTransferSize, 0u) << r->info->deviceName;
  auto count = [&](const std::string& text) {
    size_t n = 0;
    for (size_t at = printed.find(text); at != std::string::npos; at = printed.find(text, at + 1)) ++n;
    return n;
  };
  // 0xFFFFFFFF pages, and a limit beyond 32 bits, are "too big"; no page at all is no limit.
  EXPECT_EQ(count("Maximum Transfer size is too big, setting to default setting\n"), 2u);
  EXPECT_EQ(count("Failed to get transfer size\n"), 1u);
  EXPECT_EQ(count("---------------- Device Name : "), 5u);  // a name that does not open is still printed
}

TEST_F(DeviceScanTest, SkipsUnreadableAdaptersRescansOnRequestAndAppendsToAnExistingList) {
  fake.ports = {0, 1};
  fake.buses[1] = {entry(0, 0, 0, false)};
  EXPECT_EQ(scan(true), 1);
  EXPECT_EQ(fake.rescanned, (std::vector<int>{0, 1}));
  fake.buses[1].push_back(entry(0, 1, 0, false));
  EXPECT_EQ(scan(false), 1);  // the old device is already listed
  EXPECT_EQ(records().size(), 2u);
  EXPECT_EQ(fake.rescanned.size(), 2u);
}

TEST_F(DeviceScanTest, TooLongNamesAreSkippedNotTruncated) {
  fake.ports = {0};
  fake.buses[0] = {entry(0, 0, 0, false)};
  std::string longName(DEVICE_NAME_SIZE, 'x');
  fake.names = {{longName, true, 0}};
  scan();
  EXPECT_STREQ(records()[0]->info->deviceName, "");
}

TEST(DeviceScanFlag, ASecondScanWhileOneRunsIsRefused) {
  EXPECT_FALSE(isScanningSystem());
  {
    DeviceScanGuard first;
    ASSERT_TRUE(first.owns());
    EXPECT_TRUE(isScanningSystem());
    DeviceScanGuard second;
    EXPECT_FALSE(second.owns());
  }
  EXPECT_FALSE(isScanningSystem());
  EXPECT_TRUE(beginDeviceScan());
  endDeviceScan();
}

// The blocks handed to the release function, in order (null ones included, as free() takes them).
std::vector<void*> gReleased;
void countingRelease(void* block) {
  gReleased.push_back(block);
  std::free(block);
}

TEST(DeviceListDestruction, FreesRecordsUnitsAndModuleState) {
  // Built the way the scan and a module build them: every block must be released exactly once,
  // each unit's module state before its unit, and nothing else.
  gReleased.clear();
  std::multiset<void*> allocated;
  DeviceRecord* head = nullptr;
  DeviceRecord** tail = &head;
  for (int i = 0; i < 3; ++i) {
    auto* record = static_cast<DeviceRecord*>(std::calloc(1, sizeof(DeviceRecord)));
    record->info = static_cast<DeviceInfo*>(std::calloc(1, sizeof(DeviceInfo)));
    allocated.insert({record, record->info});
    for (int u = 0; u < i; ++u) {
      auto* unit = static_cast<ModDeviceItem*>(std::calloc(1, sizeof(ModDeviceItem)));
      unit->modStatus = UNCLAIMED;
      unit->modState = u == 0 ? std::malloc(64) : nullptr;
      allocated.insert(unit);
      if (unit->modState != nullptr) allocated.insert(unit->modState);
      unit->next = record->units;
      record->units = unit;
    }
    *tail = record;
    tail = &record->next;
  }
  const DeviceRecord* second = head->next;
  const ModDeviceItem* secondUnit = second->units;
  const void* secondState = secondUnit->modState;
  destroyDeviceListWith(head, countingRelease);

  std::multiset<void*> released;
  for (void* block : gReleased) {
    if (block != nullptr) released.insert(block);
  }
  EXPECT_EQ(released, allocated) << "each block once, nothing else";
  const auto at = [](const void* block) {
    return std::find(gReleased.begin(), gReleased.end(), block) - gReleased.begin();
  };
  EXPECT_LT(at(secondState), at(secondUnit)) << "the module state goes before its unit";
  EXPECT_LT(at(secondUnit), at(second)) << "the units go before their record";

  gReleased.clear();
  destroyDeviceListWith(nullptr, countingRelease);
  EXPECT_TRUE(gReleased.empty());
  destroyDeviceList(nullptr);
}

}  // namespace
