// The claim decision without a network: every row of the decision table, the unit look-up in a
// received list (the X/XY rule), received lists applied to a device list, the quick-conflict
// counter and the claim changes of release, claim wait and take-over.
#include "server/net/device_claims.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "server/net/claim_test_list.h"

namespace {

using DeviceList = ClaimTestList;

constexpr uint32_t kSender = 0x0A000002;

ReceivedUnitList listFrom(const char* text, int comparison, time_t now = 1000) {
  ReceivedUnitList received;
  received.text = text;
  received.senderAddress = kSender;
  received.identityComparison = comparison;
  received.now = now;
  return received;
}

TEST(DeviceClaims, DecisionTableCoversEveryRow) {
  struct Row {
    int32_t mine;
    int32_t other;
    int comparison;
    ClaimAction action;
  };
  const Row rows[] = {
      {MINE, UNCLAIMED, 1, ClaimAction::kResendMine},
      {MINE, UNCLAIMED, -1, ClaimAction::kResendMine},
      {MINE, UNCLAIMED, 0, ClaimAction::kResendMine},
      {MINE, MINE, 1, ClaimAction::kQuickConflict},
      {MINE, MINE, -1, ClaimAction::kLetOtherMonitor},
      {MINE, MINE, 0, ClaimAction::kBothMine},
      {MINE, NOT_MINE, 1, ClaimAction::kNothing},
      {MINE, 0, -1, ClaimAction::kNothing},
      {MINE, 3, 0, ClaimAction::kNothing},
      {NOT_MINE, MINE, 1, ClaimAction::kFollowOwner},
      {NOT_MINE, MINE, -1, ClaimAction::kFollowOwner},
      {NOT_MINE, MINE, 0, ClaimAction::kFollowOwner},
      {NOT_MINE, UNCLAIMED, 1, ClaimAction::kNothing},
      {NOT_MINE, NOT_MINE, -1, ClaimAction::kNothing},
      {NOT_MINE, 9, 0, ClaimAction::kNothing},
      {UNCLAIMED, MINE, 1, ClaimAction::kYieldUnclaimed},
      {UNCLAIMED, MINE, -1, ClaimAction::kYieldUnclaimed},
      {UNCLAIMED, MINE, 0, ClaimAction::kYieldUnclaimed},
      {UNCLAIMED, UNCLAIMED, 1, ClaimAction::kResendUnclaimed},
      {UNCLAIMED, UNCLAIMED, 0, ClaimAction::kMonitorToo},
      {UNCLAIMED, UNCLAIMED, -1, ClaimAction::kYieldUnclaimed},
      {UNCLAIMED, NOT_MINE, 1, ClaimAction::kNothing},
      {UNCLAIMED, NOT_MINE, -1, ClaimAction::kNothing},
      {UNCLAIMED, 0, 0, ClaimAction::kNothing},
      {0, MINE, 1, ClaimAction::kNothing},
      {7, UNCLAIMED, -1, ClaimAction::kNothing},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(decideClaim(row.mine, row.other, row.comparison), row.action)
        << "mine=" << row.mine << " other=" << row.other << " cmp=" << row.comparison;
  }
}

TEST(DeviceClaims, TableRowsChangeTheUnitsAsDecided) {
  DeviceList list({{"U1", "U2", "U3", "U4"}, {"U5", "U6", "U7", "U8"}});
  list.set("U1", MINE);
  list.set("U2", MINE);
  list.set("U3", NOT_MINE, 0x0A000009);
  list.set("U4", UNCLAIMED);
  list.set("U5", UNCLAIMED);
  list.set("U6", NOT_MINE, 0x0A000009);
  list.set("U7", MINE);
  list.set("U8", UNCLAIMED);
  ClaimState state;
  const char* text = "\nU1 1\nU2 4\nU3 1\nU4 1\nU5 4\nU6 4\nU7 2\nU8 2";
  // The sender's identity is smaller: its MINE loses against ours only where we say MINE.
  EXPECT_TRUE(applyUnitList(list.head(), listFrom(text, 1), &state));
  EXPECT_EQ(list.unit("U1").modStatus, MINE) << "both MINE, ours greater: we stand";
  EXPECT_EQ(list.unit("U2").modStatus, MINE);
  EXPECT_EQ(list.unit("U3").modStatus, NOT_MINE);
  EXPECT_EQ(list.unit("U3").ownerAddress, kSender) << "the owner follows the sender's MINE";
  EXPECT_EQ(list.unit("U4").modStatus, NOT_MINE);
  EXPECT_EQ(list.unit("U4").ownerAddress, kSender);
  EXPECT_EQ(list.unit("U5").modStatus, UNCLAIMED) << "ours greater: our claim wait will claim it";
  EXPECT_EQ(list.unit("U6").modStatus, NOT_MINE);
  EXPECT_EQ(list.unit("U6").ownerAddress, 0x0A000009u);
  EXPECT_EQ(list.unit("U7").modStatus, MINE);
  EXPECT_EQ(list.unit("U8").modStatus, UNCLAIMED);

  // The same unit contested by a greater identity: ours is let go.
  DeviceList contested({{"C1", "C2", "C3"}});
  contested.set("C1", MINE);
  contested.set("C2", UNCLAIMED);
  contested.set("C3", UNCLAIMED);
  EXPECT_FALSE(applyUnitList(contested.head(), listFrom("\nC1 1\nC2 4\nC3 1", -1), &state));
  for (const char* name : {"C1", "C2", "C3"}) {
    EXPECT_EQ(contested.unit(name).modStatus, NOT_MINE) << name;
    EXPECT_EQ(contested.unit(name).ownerAddress, kSender) << name;
  }

  // Equal identities: both monitor an unclaimed unit, and a double MINE is left alone.
  DeviceList equal({{"E1", "E2"}});
  equal.set("E1", UNCLAIMED);
  equal.set("E2", MINE);
  EXPECT_FALSE(applyUnitList(equal.head(), listFrom("\nE1 4\nE2 1", 0), &state));
  EXPECT_EQ(equal.unit("E1").modStatus, MINE);
  EXPECT_EQ(equal.unit("E2").modStatus, MINE);
}

TEST(DeviceClaims, UnitsTheOwnerNoLongerListsAreReleased) {
  DeviceList list({{"Gone", "Other", "Mine"}});
  list.set("Gone", NOT_MINE, kSender);
  list.set("Other", NOT_MINE, 0x0A000003);
  list.set("Mine", MINE);
  ClaimState state;
  EXPECT_TRUE(applyUnitList(list.head(), listFrom("\nElse 1", 1), &state));
  EXPECT_EQ(list.unit("Gone").modStatus, UNCLAIMED);
  EXPECT_EQ(list.unit("Other").modStatus, NOT_MINE) << "owned by another server";
  EXPECT_EQ(list.unit("Mine").modStatus, MINE);

  // An owner recorded under another interface address of the same sender counts as the sender.
  list.set("Gone", NOT_MINE, 0x0A000012);
  ReceivedUnitList received = listFrom("", 1);
  received.senderAddresses = {0x0A000011, 0x0A000012};
  EXPECT_TRUE(applyUnitList(list.head(), received, &state));
  EXPECT_EQ(list.unit("Gone").modStatus, UNCLAIMED);

  EXPECT_FALSE(applyUnitList(list.head(), listFrom("\nGone 4\nOther 2\nMine 1", -1), &state))
      << "nothing to re-send when the other list agrees";
}

TEST(DeviceClaims, NameMatchesOnlyAsAWholeListedName) {
  int32_t status = -1;
  EXPECT_FALSE(findUnitStatus("\nXY 1", "X", &status)) << "X must not match XY";
  EXPECT_FALSE(findUnitStatus("\nAX 1", "X", &status)) << "X must not match AX";
  EXPECT_TRUE(findUnitStatus("\nXY 1\nX 4", "X", &status)) << "the search goes on after a non-match";
  EXPECT_EQ(status, 4);
  EXPECT_TRUE(findUnitStatus("\nXY 2\nXYZ 1", "XY", &status));
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(findUnitStatus("Start 1", "Start", &status)) << "the first name may start the text";
  EXPECT_TRUE(findUnitStatus("\nNoNumber ", "NoNumber", &status));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(findUnitStatus("\nMy Unit 1", "My Unit", &status)) << "names may hold spaces";
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(findUnitStatus("\nX", "X", &status)) << "a name at the very end has no status";
  EXPECT_FALSE(findUnitStatus("\nX 1", "", &status));
  EXPECT_FALSE(findUnitStatus(nullptr, "X", &status));

  DeviceList list({{"X"}});
  list.set("X", NOT_MINE, kSender);
  ClaimState state;
  EXPECT_TRUE(applyUnitList(list.head(), listFrom("\nXY 1", 1), &state));
  EXPECT_EQ(list.unit("X").modStatus, UNCLAIMED) << "XY is not X: the sender no longer lists X";
}

TEST(DeviceClaims, UnitListTextListsEveryUnitInOrderWithinItsBuffer) {
  DeviceList list({{"A", "B"}, {}, {"C"}});
  list.set("A", MINE);
  list.set("B", UNCLAIMED);
  list.set("C", NOT_MINE, kSender);
  EXPECT_EQ(buildUnitListText(list.head(), kUnitListBufferSize), "\nA 1\nB 4\nC 2");
  EXPECT_EQ(buildUnitListText(nullptr, kUnitListBufferSize), "");
  int omitted = 0;
  // "\nA 1" needs 4 bytes, plus the NUL: room for A only.
  EXPECT_EQ(buildUnitListText(list.head(), 6, &omitted), "\nA 1");
  EXPECT_EQ(omitted, 2);

  // A name that fills its whole field (no NUL) is read within the field.
  ModDeviceItem& full = list.unit("C");
  std::memset(full.name, 'N', sizeof(full.name));
  const std::string text = buildUnitListText(list.head(), kUnitListBufferSize);
  EXPECT_NE(text.find("\n" + std::string(sizeof(full.name), 'N') + " 2"), std::string::npos);
}

TEST(DeviceClaims, QuickConflictCounterGivesUpAfterTwentyQuickConflicts) {
  ClaimState state;
  state.lastListSendTime = 1000;
  EXPECT_FALSE(quickConflictGivesUp(&state, 1005));
  EXPECT_EQ(state.quickConflicts, 0) << "a slow conflict starts counting again";
  for (int i = 1; i < kQuickConflictLimit; ++i) {
    EXPECT_FALSE(quickConflictGivesUp(&state, 1001)) << i;
    EXPECT_EQ(state.quickConflicts, i);
  }
  EXPECT_TRUE(quickConflictGivesUp(&state, 1000));
  EXPECT_TRUE(quickConflictGivesUp(&state, 1001)) << "giving up does not reset the counter";
  EXPECT_EQ(state.quickConflicts, kQuickConflictLimit + 1);
  EXPECT_FALSE(quickConflictGivesUp(&state, 1002));
  EXPECT_EQ(state.quickConflicts, 0);

  // Through a received list: both MINE and ours greater; the twentieth quick conflict yields.
  DeviceList list({{"Q"}});
  list.set("Q", MINE);
  ClaimState fresh;
  fresh.lastListSendTime = 2000;
  for (int i = 1; i < kQuickConflictLimit; ++i) {
    EXPECT_TRUE(applyUnitList(list.head(), listFrom("\nQ 1", 1, 2001), &fresh));
    ASSERT_EQ(list.unit("Q").modStatus, MINE) << "standing strong, round " << i;
  }
  EXPECT_TRUE(applyUnitList(list.head(), listFrom("\nQ 1", 1, 2001), &fresh)) << "the list is re-sent anyway";
  EXPECT_EQ(list.unit("Q").modStatus, NOT_MINE);
  EXPECT_EQ(list.unit("Q").ownerAddress, kSender);
}

TEST(DeviceClaims, ReleaseClaimAndTakeOverChangeTheRightUnits) {
  DeviceList list({{"Alpha", "beta"}, {"ALPHA", "Gamma"}});
  list.set("Alpha", NOT_MINE, kSender);
  list.set("beta", MINE);
  list.set("ALPHA", UNCLAIMED);
  list.set("Gamma", NOT_MINE, 0x0A000003);
  EXPECT_EQ(releaseNotMineUnits(list.head()), 2);
  EXPECT_EQ(list.unit("Alpha").modStatus, UNCLAIMED);
  EXPECT_EQ(list.unit("Gamma").modStatus, UNCLAIMED);
  EXPECT_EQ(list.unit("beta").modStatus, MINE);

  list.set("Gamma", NOT_MINE, 0x0A000003);
  EXPECT_EQ(claimUnclaimedUnits(list.head()), 2);
  EXPECT_EQ(list.unit("Alpha").modStatus, MINE);
  EXPECT_EQ(list.unit("Alpha").ownerAddress, 0u) << "the released owner is forgotten once claimed";
  EXPECT_EQ(list.unit("ALPHA").modStatus, MINE);
  EXPECT_EQ(list.unit("Gamma").modStatus, NOT_MINE);

  EXPECT_EQ(yieldUnitsNamed(list.head(), "alpha", 0x0A000005), 2) << "names compare ignoring case";
  EXPECT_EQ(list.unit("Alpha").ownerAddress, 0x0A000005u);
  EXPECT_EQ(list.unit("ALPHA").modStatus, NOT_MINE);
  EXPECT_EQ(takeUnitsNamed(list.head(), "GAMMA"), 1);
  EXPECT_EQ(list.unit("Gamma").modStatus, MINE);
  EXPECT_EQ(list.unit("Gamma").ownerAddress, 0u);
  EXPECT_EQ(takeUnitsNamed(list.head(), "Delta"), 0);
  EXPECT_EQ(takeUnitsNamed(nullptr, "Delta"), 0);
}

TEST(DeviceClaims, IdentitiesCompareIgnoringCase) {
  EXPECT_EQ(compareIdentities("N/A--0A000002", "n/a--0a000002"), 0);
  EXPECT_GT(compareIdentities("N/A--0A000003", "n/a--0a000002"), 0);
  EXPECT_LT(compareIdentities("abc--0A000009", "ABD--0A000001"), 0);
}

}  // namespace
