// The array, logical-drive, host-port, drive and enclosure rows of the monitor page's full view;
// see full_view.h.
#include <cstring>
#include <set>

#include "modules/brivo/module_files.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/array_progress.h"
#include "modules/brivo/pages/full_view.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pages/rank_rows.h"

namespace brivo {

namespace {

constexpr char kArrayLoop[] = "ArrayLoop";
constexpr char kLogicalDriveLoop[] = "LogicalDriveLoop";
constexpr char kHostPortLoop[] = "HostPortLoop";
constexpr char kDriveLoop[] = "DriveLoop";
constexpr char kEnclosureLoop[] = "EnclosureLoop";

int driveCount(const DriveList& drives) { return drives.count < kMaxDrives ? drives.count : kMaxDrives; }

int arrayCount(const ConfigurationBlock& config) {
  return config.header.arrayCount < kMaxArrays ? config.header.arrayCount : kMaxArrays;
}

const PredictionEntry* predictionFor(const FailurePrediction* prediction, const uint8_t wwn[8]) {
  if (prediction == nullptr) return nullptr;
  const int count = prediction->count < kMaxDrives ? prediction->count : kMaxDrives;
  for (int i = 0; i < count; ++i) {
    if (std::memcmp(prediction->entries[i].wwn, wwn, 8) == 0) return &prediction->entries[i];
  }
  return nullptr;
}

// The snapshot area whose source is logical drive number, or null.
const SnapshotArea* snapshotAreaOf(const FullViewBuffers& b, int number) {
  if (b.areasV2 != nullptr) {
    if (number < 0 || number >= kMaxLogicalDrives) return nullptr;
    const SnapshotArea& area = b.areasV2->areas[number];
    return area.valid == kOn ? &area : nullptr;
  }
  if (b.areasV1 != nullptr) {
    for (const SnapshotArea& area : b.areasV1->areas) {
      if (area.valid == kOn && area.sourceDrive == number) return &area;
    }
  }
  return nullptr;
}

// Health class of a drive: its own status, and for an array member the member's status (the
// member being rebuilt is not counted against it).
const char* driveClass(const FullViewBuffers& b, const DriveListEntry& entry, bool predicted) {
  const char* own = driveStatusClass(entry.status, predicted);
  if (entry.array >= kMaxArrays || entry.member >= kMaxMembers) return own;
  const ControllerInformation& info = *b.info;
  if (info.rebuildValid == kOn && info.rebuildArray == entry.array && info.rebuildMember == entry.member) {
    return "warn";
  }
  const uint8_t member = b.config->arrays[entry.array].memberStatus[entry.member];
  if (member == kMemberGood) return own;
  return member == kMemberRebuilding ? "warn" : "fail";
}

void addArrayRow(VariableTable* reply, const FullViewInput& in, int row, int n) {
  const FullViewBuffers& b = *in.buffers;
  const ArrayRecord& a = b.config->arrays[n];
  const int percent = arrayProgressPercent(*b.info, b.jobs.get(), n);
  addRowNumber(reply, kArrayLoop, row, "Number", n);
  addRowText(reply, kArrayLoop, row, "Name", fieldText(a.name, sizeof(a.name)));
  addRowText(reply, kArrayLoop, row, "RaidLevel", raidLevelText(a.raidLevel));
  addRowNumber(reply, kArrayLoop, row, "RaidLevelCode", a.raidLevel);
  addRowNumber(reply, kArrayLoop, row, "DriveCount", a.driveCount);
  addRowNumber(reply, kArrayLoop, row, "ChunkSizeKb", a.chunkSizeKb);
  addRowNumber(reply, kArrayLoop, row, "CapacityGb", a.capacityGb);
  addRowNumber(reply, kArrayLoop, row, "FreeGb", a.freeGb);
  addRowText(reply, kArrayLoop, row, "Status", statusTextByte("ArrayStatus", a.faultStatus));
  addRowText(reply, kArrayLoop, row, "StatusCode", hexByte(a.faultStatus));
  addRowText(reply, kArrayLoop, row, "Class", arrayStatusClass(a));
  addRowText(reply, kArrayLoop, row, "Job", statusTextByte("ArrayJob", a.jobKind));
  addRowFlag(reply, kArrayLoop, row, "JobActive", a.jobKind != kJobNone || percent >= 0);
  addRowText(reply, kArrayLoop, row, "Percent", percent >= 0 ? std::to_string(percent) : "");
  addRowFlag(reply, kArrayLoop, row, "ShowProgress", percent >= 0);
  addRowFlag(reply, kArrayLoop, row, "Paused", arrayJobPaused(b.jobs.get(), n));
  addRowNumber(reply, kArrayLoop, row, "LogicalDrives", logicalDrivesOnArray(*b.config, n));
}

std::string arraysOf(const LogicalDriveRecord& drive) {
  std::set<int> arrays;
  const int segments = drive.segmentCount < kMaxSegments ? drive.segmentCount : kMaxSegments;
  for (int s = 0; s < segments; ++s) arrays.insert(drive.segments[s].array);
  std::string text;
  for (int array : arrays) text += (text.empty() ? "" : ", ") + std::to_string(array);
  return text;
}

void addLogicalDriveRow(VariableTable* reply, const FullViewInput& in, int row, const LogicalDriveRecord& d) {
  addRowNumber(reply, kLogicalDriveLoop, row, "Number", d.number);
  addRowText(reply, kLogicalDriveLoop, row, "Name", fieldText(d.name, sizeof(d.name)));
  addRowNumber(reply, kLogicalDriveLoop, row, "SizeGb", d.sizeGb);
  addRowText(reply, kLogicalDriveLoop, row, "State", statusTextByte("LogicalDriveStatus", d.state));
  addRowNumber(reply, kLogicalDriveLoop, row, "StateCode", d.state);
  addRowText(reply, kLogicalDriveLoop, row, "Class", logicalDriveStateClass(d.state));
  const bool hasLun = d.hostLun != kLunNone;
  addRowText(reply, kLogicalDriveLoop, row, "HostLun", hasLun ? std::to_string(d.hostLun) : "");
  addRowFlag(reply, kLogicalDriveLoop, row, "HasHostLun", hasLun);
  addRowText(reply, kLogicalDriveLoop, row, "Arrays", arraysOf(d));
  addRowNumber(reply, kLogicalDriveLoop, row, "BlockSize", d.blockSizeCode == 0 ? 512 : d.blockSizeCode);
  const SnapshotArea* area = snapshotAreaOf(*in.buffers, d.number);
  const bool snapback = area != nullptr && (area->flags & kSnapSnapback) != 0;
  addRowFlag(reply, kLogicalDriveLoop, row, "HasSnapshotArea", area != nullptr);
  addRowText(reply, kLogicalDriveLoop, row, "SnapshotUsedPercent",
             area != nullptr ? std::to_string(area->usedPercent) : "");
  addRowFlag(reply, kLogicalDriveLoop, row, "Snapback", snapback);
  addRowText(reply, kLogicalDriveLoop, row, "SnapbackPercent",
             snapback ? std::to_string(area->snapbackPercent) : "");
}

std::string dataRateText(uint8_t rate) {
  return rate == 0 ? statusText("HostPortRateAuto", "Auto") : std::to_string(rate) + " Gb/s";
}

void addInitiators(VariableTable* reply, const HostTopology& topology, const HostTopologyEntry& port,
                   int row) {
  const std::string list = rowKey(kHostPortLoop, row, "Initiators");
  const int count = topology.count < 256 ? topology.count : 256;
  int n = 0;
  for (int i = 0; i < count; ++i) {
    const HostTopologyEntry& e = topology.entries[i];
    if (e.kind != kTopologyInitiator || e.controller != port.controller || e.port != port.port) continue;
    const std::string wwpn = wwnText(e.wwpn);
    std::string name = moduleState().files.value(PropertyTable::kNodePortNames, wwpn.c_str());
    if (name == kMissing) name = "";
    addRowText(reply, list.c_str(), n, "Wwpn", wwpn);
    addRowText(reply, list.c_str(), n, "Wwnn", wwnText(e.wwnn));
    addRowText(reply, list.c_str(), n, "Name", name);
    ++n;
  }
  setCount(reply, list.c_str(), n);
}

void addHostPortRow(VariableTable* reply, const FullViewInput& in, int row, const HostTopologyEntry& e) {
  const char* letter = controllerLetter(e.controller);
  addRowText(reply, kHostPortLoop, row, "Controller", letter);
  addRowNumber(reply, kHostPortLoop, row, "Port", e.port);
  addRowText(reply, kHostPortLoop, row, "Name", std::string(letter) + std::to_string(e.port));
  addRowText(reply, kHostPortLoop, row, "Status", hostLoopStatusText(e.state, in.traits.type, e.loopId));
  addRowFlag(reply, kHostPortLoop, row, "Up", e.state == kOn);
  addRowText(reply, kHostPortLoop, row, "LoopId",
             e.loopId == 255 ? std::string("N/A") : std::to_string(e.loopId));
  addRowText(reply, kHostPortLoop, row, "DataRate", dataRateText(e.dataRate));
  addRowText(reply, kHostPortLoop, row, "Topology", statusTextByte("HostTopology", e.topology));
  addRowText(reply, kHostPortLoop, row, "Wwpn", wwnText(e.wwpn));
  addRowText(reply, kHostPortLoop, row, "Wwnn", wwnText(e.wwnn));
  addInitiators(reply, *in.buffers->topology, e, row);
}

void addDriveRow(VariableTable* reply, const FullViewInput& in, int row, const DriveListEntry& e) {
  const FullViewBuffers& b = *in.buffers;
  const PredictionEntry* p = predictionFor(b.prediction.get(), e.wwn);
  const bool predicted = (e.flags & kDriveFlagPredicted) != 0 || (p != nullptr && p->predicted == kOn);
  const bool member = e.array < kMaxArrays;
  addRowNumber(reply, kDriveLoop, row, "Index", row);
  addDriveIdentity(reply, kDriveLoop, row, row, e);
  addRowText(reply, kDriveLoop, row, "Wwn", wwnText(e.wwn));
  addRowText(reply, kDriveLoop, row, "Enclosure",
             e.enclosure == 0xFE ? std::string() : std::to_string(e.enclosure));
  addRowText(reply, kDriveLoop, row, "Vendor", fieldText(e.vendor, sizeof(e.vendor)));
  addRowText(reply, kDriveLoop, row, "Product", fieldText(e.product, sizeof(e.product)));
  addRowText(reply, kDriveLoop, row, "Revision", fieldText(e.revision, sizeof(e.revision)));
  addRowText(reply, kDriveLoop, row, "Serial", fieldText(e.serial, sizeof(e.serial)));
  addRowNumber(reply, kDriveLoop, row, "CapacityGb", static_cast<long long>(driveCapacityGb(e)));
  addRowText(reply, kDriveLoop, row, "Usage", statusTextByte("DriveUsage", e.usage));
  addRowNumber(reply, kDriveLoop, row, "UsageCode", e.usage);
  addRowText(reply, kDriveLoop, row, "Array", member ? std::to_string(e.array) : "");
  addRowFlag(reply, kDriveLoop, row, "InArray", member);
  addRowText(reply, kDriveLoop, row, "Member",
             member && e.member < kMaxMembers ? std::to_string(e.member) : "");
  addRowText(reply, kDriveLoop, row, "Status", statusTextByte("DriveStatus", e.status));
  addRowNumber(reply, kDriveLoop, row, "StatusCode", e.status);
  addRowText(reply, kDriveLoop, row, "Class", driveClass(b, e, predicted));
  addRowFlag(reply, kDriveLoop, row, "OnLoop1", e.loop1Id != kNotOnLoop);
  addRowFlag(reply, kDriveLoop, row, "OnLoop2", e.loop2Id != kNotOnLoop);
  addRowFlag(reply, kDriveLoop, row, "Predicted", predicted);
  addRowText(reply, kDriveLoop, row, "Temperature", p != nullptr ? std::to_string(p->temperature) : "");
  addRowFlag(reply, kDriveLoop, row, "HotSpare",
             e.usage == kUsageGlobalSpare || e.usage == kUsageDedicatedSpare);
  addRowFlag(reply, kDriveLoop, row, "Identifying", (e.flags & kDriveFlagIdentify) != 0);
}

void addSlotRows(VariableTable* reply, const FullViewInput& in, int row, const EnclosureEntry& enclosure) {
  const FullViewBuffers& b = *in.buffers;
  const std::string list = rowKey(kEnclosureLoop, row, "Slots");
  const DriveList& drives = *b.drives;
  for (int slot = 0; slot < enclosure.slots; ++slot) {
    int found = -1;
    for (int i = 0; i < driveCount(drives) && found < 0; ++i) {
      if (drives.entries[i].enclosure == enclosure.number && drives.entries[i].slot == slot) found = i;
    }
    const char* l = list.c_str();
    addRowNumber(reply, l, slot, "Slot", slot);
    addRowFlag(reply, l, slot, "Occupied", found >= 0);
    if (found < 0) continue;
    const DriveListEntry& e = drives.entries[found];
    const PredictionEntry* p = predictionFor(b.prediction.get(), e.wwn);
    const bool predicted = (e.flags & kDriveFlagPredicted) != 0 || (p != nullptr && p->predicted == kOn);
    addRowNumber(reply, l, slot, "Drive", found);
    addRowNumber(reply, l, slot, "DriveId", e.driveId);
    addRowFlag(reply, l, slot, "Identifying", (e.flags & kDriveFlagIdentify) != 0);
    addRowText(reply, l, slot, "Wwn", wwnText(e.wwn));
    addRowText(reply, l, slot, "Serial", fieldText(e.serial, sizeof(e.serial)));
    addRowNumber(reply, l, slot, "CapacityGb", static_cast<long long>(driveCapacityGb(e)));
    addRowText(reply, l, slot, "Usage", statusTextByte("DriveUsage", e.usage));
    addRowText(reply, l, slot, "Array", e.array < kMaxArrays ? std::to_string(e.array) : "");
    addRowFlag(reply, l, slot, "InArray", e.array < kMaxArrays);
    addRowText(reply, l, slot, "Status", statusTextByte("DriveStatus", e.status));
    addRowText(reply, l, slot, "Class", driveClass(b, e, predicted));
  }
  setCount(reply, list.c_str(), enclosure.slots);
}

}  // namespace

void addArrayRows(VariableTable* reply, const FullViewInput& in) {
  const ConfigurationBlock& config = *in.buffers->config;
  int row = 0;
  for (int n = 0; n < arrayCount(config); ++n) {
    if (config.arrays[n].valid == kOn) addArrayRow(reply, in, row++, n);
  }
  setCount(reply, kArrayLoop, row);
}

void addLogicalDriveRows(VariableTable* reply, const FullViewInput& in) {
  int row = 0;
  for (const LogicalDriveRecord& drive : in.buffers->config->logicalDrives) {
    if (drive.valid == kOn && (drive.availability & kAvailabilityInternal) == 0) {
      addLogicalDriveRow(reply, in, row++, drive);
    }
  }
  setCount(reply, kLogicalDriveLoop, row);
}

void addHostPortRows(VariableTable* reply, const FullViewInput& in) {
  const HostTopology& topology = *in.buffers->topology;
  const int count = topology.count < 256 ? topology.count : 256;
  int row = 0;
  for (int i = 0; i < count; ++i) {
    if (topology.entries[i].kind == kTopologyHostPort) addHostPortRow(reply, in, row++, topology.entries[i]);
  }
  setCount(reply, kHostPortLoop, row);
}

void addDriveRows(VariableTable* reply, const FullViewInput& in) {
  const DriveList& drives = *in.buffers->drives;
  for (int i = 0; i < driveCount(drives); ++i) addDriveRow(reply, in, i, drives.entries[i]);
  setCount(reply, kDriveLoop, driveCount(drives));
}

void addEnclosureRows(VariableTable* reply, const FullViewInput& in) {
  int row = 0;
  for (const EnclosureEntry& enclosure : in.buffers->info->enclosures) {
    if (enclosure.valid != kOn) continue;
    addRowNumber(reply, kEnclosureLoop, row, "Number", enclosure.number);
    addEnclosureIdentity(reply, rowKey(kEnclosureLoop, row, ""), enclosure.number, enclosure.wwn);
    addRowText(reply, kEnclosureLoop, row, "Wwn", wwnText(enclosure.wwn));
    addRowNumber(reply, kEnclosureLoop, row, "SlotCount", enclosure.slots);
    addSlotRows(reply, in, row, enclosure);
    ++row;
  }
  setCount(reply, kEnclosureLoop, row);
}

}  // namespace brivo
