// Three servers and an attacker on one bridge (tests/network_lab.h). The attacker listens to the
// servers' multicast group and sends what a forger on the LAN would: claims and take-overs in the
// owner's name and address, from its own address and from the owner's (spoofed), without a
// trailer, under a trailer copied from a real packet, and real packets replayed whole.
// - With a network key none of it changes any claim, and a drive failure afterwards is logged by
//   the owner.
// - Without a key a packet whose inside names another address than its source, and claims of a
//   server that never checked in, change nothing.
// - Rolling the key over server by server (three rounds) never breaks the agreement.
//
// Needs root (namespaces, veth, bridge, a transparent socket to spoof a source); skipped with a
// message otherwise.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "server/net/network_packet.h"
#include "server/net/packet_trailer.h"
#include "tests/network_lab.h"
#include "tests/support/wait_until.h"

namespace {

using namespace netlab;
using namespace std::chrono_literals;

constexpr char kGroup[] = "239.192.91.91";  // the default db/IP.db
constexpr uint16_t kPort = 9191;
constexpr char kKeyA[] = "site key A of the test network";
constexpr char kKeyB[] = "site key B of the test network";
constexpr char kPair[] = "Brivo20000004CF8A1B2C";

uint32_t hostOrder(const std::string& dotted) {
  in_addr address{};
  inet_aton(dotted.c_str(), &address);
  return ntohl(address.s_addr);
}

sockaddr_in socketAddress(const std::string& dotted, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(hostOrder(dotted));
  return address;
}

// A host on the servers' bridge that listens to their group and sends forged datagrams, from its
// own address or from another one's.
class Attacker {
 public:
  struct Captured {
    std::vector<uint8_t> bytes;
    uint32_t source;
    std::chrono::steady_clock::time_point when;
  };

  // Sockets made inside the namespace ns, whose address is own; spoofable: the addresses it may
  // send from besides its own.
  Attacker(const std::string& ns, const std::string& own, const std::vector<std::string>& spoofable)
      : own_(own) {
    std::thread inside([&] {
      int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) return;
      close(fd);
      listen_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      const int on = 1;
      setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
      const sockaddr_in group = socketAddress(kGroup, kPort);
      ip_mreq join{};
      join.imr_multiaddr.s_addr = htonl(hostOrder(kGroup));
      join.imr_interface.s_addr = htonl(hostOrder(own));
      timeval limit{0, 200000};
      setsockopt(listen_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
      ready_ = bind(listen_, reinterpret_cast<const sockaddr*>(&group), sizeof(group)) == 0 &&
               setsockopt(listen_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof(join)) == 0;
      senders_[own] = boundSocket(own, false);
      for (const std::string& address : spoofable) senders_[address] = boundSocket(address, true);
    });
    inside.join();
    capturing_ = true;
    reader_ = std::thread([this] { readGroup(); });
  }
  ~Attacker() {
    capturing_ = false;
    if (reader_.joinable()) reader_.join();
    if (listen_ >= 0) close(listen_);
    for (const auto& [address, fd] : senders_) {
      if (fd >= 0) close(fd);
    }
  }
  Attacker(const Attacker&) = delete;
  Attacker& operator=(const Attacker&) = delete;

  bool ready() const {
    for (const auto& [address, fd] : senders_) {
      if (fd < 0) return false;
    }
    return ready_;
  }

  // The newest captured datagram of request type from source, if any.
  bool newest(uint32_t type, const std::string& source, Captured* found) {
    MutexLock lock(mutex_);
    for (auto it = captured_.rbegin(); it != captured_.rend(); ++it) {
      if (it->source == hostOrder(source) && it->bytes.size() > 16 &&
          readBigEndian32(it->bytes.data() + 12) == type) {
        *found = *it;
        return true;
      }
    }
    return false;
  }

  // Sends datagram from the address from to the group and to every address of targets.
  void send(const std::vector<uint8_t>& datagram, const std::string& from,
            const std::vector<std::string>& targets) {
    const int fd = senders_.at(from);
    std::vector<std::string> destinations = targets;
    if (from == own_) destinations.push_back(kGroup);
    for (const std::string& to : destinations) {
      const sockaddr_in address = socketAddress(to, kPort);
      EXPECT_EQ(sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                       sizeof(address)),
                static_cast<ssize_t>(datagram.size()))
          << "to " << to << " from " << from << ": " << std::strerror(errno);
    }
  }

 private:
  // A datagram socket bound to address; transparent (root only) to send from an address that is
  // not this host's.
  int boundSocket(const std::string& address, bool transparent) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (transparent && setsockopt(fd, SOL_IP, IP_TRANSPARENT, &on, sizeof(on)) != 0) {
      close(fd);
      return -1;
    }
    in_addr outgoing{};
    outgoing.s_addr = htonl(hostOrder(own_));
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing));
    const sockaddr_in local = socketAddress(address, 0);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  void readGroup() {
    std::vector<uint8_t> buffer(kMaxDatagramSize);
    while (capturing_) {
      sockaddr_in from{};
      socklen_t length = sizeof(from);
      const ssize_t got =
          recvfrom(listen_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (got <= 0) continue;
      MutexLock lock(mutex_);
      captured_.push_back({std::vector<uint8_t>(buffer.begin(), buffer.begin() + got),
                           ntohl(from.sin_addr.s_addr), std::chrono::steady_clock::now()});
    }
  }

  std::string own_;
  int listen_ = -1;
  bool ready_ = false;
  std::map<std::string, int> senders_;
  std::atomic<bool> capturing_{false};
  std::thread reader_;
  Mutex mutex_;
  std::vector<Captured> captured_ GUARDED_BY(mutex_);
};

// A packet as a server of identity at address would build it.
std::vector<uint8_t> forged(uint32_t type, const std::string& data, const std::string& identity,
                            const std::string& address, uint32_t number) {
  std::vector<uint8_t> datagram;
  EXPECT_EQ(buildNetworkPacket(type, static_cast<uint32_t>(data.size()), number, hostOrder(address),
                               data.data(), identity, static_cast<uint32_t>(std::time(nullptr)), &datagram),
            0);
  return datagram;
}
std::vector<uint8_t> forged(uint32_t type, const std::string& data, const NetServer& as, uint32_t number) {
  return forged(type, data, as.identity(), as.address(), number);
}

std::vector<uint8_t> withTrailerOf(std::vector<uint8_t> datagram, const std::vector<uint8_t>& real) {
  datagram.insert(datagram.end(), real.end() - kTrailerSize, real.end());
  return datagram;
}

// The unit list text that claims every unit.
std::string claimAll(const std::map<std::string, int>& owners) {
  std::string text;
  for (const auto& [name, owner] : owners) text += "\n" + name + " 1";
  return std::string(text.c_str(), text.size() + 1);
}

long long total(const std::vector<NetServer*>& servers, const std::string& reason) {
  long long sum = 0;
  for (NetServer* server : servers) sum += std::max(0LL, server->drops(reason));
  return sum;
}

class NetworkSecurityTest : public NetworkLabTest {
 protected:
  // Three servers at 10.213.0.11, .21, .31 and the attacker at .99.
  std::vector<NetServer*> threeServers(bool brivo, const std::string& key) {
    std::vector<NetServer*> all = {&addServer(1, {11}, false, brivo), &addServer(2, {21}, false, brivo),
                                   &addServer(3, {31}, false, brivo)};
    std::string why;
    EXPECT_TRUE(lab_.addServer(9, {99}, &why)) << why;
    for (NetServer* s : all) {
      if (!key.empty()) {
        std::string printed;
        EXPECT_EQ(s->netkey({"set"}, key + "\n", &printed), 0) << printed;
      }
    }
    return all;
  }
  static void startAll(const std::vector<NetServer*>& all) {
    for (NetServer* s : all) s->start();
    for (NetServer* s : all) ASSERT_TRUE(s->waitStarted()) << s->output();
  }
  static void stopAll(const std::vector<NetServer*>& all) {
    for (NetServer* s : all) s->stop();
    for (NetServer* s : all) EXPECT_EQ(s->finish(), 0) << s->output();
  }
  std::vector<std::string> addresses(const std::vector<NetServer*>& all) {
    std::vector<std::string> list;
    for (NetServer* s : all) list.push_back(s->address());
    return list;
  }
};

TEST_F(NetworkSecurityTest, WithKeyForgedAndReplayedPacketsMoveNothing) {
  std::vector<NetServer*> all = threeServers(true, kKeyA);
  Attacker attacker(lab_.serverNamespace(9), dotted(99), addresses(all));
  ASSERT_TRUE(attacker.ready()) << "the attacker's sockets could not be made";
  startAll(all);
  std::map<std::string, int> agreed = waitForAgreement(all, 40s);
  ASSERT_EQ(agreed.count(kPair), 1u) << describe(all);
  NetServer& owner = *all[agreed.at(kPair)];
  const std::string before = describe(all);

  // A fresh unit list of the owner: the first server restarts, greets, and everybody sends theirs.
  NetServer& first = all[0] == &owner ? *all[1] : *all[0];
  first.stop();
  EXPECT_EQ(first.finish(), 0);
  first.start();
  ASSERT_TRUE(first.waitStarted());
  Attacker::Captured list;
  Attacker::Captured checkIn;
  test_support::waitUntil(
      [&] {
        return attacker.newest(kAcceptDeviceListRequest, owner.address(), &list) &&
               attacker.newest(kCheckInRequest, owner.address(), &checkIn);
      },
      20s, 100ms);
  ASSERT_FALSE(list.bytes.empty()) << "no unit list of the owner was heard";
  ASSERT_FALSE(checkIn.bytes.empty());
  ASSERT_LT(std::chrono::steady_clock::now() - list.when, 20s) << "the list must still be fresh";
  ASSERT_EQ(waitForAgreement(all, 30s), agreed) << describe(all);

  const std::vector<std::string> targets = addresses(all);
  uint32_t number = 4000000000u;
  std::vector<std::vector<uint8_t>> attack;
  // Real packets replayed whole.
  attack.push_back(list.bytes);
  attack.push_back(checkIn.bytes);
  // The real list altered under its own trailer: every unit "unclaimed" by the owner.
  std::vector<uint8_t> altered = list.bytes;
  for (size_t i = 0; i + 1 < altered.size() - kTrailerSize; ++i) {
    if (altered[i] == ' ' && altered[i + 1] == '1') altered[i + 1] = '4';
  }
  attack.push_back(altered);
  // Forged in the owner's name: its lists give everything up, take-overs move every unit to it,
  // and a type nobody handles; each bare and under a trailer copied from the real check-in.
  for (const auto& [name, index] : agreed) {
    const std::string takeOver(name.c_str(), name.size() + 1);
    attack.push_back(forged(kTakeDeviceControlRequest, takeOver, owner, ++number));
    attack.push_back(
        withTrailerOf(forged(kTakeDeviceControlRequest, takeOver, owner, ++number), checkIn.bytes));
  }
  std::string giveUp;
  for (const auto& [name, index] : agreed) giveUp += "\n" + name + " 4";
  giveUp.push_back('\0');
  attack.push_back(forged(kAcceptDeviceListRequest, giveUp, owner, ++number));
  attack.push_back(
      withTrailerOf(forged(kAcceptDeviceListRequest, claimAll(agreed), owner, ++number), checkIn.bytes));
  attack.push_back(forged(6, std::string("\0", 1), owner, ++number));
  attack.push_back(withTrailerOf(forged(6, std::string("\0", 1), owner, ++number), checkIn.bytes));
  for (const std::vector<uint8_t>& datagram : attack) {
    attacker.send(datagram, dotted(99), targets);
    attacker.send(datagram, owner.address(), targets);
  }

  // Longer than a claim wait and a check-in period: any harm would show by now.
  std::this_thread::sleep_for(15s);
  EXPECT_EQ(answeredOwners(all), agreed) << describe(all) << "\nbefore:\n" << before;
  EXPECT_GT(total(all, "replay"), 0) << "the whole replays";
  EXPECT_GT(total(all, "bad_mac"), 0) << "the copied trailers";
  EXPECT_GT(total(all, "unauthenticated"), 0) << "the bare forgeries";

  // The owner still watches the pair: a failed drive is in its log, and in no other.
  ASSERT_TRUE(simulator_->ctl("fail drive alpha 3"));
  const auto logged = [&](NetServer& s) {
    const std::string log = s.eventLog();
    return log.find("drive ID 3 in slot 3 (WWN ") != std::string::npos &&
           log.find(") failed.") != std::string::npos;
  };
  EXPECT_TRUE(test_support::waitUntil([&] { return logged(owner); }, 30s, 250ms)) << owner.eventLog();
  for (NetServer* s : all) {
    if (s != &owner) {
      EXPECT_FALSE(logged(*s)) << s->identity();
    }
  }
  stopAll(all);
}

TEST_F(NetworkSecurityTest, WithoutKeyMismatchedAddressesAndStrangersMoveNothing) {
  std::vector<NetServer*> all = threeServers(false, "");
  Attacker attacker(lab_.serverNamespace(9), dotted(99), {});
  ASSERT_TRUE(attacker.ready()) << "the attacker's sockets could not be made";
  startAll(all);
  const std::map<std::string, int> agreed = waitForAgreement(all, 40s);
  ASSERT_FALSE(agreed.empty()) << describe(all);
  NetServer& owner = *all[agreed.begin()->second];
  const std::vector<std::string> targets = addresses(all);

  // In the owner's name and address, from the attacker's own address.
  uint32_t number = 4000000000u;
  for (const auto& [name, index] : agreed) {
    attacker.send(
        forged(kTakeDeviceControlRequest, std::string(name.c_str(), name.size() + 1), owner, ++number),
        dotted(99), targets);
  }
  attacker.send(forged(kAcceptDeviceListRequest, claimAll(agreed), owner, ++number), dotted(99), targets);
  // A stranger that never checked in, under a name that compares greater than every server's and
  // its own address.
  for (const auto& [name, index] : agreed) {
    attacker.send(forged(kTakeDeviceControlRequest, std::string(name.c_str(), name.size() + 1), "~~attacker",
                         dotted(99), ++number),
                  dotted(99), targets);
  }
  attacker.send(forged(kAcceptDeviceListRequest, claimAll(agreed), "~~attacker", dotted(99), ++number),
                dotted(99), targets);

  std::this_thread::sleep_for(12s);
  EXPECT_EQ(answeredOwners(all), agreed) << describe(all);
  EXPECT_GT(total(all, "address_mismatch"), 0);
  EXPECT_GT(total(all, "unknown_sender"), 0);
  stopAll(all);
}

TEST_F(NetworkSecurityTest, KeyRollOverServerByServerKeepsTheAgreement) {
  std::vector<NetServer*> all = threeServers(false, kKeyA);
  startAll(all);
  const std::map<std::string, int> agreed = waitForAgreement(all, 40s);
  ASSERT_FALSE(agreed.empty()) << describe(all);

  // Watches the agreement while the keys change (and is joined however the test ends).
  std::atomic<bool> watching{true};
  std::atomic<int> looks{0};
  std::mutex brokenLock;
  std::string broken;
  std::jthread watcher([&] {
    while (watching) {
      const std::map<std::string, int> now = owners(all);
      if (!now.empty()) ++looks;  // a server too busy to answer tells nothing
      if (!now.empty() && now != agreed) {
        std::lock_guard<std::mutex> lock(brokenLock);
        if (broken.empty()) {
          for (const auto& [name, owner] : now) broken += name + " -> " + std::to_string(owner) + "\n";
          broken += describe(all);
        }
      }
      std::this_thread::sleep_for(300ms);
    }
  });
  struct StopWatching {
    std::atomic<bool>* flag;
    ~StopWatching() { *flag = false; }
  } stopWatching{&watching};

  NetworkKey a;
  NetworkKey b;
  ASSERT_TRUE(deriveNetworkKey(kKeyA, &a) && deriveNetworkKey(kKeyB, &b));
  const std::string idA = keyIdText(a.id);
  const std::string idB = keyIdText(b.id);
  // Each step on one server after the other: the first server from a shell (used at its next
  // check-in pass), the others on their page (used at once).
  const struct {
    const char* action;
    const char* key;
    const std::string* sending;
    const char* second;
  } rounds[] = {{"add", kKeyB, &idA, "B"}, {"switch", "", &idB, "A"}, {"drop", "", &idB, ""}};
  for (const auto& round : rounds) {
    for (size_t i = 0; i < all.size(); ++i) {
      NetServer& s = *all[i];
      if (i == 0) {
        std::string printed;
        ASSERT_EQ(s.netkey({round.action}, *round.key != '\0' ? std::string(round.key) + "\n" : "", &printed),
                  0)
            << printed;
      } else {
        ASSERT_EQ(s.changeKey(round.action, round.key), "") << round.action << " on server " << i + 1;
      }
      const std::string second = *round.second == 'A' ? idA : *round.second == 'B' ? idB : "";
      auto applied = [&] {
        auto page = s.values("GetDebugInfo");
        return page["NetworkSendKeyId"] == *round.sending && page["NetworkSecondKeyId"] == second;
      };
      // 45 s: a check-in pass, even on a busy machine.
      const bool keysApplied = test_support::waitUntil(applied, 45s, 200ms);
      auto page = s.values("GetDebugInfo");
      ASSERT_TRUE(keysApplied) << round.action << " on server " << i + 1 << ": signs with "
                             << page["NetworkSendKeyId"] << ", also accepts " << page["NetworkSecondKeyId"]
                             << "\n"
                             << s.eventLog();
      std::this_thread::sleep_for(2s);  // a few packets under the new keys before the next server
    }
  }
  std::this_thread::sleep_for(12s);  // a whole check-in period and more on key B alone
  watching = false;
  watcher.join();
  EXPECT_GT(looks.load(), 20);
  EXPECT_TRUE(broken.empty()) << "the agreement broke during the roll-over:\n" << broken;
  EXPECT_EQ(answeredOwners(all), agreed) << describe(all);
  for (NetServer* s : all) {
    EXPECT_EQ(s->drops("unknown_key"), 0) << s->identity();
    EXPECT_EQ(s->drops("unauthenticated"), 0) << s->identity();
  }
  stopAll(all);
}

}  // namespace
