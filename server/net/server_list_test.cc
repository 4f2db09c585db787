// The list of the other servers: check-ins, addresses, the duplicate check, the silence rule with
// its timing, and the page rows.
#include "server/net/server_list.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> checkIn(const std::string& host, uint32_t status) {
  CheckInData data;
  data.hostName = host;
  data.status = status;
  return encodeCheckInData(data);
}

NetworkPacket packetFrom(const std::string& identity, uint32_t number, uint32_t address = 0x0A000002,
                         uint32_t version = 2, uint32_t type = kCheckInRequest) {
  NetworkPacket packet;
  packet.requestType = type;
  packet.identity = identity;
  packet.version = version;
  packet.hasPacketNumber = version >= 2;
  packet.packetNumber = number;
  packet.senderAddress = address;
  return packet;
}

std::map<std::string, std::string> rowsOf(const ServerList& list) {
  VariableTable reply = nullptr;
  list.addPageRows(&reply);
  std::map<std::string, std::string> rows;
  for (VariableEntry* e = reply; e != nullptr; e = e->next) rows[e->key] = e->value;
  freeVariableTable(&reply);
  return rows;
}

TEST(ServerList, FirstCheckInAddsTheServerAndLaterOnesCountOnlyChanges) {
  ServerList list;
  const SteadyTime t0 = std::chrono::steady_clock::now();
  auto data = checkIn("hostb", 0);
  CheckInOutcome first = list.recordCheckIn("N/A--0A000002", data.data(), 0x0A000002, 100, t0);
  EXPECT_TRUE(first.isNew);
  EXPECT_EQ(first.changes, 1);
  ASSERT_EQ(list.size(), 1u);

  CheckInOutcome same = list.recordCheckIn("N/A--0A000002", data.data(), 0x0A000002, 110, t0 + 10s);
  EXPECT_FALSE(same.isNew);
  EXPECT_FALSE(same.wasSilent);
  EXPECT_EQ(same.changes, 0);
  EXPECT_EQ(list.at(0).lastCheckIn, 110);

  auto warning = checkIn("hostb", 1);
  EXPECT_EQ(list.recordCheckIn("N/A--0A000002", warning.data(), 0x0A000002, 120, t0 + 20s).changes, 1);
  EXPECT_EQ(list.recordCheckIn("N/A--0A000002", warning.data(), 0x0A000012, 130, t0 + 30s).changes, 1)
      << "a new address is a change";
  EXPECT_EQ(list.addressesOf("N/A--0A000002"), (std::vector<uint32_t>{0x0A000002, 0x0A000012}));
  EXPECT_TRUE(list.recordCheckIn("n/a--0a000002", warning.data(), 0x0A000003, 130, t0).isNew)
      << "identities are matched exactly";
  EXPECT_TRUE(list.addressesOf("unknown").empty());
}

TEST(ServerList, AddressesFillTenSlotsThenAreIgnored) {
  ServerEntry entry;
  for (uint32_t i = 1; i <= 10; ++i) EXPECT_TRUE(ServerList::noteAddress(&entry, i, 50)) << i;
  EXPECT_FALSE(ServerList::noteAddress(&entry, 11, 60));
  ServerEntry other;
  EXPECT_FALSE(ServerList::noteAddress(&other, 0, 60)) << "0 is no address";
  EXPECT_EQ(other.addresses[0], 0u);
  EXPECT_FALSE(ServerList::noteAddress(&entry, 3, 70)) << "a known address only refreshes its time";
  EXPECT_EQ(entry.lastSeen[2], 70);
  EXPECT_EQ(entry.addresses[9], 10u);
}

TEST(ServerList, DuplicateCheckRemembersTheLastTenPacketNumbers) {
  ServerList list;
  const std::string id = "N/A--0A000002";
  // A newcomer's first send arrives out of its three interfaces before it is listed.
  EXPECT_FALSE(list.isDuplicate(packetFrom(id, 5, 0x0A000002), 10, nullptr));
  EXPECT_TRUE(list.isDuplicate(packetFrom(id, 5, 0x0A000012), 10, nullptr));
  EXPECT_FALSE(list.isDuplicate(packetFrom("other", 5), 10, nullptr)) << "numbers belong to one identity";
  auto data = checkIn("hostb", 0);
  list.recordCheckIn(id, data.data(), 0x0A000002, 10, std::chrono::steady_clock::now());
  int changes = 0;
  EXPECT_TRUE(list.isDuplicate(packetFrom(id, 5, 0x0A000022), 10, &changes))
      << "the copy that comes after the check-in listed the server";

  EXPECT_FALSE(list.isDuplicate(packetFrom(id, 100, 0x0A000002), 11, &changes));
  // The same send out of the sender's two other interfaces.
  EXPECT_TRUE(list.isDuplicate(packetFrom(id, 100, 0x0A000012), 11, &changes));
  EXPECT_TRUE(list.isDuplicate(packetFrom(id, 100, 0x0A000022), 11, &changes));
  EXPECT_EQ(changes, 2) << "each new interface address counts once";
  EXPECT_EQ(list.addressesOf(id).size(), 3u) << "noted by the copies of number 5 and 100";
  // Only check-ins make an address known: anyone can name the identity in a unit list.
  EXPECT_FALSE(list.isDuplicate(packetFrom(id, 200, 0x0A0000EE, 2, kAcceptDeviceListRequest), 11, &changes));
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(list.hasCheckedInFrom(id, 0x0A0000EE));
  EXPECT_TRUE(list.hasCheckedInFrom(id, 0x0A000012));

  EXPECT_FALSE(list.isDuplicate(packetFrom(id, 100, 0x0A000002, 1), 12, nullptr)) << "version 1: no number";
  for (uint32_t n = 101; n <= 110; ++n) EXPECT_FALSE(list.isDuplicate(packetFrom(id, n), 12, nullptr));
  EXPECT_FALSE(list.isDuplicate(packetFrom(id, 100), 12, nullptr)) << "100 was pushed out by ten newer ones";
  EXPECT_TRUE(list.isDuplicate(packetFrom(id, 110), 12, nullptr));
  EXPECT_TRUE(list.isDuplicate(packetFrom(id, 100), 12, nullptr));
}

TEST(ServerList, SilentServersAreMarkedOnceAfterTheSilencePeriod) {
  ServerList list;
  const SteadyTime t0 = std::chrono::steady_clock::now();
  auto data = checkIn("hostb", 1);
  list.recordCheckIn("B", data.data(), 0x0A000002, 100, t0);
  list.recordCheckIn("C", data.data(), 0x0A000003, 100, t0 + 5s);
  EXPECT_EQ(list.markSilentServers(t0 + 20s, 20000ms), 0) << "exactly 20 s is not more than 20 s";
  EXPECT_EQ(list.markSilentServers(t0 + 20s + 1ms, 20000ms), 1);
  EXPECT_EQ(list.find("B")->status(), kSilentServerStatus);
  EXPECT_EQ(list.find("C")->status(), 1u);
  EXPECT_EQ(list.markSilentServers(t0 + 30s, 20000ms), 1) << "C now; B is not marked twice";
  EXPECT_EQ(list.markSilentServers(t0 + 60s, 20000ms), 0);

  CheckInOutcome back = list.recordCheckIn("B", data.data(), 0x0A000002, 200, t0 + 61s);
  EXPECT_TRUE(back.wasSilent);
  EXPECT_EQ(back.changes, 1) << "the stored status 4 differs from the new check-in";
  EXPECT_EQ(list.find("B")->status(), 1u);
  EXPECT_EQ(list.markSilentServers(t0 + 62s, 20000ms), 0);
}

TEST(ServerList, PageRowsAreSortedByHostName) {
  ServerList list;
  const SteadyTime now = std::chrono::steady_clock::now();
  auto zeta = checkIn("zeta", 0x1F);
  auto alpha = checkIn("alpha", 2);
  auto upper = checkIn("Beta", 0);
  list.recordCheckIn("Z--0A000009", zeta.data(), 0x0A000009, 1700000000, now);
  list.recordCheckIn("A--0A000001", alpha.data(), 0x0A000001, 1700000000, now);
  list.recordCheckIn("B--0A000005", upper.data(), 0x0A000005, 1700000000, now);
  const auto rows = rowsOf(list);
  EXPECT_EQ(rows.at("ServerLoop"), "3");
  EXPECT_EQ(rows.at("ServerLoop0HostName"), "Beta") << "byte order: upper case first";
  EXPECT_EQ(rows.at("ServerLoop1HostName"), "alpha");
  EXPECT_EQ(rows.at("ServerLoop2HostName"), "zeta");
  EXPECT_EQ(rows.at("ServerLoop2Ip"), "10.0.0.9");
  EXPECT_EQ(rows.at("ServerLoop2SerialNumber"), "Z--0A000009");
  EXPECT_EQ(rows.at("ServerLoop2Status"), "1F");
  EXPECT_EQ(rows.at("ServerLoop1Status"), "02");
  EXPECT_EQ(rows.at("ServerLoop1NumUsers"), "0");
  EXPECT_EQ(rows.at("ServerLoop0LastCheckinDate").size(), 8u);  // MM/DD/YY
  EXPECT_EQ(rows.at("ServerLoop0LastCheckinTime").size(), 8u);  // HH:MM:SS
  EXPECT_EQ(rowsOf(ServerList()).at("ServerLoop"), "0");
}

}  // namespace

namespace {

TEST(ServerList, IsCappedAndTakesANewServerOnlyInTheSilentOnesPlace) {
  ServerList list;
  list.setCapacity(3);
  const SteadyTime t0 = std::chrono::steady_clock::now();
  auto data = checkIn("host", 0);
  for (uint32_t i = 1; i <= 3; ++i) {
    EXPECT_TRUE(list.recordCheckIn("S" + std::to_string(i), data.data(), i, 100, t0 + i * 1s).isNew);
  }
  // Full and everybody alive: a newcomer is refused and changes nothing.
  const CheckInOutcome refused = list.recordCheckIn("S4", data.data(), 4, 100, t0 + 4s);
  EXPECT_TRUE(refused.refused);
  EXPECT_FALSE(refused.isNew);
  EXPECT_EQ(refused.changes, 0);
  EXPECT_EQ(list.size(), 3u);
  EXPECT_EQ(list.find("S4"), nullptr);
  // A listed server still checks in while the list is full.
  EXPECT_FALSE(list.recordCheckIn("S1", data.data(), 1, 130, t0 + 30s).refused);

  // S2 and S3 fall silent; the newcomer takes the place of the one silent for longest (S2).
  EXPECT_EQ(list.markSilentServers(t0 + 30s, 20000ms), 2);
  const CheckInOutcome admitted = list.recordCheckIn("S4", data.data(), 4, 140, t0 + 31s);
  EXPECT_TRUE(admitted.isNew);
  EXPECT_EQ(list.size(), 3u);
  EXPECT_EQ(list.find("S2"), nullptr);
  EXPECT_NE(list.find("S3"), nullptr);
  EXPECT_TRUE(list.hasCheckedInFrom("S4", 4));
  EXPECT_FALSE(list.hasCheckedInFrom("S2", 2)) << "a server that left the list must check in again";
}

TEST(ServerList, ServersSilentForLongAreForgotten) {
  ServerList list;
  const SteadyTime t0 = std::chrono::steady_clock::now();
  auto data = checkIn("host", 0);
  list.recordCheckIn("old", data.data(), 1, 100, t0);
  list.recordCheckIn("recent", data.data(), 2, 100, t0 + 5min);
  EXPECT_EQ(list.forgetSilentServers(t0 + 10min, 10min), 0) << "exactly the period is not yet too long";
  EXPECT_EQ(list.forgetSilentServers(t0 + 10min + 1s, 10min), 1);
  EXPECT_EQ(list.find("old"), nullptr);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.at(0).identity, "recent");
  // Forgotten, it is a new server when it checks in again.
  EXPECT_TRUE(list.recordCheckIn("old", data.data(), 1, 800, t0 + 11min).isNew);
}

}  // namespace
