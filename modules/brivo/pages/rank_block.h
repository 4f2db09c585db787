// The parameter blocks of array creation (0x90) and expansion (0xAB) built from a request, as the
// create-array page and the command interpreter's "array create" send them.
//
// Creation keys: "RaidLevel", "ChunkSize", "Drive%d" (0-125, the first 16 present, each a WWN of
// 16 hexadecimal digits), "NumberOfParityDrives" (RAID 50 only; RAID 6 always has 2, every
// other level 0), the cache flags "CacheMirror", "CacheUPS", "CacheBattery",
// "CacheFaultTolerant2", "CacheCacheFlush" (true/on/yes/1), "CacheFlush", "ReadAheadCacheSize"
// (default 0), "WriteBackCacheSize" (default 5; a non-zero size sets the write-back bit),
// "Initialize", "UnusedPercent", "ArrayName" (at most 32 bytes).
//
// Numbers are decimal. An absent value, or one that contains "missing", leaves its field at the
// default (0xFF for RAID level, cache flush, initialise and unused percent; 0xFFFF for the chunk
// size); an empty value is 0. Anything else that is not a number in the field's range, a drive
// key that is not a WWN, or a longer name makes the request unusable: nothing is sent and the
// page reports kResultBadValue. "Initialize" also takes true/false and on/off.
//
// Expansion keys: "RankNumber" (0-63) and the drive keys; "NumberOfParityDrives" when given.
//
// Thread safety: pure functions.
#pragma once

#include <string>

#include "common/variable_table.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/protocol.h"

namespace brivo {

// Drive keys scanned: "Drive0" to "Drive125".
inline constexpr int kDriveKeys = 126;

// Fills *block (zeroed first); false when a value is unusable (*badKey names it).
bool buildCreateArrayBlock(VariableTable request, CreateArrayBlock* block, std::string* badKey);
bool buildExpandArrayBlock(VariableTable request, ExpandArrayBlock* block, std::string* badKey);

// The WWNs of the first 16 present drive keys (in key-number order); false when one is not a WWN.
bool requestDrives(VariableTable request, uint8_t wwns[kMaxMembers][8], int* count, std::string* badKey);

// The array a request names in "RankNumber" (a non-empty decimal number 0-63); false when it
// names none.
bool requestArrayNumber(VariableTable request, int* array);

// A number field of a request: kAbsent (no key, or a value containing "missing"), else the value
// (empty text = 0); kBad when the text is not a decimal number in [low, high].
enum class FieldState { kAbsent, kValue, kBad };
FieldState requestField(VariableTable request, const char* key, long low, long high, long* value);

}  // namespace brivo
