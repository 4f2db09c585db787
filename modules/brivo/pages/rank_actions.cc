// The array actions of the array information page: delete, change settings, initialise, parity
// check, cancelling jobs and pausing an initialisation. Each names its pair ("ModDeviceName")
// and array ("RankNumber"; CancelParityCheck and CancelRebuild act on the whole pair and need
// none), answers with the message panel and the command result of its own method key, and asks
// the page that opened the panel to reload on success ("UpdateParent"). Configuration changes
// (delete, change) run inside a start ... save bracket; the jobs are not configuration changes.
// Every success sets the configuration-changed flag, so monitor pages reload.
//
// ChangeRankParameters keys: "ArrayName" (renames the array when given and different); the cache
// settings "ReadAheadCacheSize" (KB: 0 or "auto", 65535 or "disabled", 256, 512, 1024, 2048),
// "WriteBackCacheSize" (MB: 0 or "disabled", a power of two up to 256, 65535 or "max"), and the
// flags of rank_block.h. The cache settings are sent only when one of those keys is present;
// a setting left out keeps the array's current value (a write-back size that is not a power of
// two is kept as the largest power of two below it, the controller having no code for it).
// StartParityCheck takes "ParityCheckMode" (1 verify, 2 rewrite, 3 verify and rewrite; default 1).
//
// Thread safety: data-altering methods, admitted alone (method_table.cc).
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/rank_block.h"

namespace brivo {

namespace {

constexpr size_t kNameBytes = 32;
constexpr int kReadAheadCodes = 6;
constexpr uint16_t kReadAheadSizes[kReadAheadCodes] = {0, kReadAheadDisabled, 256, 512, 1024, 2048};
constexpr int kWriteBackMaximumCode = 10;
constexpr int kWriteBackLargestPowerCode = 9;  // 256 MB

using Send = int (*)(const PairTarget& pair, int array, VariableTable request, ControllerCommand* failed);

VariableTable arrayAction(VariableTable request, const char* methodKey, bool needsArray, Send send) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed;
  int array = -1;
  int result = kResultBadArguments;
  if (needsArray && !requestArrayNumber(request, &array)) {
    result = kResultBadValue;
  } else if (pair.found()) {
    result = send(pair, array, request, &failed);
  }
  if (result == kResultGood) markConfigurationChanged();
  return commandPopupReply(request, methodKey, result, failed);
}

int readAheadCode(uint16_t kb) {
  for (int code = 0; code < kReadAheadCodes; ++code) {
    if (kReadAheadSizes[code] == kb) return code;
  }
  return -1;
}

// exact: only sizes the controller has a code for; else the largest power of two not above mb.
int writeBackCode(uint16_t mb, bool exact) {
  if (mb == 0) return 0;
  if (mb == kWriteBackMaximum) return kWriteBackMaximumCode;
  for (int code = kWriteBackLargestPowerCode; code >= 1; --code) {
    const uint16_t size = static_cast<uint16_t>(1u << (code - 1));
    if (size == mb || (!exact && size < mb)) return code;
  }
  return -1;
}

// A size key with its words; absent leaves *size alone. False for an unusable value.
bool sizeValue(VariableTable request, const char* key, const char* zeroWord, const char* topWord,
               uint16_t top, uint16_t* size) {
  const char* text = getVariable(request, key);
  if (text != nullptr && strcasecmp(text, zeroWord) == 0) {
    *size = 0;
    return true;
  }
  if (text != nullptr &&
      (strcasecmp(text, topWord) == 0 || (top == kWriteBackMaximum && strcasecmp(text, "maximum") == 0))) {
    *size = top;
    return true;
  }
  long value = 0;
  switch (requestField(request, key, 0, 0xFFFF, &value)) {
    case FieldState::kAbsent:
      return true;
    case FieldState::kValue:
      *size = static_cast<uint16_t>(value);
      return true;
    case FieldState::kBad:
      return false;
  }
  return false;
}

bool hasCacheKeys(VariableTable request) {
  for (const char* key : {"ReadAheadCacheSize", "WriteBackCacheSize", "CacheMirror", "CacheUPS",
                          "CacheBattery", "CacheFaultTolerant2", "CacheCacheFlush"}) {
    if (getVariable(request, key) != nullptr) return true;
  }
  return false;
}

struct ArrayChange {
  bool cache = false;
  uint8_t flags = 0;
  uint8_t codes = 0;  // write-back code << 4 | read-ahead code
  bool rename = false;
  NameBlock32 name{};
};

// The change a request asks of the array record current; false for an unusable value.
bool changeOf(VariableTable request, const ArrayRecord& current, ArrayChange* change) {
  const char* name = getVariable(request, "ArrayName");
  if (name != nullptr) {
    if (std::strlen(name) > kNameBytes) return false;
    std::memcpy(change->name.name, name, std::strlen(name));
    change->rename = std::memcmp(change->name.name, current.name, kNameBytes) != 0;
  }
  if (!hasCacheKeys(request)) return true;
  uint16_t readAhead = current.readAheadKb;
  uint16_t writeBack = current.writeBackMb;
  const bool readAheadGiven = getVariable(request, "ReadAheadCacheSize") != nullptr;
  const bool writeBackGiven = getVariable(request, "WriteBackCacheSize") != nullptr;
  if (!sizeValue(request, "ReadAheadCacheSize", "auto", "disabled", kReadAheadDisabled, &readAhead) ||
      !sizeValue(request, "WriteBackCacheSize", "disabled", "max", kWriteBackMaximum, &writeBack)) {
    return false;
  }
  const int ra = readAheadGiven ? readAheadCode(readAhead) : std::max(readAheadCode(readAhead), 0);
  // The array's own size is kept even when the controller has no code for it (the form offers it).
  const int wb = writeBackCode(writeBack, writeBackGiven && writeBack != current.writeBackMb);
  if (ra < 0 || wb < 0) return false;
  change->cache = true;
  change->codes = static_cast<uint8_t>(wb << 4 | ra);
  change->flags = wb != 0 ? kCacheWriteBack : 0;
  if (requestFlag(request, "CacheMirror")) change->flags |= kCacheMirror;
  if (requestFlag(request, "CacheUPS")) change->flags |= kCacheUps;
  if (requestFlag(request, "CacheBattery")) change->flags |= kCacheBattery;
  if (requestFlag(request, "CacheFaultTolerant2")) change->flags |= kCacheFaultTolerant2;
  if (requestFlag(request, "CacheCacheFlush")) change->flags |= kCacheFlushEnabled;
  return true;
}

int sendChange(const PairTarget& pair, int array, VariableTable request, ControllerCommand* failed) {
  ArrayRecord current{};
  int result = readArrayRecord(pair, array, &current, failed);
  if (result != kResultGood) return result;
  ArrayChange change;
  if (!changeOf(request, current, &change)) return kResultBadValue;
  if (!change.cache && !change.rename) return kResultGood;
  const uint8_t n = static_cast<uint8_t>(array);
  return inConfigChange(pair, failed, [&] {
    int sent = kResultGood;
    if (change.cache)
      sent = sendOperation(pair, kOpChangeArray, n, change.flags, change.codes, nullptr, 0, failed);
    if (sent == kResultGood && change.rename) {
      sent = sendOperation(pair, kOpRenameArray, n, 0, 0, &change.name, sizeof(change.name), failed);
    }
    return sent;
  });
}

int sendDelete(const PairTarget& pair, int array, VariableTable, ControllerCommand* failed) {
  return inConfigChange(pair, failed, [&] {
    return sendOperation(pair, kOpDeleteArray, static_cast<uint8_t>(array >> 8), static_cast<uint8_t>(array),
                         0, nullptr, 0, failed);
  });
}

int sendInitialize(const PairTarget& pair, int array, VariableTable, ControllerCommand* failed) {
  return sendOperation(pair, kOpInitializeArray, static_cast<uint8_t>(array), kInitStart, 0, nullptr, 0,
                       failed);
}

int sendPause(const PairTarget& pair, int array, VariableTable, ControllerCommand* failed) {
  return sendOperation(pair, kOpInitializeArray, static_cast<uint8_t>(array), kInitPause, 0, nullptr, 0,
                       failed);
}

int sendResume(const PairTarget& pair, int array, VariableTable, ControllerCommand* failed) {
  return sendOperation(pair, kOpInitializeArray, static_cast<uint8_t>(array), kInitResume, 0, nullptr, 0,
                       failed);
}

int sendCancelInitialization(const PairTarget& pair, int array, VariableTable, ControllerCommand* failed) {
  return sendOperation(pair, kOpCancelInitialization, static_cast<uint8_t>(array), 0, 0, nullptr, 0, failed);
}

int sendStartParity(const PairTarget& pair, int array, VariableTable request, ControllerCommand* failed) {
  long mode = kParityVerify;
  const FieldState state =
      requestField(request, "ParityCheckMode", kParityVerify, kParityVerifyRewrite, &mode);
  if (state == FieldState::kBad) return kResultBadValue;
  if (state == FieldState::kAbsent) mode = kParityVerify;
  return sendOperation(pair, kOpStartParityCheck, kOff, static_cast<uint8_t>(array),
                       static_cast<uint8_t>(mode), nullptr, 0, failed);
}

int sendCancelParity(const PairTarget& pair, int, VariableTable, ControllerCommand* failed) {
  return sendOperation(pair, kOpCancelParityCheck, 0, 0, 0, nullptr, 0, failed);
}

int sendCancelRebuild(const PairTarget& pair, int, VariableTable, ControllerCommand* failed) {
  return sendOperation(pair, kOpCancelRebuild, 0, 0, 0, nullptr, 0, failed);
}

}  // namespace

VariableTable deleteRankMethod(VariableTable request) {
  return arrayAction(request, "DeleteRank", true, sendDelete);
}
VariableTable changeRankParametersMethod(VariableTable request) {
  return arrayAction(request, "ChangeRankParameters", true, sendChange);
}
VariableTable initializeRankMethod(VariableTable request) {
  return arrayAction(request, "InitializeRank", true, sendInitialize);
}
VariableTable startParityCheckMethod(VariableTable request) {
  return arrayAction(request, "StartParityCheck", true, sendStartParity);
}
VariableTable cancelParityCheckMethod(VariableTable request) {
  return arrayAction(request, "CancelParityCheck", false, sendCancelParity);
}
VariableTable cancelInitializationMethod(VariableTable request) {
  return arrayAction(request, "CancelInitialization", true, sendCancelInitialization);
}
VariableTable cancelRebuildMethod(VariableTable request) {
  return arrayAction(request, "CancelRebuild", false, sendCancelRebuild);
}
VariableTable pauseArrayInitMethod(VariableTable request) {
  return arrayAction(request, "PauseArrayInit", true, sendPause);
}
VariableTable unPauseArrayInitMethod(VariableTable request) {
  return arrayAction(request, "UnPauseArrayInit", true, sendResume);
}

}  // namespace brivo
