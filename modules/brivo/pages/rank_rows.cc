// Rows shared by the array pages; see rank_rows.h.
#include "modules/brivo/pages/rank_rows.h"

#include <cstring>
#include <new>
#include <string>

#include "modules/brivo/pages/full_view.h"
#include "modules/brivo/pages/full_view_reads.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pages/rank_block.h"

namespace brivo {

namespace {

constexpr char kFreeDriveLoop[] = "FreeDriveLoop";

bool chosenByRequest(VariableTable request, const std::string& wwn) {
  const char* marked = getVariable(request, wwn.c_str());
  if (marked != nullptr && std::strcmp(marked, "true") == 0) return true;
  for (int i = 0; i < kDriveKeys; ++i) {
    const char* value = getVariable(request, ("Drive" + std::to_string(i)).c_str());
    if (value != nullptr && wwn == value) return true;
  }
  return false;
}

}  // namespace

int readArrayPageBuffers(const PairTarget& pair, ArrayPageBuffers* out, ControllerCommand* failed) {
  out->config = newConfigurationBlock();
  out->drives.reset(new (std::nothrow) DriveList());
  if (!out->config || !out->drives) return kResultNoMemory;
  const int result = readConfiguration(pair, out->config.get(), failed);
  if (result != kResultGood) return result;
  return readDriveList(pair, out->drives.get(), failed);
}

bool isFreeDrive(const DriveListEntry& entry) {
  return entry.usage == kUsageFree && entry.status == kDriveGood;
}

int addFreeDriveRows(VariableTable* reply, VariableTable request, const DriveList& list) {
  const int count = list.count < kMaxDrives ? list.count : kMaxDrives;
  int row = 0;
  for (int i = 0; i < count; ++i) {
    const DriveListEntry& e = list.entries[i];
    if (!isFreeDrive(e)) continue;
    const std::string wwn = wwnText(e.wwn);
    addRowNumber(reply, kFreeDriveLoop, row, "Index", i);
    addRowText(reply, kFreeDriveLoop, row, "Wwn", wwn);
    addRowText(reply, kFreeDriveLoop, row, "Enclosure",
               e.enclosure == 0xFE ? std::string() : std::to_string(e.enclosure));
    addDriveIdentity(reply, kFreeDriveLoop, row, i, e);
    addRowNumber(reply, kFreeDriveLoop, row, "CapacityGb", static_cast<long long>(driveCapacityGb(e)));
    addRowText(reply, kFreeDriveLoop, row, "Vendor", fieldText(e.vendor, sizeof(e.vendor)));
    addRowText(reply, kFreeDriveLoop, row, "Product", fieldText(e.product, sizeof(e.product)));
    addRowText(reply, kFreeDriveLoop, row, "Serial", fieldText(e.serial, sizeof(e.serial)));
    addRowFlag(reply, kFreeDriveLoop, row, "Checked", chosenByRequest(request, wwn));
    ++row;
  }
  setCount(reply, kFreeDriveLoop, row);
  return row;
}

int arraysInUse(const ConfigurationBlock& config) {
  int count = 0;
  for (const ArrayRecord& array : config.arrays) count += array.valid == kOn ? 1 : 0;
  return count;
}

int logicalDrivesOnArray(const ConfigurationBlock& config, int array) {
  int count = 0;
  for (const LogicalDriveRecord& drive : config.logicalDrives) {
    if (drive.valid != kOn) continue;
    const int segments = drive.segmentCount < kMaxSegments ? drive.segmentCount : kMaxSegments;
    bool on = false;
    for (int s = 0; s < segments; ++s) on = on || drive.segments[s].array == array;
    count += on ? 1 : 0;
  }
  return count;
}

}  // namespace brivo
