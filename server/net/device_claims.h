// Who monitors which unit: the unit list text a server sends, the look-up of a unit in a list
// received from another server, the claim-decision table, the quick-conflict step, and the
// claim changes of the silent-server release, the claim wait and the take-over.
//
// These are plain functions over the device list (common/device_list.h) and a ClaimState; the
// network code calls them with the device-claim lock held (network_locks.h), tests call them on
// lists of their own.
//
// Thread safety: REQUIRES the caller to hold the lock that guards the list's claim fields and
// the ClaimState.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/device_list.h"

// Buffer in which the unit list text is formed, NUL included.
inline constexpr size_t kUnitListBufferSize = 5120;
// Consecutive quick conflicts after which a server lets the other one monitor.
inline constexpr int kQuickConflictLimit = 20;
// Seconds: a conflict that comes sooner than this after our own list send counts as quick.
inline constexpr time_t kQuickConflictSeconds = 2;

// "\n<name> <status>" for every unit of every record, in list order. Units whose entry would not
// fit in capacity bytes (terminating NUL included) are left out and counted in *omitted.
std::string buildUnitListText(const DeviceRecord* list, size_t capacity, int* omitted = nullptr);

// Finds name in a received list text: an occurrence counts only when it starts a line and the
// character after it is a space (so "X" matches neither "XY 1" nor "AX 1"); the search goes on
// after occurrences that don't count. *status gets the decimal number after the space (0 when
// there is none). False when no occurrence counts or name is empty.
bool findUnitStatus(const char* listText, const char* name, int32_t* status);

// Case-insensitive comparison of two identity texts: >0 when mine is greater, <0 when smaller.
int compareIdentities(const char* mine, const char* sender);

enum class ClaimAction {
  kNothing,
  kResendMine,       // MINE here, UNCLAIMED there: tell the sender
  kQuickConflict,    // both MINE, mine greater: the quick-conflict step, then re-send
  kLetOtherMonitor,  // MINE here, MINE there and theirs greater: NOT_MINE, owner = sender
  kBothMine,         // both MINE, equal identities: leave it
  kFollowOwner,      // NOT_MINE here, MINE there: owner = sender
  kYieldUnclaimed,   // UNCLAIMED here; MINE there, or UNCLAIMED there and theirs greater: NOT_MINE
  kResendUnclaimed,  // both UNCLAIMED, mine greater: re-send (our claim wait claims it)
  kMonitorToo,       // both UNCLAIMED, equal identities: MINE
};

// The claim-decision table. identityComparison: compareIdentities(mine, sender's).
ClaimAction decideClaim(int32_t myStatus, int32_t senderStatus, int identityComparison);

// Claim bookkeeping of this server.
struct ClaimState {
  time_t lastListSendTime = 0;  // when this server last sent its unit list
  int quickConflicts = 0;       // one counter for the whole server, not per unit
};

// The quick-conflict step: counts a conflict that comes less than kQuickConflictSeconds after our
// last list send, else starts counting again. True when the count has reached
// kQuickConflictLimit, i.e. this server gives up the unit. The count is not reset by giving up.
bool quickConflictGivesUp(ClaimState* state, time_t now);

// A unit list received from another server.
struct ReceivedUnitList {
  const char* text = "";       // the sender's list text, NUL-terminated
  uint32_t senderAddress = 0;  // the packet's sender-address field (host order)
  // Every address the sender is known by (from the server list); a NOT_MINE unit whose owner is
  // any of them counts as owned by the sender. The sender address itself always counts.
  std::vector<uint32_t> senderAddresses;
  int identityComparison = 0;  // compareIdentities(mine, sender's)
  time_t now = 0;
};

// Applies a received list to every unit of list, in list order (the claim decision). Returns
// true when this server's list is to be re-sent (at most once per received list).
bool applyUnitList(DeviceRecord* list, const ReceivedUnitList& received, ClaimState* state);

// NOT_MINE units become UNCLAIMED (the silent-server release). Returns how many changed.
int releaseNotMineUnits(DeviceRecord* list);
// UNCLAIMED units become MINE with owner 0 (the end of a claim wait). Returns how many changed.
int claimUnclaimedUnits(DeviceRecord* list);
// Units named name (ignoring case) become MINE with owner 0 (a take-over here). Returns how many.
int takeUnitsNamed(DeviceRecord* list, const char* name);
// Units named name (ignoring case) become NOT_MINE with owner (a take-over elsewhere).
int yieldUnitsNamed(DeviceRecord* list, const char* name, uint32_t owner);
