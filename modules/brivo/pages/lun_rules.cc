// Logical-drive rules shared by the pages and the methods; see lun_rules.h.
#include "modules/brivo/pages/lun_rules.h"

#include <bitset>

#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

// The controller's own LUN stops sharing the host LUN space from this firmware level on.
constexpr uint16_t kSeparateControllerLunLevel = 516;

uint16_t firmwareLevel16(const ControllerRecord& record) {
  return static_cast<uint16_t>(record.firmwareLevel >> 16);
}

std::bitset<kMaxHostLuns> usedHostLuns(const ConfigurationBlock& config) {
  std::bitset<kMaxHostLuns> used;
  const int count = config.header.logicalDriveCount < kMaxLogicalDrives ? config.header.logicalDriveCount
                                                                        : kMaxLogicalDrives;
  for (int i = 0; i < count; ++i) {
    const LogicalDriveRecord& drive = config.logicalDrives[i];
    if (drive.valid == kOn && drive.hostLun < kMaxHostLuns) used.set(drive.hostLun);
  }
  return used;
}

}  // namespace

bool hostPortsSelectable(const ControllerTraits& traits) {
  switch (traits.hostInterface) {
    case kInterfaceFc:
      return traits.driveInterface >= 1 && traits.driveInterface <= 3;
    case kHostInterfaceScsi:
    case kHostInterfaceSas:
      return true;
    default:
      return false;
  }
}

bool hostPortsPaired(const ControllerTraits& traits) {
  if (traits.hostInterface == kHostInterfaceScsi) return true;
  return traits.hostInterface == kInterfaceFc && (traits.driveInterface == 1 || traits.driveInterface == 2);
}

uint8_t newDriveAvailability(const ControllerTraits& traits, VariableTable request) {
  const bool c0p0 = requestFlag(request, "PortC0P0"), c0p1 = requestFlag(request, "PortC0P1");
  const bool c1p0 = requestFlag(request, "PortC1P0"), c1p1 = requestFlag(request, "PortC1P1");
  uint8_t availability = 0;
  if (!hostPortsSelectable(traits)) {
    availability = 0;
  } else if (hostPortsPaired(traits)) {
    if (c0p0 || c1p0) availability |= 0x01 | 0x04;
    if (c0p1 || c1p1) availability |= 0x02 | 0x08;
  } else {
    availability = changedDriveAvailability(request);
  }
  consolePrint("New Lun Ports Set To: %d\n", availability);
  return availability;
}

uint8_t changedDriveAvailability(VariableTable request) {
  uint8_t availability = 0;
  if (requestFlag(request, "PortC0P0")) availability |= 0x01;
  if (requestFlag(request, "PortC0P1")) availability |= 0x02;
  if (requestFlag(request, "PortC1P0")) availability |= 0x04;
  if (requestFlag(request, "PortC1P1")) availability |= 0x08;
  return availability;
}

int freeHostLunForInternalDrive(const ConfigurationBlock& config, const ControllerInformation& info) {
  std::bitset<kMaxHostLuns> used = usedHostLuns(config);
  const ControllerRecord& record = info.stateA == kOn ? info.controllers[0] : info.controllers[1];
  if (firmwareLevel16(record) < kSeparateControllerLunLevel && config.header.controllerLun < kMaxHostLuns)
    used.set(config.header.controllerLun);
  for (int lun = kMaxHostLuns - 1; lun >= 0; --lun) {
    if (!used.test(static_cast<size_t>(lun))) return lun;
  }
  return kNoHostLun;
}

int lowestFreeHostLun(const ConfigurationBlock& config) {
  const std::bitset<kMaxHostLuns> used = usedHostLuns(config);
  for (int lun = 0; lun < kMaxHostLuns; ++lun) {
    if (!used.test(static_cast<size_t>(lun))) return lun;
  }
  return kNoHostLun;
}

uint16_t nextDriveNumber(const ConfigurationBlock& config) {
  for (int i = 0; i < kMaxLogicalDrives; ++i) {
    if (config.logicalDrives[i].valid != kOn) return static_cast<uint16_t>(i);
  }
  return kNoDriveNumber;
}

int addFreeRegionRows(VariableTable* reply, const RegionInformation& regions) {
  int rows = 0;
  long long total = 0;
  const int count = regions.count < kMaxRegions ? regions.count : kMaxRegions;
  for (int i = 0; i < count; ++i) {
    const RegionEntry& entry = regions.entries[i];
    if (entry.kind != kRegionFree || entry.freeIndex == 0xFFFF) continue;
    const std::string row = std::to_string(rows);
    addNumber(reply, ("RegionNumber" + row).c_str(), entry.freeIndex);
    addNumber(reply, ("RegionSpace" + row).c_str(), entry.sizeGb);
    addRowNumber(reply, "RegionLoop", rows, "RegionNumber", entry.freeIndex);
    addRowNumber(reply, "RegionLoop", rows, "RegionSpace", entry.sizeGb);
    addRowNumber(reply, "RegionLoop", rows, "RankNumber", entry.array);
    addRowNumber(reply, "RegionLoop", rows, "StartGb", entry.startGb);
    total += entry.sizeGb;
    ++rows;
  }
  setCount(reply, "RegionLoop", rows);
  addNumber(reply, "TotalFreeGb", total);
  return rows;
}

}  // namespace brivo
