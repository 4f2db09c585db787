// A SCSI_ADAPTER_BUS_INFO block as IOCTL_SCSI_GET_INQUIRY_DATA fills it, for the tests of code
// that walks one (the SCSI port back end, Baylink's Windows scan): one bus, the units chained in
// order, each with 36 bytes of inquiry data. Windows build only.
//
// Thread safety: a pure function.
#pragma once

#include <windows.h>
// after windows.h: the control codes first
#include <winioctl.h>
// then the SCSI port structures
#include <ntddscsi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

struct FakeBusUnit {
  SCSI_INQUIRY_DATA address{};  // PathId, TargetId, Lun, DeviceClaimed; the rest is filled in
  std::array<uint8_t, 36> inquiry{};
};

inline std::vector<uint8_t> fakeBusInfo(uint8_t initiator, const std::vector<FakeBusUnit>& units) {
  const size_t busBase = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
  const size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
  const size_t first = busBase + sizeof(SCSI_BUS_DATA);
  const size_t unitSize = header + 36;
  std::vector<uint8_t> block(first + units.size() * unitSize, 0);
  block[0] = 1;
  SCSI_BUS_DATA bus{};
  bus.NumberOfLogicalUnits = static_cast<UCHAR>(units.size());
  bus.InitiatorBusId = initiator;
  bus.InquiryDataOffset = units.empty() ? 0 : static_cast<ULONG>(first);
  std::memcpy(block.data() + busBase, &bus, sizeof(bus));
  for (size_t i = 0; i < units.size(); ++i) {
    SCSI_INQUIRY_DATA unit = units[i].address;
    unit.InquiryDataLength = 36;
    unit.NextInquiryDataOffset = i + 1 < units.size() ? static_cast<ULONG>(first + (i + 1) * unitSize) : 0;
    std::memcpy(block.data() + first + i * unitSize, &unit, header);
    std::memcpy(block.data() + first + i * unitSize + header, units[i].inquiry.data(), 36);
  }
  return block;
}
