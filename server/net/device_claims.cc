// Unit claims; see device_claims.h.
#include "server/net/device_claims.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/debug.h"

namespace {

constexpr uint32_t kClaimDebugCode = 0x1012;

// The unit's name up to its NUL, never past its field.
std::string unitName(const ModDeviceItem& unit) {
  return std::string(unit.name, strnlen(unit.name, sizeof(unit.name)));
}

// Claim fields are written here under the device-claim lock, but modules read them from their
// own threads without it (the RAID monitor, every cycle): stores are atomic so that those reads
// see whole values.
void storeStatus(ModDeviceItem& unit, int32_t status) {
  __atomic_store_n(&unit.modStatus, status, __ATOMIC_RELAXED);
}
void storeOwner(ModDeviceItem& unit, uint32_t owner) {
  __atomic_store_n(&unit.ownerAddress, owner, __ATOMIC_RELAXED);
}

template <typename Visit>
void forEachUnit(DeviceRecord* list, Visit visit) {
  for (DeviceRecord* record = list; record != nullptr; record = record->next) {
    for (ModDeviceItem* unit = record->units; unit != nullptr; unit = unit->next) visit(*unit);
  }
}

bool ownedBySender(const ModDeviceItem& unit, const ReceivedUnitList& received) {
  if (unit.ownerAddress == received.senderAddress) return true;
  return std::find(received.senderAddresses.begin(), received.senderAddresses.end(), unit.ownerAddress) !=
         received.senderAddresses.end();
}

void becomeNotMine(ModDeviceItem* unit, uint32_t owner) {
  storeStatus(*unit, NOT_MINE);
  storeOwner(*unit, owner);
}

// One found unit. Returns true when the list is to be re-sent.
bool applyDecision(ModDeviceItem* unit, int32_t senderStatus, const ReceivedUnitList& received,
                   ClaimState* state) {
  switch (decideClaim(unit->modStatus, senderStatus, received.identityComparison)) {
    case ClaimAction::kResendMine:
      debugPrint(kClaimDebugCode, "\n\nAcceptDeviceList: My status is MINE, other status is UNCLAIMED\n");
      return true;
    case ClaimAction::kQuickConflict:
      if (quickConflictGivesUp(state, received.now)) {
        debugPrint(
            kClaimDebugCode,
            "AcceptDeviceList: giving up after %d tries - letting other server monitor, resending list\n",
            state->quickConflicts);
        becomeNotMine(unit, received.senderAddress);
      } else {
        debugPrint(kClaimDebugCode, "AcceptDeviceList: standing strong - resend device list (%d)\n",
                   state->quickConflicts);
      }
      return true;
    case ClaimAction::kLetOtherMonitor:
      debugPrint(kClaimDebugCode, "AcceptDeviceList: Letting other server monitor\n");
      becomeNotMine(unit, received.senderAddress);
      return false;
    case ClaimAction::kBothMine:
      debugPrint(kClaimDebugCode, "\n\nAcceptDeviceList: My and other server status is MINE???\n\n");
      return false;
    case ClaimAction::kFollowOwner:
      storeOwner(*unit, received.senderAddress);
      return false;
    case ClaimAction::kYieldUnclaimed:
      becomeNotMine(unit, received.senderAddress);
      return false;
    case ClaimAction::kResendUnclaimed:
      return true;
    case ClaimAction::kMonitorToo:
      storeStatus(*unit, MINE);
      storeOwner(*unit, 0);
      return false;
    case ClaimAction::kNothing:
      return false;
  }
  return false;
}

}  // namespace

std::string buildUnitListText(const DeviceRecord* list, size_t capacity, int* omitted) {
  std::string text;
  int left = 0;
  for (const DeviceRecord* record = list; record != nullptr; record = record->next) {
    for (const ModDeviceItem* unit = record->units; unit != nullptr; unit = unit->next) {
      const std::string entry = "\n" + unitName(*unit) + " " + std::to_string(unit->modStatus);
      if (text.size() + entry.size() + 1 > capacity) {
        ++left;
        continue;
      }
      text += entry;
    }
  }
  if (omitted != nullptr) *omitted = left;
  return text;
}

bool findUnitStatus(const char* listText, const char* name, int32_t* status) {
  if (listText == nullptr || name == nullptr || name[0] == '\0') return false;
  const size_t length = std::strlen(name);
  for (const char* at = std::strstr(listText, name); at != nullptr; at = std::strstr(at + 1, name)) {
    const bool startsLine = at == listText || at[-1] == '\n';
    if (!startsLine || at[length] != ' ') continue;
    const char* number = at + length + 1;
    char* end = nullptr;
    const long value = std::strtol(number, &end, 10);
    if (status != nullptr) *status = end == number ? 0 : static_cast<int32_t>(value);
    return true;
  }
  return false;
}

int compareIdentities(const char* mine, const char* sender) {
  const int result = strcasecmp(mine != nullptr ? mine : "", sender != nullptr ? sender : "");
  return result > 0 ? 1 : (result < 0 ? -1 : 0);
}

ClaimAction decideClaim(int32_t myStatus, int32_t senderStatus, int identityComparison) {
  switch (myStatus) {
    case MINE:
      if (senderStatus == UNCLAIMED) return ClaimAction::kResendMine;
      if (senderStatus != MINE) return ClaimAction::kNothing;
      if (identityComparison > 0) return ClaimAction::kQuickConflict;
      return identityComparison < 0 ? ClaimAction::kLetOtherMonitor : ClaimAction::kBothMine;
    case NOT_MINE:
      return senderStatus == MINE ? ClaimAction::kFollowOwner : ClaimAction::kNothing;
    case UNCLAIMED:
      if (senderStatus == MINE) return ClaimAction::kYieldUnclaimed;
      if (senderStatus != UNCLAIMED) return ClaimAction::kNothing;
      if (identityComparison > 0) return ClaimAction::kResendUnclaimed;
      return identityComparison < 0 ? ClaimAction::kYieldUnclaimed : ClaimAction::kMonitorToo;
    default:
      return ClaimAction::kNothing;
  }
}

bool quickConflictGivesUp(ClaimState* state, time_t now) {
  const time_t difference = now - state->lastListSendTime;
  debugPrint(kClaimDebugCode, "AcceptDeviceList: diff in time = %d\n", static_cast<int>(difference));
  if (difference < kQuickConflictSeconds) {
    ++state->quickConflicts;
  } else {
    state->quickConflicts = 0;
  }
  return state->quickConflicts >= kQuickConflictLimit;
}

bool applyUnitList(DeviceRecord* list, const ReceivedUnitList& received, ClaimState* state) {
  bool resend = false;
  const uint32_t a = received.senderAddress;
  forEachUnit(list, [&](ModDeviceItem& unit) {
    const std::string name = unitName(unit);
    int32_t senderStatus = 0;
    if (findUnitStatus(received.text, name.c_str(), &senderStatus)) {
      debugPrint(
          kClaimDebugCode,
          "AcceptDeviceList: We found a match (FROM: %d.%d.%d.%d) MONITOR UPDATE: %s (%X) MY STAT=%d OTHER "
          "STAT=%d\n",
          (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF, name.c_str(), unit.ownerAddress,
          unit.modStatus, senderStatus);
      if (applyDecision(&unit, senderStatus, received, state)) resend = true;
    } else if (unit.modStatus == NOT_MINE && ownedBySender(unit, received)) {
      // The owner no longer lists the unit: it is free to be claimed again.
      storeStatus(unit, UNCLAIMED);
      resend = true;
    }
  });
  return resend;
}

int releaseNotMineUnits(DeviceRecord* list) {
  int changed = 0;
  forEachUnit(list, [&](ModDeviceItem& unit) {
    if (unit.modStatus != NOT_MINE) return;
    storeStatus(unit, UNCLAIMED);
    ++changed;
  });
  return changed;
}

int claimUnclaimedUnits(DeviceRecord* list) {
  int changed = 0;
  forEachUnit(list, [&](ModDeviceItem& unit) {
    debugPrint(kClaimDebugCode, "net: sendDeviceList: looking at %s (%X) (status=%d)\n",
               unitName(unit).c_str(), unit.ownerAddress, unit.modStatus);
    if (unit.modStatus != UNCLAIMED) return;
    storeStatus(unit, MINE);
    storeOwner(unit, 0);  // no stale owner from before the release
    ++changed;
  });
  return changed;
}

int takeUnitsNamed(DeviceRecord* list, const char* name) {
  int matched = 0;
  if (name == nullptr) return 0;
  forEachUnit(list, [&](ModDeviceItem& unit) {
    if (strcasecmp(unitName(unit).c_str(), name) != 0) return;
    storeStatus(unit, MINE);
    storeOwner(unit, 0);
    ++matched;
  });
  return matched;
}

int yieldUnitsNamed(DeviceRecord* list, const char* name, uint32_t owner) {
  int matched = 0;
  if (name == nullptr) return 0;
  forEachUnit(list, [&](ModDeviceItem& unit) {
    if (strcasecmp(unitName(unit).c_str(), name) != 0) return;
    becomeNotMine(&unit, owner);
    ++matched;
  });
  return matched;
}
