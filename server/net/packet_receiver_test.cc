// What a running network accepts from the LAN: without a key, packets whose inside names another
// address than their source, and unit lists or take-overs from servers that never checked in,
// change nothing; with a key, only fresh, first-seen packets signed with an accepted key count,
// and everything this server sends is signed; keys are taken up while running, and a damaged key
// file silences the server instead of opening it; a flood of forged check-ins leaves a bounded
// server list; one source gets only its budget; drops are counted by reason and reported by at
// most one event a minute.
#include <gtest/gtest.h>

#include <fstream>

#include "server/net/network_test_fixture.h"

namespace {

using namespace network_test;

constexpr uint32_t kStranger = 0x0A630063;  // 10.99.0.99, never checked in
constexpr char kSiteKey[] = "the site key of the test network";
constexpr uint32_t kUnauthenticatedEvent = 0x203;
constexpr uint32_t kRejectedEvent = 0x204;
constexpr uint32_t kKeyChangedEvent = 0x205;
constexpr uint32_t kKeyFileEvent = 0x206;

NetworkKey keyOf(const std::string& text) {
  NetworkKey key;
  EXPECT_TRUE(deriveNetworkKey(text, &key));
  return key;
}

std::vector<uint8_t> signedDatagram(std::vector<uint8_t> datagram, const std::string& keyText = kSiteKey,
                                    int64_t skewMs = 0) {
  EXPECT_TRUE(appendTrailer(&datagram, keyOf(keyText), wallClockMs() + skewMs));
  return datagram;
}

class PacketReceiverTest : public NetworkTest {
 protected:
  static uint64_t drops(DropReason reason) { return packetDropCount(reason); }
};

TEST_F(PacketReceiverTest, WithoutKeyAddressesMustMatchAndOnlyCheckedInServersMoveUnits) {
  // The peer checks in once only: under load, the fixture's short silence would make this server
  // take the peer's units back before the test looks, which is not what this test is about.
  NetworkTimings timings = networkTimings();
  timings.silenceMs = 60000;
  setNetworkTimings(timings);
  ClaimTestList list({{"U1", "U2"}});
  publishClaimDeviceList(list.head());
  setClaim(list, "U1", MINE, 0);
  setClaim(list, "U2", MINE, 0);
  initializeKestrovaNetwork();
  ASSERT_EQ(eventsWithId(kUnauthenticatedEvent).size(), 1u) << "one warning at start: no key";

  // A stranger that never checked in takes U1 over and claims U2 with a greater identity.
  receive(peerDatagram(kTakeDeviceControlRequest, std::string("U1", 3), 1, kStranger, "~~attacker"),
          kStranger);
  receive(peerDatagram(kAcceptDeviceListRequest, std::string("\nU2 1", 6), 2, kStranger, "~~attacker"),
          kStranger);
  EXPECT_EQ(drops(DropReason::kUnknownSender), 2u);
  // The stranger names the peer's identity and address inside, from its own address.
  peerChecksIn(10);
  receive(peerDatagram(kTakeDeviceControlRequest, std::string("U1", 3), 11), kStranger);
  receive(peerDatagram(kCheckInRequest, checkInData("peerhost", 0), 12), kStranger);
  EXPECT_EQ(drops(DropReason::kAddressMismatch), 2u);
  // The peer's name with the stranger's own address: the peer never checked in from there.
  receive(peerDatagram(kTakeDeviceControlRequest, std::string("U1", 3), 13, kStranger), kStranger);
  EXPECT_EQ(drops(DropReason::kUnknownSender), 3u);
  std::this_thread::sleep_for(100ms);  // a wrongly accepted take-over would show by now
  EXPECT_EQ(claim(list, "U1"), std::make_pair(int32_t{MINE}, 0u));
  EXPECT_EQ(claim(list, "U2"), std::make_pair(int32_t{MINE}, 0u));

  // The event names the first source, once for the minute however many drops follow.
  const auto rejected = eventsWithId(kRejectedEvent);
  ASSERT_EQ(rejected.size(), 1u);
  EXPECT_NE(rejected[0].message.find("10.99.0.99"), std::string::npos) << rejected[0].message;
  EXPECT_EQ(rejected[0].level, 1u);

  // The checked-in peer's own take-over counts.
  receive(peerDatagram(kTakeDeviceControlRequest, std::string("U1", 3), 14));
  EXPECT_TRUE(waitUntil([&] { return claim(list, "U1") == std::make_pair(int32_t{NOT_MINE}, kPeer); }));
  EXPECT_EQ(claim(list, "U2").first, MINE);
  EXPECT_EQ(drops(DropReason::kUnauthenticated), 0u);
}

TEST_F(PacketReceiverTest, WithKeyOnlyFreshFirstSeenPacketsOfAcceptedKeysCount) {
  useKey(kSiteKey);
  ClaimTestList list({{"U1"}});
  publishClaimDeviceList(list.head());
  setClaim(list, "U1", MINE, 0);
  initializeKestrovaNetwork();
  EXPECT_TRUE(eventsWithId(kUnauthenticatedEvent).empty());
  ASSERT_EQ(eventsWithId(kKeyChangedEvent).size(), 1u);
  EXPECT_NE(eventsWithId(kKeyChangedEvent)[0].message.find(keyIdText(keyOf(kSiteKey).id)), std::string::npos);

  // Everything this server sends is signed, and every copy differently.
  ASSERT_TRUE(waitUntil([&] { return transport_.count(kCheckInRequest) >= 5; }));
  const auto copies = transport_.ofType(kCheckInRequest);
  TrailerVerifier verifier;
  NetworkKeySet keys;
  keys.required = true;
  keys.send = keyOf(kSiteKey);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(
        verifier.verify(copies[i]->datagram.data(), copies[i]->datagram.size(), keys, wallClockMs(), nullptr),
        TrailerCheck::kOk)
        << i;
  }

  const std::vector<uint8_t> checkIn = peerDatagram(kCheckInRequest, checkInData("peerhost", 0), 20);
  receive(checkIn);
  EXPECT_EQ(drops(DropReason::kUnauthenticated), 1u);
  EXPECT_EQ(serverRows()["ServerLoop"], "0");
  receive(signedDatagram(checkIn, "another key of another site"));
  EXPECT_EQ(drops(DropReason::kUnknownKey), 1u);
  receive(signedDatagram(checkIn, kSiteKey, -31000));
  receive(signedDatagram(checkIn, kSiteKey, +31000));
  EXPECT_EQ(drops(DropReason::kStale), 2u);
  EXPECT_EQ(serverRows()["ServerLoop"], "0");
  const std::vector<uint8_t> good = signedDatagram(checkIn);
  receive(good);
  EXPECT_EQ(serverRows()["ServerLoop"], "1");
  receive(good);
  EXPECT_EQ(drops(DropReason::kReplay), 1u);

  // A signed take-over of the checked-in peer, replayed, then altered under its copied trailer.
  const std::vector<uint8_t> takeOver =
      signedDatagram(peerDatagram(kTakeDeviceControlRequest, std::string("U1", 3), 21));
  std::vector<uint8_t> altered = takeOver;
  altered[40] ^= 1;
  receive(altered);
  EXPECT_EQ(drops(DropReason::kBadMac), 1u);
  EXPECT_EQ(claim(list, "U1").first, MINE);
  receive(takeOver);
  EXPECT_TRUE(waitUntil([&] { return claim(list, "U1") == std::make_pair(int32_t{NOT_MINE}, kPeer); }));
  setClaim(list, "U1", MINE, 0);
  receive(takeOver);
  std::this_thread::sleep_for(100ms);  // as above: time for a wrong take-over to show
  EXPECT_EQ(claim(list, "U1").first, MINE) << "a replayed take-over changes nothing";
  EXPECT_EQ(drops(DropReason::kReplay), 2u);
}

TEST_F(PacketReceiverTest, KeyChangesAreTakenUpWhileRunningAndADamagedFileSilencesTheServer) {
  initializeKestrovaNetwork();
  const std::vector<uint8_t> checkIn = peerDatagram(kCheckInRequest, checkInData("peerhost", 0), 30);
  useKey(kSiteKey);
  ASSERT_TRUE(waitUntil([] { return !eventsWithId(kKeyChangedEvent).empty(); }));
  receive(checkIn);
  EXPECT_EQ(drops(DropReason::kUnauthenticated), 1u) << "the new key is in use";
  receive(signedDatagram(checkIn));
  EXPECT_EQ(serverRows()["ServerLoop"], "1");

  // The file is damaged: an error, nothing accepted, nothing sent.
  std::ofstream(networkKeyPath(), std::ios::trunc) << "SendKey = not a key\n";
  ASSERT_TRUE(waitUntil([] { return !eventsWithId(kKeyFileEvent).empty(); }));
  EXPECT_EQ(eventsWithId(kKeyFileEvent)[0].level, 2u);
  const size_t sent = transport_.count(kCheckInRequest);
  receive(signedDatagram(peerDatagram(kCheckInRequest, checkInData("peerhost", 1), 31)));
  EXPECT_EQ(drops(DropReason::kUnknownKey), 1u);
  std::this_thread::sleep_for(500ms);  // two check-in periods
  EXPECT_EQ(transport_.count(kCheckInRequest), sent);

  // Removed: unauthenticated again, with the warning.
  std::filesystem::remove(networkKeyPath());
  ASSERT_TRUE(waitUntil([] { return eventsWithId(kUnauthenticatedEvent).size() == 2; }));
  EXPECT_TRUE(waitUntil([&] { return transport_.count(kCheckInRequest) > sent; }));
}

TEST_F(PacketReceiverTest, FloodOfForgedCheckInsLeavesABoundedListAndSmallPage) {
  initializeKestrovaNetwork();
  // 20,000 check-ins, each from another address and identity, at the start of a silence period.
  for (uint32_t i = 0; i < 20000; ++i) {
    const uint32_t source = 0x0B000000 + i;
    const std::string identity = "FORGED" + std::to_string(i) + "--" + std::to_string(source);
    receive(peerDatagram(kCheckInRequest, checkInData(std::string(63, 'h'), 0), 1, source, identity), source);
  }
  EXPECT_EQ(listedServerCount(), 256u);
  EXPECT_GT(drops(DropReason::kServerListFull), 0u);
  VariableTable rows = nullptr;
  addServerListRows(&rows);
  size_t bytes = 0;
  for (VariableEntry* e = rows; e != nullptr; e = e->next)
    bytes += std::strlen(e->key) + std::strlen(e->value) + 2;
  freeVariableTable(&rows);
  EXPECT_LT(bytes, 100u * 1024) << "the server bar's rows";
  // The legitimate peer still gets in once the forged servers have fallen silent.
  ASSERT_TRUE(waitUntil([] { return serverRows()["ServerLoop0Status"] == "04"; }));
  peerChecksIn(40);
  EXPECT_TRUE(waitUntil([] {
    const auto rows = serverRows();
    for (const auto& [key, value] : rows) {
      if (value == kPeerIdentity) return true;
    }
    return false;
  }));
  EXPECT_EQ(listedServerCount(), 256u);
}

TEST_F(PacketReceiverTest, OneSourceGetsOnlyItsBudget) {
  setSourceBudget({5, 1, 64});
  initializeKestrovaNetwork();
  for (uint32_t n = 1; n <= 20; ++n) receive(peerDatagram(kCheckInRequest, checkInData("peerhost", n), n));
  EXPECT_EQ(drops(DropReason::kRateLimited), 15u);
  EXPECT_EQ(serverRows()["ServerLoop0Status"], "05") << "the first five were handled";
  receive(peerDatagram(kCheckInRequest, checkInData("otherhost", 0), 1, kPeer + 1, "OTHER--0A630033"),
          kPeer + 1);
  EXPECT_EQ(serverRows()["ServerLoop"], "2") << "another source has its own budget";
  EXPECT_EQ(drops(DropReason::kRateLimited), 15u);
}

TEST(PacketDrops, NamesAndTheEventLimit) {
  EXPECT_STREQ(dropReasonName(DropReason::kBadMac), "bad_mac");
  EXPECT_STREQ(dropReasonName(DropReason::kCount), "");
  EXPECT_TRUE(isRejection(DropReason::kReplay));
  EXPECT_FALSE(isRejection(DropReason::kDuplicate));
  EventLimiter limiter(std::chrono::minutes(1));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(limiter.allow(t0));
  EXPECT_FALSE(limiter.allow(t0 + std::chrono::seconds(59)));
  EXPECT_TRUE(limiter.allow(t0 + std::chrono::seconds(60)));
  EXPECT_FALSE(limiter.allow(t0 + std::chrono::seconds(61)));
  limiter.reset();
  EXPECT_TRUE(limiter.allow(t0 + std::chrono::seconds(61)));
}

}  // namespace
