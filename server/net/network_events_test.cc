// The server network's own events in the event log, by ID (a missing multicast address, listen
// sockets that cannot be made), and a request type the protocol does not know, which must reach
// no handler. The network runs inside the process with the server's notification channels, in a
// folder of its own that holds the default string table; sends are counted, not sent.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/debug.h"
#include "server/events/dispatcher.h"
#include "server/events/event_log.h"
#include "server/net/network_test_fixture.h"
#include "server/net/socket_layer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using network_test::checkInData;
using test_support::waitUntil;
using network_test::peerDatagram;
using network_test::receive;
using network_test::RecordingTransport;

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kForeign1 = 0x0A630001;  // 10.99.0.1 and .2: not on this host, so never bound
constexpr uint32_t kForeign2 = 0x0A630002;
constexpr uint32_t kPeer = network_test::kPeer;
constexpr uint32_t kPeer2 = 0x0A630033;

// A UDP port nobody holds on loopback now, so that the listener there can bind it. The probe is
// closed by the socket layer: Winsock's sockets are not descriptors that close() could end.
uint16_t freeUdpPort() {
  SocketOwner probe;
  if (createListenSocket(probe.address(), kLoopback, 0, kUdpSpecifier, nullptr) != 0) return 0;
  return socketLocalPort(probe.get());
}

LocalAddressCandidates loopbackAndTwoForeign() { return {{kLoopback, kForeign1, kForeign2}, {}}; }
LocalAddressCandidates foreignOnly() { return {{kForeign1}, {}}; }

class NetworkEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "KESTROVA_SOURCE_DIR names the source tree (default string table)";
    fs::create_directories(folder_.file("db"));
    fs::copy_file(fs::path(source) / "data/db/strings.db", folder_.file("db/strings.db"));
    saved_ = fs::current_path();
    fs::current_path(folder_.path());

    ASSERT_TRUE(initThreadManager());
    serverControl().serverRunning.store(1);
    setLastLogEntryNumber(0);
    ASSERT_TRUE(startNotificationChannels());
    setServerSerialNumber("EVENTS");
    savedIp_ = serverSettings().ip;
    serverSettings().ip = nullptr;
    port_ = std::to_string(freeUdpPort());
    ASSERT_NE(port_, "0");
    addVariable(&serverSettings().ip, "MulticastPort", port_.c_str());
    addVariable(&serverSettings().ip, "IP1", "10.98.0.1");
    setPacketTransport(&transport_);
    // No site key: a key file where the test runs must not change what is received.
    setNetworkKeyPath(folder_.file("db/network.key").c_str());
  }
  void TearDown() override {
    stopKestrovaNetwork();
    serverControl().serverRunning.store(0);
    stopNotificationChannels();
    closeThreadManager();
    setPacketTransport(nullptr);
    setLocalAddressSource(nullptr);
    freeVariableTable(&serverSettings().ip);
    serverSettings().ip = savedIp_;
    setServerSerialNumber(nullptr);
    setNetworkKeyPath(nullptr);
    fs::current_path(saved_);
  }

  // The event log's records whose message carries the event ID, concern level and the network's
  // device name, once count of them are there (or what there is after the wait).
  std::vector<std::string> networkRecords(const char* eventId, const char* level, size_t count) {
    const std::string marker = std::string("\"(Event ID: ") + eventId + ") ";
    const std::string fields = std::string("\",\"") + level + "\",\"";
    const std::string device = "\"Kestrova Server (Network Communicator)\",";
    std::vector<std::string> found;
    waitUntil(
        [&] {
          found.clear();
          std::ifstream in("db/ServerLog.log");
          std::string line;
          while (std::getline(in, line)) {
            if (line.find(marker) != std::string::npos && line.find(fields) != std::string::npos &&
                line.find(device) != std::string::npos) {
              found.push_back(line);
            }
          }
          return found.size() >= count;
        },
        30s);  // generous: the channel writes the log on its own thread
    return found;
  }

  static int runningListeners() {
    int count = 0;
    for (const ThreadListing& t : listThreads()) {
      if (t.tag == "initializeKestrovaNetwork/listenForNetworkPackets" && t.running) ++count;
    }
    return count;
  }

  TestFolder folder_;
  fs::path saved_;
  VariableTable savedIp_ = nullptr;
  std::string port_;
  RecordingTransport transport_;
};

TEST_F(NetworkEventsTest, NoMulticastAddressIsAWarningAndCheckInsStillReachThePartners) {
  setLocalAddressSource(loopbackAndTwoForeign);
  initializeKestrovaNetwork();
  const std::vector<std::string> records = networkRecords("0x201", "1", 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(records[0].find("The multicast address is not configured."), std::string::npos) << records[0];
  EXPECT_EQ(runningListeners(), 0) << "no group: nothing to listen on";
  EXPECT_TRUE(networkRecords("0x202", "1", 0).empty()) << "no socket was even tried";
  EXPECT_TRUE(waitUntil([&] { return transport_.count(kCheckInRequest) > 0; }, 30s))
      << "the partner is still told";
  for (const network_test::SentCopy* sent : transport_.ofType(kCheckInRequest)) {
    EXPECT_FALSE(sent->multicast) << "no group to send to";
  }
}

TEST_F(NetworkEventsTest, EveryListenSocketThatCannotBeMadeIsAWarningAndTheOthersListen) {
  addVariable(&serverSettings().ip, "IP0", "239.255.77.1");
  setLocalAddressSource(loopbackAndTwoForeign);
  initializeKestrovaNetwork();
  const std::vector<std::string> records = networkRecords("0x202", "1", 2);
  ASSERT_EQ(records.size(), 2u) << "one per address that cannot be bound";
  for (const std::string& record : records) {
    EXPECT_NE(record.find("A listening socket for communication with other servers could not be created: "),
              std::string::npos)
        << record;
    EXPECT_EQ(record.find("%s"), std::string::npos) << "the reason is filled in: " << record;
  }
  EXPECT_TRUE(waitUntil([] { return runningListeners() == 1; }, 30s))
      << "the loopback address still listens";
  EXPECT_TRUE(networkRecords("0x201", "1", 0).empty());
}

TEST_F(NetworkEventsTest, UnsupportedRequestTypeReachesNoHandler) {
  addVariable(&serverSettings().ip, "IP0", "239.255.77.1");
  setLocalAddressSource(foreignOnly);
  initializeKestrovaNetwork();
  const auto listedHosts = [] {
    VariableTable rows = nullptr;
    addServerListRows(&rows);
    TableOwner owner(rows);
    std::vector<std::string> hosts;
    const int count = std::atoi(getVariableOrMissing(rows, "ServerLoop"));
    for (int i = 0; i < count; ++i) {
      hosts.emplace_back(getVariableOrMissing(rows, ("ServerLoop" + std::to_string(i) + "HostName").c_str()));
    }
    return hosts;
  };

  const char* argv[] = {"Kestrova", "1011"};
  ::testing::internal::CaptureStdout();
  initDebugNoExit(2, argv, nullptr);
  // Type 5 carries a check-in's data from a server nobody knows: any handler would list it. A
  // real check-in from a second server follows; once that one is listed, a handler started for
  // the first packet (started before it, in the same call) would have had its chance too.
  receive(peerDatagram(5, checkInData("fivehost", 2), 1, kPeer, "FIVE--0A630032"), kPeer);
  receive(peerDatagram(kCheckInRequest, checkInData("checkhost", 2), 1, kPeer2, "CHECK-0A630033"), kPeer2);
  const bool checkInListed = waitUntil([&] { return !listedHosts().empty(); }, 30s);
  closeDebug();
  const std::string output = ::testing::internal::GetCapturedStdout();

  ASSERT_TRUE(checkInListed) << "the check-in was not handled: " << output;
  EXPECT_EQ(listedHosts(), std::vector<std::string>{"checkhost"}) << "type 5 was handled like a check-in";
  EXPECT_NE(output.find("net: listen: Unsupport network request 05"), std::string::npos) << output;
  EXPECT_EQ(output.find("net req = 5."), std::string::npos) << "a handler was dispatched: " << output;
}

}  // namespace
