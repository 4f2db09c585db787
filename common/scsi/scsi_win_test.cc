// Tests of the Windows SCSI port back end through fake system calls: the adapters that open, a
// bus table walked from its offsets (and a hostile one that points out of its block or in a
// circle), the names the system lists, addresses and transfer limits, and the pass-through
// request built for a command with the outcome read back from it.
#include "common/scsi/scsi_win.h"

#include <windows.h>
// after windows.h
#include <winioctl.h>
#include <ntddscsi.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/scsi/scsi_win_test_support.h"

namespace {

// A fake driver: names that open, the answers of each control code per name.
struct FakeDriver {
  std::map<std::string, int> handles;  // name -> handle number
  std::map<int, std::string> opened;   // handle -> name
  std::vector<uint8_t> busInfo;
  SCSI_ADDRESS address{};
  ULONG pages = 17;
  bool capabilitiesFail = false;
  bool passThroughFails = false;
  uint32_t passThroughError = ERROR_IO_DEVICE;
  UCHAR status = 0;
  std::vector<uint8_t> sense;
  SCSI_PASS_THROUGH_DIRECT lastRequest{};
  std::vector<uint8_t> dataSeen;
  int closes = 0;
  std::string dosDevices;

  WinScsiOps ops() {
    WinScsiOps o;
    o.open = [this](const std::string& path) -> void* {
      auto it = handles.find(path);
      if (it == handles.end()) return nullptr;
      opened[it->second] = path;
      return reinterpret_cast<void*>(static_cast<intptr_t>(it->second));
    };
    o.close = [this](void*) { ++closes; };
    o.listDosDevices = [this] { return dosDevices; };
    o.ioctl = [this](void*, uint32_t code, void* in, uint32_t, void* out, uint32_t outSize, uint32_t* returned,
                     uint32_t* error) {
      *error = 0;
      switch (code) {
        case IOCTL_SCSI_GET_INQUIRY_DATA:
          std::memcpy(out, busInfo.data(), std::min<size_t>(busInfo.size(), outSize));
          *returned = static_cast<uint32_t>(std::min<size_t>(busInfo.size(), outSize));
          return true;
        case IOCTL_SCSI_GET_ADDRESS:
          std::memcpy(out, &address, sizeof(address));
          *returned = sizeof(address);
          return true;
        case IOCTL_SCSI_GET_CAPABILITIES: {
          if (capabilitiesFail) return false;
          IO_SCSI_CAPABILITIES capabilities{};
          capabilities.MaximumPhysicalPages = pages;
          std::memcpy(out, &capabilities, sizeof(capabilities));
          return true;
        }
        case IOCTL_SCSI_PASS_THROUGH_DIRECT: {
          auto* request = static_cast<SCSI_PASS_THROUGH_DIRECT*>(in);
          lastRequest = *request;
          if (request->DataIn == SCSI_IOCTL_DATA_OUT && request->DataBuffer != nullptr) {
            auto* bytes = static_cast<uint8_t*>(request->DataBuffer);
            dataSeen.assign(bytes, bytes + request->DataTransferLength);
          }
          if (passThroughFails) {
            *error = passThroughError;
            return false;
          }
          if (request->DataIn == SCSI_IOCTL_DATA_IN && request->DataBuffer != nullptr) {
            std::memset(request->DataBuffer, 0xA5, request->DataTransferLength);
            request->DataTransferLength /= 2;  // a short transfer
          }
          request->ScsiStatus = status;
          request->SenseInfoLength = static_cast<UCHAR>(sense.size());
          std::memcpy(reinterpret_cast<uint8_t*>(request) + request->SenseInfoOffset, sense.data(), sense.size());
          return true;
        }
        default:
          return code == IOCTL_SCSI_RESCAN_BUS;
      }
    };
    return o;
  }
};

// A bus-info block: one bus, the given units chained in order, each a disk (or, unclaimed, a
// processor) of vendor KESTROVA.
std::vector<uint8_t> busInfoWith(uint8_t initiator, const std::vector<SCSI_INQUIRY_DATA>& units) {
  std::vector<FakeBusUnit> fake(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    fake[i].address = units[i];
    fake[i].inquiry[0] = units[i].DeviceClaimed ? 0x00 : 0x03;
    std::memcpy(fake[i].inquiry.data() + 8, "KESTROVA", 8);
  }
  return fakeBusInfo(initiator, fake);
}

SCSI_INQUIRY_DATA unit(UCHAR path, UCHAR target, UCHAR lun, bool claimed) {
  SCSI_INQUIRY_DATA u{};
  u.PathId = path;
  u.TargetId = target;
  u.Lun = lun;
  u.DeviceClaimed = claimed ? TRUE : FALSE;
  return u;
}

TEST(WinScsi, AdaptersThatOpenAreNumberedInOrderAndTheirBusTablesRead) {
  FakeDriver driver;
  driver.handles = {{"\\\\.\\SCSI1:", 11}, {"\\\\.\\SCSI4:", 14}};
  driver.busInfo = busInfoWith(7, {unit(0, 2, 0, true), unit(1, 5, 3, false)});
  auto transport = makeWinScsiTransport(driver.ops());
  std::vector<ScsiAdapter> adapters = transport->listAdapters();
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[0].port, 0);
  EXPECT_EQ(adapters[0].name, "\\\\.\\SCSI1:");
  EXPECT_EQ(adapters[1].port, 1);
  EXPECT_EQ(adapters[1].name, "\\\\.\\SCSI4:");

  std::vector<ScsiBusEntry> entries;
  ASSERT_TRUE(transport->readBusTable(1, &entries));
  EXPECT_EQ(driver.opened.count(14), 1u) << "port 1 is adapter 4";
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].initiatorBusId, 7);
  EXPECT_EQ(entries[0].targetId, 2);
  EXPECT_TRUE(entries[0].claimed);
  EXPECT_EQ(entries[1].pathId, 1);
  EXPECT_EQ(entries[1].targetId, 5);
  EXPECT_EQ(entries[1].lun, 3);
  EXPECT_FALSE(entries[1].claimed);
  EXPECT_EQ(entries[1].inquiry[0], 0x03);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&entries[1].inquiry[8]), 8), "KESTROVA");
  EXPECT_FALSE(transport->readBusTable(2, &entries)) << "no such port";
  EXPECT_EQ(driver.closes, 2 + 1) << "every handle closed: two while listing, one for the table";
}

TEST(WinScsi, HostileBusTablesEndTheWalkInsideTheBlock) {
  std::vector<uint8_t> block = busInfoWith(7, {unit(0, 1, 0, false), unit(0, 2, 0, false)});
  std::vector<ScsiBusEntry> entries;
  // The second unit's offset pointing back at the first would loop forever.
  const size_t first = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + sizeof(SCSI_BUS_DATA);
  std::vector<uint8_t> circle = block;
  const ULONG back = static_cast<ULONG>(first);
  const size_t unitSize = offsetof(SCSI_INQUIRY_DATA, InquiryData) + 36;
  std::memcpy(circle.data() + first + unitSize + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset), &back,
              sizeof(back));
  SCSI_BUS_DATA bus{};
  std::memcpy(&bus, circle.data() + offsetof(SCSI_ADAPTER_BUS_INFO, BusData), sizeof(bus));
  bus.NumberOfLogicalUnits = 200;
  std::memcpy(circle.data() + offsetof(SCSI_ADAPTER_BUS_INFO, BusData), &bus, sizeof(bus));
  ASSERT_TRUE(parseAdapterBusInfo(circle.data(), circle.size(), &entries));
  EXPECT_EQ(entries.size(), 2u);

  // An offset past the block, an inquiry length past it, a bus count past it.
  entries.clear();
  std::vector<uint8_t> outside = block;
  const ULONG beyond = 100000;
  std::memcpy(outside.data() + first + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset), &beyond, sizeof(beyond));
  ASSERT_TRUE(parseAdapterBusInfo(outside.data(), outside.size(), &entries));
  EXPECT_EQ(entries.size(), 1u);
  entries.clear();
  std::vector<uint8_t> longInquiry = block;
  const ULONG huge = 0xFFFFFFF0u;
  std::memcpy(longInquiry.data() + first + offsetof(SCSI_INQUIRY_DATA, InquiryDataLength), &huge, sizeof(huge));
  ASSERT_TRUE(parseAdapterBusInfo(longInquiry.data(), longInquiry.size(), &entries));
  ASSERT_EQ(entries.size(), 2u);
  std::vector<uint8_t> tooManyBuses = block;
  tooManyBuses[0] = 200;
  EXPECT_FALSE(parseAdapterBusInfo(tooManyBuses.data(), tooManyBuses.size(), &entries));
  EXPECT_FALSE(parseAdapterBusInfo(block.data(), 0, &entries));
}

TEST(WinScsi, NamesAreFilteredUpperCasedAndAdaptersMappedToPorts) {
  const std::string list = std::string("PhysicalDrive0\0Scsi1:\0Scsi9:\0COM1\0scanner2\0", 45) +
                           std::string("SCSI#Disk&Ven_X#1\0Global\0", 26);
  EXPECT_EQ(scsiNamesFromDosDevices(list),
            (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE0", "\\\\.\\SCSI1:", "\\\\.\\SCSI9:", "\\\\.\\SCANNER2"}));
  FakeDriver driver;
  driver.handles = {{"\\\\.\\SCSI1:", 11}};
  driver.dosDevices = list;
  auto transport = makeWinScsiTransport(driver.ops());
  transport->listAdapters();
  std::vector<ScsiDeviceName> names = transport->listDeviceNames();
  ASSERT_EQ(names.size(), 3u) << "adapter 9 did not open, so its name serves no port";
  EXPECT_FALSE(names[0].isAdapter);
  EXPECT_TRUE(names[1].isAdapter);
  EXPECT_EQ(names[1].port, 0);
  EXPECT_EQ(names[2].name, "\\\\.\\SCANNER2");
}

TEST(WinScsi, AddressAndTransferLimit) {
  FakeDriver driver;
  driver.handles = {{"\\\\.\\SCSI3:", 13}, {"\\\\.\\PHYSICALDRIVE0", 20}};
  driver.address.PortNumber = 3;
  driver.address.PathId = 0;
  driver.address.TargetId = 6;
  driver.address.Lun = 1;
  auto transport = makeWinScsiTransport(driver.ops());
  transport->listAdapters();
  ScsiAddress address;
  ASSERT_TRUE(transport->deviceAddress("\\\\.\\PHYSICALDRIVE0", &address));
  EXPECT_EQ(address.port, 0);
  EXPECT_EQ(address.target, 6);
  EXPECT_EQ(address.lun, 1);
  EXPECT_FALSE(transport->deviceAddress("\\\\.\\PHYSICALDRIVE1", &address));
  driver.address.PortNumber = 5;  // an adapter that did not open
  EXPECT_FALSE(transport->deviceAddress("\\\\.\\PHYSICALDRIVE0", &address));

  uint32_t pages = 0;
  EXPECT_EQ(transport->maxPhysicalPages("\\\\.\\SCSI3:", &pages), ScsiLimitStatus::kOk);
  EXPECT_EQ(pages, 17u);
  driver.capabilitiesFail = true;
  EXPECT_EQ(transport->maxPhysicalPages("\\\\.\\SCSI3:", &pages), ScsiLimitStatus::kFailed);
  EXPECT_EQ(transport->maxPhysicalPages("\\\\.\\SCSI7:", &pages), ScsiLimitStatus::kNotOpened);
}

TEST(WinScsi, PassThroughCarriesTheCommandAndReportsItsOutcome) {
  FakeDriver driver;
  driver.handles = {{"\\\\.\\SCSI2:", 12}};
  auto transport = makeWinScsiTransport(driver.ops());
  const uint8_t cdb[10] = {0x3C, 0x02, 0x40, 0, 0, 0, 0, 0x07, 0x00, 0};
  uint8_t data[1792];
  uint8_t sense[32];
  ScsiCommand command;
  command.device = "\\\\.\\SCSI2:";
  command.path = 0;
  command.target = 4;
  command.lun = 2;
  command.cdb = cdb;
  command.cdbLength = 10;
  command.direction = ScsiDirection::kIn;
  command.data = data;
  command.dataLength = sizeof(data);
  command.timeoutMs = 120000;
  command.sense = sense;
  command.senseCapacity = sizeof(sense);
  ScsiResult result = transport->execute(command);
  EXPECT_EQ(result.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(result.transferred, sizeof(data) / 2);
  const SCSI_PASS_THROUGH_DIRECT& r = driver.lastRequest;
  EXPECT_EQ(r.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(r.TargetId, 4);
  EXPECT_EQ(r.Lun, 2);
  EXPECT_EQ(r.CdbLength, 10);
  EXPECT_EQ(std::memcmp(r.Cdb, cdb, 10), 0);
  EXPECT_EQ(r.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(r.DataTransferLength, sizeof(data));
  EXPECT_EQ(r.TimeOutValue, 120u);
  EXPECT_EQ(r.SenseInfoLength, 32);
  EXPECT_EQ(r.DataBuffer, data);
  EXPECT_EQ(data[0], 0xA5);

  driver.status = 2;
  driver.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
  command.direction = ScsiDirection::kOut;
  command.dataLength = 16;
  std::memset(data, 0x5A, 16);
  result = transport->execute(command);
  EXPECT_EQ(result.outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(result.senseLength, driver.sense.size());
  EXPECT_EQ(sense[2] & 0x0F, 0x05);
  EXPECT_EQ(sense[12], 0x24);
  EXPECT_EQ(driver.lastRequest.DataIn, SCSI_IOCTL_DATA_OUT);
  EXPECT_EQ(driver.dataSeen, std::vector<uint8_t>(16, 0x5A));

  driver.status = 8;  // BUSY
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kStatus);

  driver.passThroughFails = true;
  sense[0] = 0x70;
  result = transport->execute(command);
  EXPECT_EQ(result.outcome, ScsiOutcome::kNoAnswer);
  EXPECT_EQ(sense[0], 0) << "sense cleared when the call fails";
  driver.passThroughError = ERROR_SEM_TIMEOUT;
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kTimeout);

  command.device = "\\\\.\\SCSI5:";
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kNoAnswer) << "does not open";
  command.device = "/dev/sg0";
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kInvalid);
  command.device = "\\\\.\\SCSI2:";
  command.cdbLength = 0;
  EXPECT_EQ(transport->execute(command).outcome, ScsiOutcome::kInvalid);
  EXPECT_EQ(driver.closes, 5) << "one open and close per command that opened";
}

}  // namespace
