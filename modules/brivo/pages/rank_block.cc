// Array creation and expansion blocks from a request; see rank_block.h.
#include "modules/brivo/pages/rank_block.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr uint8_t kUnset = 0xFF;
constexpr uint16_t kChunkDefault = 0xFFFF;
constexpr long kDefaultWriteBackMb = 5;
constexpr size_t kNameBytes = 32;

// A field with its default; false (badKey set) when the value is unusable.
bool numberOr(VariableTable request, const char* key, long low, long high, long fallback, long* out,
              std::string* badKey) {
  long value = 0;
  switch (requestField(request, key, low, high, &value)) {
    case FieldState::kAbsent:
      *out = fallback;
      return true;
    case FieldState::kValue:
      *out = value;
      return true;
    case FieldState::kBad:
      break;
  }
  *badKey = key;
  return false;
}

bool initializeValue(VariableTable request, long* out, std::string* badKey) {
  const char* text = getVariable(request, "Initialize");
  if (text != nullptr && (strcasecmp(text, "true") == 0 || strcasecmp(text, "on") == 0)) {
    *out = 1;
    return true;
  }
  if (text != nullptr && (strcasecmp(text, "false") == 0 || strcasecmp(text, "off") == 0)) {
    *out = 0;
    return true;
  }
  return numberOr(request, "Initialize", 0, 255, kUnset, out, badKey);
}

uint8_t cacheFlags(VariableTable request, long writeBackMb) {
  uint8_t flags = writeBackMb != 0 ? kCacheWriteBack : 0;
  if (requestFlag(request, "CacheMirror")) flags |= kCacheMirror;
  if (requestFlag(request, "CacheUPS")) flags |= kCacheUps;
  if (requestFlag(request, "CacheBattery")) flags |= kCacheBattery;
  if (requestFlag(request, "CacheFaultTolerant2")) flags |= kCacheFaultTolerant2;
  if (requestFlag(request, "CacheCacheFlush")) flags |= kCacheFlushEnabled;
  return flags;
}

// RAID 6 keeps two parity drives; RAID 50 takes the request's group count; the rest none.
bool parityDrives(VariableTable request, uint8_t level, uint8_t* out, std::string* badKey) {
  *out = 0;
  if (level == kRaid6) {
    *out = 2;
    return true;
  }
  if (level != kRaid50) return true;
  long value = 0;
  if (!numberOr(request, "NumberOfParityDrives", 0, 255, 0, &value, badKey)) return false;
  *out = static_cast<uint8_t>(value);
  return true;
}

}  // namespace

FieldState requestField(VariableTable request, const char* key, long low, long high, long* value) {
  const char* text = getVariable(request, key);
  if (text == nullptr || std::strstr(text, "missing") != nullptr) return FieldState::kAbsent;
  if (*text == '\0') {
    *value = 0;
    return low <= 0 && 0 <= high ? FieldState::kValue : FieldState::kBad;
  }
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return FieldState::kBad;
  }
  errno = 0;
  const long parsed = std::strtol(text, nullptr, 10);
  if (errno != 0 || parsed < low || parsed > high) return FieldState::kBad;
  *value = parsed;
  return FieldState::kValue;
}

bool requestArrayNumber(VariableTable request, int* array) {
  const char* text = getVariable(request, "RankNumber");
  long value = 0;
  if (text == nullptr || *text == '\0' ||
      requestField(request, "RankNumber", 0, kMaxArrays - 1, &value) != FieldState::kValue) {
    return false;
  }
  *array = static_cast<int>(value);
  return true;
}

bool requestDrives(VariableTable request, uint8_t wwns[kMaxMembers][8], int* count, std::string* badKey) {
  *count = 0;
  for (int i = 0; i < kDriveKeys && *count < kMaxMembers; ++i) {
    const std::string key = "Drive" + std::to_string(i);
    const char* text = getVariable(request, key.c_str());
    if (text == nullptr || *text == '\0') continue;
    if (!parseWwn(text, wwns[*count])) {
      *badKey = key;
      return false;
    }
    ++*count;
  }
  return true;
}

bool buildCreateArrayBlock(VariableTable request, CreateArrayBlock* block, std::string* badKey) {
  std::memset(block, 0, sizeof(*block));
  long level = 0, chunk = 0, flush = 0, readAhead = 0, writeBack = 0, initialize = 0, unused = 0;
  if (!numberOr(request, "RaidLevel", 0, 255, kUnset, &level, badKey) ||
      !numberOr(request, "ChunkSize", 0, 0xFFFF, kChunkDefault, &chunk, badKey) ||
      !numberOr(request, "CacheFlush", 0, 255, kUnset, &flush, badKey) ||
      !numberOr(request, "ReadAheadCacheSize", 0, 0xFFFF, 0, &readAhead, badKey) ||
      !numberOr(request, "WriteBackCacheSize", 0, 0xFFFF, kDefaultWriteBackMb, &writeBack, badKey) ||
      !initializeValue(request, &initialize, badKey) ||
      !numberOr(request, "UnusedPercent", 0, 255, kUnset, &unused, badKey)) {
    return false;
  }
  int drives = 0;
  if (!requestDrives(request, block->driveWwn, &drives, badKey)) return false;
  const char* name = getVariable(request, "ArrayName");
  if (name != nullptr && std::strlen(name) > kNameBytes) {
    *badKey = "ArrayName";
    return false;
  }
  block->raidLevel = static_cast<uint8_t>(level);
  if (!parityDrives(request, block->raidLevel, &block->parityDrives, badKey)) return false;
  block->driveCount = static_cast<uint8_t>(drives);
  block->chunkSizeKb = static_cast<uint16_t>(chunk);
  block->cacheFlags = cacheFlags(request, writeBack);
  block->cacheFlush = static_cast<uint8_t>(flush);
  block->readAheadKb = static_cast<uint16_t>(readAhead);
  block->writeBackMb = static_cast<uint16_t>(writeBack);
  block->initialize = static_cast<uint8_t>(initialize);
  block->unusedPercent = static_cast<uint8_t>(unused);
  if (name != nullptr) std::memcpy(block->name, name, std::strlen(name));
  return true;
}

bool buildExpandArrayBlock(VariableTable request, ExpandArrayBlock* block, std::string* badKey) {
  std::memset(block, 0, sizeof(*block));
  int array = 0;
  if (!requestArrayNumber(request, &array)) {
    *badKey = "RankNumber";
    return false;
  }
  long parity = 0;
  const FieldState parityState = requestField(request, "NumberOfParityDrives", 0, 255, &parity);
  if (parityState == FieldState::kBad) {
    *badKey = "NumberOfParityDrives";
    return false;
  }
  int drives = 0;
  if (!requestDrives(request, block->driveWwn, &drives, badKey)) return false;
  block->array = static_cast<uint8_t>(array);
  block->driveCount = static_cast<uint8_t>(drives);
  block->parityGiven = parityState == FieldState::kValue ? kOn : kOff;
  block->parityDrives = static_cast<uint8_t>(parity);
  return true;
}

}  // namespace brivo
