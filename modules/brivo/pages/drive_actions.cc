// The drive operations of the drive page: MakeHotSpare, DeleteHotSpare, RegenerateDrive,
// BlinkDrive, BypassDrive and EnableDrive. Each reads its parameters from the request (absent
// numbers take the values the drive page would send for "none"), sends its WRITE BUFFER commands
// (hot spare changes inside a configuration bracket), waits until the controller takes commands
// again and answers with its command result: the drive page for the first four, the pop-up for
// bypass ("CloseParent") and enable ("UpdateParent").
//
// A request without a pair, or whose "DriveWWN" is not 16 hexadecimal digits where a WWN is
// needed, sends nothing and reports result 254.
//
// Thread safety: request threads under the admission gate in their method's mode (BlinkDrive as a
// reader, the others as writers).
#include <algorithm>

#include "modules/brivo/command_result.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

uint8_t requestByte(VariableTable request, const char* key, uint8_t fallback) {
  return static_cast<uint8_t>(std::clamp<long>(requestNumber(request, key, fallback), 0, 255));
}

// The drive page with the command result of methodKey.
VariableTable drivePageWithResult(VariableTable request, const char* methodKey, int result,
                                  const ControllerCommand& failed) {
  VariableTable reply = getDriveInformationMethod(request);
  addControllerCommandResult(&reply, methodKey, result, failed);
  return reply;
}

VariableTable popupWithParentFlag(VariableTable request, const char* methodKey, int result,
                                  const ControllerCommand& failed, const char* parentKey) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  addControllerCommandResult(&reply, methodKey, result, failed);
  addVariable(&reply, parentKey, "true");
  addVariable(&reply, kHtmlPathKey, kMessagePopupPanel);
  return reply;
}

// Sends a drive ID operation (bypass, enable) and waits for the controller.
int driveIdOperation(VariableTable request, uint8_t bufferId, ControllerCommand* failed) {
  const PairTarget pair = pairOfRequest(request);
  if (!pair.found()) return kResultBadArguments;
  const uint8_t id = requestByte(request, "HardDriveId", 255);
  const int result = sendOperation(pair, bufferId, 0, id, 0, nullptr, 0, failed);
  waitUntilReady(pair);
  return result;
}

}  // namespace

VariableTable makeHotSpareMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  HotSpareBlock block{};
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && parseWwn(getVariable(request, "DriveWWN"), block.wwn)) {
    block.array = requestByte(request, "RankNumber", kSpareGlobal);
    result = inConfigChange(pair, &failed, [&] {
      return sendOperation(pair, kOpAddHotSpare, 0, 0, 0, &block, sizeof(block), &failed);
    });
    waitUntilReady(pair);
  }
  return drivePageWithResult(request, "MakeHotSpare", result, failed);
}

VariableTable deleteHotSpareMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const uint8_t spare = requestByte(request, "HotSpareNumber", 255);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && spare != 255) {
    result = inConfigChange(pair, &failed, [&] {
      return sendOperation(pair, kOpRemoveHotSpare, spare, 0, 0, nullptr, 0, &failed);
    });
    waitUntilReady(pair);
  }
  return drivePageWithResult(request, "RemoveHotSpare", result, failed);
}

VariableTable regenerateDriveMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  RebuildBlock block{};
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && parseWwn(getVariable(request, "DriveWWN"), block.wwn)) {
    block.array = requestByte(request, "RankNumber", 254);
    block.member = requestByte(request, "DriveNumber", 255);
    result = sendOperation(pair, kOpRebuildDrive, 0, 0, 0, &block, sizeof(block), &failed);
    waitUntilReady(pair);
  }
  VariableTable reply = drivePageWithResult(request, "RegenerateDrive", result, failed);
  if (result == kResultGood) {
    // The page shows the drive as rebuilding and offers neither action again.
    replaceVariable(&reply, "RankNumber", "243");
    replaceVariable(&reply, "RankText", "Rebuilding");
    replaceVariable(&reply, "RegenerateButtonEnabled", "false");
    replaceVariable(&reply, "MakeSpareButtonEnabled", "false");
  }
  return reply;
}

VariableTable blinkDriveMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found()) {
    const uint8_t loop = requestByte(request, "LoopNumber", 255);
    const uint8_t id = requestByte(request, "DriveId", 255);
    const uint8_t seconds = requestByte(request, "TimeInSeconds", 0);
    result = sendOperation(pair, kOpIdentify, loop, id, seconds, nullptr, 0, &failed);
    waitUntilReady(pair);
  }
  return drivePageWithResult(request, "BlinkDrive", result, failed);
}

VariableTable bypassDriveMethod(VariableTable request) {
  ControllerCommand failed{};
  const int result = driveIdOperation(request, kOpBypassDrive, &failed);
  return popupWithParentFlag(request, "BypassDrive", result, failed, "CloseParent");
}

VariableTable enableDriveMethod(VariableTable request) {
  ControllerCommand failed{};
  const int result = driveIdOperation(request, kOpEnableDrive, &failed);
  return popupWithParentFlag(request, "EnableDrive", result, failed, "UpdateParent");
}

}  // namespace brivo
