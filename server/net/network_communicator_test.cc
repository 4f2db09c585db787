// The server network inside one process, with shortened periods: check-ins out of every
// interface and to the partners, packets received from a peer (new server, duplicates, own
// packets), the list exchange and claim wait, the silent-server release, the take-over, and a
// stop that leaves no thread and no descriptor. Sends are recorded instead of sent; one test
// receives real datagrams on the loopback interface.
#include "server/net/network_communicator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <random>

#include "common/thread_annotations.h"
#include "server/net/device_list_sender.h"
#include "server/net/network_test_fixture.h"
#include "server/net/packet_drops.h"
#include "server/net/socket_layer.h"
#include "server/request/local_addresses.h"
#include "tests/support/wine.h"

namespace {

using namespace std::chrono_literals;
using namespace network_test;

TEST_F(NetworkTest, CheckInsLeaveEveryInterfaceAndReachEachPartnerWithOnePacketNumber) {
  initializeKestrovaNetwork();
  EXPECT_EQ(serverIdentityText(), "UNIT--0A630001");
  EXPECT_EQ(localAddresses(), (std::vector<uint32_t>{kOwn1, kOwn2, kOwn3}));
  ASSERT_TRUE(waitUntil([&] { return transport_.count(kCheckInRequest) >= 5; }));
  const auto copies = transport_.ofType(kCheckInRequest);
  const uint32_t number = copies[0]->packet->packetNumber;
  std::vector<std::pair<bool, uint32_t>> seen;
  for (int i = 0; i < 5; ++i) {
    const SentCopy& copy = *copies[i];
    EXPECT_EQ(copy.packet->packetNumber, number);
    EXPECT_EQ(copy.port, 49191);
    EXPECT_EQ(copy.packet->identity, "UNIT--0A630001");
    EXPECT_EQ(copy.packet->dataLength, kCheckInDataSize);
    EXPECT_EQ(decodeCheckInData(copy.packet->data.data()).userCount, 0u);
    if (copy.multicast) {
      EXPECT_EQ(copy.target, "239.255.77.1");
      EXPECT_EQ(copy.localAddress, copy.packet->senderAddress) << "each copy names its own interface";
    } else {
      EXPECT_EQ(copy.packet->senderAddress, kOwn1) << "partners hear from the first address only";
      EXPECT_EQ(copy.localAddress, kOwn1) << "and from a socket bound to it";
    }
    seen.emplace_back(copy.multicast, copy.multicast ? copy.localAddress : 0);
  }
  const std::vector<std::pair<bool, uint32_t>> expected = {
      {false, 0}, {false, 0}, {true, kOwn1}, {true, kOwn2}, {true, kOwn3}};
  EXPECT_EQ(seen, expected);
  // The ambassador keeps its pace: the next check-in has the next number.
  ASSERT_TRUE(waitUntil([&] { return transport_.count(kCheckInRequest) >= 10; }));
  EXPECT_GT(transport_.ofType(kCheckInRequest)[5]->packet->packetNumber, number);

  stopKestrovaNetwork();
  const auto notices = transport_.ofType(kShutdownNotice);
  ASSERT_EQ(notices.size(), 5u);
  EXPECT_EQ(notices[0]->packet->dataLength, 100u);
  EXPECT_STREQ(notices[0]->packet->dataText(), "focalpointShutdown");
  EXPECT_TRUE(serverIdentityText().empty());
}

TEST_F(NetworkTest, NewPeerIsListedOnceAndMakesEverybodySendTheirLists) {
  initializeKestrovaNetwork();
  const int changes = serverControl().networkChanges.load();
  const std::vector<uint8_t> first = peerDatagram(kCheckInRequest, checkInData("peerhost", 1), 500);
  receive(first);
  ASSERT_TRUE(waitUntil([] { return serverRows()["ServerLoop"] == "1"; }));
  ASSERT_TRUE(waitUntil([&] { return transport_.count(kSendDeviceListRequest) == 5; }));
  EXPECT_GT(serverControl().networkChanges.load(), changes);
  auto rows = serverRows();
  EXPECT_EQ(rows["ServerLoop0SerialNumber"], kPeerIdentity);
  EXPECT_EQ(rows["ServerLoop0HostName"], "peerhost");
  EXPECT_EQ(rows["ServerLoop0Ip"], "10.99.0.50");
  EXPECT_EQ(rows["ServerLoop0Status"], "01");

  // The same check-in out of the peer's two other interfaces: duplicates, never handled, but
  // the peer's other addresses are noted.
  const int before = serverControl().networkChanges.load();
  const uint64_t duplicatesBefore = packetDropCount(DropReason::kDuplicate);
  receive(peerDatagram(kCheckInRequest, checkInData("peerhost", 2), 500, kPeer + 1), kPeer + 1);
  receive(peerDatagram(kCheckInRequest, checkInData("peerhost", 2), 500, kPeer + 2), kPeer + 2);
  // Counting the drop is the last thing done with a duplicate.
  EXPECT_TRUE(waitUntil("both copies dropped as duplicates",
                        [&] { return packetDropCount(DropReason::kDuplicate) >= duplicatesBefore + 2; }));
  EXPECT_EQ(serverRows()["ServerLoop0Status"], "01") << "a duplicate carrying other data was processed";
  EXPECT_EQ(serverControl().networkChanges.load(), before + 2) << "two new addresses";
  {
    MutexLock lock(serverListLock());
    EXPECT_EQ(serverList().addressesOf(kPeerIdentity).size(), 3u);
  }
  // A new packet number is processed.
  receive(peerDatagram(kCheckInRequest, checkInData("peerhost", 2), 501));
  EXPECT_TRUE(waitUntil([] { return serverRows()["ServerLoop0Status"] == "02"; }));
  EXPECT_EQ(transport_.count(kSendDeviceListRequest), 5u) << "only a new server asks for the lists";

  // Our own packets, foreign datagrams and unsupported types change nothing.
  receive(peerDatagram(kCheckInRequest, checkInData("me", 0), 9, kOwn2, "OTHER--0A630002"), kOwn2);
  receive(std::vector<uint8_t>(first.begin(), first.end() - 1));
  receive(peerDatagram(5, "", 502));
  receive(peerDatagram(kShutdownNotice, std::string(100, '\0'), 503));
  std::this_thread::sleep_for(100ms);  // any of them, wrongly handled, would show by now
  EXPECT_EQ(serverRows()["ServerLoop"], "1");
}

TEST_F(NetworkTest, ListSendClaimsAfterTheWaitAndOnlyTheLatestSendClaims) {
  ClaimTestList list({{"T1"}, {"T2"}});
  publishClaimDeviceList(list.head());
  initializeKestrovaNetwork();
  const auto firstSend = std::chrono::steady_clock::now();
  EXPECT_NE(sendDeviceListService(), 0u);
  ASSERT_TRUE(waitUntil([&] { return transport_.count(kAcceptDeviceListRequest) == 5; }))
      << transport_.count(kAcceptDeviceListRequest);
  EXPECT_STREQ(transport_.ofType(kAcceptDeviceListRequest)[0]->packet->dataText(), "\nT1 4\nT2 4");
  std::this_thread::sleep_for(300ms);
  EXPECT_NE(sendDeviceListService(), 0u);  // a newer send, half-way through the first wait
  const auto secondSend = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(450ms);  // the first wait is over, the second is not
  // Only meaningful when the machine kept to the schedule: the second send inside the first wait,
  // and this look before the second wait ends.
  if (secondSend - firstSend < 450ms && std::chrono::steady_clock::now() - secondSend < 550ms) {
    EXPECT_EQ(claim(list, "T1").first, UNCLAIMED) << "the first wait must leave the claim to the newer send";
  }
  EXPECT_TRUE(waitUntil([&] { return claim(list, "T1").first == MINE && claim(list, "T2").first == MINE; }));

  // A greater identity claims T1: we let it monitor it; T2 it doesn't list, so T2 stays ours.
  receive(peerDatagram(kCheckInRequest, checkInData("zzzhost", 0), 699, kPeer, "ZZZ--0A630032"));
  receive(peerDatagram(kAcceptDeviceListRequest, std::string("\nT1 1") + '\0', 700, kPeer, "ZZZ--0A630032"));
  EXPECT_TRUE(waitUntil([&] { return claim(list, "T1") == std::make_pair(int32_t{NOT_MINE}, kPeer); }));
  EXPECT_EQ(claim(list, "T2").first, MINE);
  // It stops listing T1: T1 is free again and our list goes out once more.
  const size_t sends = transport_.count(kAcceptDeviceListRequest);
  receive(peerDatagram(kAcceptDeviceListRequest, std::string("\nT9 1") + '\0', 701, kPeer, "ZZZ--0A630032"));
  EXPECT_TRUE(waitUntil([&] { return transport_.count(kAcceptDeviceListRequest) >= sends + 5; }))
      << transport_.count(kAcceptDeviceListRequest) << " vs " << sends;
  EXPECT_TRUE(waitUntil([&] { return claim(list, "T1").first == MINE; }));
}

TEST_F(NetworkTest, SilentServerReleasesItsUnitsAndIsAskedAgainWhenBack) {
  ClaimTestList list({{"T1", "T2"}});
  publishClaimDeviceList(list.head());
  setClaim(list, "T1", NOT_MINE, kPeer);
  setClaim(list, "T2", MINE, 0);
  initializeKestrovaNetwork();
  peerChecksIn(900);
  ASSERT_TRUE(waitUntil([] { return serverRows()["ServerLoop"] == "1"; }));
  const int changes = serverControl().networkChanges.load();
  // No more check-ins: after the silence period the peer is marked and T1 claimed again.
  ASSERT_TRUE(waitUntil([] { return serverRows()["ServerLoop0Status"] == "04"; }));
  EXPECT_GT(serverControl().networkChanges.load(), changes);
  EXPECT_TRUE(waitUntil([&] { return claim(list, "T1").first == MINE; }));
  EXPECT_EQ(claim(list, "T2").first, MINE);

  const size_t sends = transport_.count(kAcceptDeviceListRequest);
  peerChecksIn(901);
  EXPECT_TRUE(waitUntil([] { return serverRows()["ServerLoop0Status"] == "00"; }));
  EXPECT_TRUE(waitUntil([&] { return transport_.count(kAcceptDeviceListRequest) >= sends + 5; }))
      << "a server back from silence gets our list";
}

TEST_F(NetworkTest, TakeDeviceControlMovesTheUnitHereAndTellsTheOthers) {
  ClaimTestList list({{"Test01", "Test02"}});
  publishClaimDeviceList(list.head());
  setClaim(list, "Test01", NOT_MINE, kPeer);
  initializeKestrovaNetwork();
  VariableTable request = nullptr;
  addVariable(&request, "ModDeviceName", "test01");
  addVariable(&request, "NumberOfPostParameters", "2");
  addVariable(&request, "PostParameter0Field", "module");
  addVariable(&request, "PostParameter0Value", "server");
  addVariable(&request, "PostParameter1Field", "method");
  addVariable(&request, "PostParameter1Value", "NoSuchMethod");
  VariableTable reply = TakeDeviceControl(request);
  EXPECT_STREQ(getVariable(reply, "TookOverDeviceControl"), "true");
  EXPECT_NE(getVariable(reply, "HTMLPath"), nullptr) << "the forwarded request was answered";
  freeVariableTable(&reply);
  EXPECT_EQ(claim(list, "Test01"), std::make_pair(int32_t{MINE}, 0u));
  ASSERT_EQ(transport_.count(kTakeDeviceControlRequest), 5u);
  EXPECT_STREQ(transport_.ofType(kTakeDeviceControlRequest)[0]->packet->dataText(), "test01");

  replaceVariable(&request, "ModDeviceName", "Nowhere");
  reply = TakeDeviceControl(request);
  EXPECT_STREQ(getVariable(reply, "TookOverDeviceControl"), "false");
  EXPECT_EQ(transport_.count(kTakeDeviceControlRequest), 5u) << "no packet for a unit that exists nowhere";
  freeVariableTable(&reply);
  freeVariableTable(&request);

  // Another server takes Test02 over; a name without its NUL is ignored.
  peerChecksIn(39);
  receive(peerDatagram(kTakeDeviceControlRequest, "TEST02", 40));
  receive(peerDatagram(kTakeDeviceControlRequest, std::string("Test02") + '\0', 41));
  EXPECT_TRUE(waitUntil([&] { return claim(list, "Test02") == std::make_pair(int32_t{NOT_MINE}, kPeer); }));
  EXPECT_EQ(claim(list, "Test01").first, MINE);
}

// A peer at 127.0.0.2 sends a check-in of host to destination (host order) at port over the
// loopback interface.
void checkInOverLoopback(uint16_t port, uint32_t destination, const std::string& host) {
  const std::string to = std::to_string(destination >> 24) + "." +
                         std::to_string((destination >> 16) & 0xFF) + "." +
                         std::to_string((destination >> 8) & 0xFF) + "." + std::to_string(destination & 0xFF);
  SocketOwner peer;
  ASSERT_EQ(connectToHostThroughBind(nullptr, to.c_str(), port, peer.address(), 0x7F000002, kUdpSpecifier),
            0u);
  const std::vector<uint8_t> datagram =
      peerDatagram(kCheckInRequest, checkInData(host, 0), 1, 0x7F000002, host + "--7F000002");
  ASSERT_EQ(writeToSocket(peer.get(), datagram.data(), datagram.size()), 0u);
}

bool listenerRuns() {
  for (const ThreadListing& t : listThreads()) {
    if (t.tag == "initializeKestrovaNetwork/listenForNetworkPackets" && t.running) return true;
  }
  return false;
}

uint16_t randomPort() {
  std::mt19937 random(static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(std::time(nullptr)));
  return static_cast<uint16_t>(40000 + random() % 20000);
}

TEST_F(NetworkTest, ListenerOnLoopbackReceives) {
  if (test_support::underWine()) GTEST_SKIP() << test_support::kWineLoopbackSourceIsFirst;
  setLocalAddressSource(loopbackOnly);
  const uint16_t port = randomPort();
  replaceVariable(&serverSettings().ip, "MulticastPort", std::to_string(port).c_str());
  initializeKestrovaNetwork();
  ASSERT_TRUE(waitUntil(listenerRuns));
  checkInOverLoopback(port, INADDR_LOOPBACK, "loophost");
  EXPECT_TRUE(waitUntil([] { return serverRows()["ServerLoop0HostName"] == "loophost"; }));
  checkInOverLoopback(port, 0x7F000003, "otherhost");
#ifdef _WIN32
  // The listen socket is bound to the interface's own address (Windows delivers the group there).
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(serverRows()["ServerLoop"], "1") << "a datagram for another address of the host was taken";
#else
  // Bound to the wildcard address: whatever address of the host a datagram was sent to.
  EXPECT_TRUE(waitUntil([] { return serverRows()["ServerLoop"] == "2"; }));
#endif
}

LocalAddressCandidates pinnedLoopback() { return {{INADDR_LOOPBACK}, {INADDR_LOOPBACK}, true}; }

// The listeners are blocked in their receives when the stop comes, which must end them well before
// its limit (8 s), with or without the addresses pinned (one socket per address, or two).
TEST_F(NetworkTest, StopEndsTheBlockedListenersAtOnce) {
  for (LocalAddressSource source : {loopbackOnly, pinnedLoopback}) {
    setLocalAddressSource(source);
    replaceVariable(&serverSettings().ip, "MulticastPort", std::to_string(randomPort()).c_str());
    initializeKestrovaNetwork();
    ASSERT_TRUE(waitUntil(listenerRuns));
    // A blocked receive leaves no mark to wait for; this lets the listeners get into it.
    std::this_thread::sleep_for(200ms);
    testing::internal::CaptureStdout();
    const auto started = std::chrono::steady_clock::now();
    stopKestrovaNetwork();
    const auto took = std::chrono::steady_clock::now() - started;
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_LT(took, 4s) << (source == pinnedLoopback ? "pinned" : "not pinned");
    EXPECT_EQ(console.find("network threads did not end"), std::string::npos) << console;
    EXPECT_EQ(liveNetworkThreads(), 0);
  }
}

TEST_F(NetworkTest, PinnedAddressIsTheOnlyOneListenedOn) {
  if (test_support::underWine()) GTEST_SKIP() << test_support::kWineLoopbackSourceIsFirst;
  setLocalAddressSource(pinnedLoopback);
  const uint16_t port = randomPort();
  replaceVariable(&serverSettings().ip, "MulticastPort", std::to_string(port).c_str());
  initializeKestrovaNetwork();
  ASSERT_TRUE(waitUntil(listenerRuns));
  checkInOverLoopback(port, 0x7F000003, "otherhost");
  checkInOverLoopback(port, INADDR_LOOPBACK, "loophost");
  EXPECT_TRUE(waitUntil([] { return serverRows()["ServerLoop0HostName"] == "loophost"; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(serverRows()["ServerLoop"], "1") << "a datagram for another address of the host was taken";
  stopKestrovaNetwork();
  EXPECT_EQ(liveNetworkThreads(), 0);
}

TEST_F(NetworkTest, NothingIsHandledWhileTheServerIsNotRunning) {
  initializeKestrovaNetwork();
  serverControl().serverRunning.store(0);
  peerChecksIn(77);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(serverRows()["ServerLoop"], "0");
  EXPECT_EQ(sendDeviceListService(), 0u);
  serverControl().serverRunning.store(1);
}

}  // namespace

namespace {

TEST(DeviceListSnapshot, CopiesThePublishedListForTheCallingThread) {
  ClaimTestList list({{"A", "B"}, {}, {"C"}});
  DeviceInfo info{};
  info.targetId = 5;
  list.head()->info = &info;
  list.set("B", NOT_MINE, kPeer);
  publishClaimDeviceList(list.head());
  const DeviceRecord* copy = deviceListSnapshot();
  publishClaimDeviceList(nullptr);
  list.head()->info = nullptr;
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, list.head());
  ASSERT_NE(copy->info, nullptr);
  EXPECT_NE(copy->info, &info);
  EXPECT_EQ(copy->info->targetId, 5);
  std::vector<std::string> units;
  int records = 0;
  for (const DeviceRecord* r = copy; r != nullptr; r = r->next, ++records) {
    for (const ModDeviceItem* u = r->units; u != nullptr; u = u->next) {
      units.push_back(std::string(u->name) + "=" + std::to_string(u->modStatus));
      EXPECT_EQ(u->modState, nullptr);
    }
  }
  EXPECT_EQ(records, 3);
  EXPECT_EQ(units, (std::vector<std::string>{"A=4", "B=2", "C=4"}));
  EXPECT_EQ(deviceListSnapshot(), nullptr) << "nothing published";
}

}  // namespace

namespace {

TEST(NetworkEvent, FormatFromTheStringTableTakesOnlyItsOneText) {
  EXPECT_EQ(fillNetworkEventFormat("Listen socket failed: %s", "bind"), "Listen socket failed: bind");
  EXPECT_EQ(fillNetworkEventFormat("%s and %s at 100%%", "one"), "one and %s at 100%");
  EXPECT_EQ(fillNetworkEventFormat("%d %n %x%", "x"), "%d %n %x%") << "other conversions are plain text";
  EXPECT_EQ(fillNetworkEventFormat("no argument", "x"), "no argument");
}

}  // namespace
