// The logical-drive pages: GetHostLunInformation (every logical drive of a pair, one of them in
// detail with the forms that change, expand and delete it) and GetCreateNewHostLunInformation
// (the creation form). They provide the keys the data-altering methods read back: the free
// regions as "RegionNumber%d"/"RegionSpace%d" rows, "NextHostLunNumber", the host ports the pair
// offers ("PortsSelectable", "PortsPaired", "HostPortCount") and the shown drive's "LunRefNum".
//
// Keys of both pages: "ModDeviceName"; the list "LunLoop" (fields Number, Name, SizeGb, HostLun,
// HasHostLun, State, StateCode, IsInternal, PortC0P0 ... PortC1P1, BlockSizeBytes, RefNum,
// Segments, Selected) with "NumOfLD"; the region rows with "TotalFreeGb"; on a failed read
// "ReadFailed" = "true", "LastFailureCode", "LastFailureSenseData" and the command result of the
// page's own key. Information page, for the drive named by "HostLunNumber" (default: the first):
// "LunSelected", "HostLunNumber", "HostLunName", "MappedLunNumber" (empty without host LUN) with
// "HasHostLun",
// "LunRefNum", "PortC0P0" ... "PortC1P1", "CapacityGb", "BlockSizeBytes", "IsInternalLd",
// "LunState" and the list "SegmentLoop" (RankNumber, StartGb, SizeGb); "LunNotFound" when the
// number names no drive. Creation page: "NextHostLunNumber" ("NoDriveNumberFree" when all are
// used), "MappedLunNumber" (the lowest free host LUN), "CanCreateInternalLd", "BlockSizeLoop".
//
// Thread safety: request threads under the admission gate (as readers).
#include <cstdio>
#include <memory>
#include <string>

#include "modules/brivo/command_result.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/pages/lun_rules.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kLunInfoTemplate[] = "../../html/Brivo/lun/lun_info.htm";
constexpr char kLunCreateTemplate[] = "../../html/Brivo/lun/lun_create.htm";
// What addLunList shows in detail besides a drive number.
constexpr long kSelectFirst = -1;
constexpr long kSelectNone = -2;
constexpr const char* kPortKeys[4] = {"PortC0P0", "PortC0P1", "PortC1P0", "PortC1P1"};

// The buffers both pages read.
struct LunBuffers {
  std::unique_ptr<ConfigurationBlock> config = newConfigurationBlock();
  std::unique_ptr<RegionInformation> regions = std::make_unique<RegionInformation>();
  ControllerCommand failed{};
  int result = kResultGood;
};

void readLunBuffers(const PairTarget& pair, LunBuffers* buffers) {
  if (buffers->config == nullptr) {
    buffers->result = kResultBadArguments;
    return;
  }
  buffers->result = readConfiguration(pair, buffers->config.get(), &buffers->failed);
  if (buffers->result == kResultGood)
    buffers->result = readFreeRegions(pair, buffers->regions.get(), &buffers->failed);
}

void addReadFailure(VariableTable* reply, const char* pageKey, const LunBuffers& buffers) {
  const SenseCodes codes = senseCodes(buffers.failed);
  char sense[16];
  std::snprintf(sense, sizeof(sense), "%.2X/%.2X/%.2X", codes.key, codes.asc, codes.ascq);
  addFlag(reply, "ReadFailed", true);
  addNumber(reply, "LastFailureCode", buffers.result);
  addText(reply, "LastFailureSenseData", sense);
  addControllerCommandResult(reply, pageKey, buffers.result, buffers.failed);
}

std::string segmentsText(const LogicalDriveRecord& drive) {
  std::string text;
  const int count = drive.segmentCount < kMaxSegments ? drive.segmentCount : kMaxSegments;
  for (int s = 0; s < count; ++s) {
    if (!text.empty()) text += ", ";
    text += "array " + std::to_string(drive.segments[s].array) + ": " +
            std::to_string(drive.segments[s].sizeGb) + " GB";
  }
  return text;
}

long blockSizeBytes(const LogicalDriveRecord& drive) {
  return drive.blockSizeCode == 0 ? 512 : drive.blockSizeCode;
}

std::string stateText(uint8_t state) {
  static const char* const kFallback[] = {"Online", "Degraded", "Offline", "Initializing"};
  return statusTextByte("LogicalDriveStatus", state, state < 4 ? kFallback[state] : "Unknown");
}

void addLunRow(VariableTable* reply, int row, const LogicalDriveRecord& drive, bool selected) {
  const char* list = "LunLoop";
  addRowNumber(reply, list, row, "Number", drive.number);
  addRowText(reply, list, row, "Name", fieldText(drive.name, sizeof(drive.name)));
  addRowNumber(reply, list, row, "SizeGb", drive.sizeGb);
  const bool hasLun = drive.hostLun < kMaxHostLuns;
  addRowText(reply, list, row, "HostLun", hasLun ? std::to_string(drive.hostLun) : "None");
  addRowFlag(reply, list, row, "HasHostLun", hasLun);
  addRowText(reply, list, row, "State", stateText(drive.state));
  addRowNumber(reply, list, row, "StateCode", drive.state);
  addRowFlag(reply, list, row, "IsInternal", (drive.availability & kAvailabilityInternal) != 0);
  for (int p = 0; p < 4; ++p)
    addRowFlag(reply, list, row, kPortKeys[p], (drive.availability & (1 << p)) != 0);
  addRowNumber(reply, list, row, "BlockSizeBytes", blockSizeBytes(drive));
  addRowNumber(reply, list, row, "RefNum", drive.referenceNumber);
  addRowText(reply, list, row, "Segments", segmentsText(drive));
  addRowFlag(reply, list, row, "Selected", selected);
}

// Adds the list of drives; returns the index of the drive to show in detail (-1 for none).
int addLunList(VariableTable* reply, const ConfigurationBlock& config, long wanted) {
  int rows = 0, shown = -1;
  for (int i = 0; i < kMaxLogicalDrives; ++i) {
    const LogicalDriveRecord& drive = config.logicalDrives[i];
    if (drive.valid != kOn) continue;
    const bool selected = wanted == kSelectFirst ? shown < 0 : wanted == i;
    if (selected) shown = i;
    addLunRow(reply, rows++, drive, selected);
  }
  setCount(reply, "LunLoop", rows);
  addNumber(reply, "NumOfLD", rows);
  return shown;
}

void addSelectedDrive(VariableTable* reply, const LogicalDriveRecord& drive) {
  addFlag(reply, "LunSelected", true);
  addNumber(reply, "HostLunNumber", drive.number);
  addText(reply, "HostLunName", fieldText(drive.name, sizeof(drive.name)));
  addText(reply, "MappedLunNumber", drive.hostLun < kMaxHostLuns ? std::to_string(drive.hostLun) : "");
  addFlag(reply, "HasHostLun", drive.hostLun < kMaxHostLuns);
  addNumber(reply, "LunRefNum", drive.referenceNumber);
  for (int p = 0; p < 4; ++p) addFlag(reply, kPortKeys[p], (drive.availability & (1 << p)) != 0);
  addNumber(reply, "CapacityGb", drive.sizeGb);
  addNumber(reply, "BlockSizeBytes", blockSizeBytes(drive));
  addFlag(reply, "IsInternalLd", (drive.availability & kAvailabilityInternal) != 0);
  addText(reply, "LunState", stateText(drive.state));
  const int count = drive.segmentCount < kMaxSegments ? drive.segmentCount : kMaxSegments;
  for (int s = 0; s < count; ++s) {
    addRowNumber(reply, "SegmentLoop", s, "RankNumber", drive.segments[s].array);
    addRowNumber(reply, "SegmentLoop", s, "StartGb", drive.segments[s].startGb);
    addRowNumber(reply, "SegmentLoop", s, "SizeGb", drive.segments[s].sizeGb);
  }
  setCount(reply, "SegmentLoop", count);
}

void addPortKeys(VariableTable* reply, const PairTarget& pair) {
  const ControllerTraits traits = traitsOf(*pair.state);
  addFlag(reply, "PortsSelectable", hostPortsSelectable(traits));
  addFlag(reply, "PortsPaired", hostPortsSelectable(traits) && hostPortsPaired(traits));
  addNumber(reply, "HostPortCount", traits.hostPorts);
  addFlag(reply, "HasSecondHostPort", traits.hostPorts >= 2);
}

}  // namespace

VariableTable getHostLunInformationMethod(VariableTable request) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  const PairTarget pair = pairOfRequest(request);
  LunBuffers buffers;
  if (!pair.found()) {
    buffers.result = kResultBadArguments;
  } else {
    readLunBuffers(pair, &buffers);
    addPortKeys(&reply, pair);
  }
  if (buffers.result != kResultGood) {
    addReadFailure(&reply, "GetHostLunInformation", buffers);
  } else {
    const long wanted = requestNumber(request, "HostLunNumber", kSelectFirst);
    const int shown = addLunList(&reply, *buffers.config, wanted);
    if (shown >= 0) addSelectedDrive(&reply, buffers.config->logicalDrives[shown]);
    addFlag(&reply, "LunNotFound", shown < 0 && wanted != kSelectFirst);
    if (shown < 0) addFlag(&reply, "LunSelected", false);
    addFreeRegionRows(&reply, *buffers.regions);
  }
  addVariable(&reply, kHtmlPathKey, kLunInfoTemplate);
  return reply;
}

VariableTable getCreateNewHostLunInformationMethod(VariableTable request) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  const PairTarget pair = pairOfRequest(request);
  LunBuffers buffers;
  ControllerInformation info{};
  if (!pair.found()) {
    buffers.result = kResultBadArguments;
  } else {
    readLunBuffers(pair, &buffers);
    if (buffers.result == kResultGood)
      buffers.result = readControllerInformation(pair, &info, &buffers.failed);
    addPortKeys(&reply, pair);
  }
  if (buffers.result != kResultGood) {
    addReadFailure(&reply, "GetCreateNewHostLunInformation", buffers);
  } else {
    addLunList(&reply, *buffers.config, kSelectNone);
    const uint16_t next = nextDriveNumber(*buffers.config);
    addNumber(&reply, "NextHostLunNumber", next);
    addFlag(&reply, "NoDriveNumberFree", next == kNoDriveNumber);
    const int lun = lowestFreeHostLun(*buffers.config);
    addText(&reply, "MappedLunNumber", lun == kNoHostLun ? "" : std::to_string(lun));
    const ControllerRecord* record = firstValidController(info);
    addFlag(&reply, "CanCreateInternalLd", record != nullptr && record->snapshotGeneration != 0);
    addFreeRegionRows(&reply, *buffers.regions);
  }
  static const int kBlockSizes[] = {512, 1024, 2048, 4096};
  for (int i = 0; i < 4; ++i) addRowNumber(&reply, "BlockSizeLoop", i, "Bytes", kBlockSizes[i]);
  setCount(&reply, "BlockSizeLoop", 4);
  addVariable(&reply, kHtmlPathKey, kLunCreateTemplate);
  return reply;
}

}  // namespace brivo
