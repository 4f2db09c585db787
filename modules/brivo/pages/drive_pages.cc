// The drive page (GetDriveInformation): every drive behind a pair, one of them in detail with the
// operations that apply to it. It provides the keys the drive methods read back (drive_actions.cc).
//
// Keys: "ModDeviceName"; the list "DriveLoop" (fields WWN, Vendor, Product, Revision, Serial,
// CapacityGb, Enclosure, Usage, UsageCode, RankNumber, DriveNumber, Status, StatusCode,
// HotSpareNumber, Predicted, Identifying, Selected and the identity keys of identity.h: DriveId,
// DiskIndex, Slot, EnclosureNumber, EnclosureLabel) with "DriveCount"; the list "ArrayLoop"
// (RankNumber, Name) of the arrays a hot spare can serve. For the drive named by "DriveWWN":
// "DriveSelected", "DriveWWN", "RankNumber" (its array; 254 for a global spare, 255 none),
// "DriveNumber" (member position, 255 none), "DiskIndex", "Slot", "EnclosureLabel",
// "EnclosureNumber", "HotSpareNumber" (255 none), their display forms
// "RankText", "MemberText" and "HotSpareText", "LoopNumber" (0 first
// drive loop, 1 second, 255 none), "DriveId", "HardDriveId", "DriveStatus", "DriveUsage", the
// list "RebuildTargetLoop" (RankNumber, DriveNumber, RankName: array members the drive can be
// rebuilt into) and the button flags "MakeSpareButtonEnabled", "DeleteSpareButtonEnabled",
// "RegenerateButtonEnabled", "BlinkButtonEnabled", "BypassButtonEnabled", "EnableButtonEnabled".
// A failed read adds "ReadFailed", "LastFailureCode", "LastFailureSenseData" and the command
// result of "GetDriveInformation".
//
// Thread safety: request threads under the admission gate (as readers).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "modules/brivo/command_result.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kDriveTemplate[] = "../../html/Brivo/drive/drive_info.htm";

const char* usageFallback(uint8_t usage) {
  switch (usage) {
    case kUsageFree:
      return "Free";
    case kUsageMember:
      return "Array member";
    case kUsageGlobalSpare:
      return "Global spare";
    case kUsageDedicatedSpare:
      return "Dedicated spare";
    default:
      return "Unknown";
  }
}

const char* statusFallback(uint8_t status) {
  static const char* const kTexts[] = {"Good", "Failed", "Bypassed", "Rebuilding"};
  return status < 4 ? kTexts[status] : "Unknown";
}

std::string numberOrEmpty(uint8_t value) { return value == 0xFF ? "" : std::to_string(value); }

void addDriveRow(VariableTable* reply, int row, const DriveListEntry& e, bool selected) {
  const char* list = "DriveLoop";
  addRowText(reply, list, row, "WWN", wwnText(e.wwn));
  addRowText(reply, list, row, "Vendor", fieldText(e.vendor, sizeof(e.vendor)));
  addRowText(reply, list, row, "Product", fieldText(e.product, sizeof(e.product)));
  addRowText(reply, list, row, "Revision", fieldText(e.revision, sizeof(e.revision)));
  addRowText(reply, list, row, "Serial", fieldText(e.serial, sizeof(e.serial)));
  addRowNumber(reply, list, row, "CapacityGb", static_cast<long long>((e.blocks * e.blockSize) >> 30));
  addRowText(reply, list, row, "Enclosure", e.enclosure == 0xFE ? "None" : std::to_string(e.enclosure));
  addDriveIdentity(reply, list, row, row, e);
  addRowText(reply, list, row, "Usage", statusTextByte("DriveUsage", e.usage, usageFallback(e.usage)));
  addRowNumber(reply, list, row, "UsageCode", e.usage);
  addRowText(reply, list, row, "RankNumber", numberOrEmpty(e.array));
  addRowText(reply, list, row, "DriveNumber", numberOrEmpty(e.member));
  addRowText(reply, list, row, "Status", statusTextByte("DriveStatus", e.status, statusFallback(e.status)));
  addRowNumber(reply, list, row, "StatusCode", e.status);
  addRowText(reply, list, row, "HotSpareNumber", numberOrEmpty(e.hotSpareNumber));
  addRowFlag(reply, list, row, "Predicted", (e.flags & kDriveFlagPredicted) != 0);
  addRowFlag(reply, list, row, "Identifying", (e.flags & kDriveFlagIdentify) != 0);
  addRowFlag(reply, list, row, "Selected", selected);
}

void addArrays(VariableTable* reply, const ConfigurationBlock& config) {
  int rows = 0;
  for (int n = 0; n < kMaxArrays; ++n) {
    const ArrayRecord& array = config.arrays[n];
    if (array.valid != kOn) continue;
    addRowNumber(reply, "ArrayLoop", rows, "RankNumber", n);
    addRowText(reply, "ArrayLoop", rows, "Name", fieldText(array.name, sizeof(array.name)));
    ++rows;
  }
  setCount(reply, "ArrayLoop", rows);
}

// Members that lost their drive: where the selected drive could be rebuilt into. A member drive
// is offered only its own position; a free or spare drive every lost member.
int addRebuildTargets(VariableTable* reply, const ConfigurationBlock& config, const DriveListEntry& e) {
  int rows = 0;
  for (int n = 0; n < kMaxArrays; ++n) {
    const ArrayRecord& array = config.arrays[n];
    if (array.valid != kOn) continue;
    for (int m = 0; m < array.driveCount && m < kMaxMembers; ++m) {
      const uint8_t status = array.memberStatus[m];
      if (status != kMemberFailed && status != kMemberMissing) continue;
      if (e.usage == kUsageMember && (e.array != n || e.member != m)) continue;
      addRowNumber(reply, "RebuildTargetLoop", rows, "RankNumber", n);
      addRowNumber(reply, "RebuildTargetLoop", rows, "DriveNumber", m);
      addRowText(reply, "RebuildTargetLoop", rows, "RankName", fieldText(array.name, sizeof(array.name)));
      ++rows;
    }
  }
  setCount(reply, "RebuildTargetLoop", rows);
  return rows;
}

void addSelectedDrive(VariableTable* reply, const ConfigurationBlock& config, const DriveListEntry& e,
                      int index) {
  addFlag(reply, "DriveSelected", true);
  addNumber(reply, "DiskIndex", index);
  addNumber(reply, "Slot", e.slot);
  addText(reply, "EnclosureLabel", e.enclosure == 0xFE ? "None" : enclosureLabel(e.enclosure));
  addText(reply, "EnclosureNumber", e.enclosure == 0xFE ? "" : std::to_string(e.enclosure));
  addFlag(reply, "InEnclosure", e.enclosure != 0xFE);
  addText(reply, "DriveWWN", wwnText(e.wwn));
  const uint8_t rank = e.usage == kUsageGlobalSpare ? kSpareGlobal : e.array;
  addNumber(reply, "RankNumber", rank);
  addNumber(reply, "DriveNumber", e.member);
  addNumber(reply, "HotSpareNumber", e.hotSpareNumber);
  addText(reply, "RankText",
          rank == kSpareGlobal ? "Every array"
          : rank == 0xFF       ? "None"
                               : std::to_string(rank));
  addText(reply, "MemberText", numberOrEmpty(e.member));
  addText(reply, "HotSpareText", numberOrEmpty(e.hotSpareNumber));
  const uint8_t loop = e.loop1Id != kNotOnLoop ? 0 : e.loop2Id != kNotOnLoop ? 1 : 0xFF;
  addNumber(reply, "LoopNumber", loop);
  addNumber(reply, "DriveId", e.driveId);
  addNumber(reply, "HardDriveId", e.driveId);
  addText(reply, "DriveStatus", statusTextByte("DriveStatus", e.status, statusFallback(e.status)));
  addText(reply, "DriveUsage", statusTextByte("DriveUsage", e.usage, usageFallback(e.usage)));
  const bool good = e.status == kDriveGood;
  const int targets = good ? addRebuildTargets(reply, config, e) : 0;
  if (!good) setCount(reply, "RebuildTargetLoop", 0);
  const bool spare = e.usage == kUsageGlobalSpare || e.usage == kUsageDedicatedSpare;
  addFlag(reply, "MakeSpareButtonEnabled", good && e.usage == kUsageFree);
  addFlag(reply, "DeleteSpareButtonEnabled", spare && e.hotSpareNumber != 0xFF);
  addFlag(reply, "RegenerateButtonEnabled", targets > 0);
  addFlag(reply, "BlinkButtonEnabled", loop != 0xFF);
  addFlag(reply, "BypassButtonEnabled", e.status != kDriveBypassed);
  addFlag(reply, "EnableButtonEnabled", e.status == kDriveBypassed);
}

void addReadFailure(VariableTable* reply, int result, const ControllerCommand& failed) {
  const SenseCodes codes = senseCodes(failed);
  char sense[16];
  std::snprintf(sense, sizeof(sense), "%.2X/%.2X/%.2X", codes.key, codes.asc, codes.ascq);
  addFlag(reply, "ReadFailed", true);
  addNumber(reply, "LastFailureCode", result);
  addText(reply, "LastFailureSenseData", sense);
  addControllerCommandResult(reply, "GetDriveInformation", result, failed);
}

}  // namespace

VariableTable getDriveInformationMethod(VariableTable request) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  const PairTarget pair = pairOfRequest(request);
  auto drives = std::make_unique<DriveList>();
  std::unique_ptr<ConfigurationBlock> config = newConfigurationBlock();
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && config != nullptr) {
    result = readDriveList(pair, drives.get(), &failed);
    if (result == kResultGood) result = readConfiguration(pair, config.get(), &failed);
  }
  if (result != kResultGood) {
    addReadFailure(&reply, result, failed);
  } else {
    uint8_t wanted[8] = {};
    const bool selecting = parseWwn(getVariable(request, "DriveWWN"), wanted);
    const int count = drives->count < kMaxDrives ? drives->count : kMaxDrives;
    int selected = -1;
    for (int i = 0; i < count; ++i) {
      const DriveListEntry& e = drives->entries[i];
      const bool match = selecting && std::memcmp(e.wwn, wanted, 8) == 0;
      if (match) selected = i;
      addDriveRow(&reply, i, e, match);
    }
    setCount(&reply, "DriveLoop", count);
    addNumber(&reply, "DriveCount", count);
    addArrays(&reply, *config);
    if (selected >= 0) {
      addSelectedDrive(&reply, *config, drives->entries[selected], selected);
    } else {
      addFlag(&reply, "DriveSelected", false);
    }
  }
  addVariable(&reply, kHtmlPathKey, kDriveTemplate);
  return reply;
}

}  // namespace brivo
