// The create-array page (GetCreateNewRankInformation) and the method behind its form
// (CreateNewRank), which creates an array or adds drives to one.
//
// Create page keys besides the profiles (rank_profiles.h) and the free drives (rank_rows.h):
// "ModDeviceName", "ArrayCount" (arrays in use), "CanCreate" (a free drive and a free array
// slot), "RaidLevelLoop%d{Code,Text,MinDrives}" (the levels the form offers), and
// "ArrayLoop%d{Number,Name,RaidLevel,DriveCount}" (arrays an expansion may grow).
//
// Thread safety: GetCreateNewRankInformation holds the admission gate as a reader, CreateNewRank
// as a writer (method_table.cc).
#include <string>

#include "modules/brivo/command_result.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/full_view_reads.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pages/rank_block.h"
#include "modules/brivo/pages/rank_profiles.h"
#include "modules/brivo/pages/rank_rows.h"

namespace brivo {

namespace {

constexpr char kCreateTemplate[] = "../../html/Brivo/array/create_array.htm";

struct LevelChoice {
  uint8_t code;
  int minDrives;
};
constexpr LevelChoice kLevels[] = {{kRaid0, 1}, {kRaid1, 2},  {kRaid3, 3}, {kRaid5, 3},
                                   {kRaid6, 4}, {kRaid10, 4}, {kRaid50, 6}};

void addLevelRows(VariableTable* reply) {
  int row = 0;
  for (const LevelChoice& level : kLevels) {
    addRowNumber(reply, "RaidLevelLoop", row, "Code", level.code);
    addRowText(reply, "RaidLevelLoop", row, "Text", raidLevelText(level.code));
    addRowNumber(reply, "RaidLevelLoop", row, "MinDrives", level.minDrives);
    ++row;
  }
  setCount(reply, "RaidLevelLoop", row);
}

void addExpandableArrays(VariableTable* reply, const ConfigurationBlock& config) {
  int row = 0;
  for (int n = 0; n < kMaxArrays; ++n) {
    const ArrayRecord& a = config.arrays[n];
    if (a.valid != kOn) continue;
    addRowNumber(reply, "ArrayLoop", row, "Number", n);
    addRowText(reply, "ArrayLoop", row, "Name", fieldText(a.name, sizeof(a.name)));
    addRowText(reply, "ArrayLoop", row, "RaidLevel", raidLevelText(a.raidLevel));
    addRowNumber(reply, "ArrayLoop", row, "DriveCount", a.driveCount);
    ++row;
  }
  setCount(reply, "ArrayLoop", row);
}

// The page for request; on a failed read the message panel with the read's result.
VariableTable createPage(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ArrayPageBuffers buffers;
  ControllerCommand failed;
  const int result = pair.found() ? readArrayPageBuffers(pair, &buffers, &failed) : kResultBadArguments;
  if (result == kResultNoMemory) return errorPanelReply(kInsufficientMemory);
  if (result != kResultGood) {
    return commandPopupReply(request, "GetCreateNewRankInformation", result, failed, false);
  }
  TableOwner reply;
  VariableTable* r = reply.address();
  echoDeviceName(r, request);
  addProfileKeys(r);
  addLevelRows(r);
  const int free = addFreeDriveRows(r, request, *buffers.drives);
  const int arrays = arraysInUse(*buffers.config);
  addExpandableArrays(r, *buffers.config);
  addNumber(r, "ArrayCount", arrays);
  addFlag(r, "CanCreate", free > 0 && arrays < kMaxArrays);
  addText(r, kHtmlPathKey, kCreateTemplate);
  return reply.release();
}

// The request the refreshed page is built from after a creation: the pair and the drives used.
VariableTable usedDrivesRequest(VariableTable request, const CreateArrayBlock& block) {
  VariableTable used = nullptr;
  echoDeviceName(&used, request);
  for (int i = 0; i < block.driveCount && i < kMaxMembers; ++i) {
    addVariable(&used, wwnText(block.driveWwn[i]).c_str(), "true");
  }
  return used;
}

VariableTable createArray(VariableTable request, const PairTarget& pair) {
  CreateArrayBlock block;
  std::string badKey;
  ControllerCommand failed;
  int result = kResultBadArguments;
  if (!buildCreateArrayBlock(request, &block, &badKey)) {
    consolePrint("CreateNewRank: %s cannot be used\n", badKey.c_str());
    result = kResultBadValue;
  } else if (pair.found()) {
    result = inConfigChange(pair, &failed, [&] {
      return sendOperation(pair, kOpCreateArray, 0, 0, 0, &block, sizeof(block), &failed);
    });
  }
  TableOwner pageRequest(result == kResultGood ? usedDrivesRequest(request, block)
                                               : copyVariableTable(request));
  VariableTable reply = createPage(pageRequest.get());
  addControllerCommandResult(&reply, "CreateRank", result, failed);
  return reply;
}

VariableTable expandArray(VariableTable request, const PairTarget& pair) {
  ExpandArrayBlock block;
  std::string badKey;
  ControllerCommand failed;
  int result = kResultBadArguments;
  if (!buildExpandArrayBlock(request, &block, &badKey)) {
    consolePrint("CreateNewRank: %s cannot be used\n", badKey.c_str());
    result = kResultBadValue;
  } else if (pair.found()) {
    result = inConfigChange(pair, &failed, [&] {
      return sendOperation(pair, kOpExpandArray, 0, 0, 0, &block, sizeof(block), &failed);
    });
  }
  return commandPopupReply(request, "ExpandArray", result, failed);
}

}  // namespace

VariableTable getCreateNewRankInformationMethod(VariableTable request) { return createPage(request); }

VariableTable createNewRankMethod(VariableTable request) {
  printRequest(request);
  const PairTarget pair = pairOfRequest(request);
  if (requestFlag(request, "PerformExpansion")) return expandArray(request, pair);
  return createArray(request, pair);
}

}  // namespace brivo
