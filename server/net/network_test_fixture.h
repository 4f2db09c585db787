// Test fixture of the server network inside one process, with shortened periods: sends are
// recorded instead of sent, this server has three interfaces (10.99.0.1-3) and a peer at
// 10.99.0.50 sends datagrams to it through the listeners' own path. Network events are captured.
// Control words, settings, seams and timings are put back afterwards, and a test that leaves a
// socket open fails.
//
// Thread safety: one fixture per test; the recorder and the captured events have locks of their
// own because the network's threads use them.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/test_folder.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/net/claim_test_list.h"
#include "server/net/network_communicator.h"
#include "server/net/network_key_store.h"
#include "server/net/network_packet.h"
#include "server/net/network_runtime.h"
#include "server/net/packet_drops.h"
#include "server/net/packet_receiver.h"
#include "server/net/packet_sender.h"
#include "server/net/packet_trailer.h"
#include "server/server_state.h"
#include "tests/support/open_handles.h"
#include "tests/support/wait_until.h"

namespace network_test {

using test_support::waitUntil;

using namespace std::chrono_literals;

inline constexpr uint32_t kOwn1 = 0x0A630001;  // 10.99.0.1 .. 10.99.0.3: this server's three interfaces
inline constexpr uint32_t kOwn2 = 0x0A630002;
inline constexpr uint32_t kOwn3 = 0x0A630003;
inline constexpr uint32_t kPeer = 0x0A630032;  // 10.99.0.50
inline constexpr char kPeerIdentity[] = "PEER--0A630032";

struct SentCopy {
  bool multicast;
  std::string target;  // group or partner address
  uint16_t port;
  uint32_t localAddress;
  std::unique_ptr<NetworkPacket> packet;
  std::vector<uint8_t> datagram;  // as sent, trailer included
};

class RecordingTransport : public PacketTransport {
 public:
  void sendUnicast(const std::string& address, uint16_t port, uint32_t localAddress,
                   const std::vector<uint8_t>& datagram) override {
    record(false, address, port, localAddress, datagram);
  }
  void sendMulticast(const std::string& group, uint16_t port, uint32_t localAddress,
                     const std::vector<uint8_t>& datagram) override {
    record(true, group, port, localAddress, datagram);
  }
  // Copies of type sent so far (decoded again).
  std::vector<const SentCopy*> ofType(uint32_t type) {
    MutexLock lock(mutex_);
    std::vector<const SentCopy*> found;
    for (const auto& copy : copies_) {
      if (copy.packet->requestType == type) found.push_back(&copy);
    }
    return found;
  }
  size_t count(uint32_t type) { return ofType(type).size(); }

 private:
  void record(bool multicast, const std::string& target, uint16_t port, uint32_t local,
              const std::vector<uint8_t>& datagram) {
    std::unique_ptr<NetworkPacket> packet;
    // A signed datagram is the packet and its trailer.
    size_t length = datagram.size();
    if (length >= kTrailerSize &&
        std::memcmp(datagram.data() + length - kTrailerSize, kTrailerMagic, sizeof(kTrailerMagic)) == 0) {
      length -= kTrailerSize;
    }
    ASSERT_EQ(decodeNetworkPacket(datagram.data(), length, &packet), PacketDecodeResult::kOk);
    MutexLock lock(mutex_);
    copies_.push_back(SentCopy{multicast, target, port, local, std::move(packet), datagram});
  }
  Mutex mutex_;
  std::deque<SentCopy> copies_ GUARDED_BY(mutex_);  // a deque keeps the pointers handed out valid
};

inline LocalAddressCandidates threeInterfaces() { return {{kOwn1, kOwn2, kOwn3}, {kOwn1, kOwn2, kOwn3}}; }
inline LocalAddressCandidates loopbackOnly() { return {{INADDR_LOOPBACK}, {}}; }

inline std::vector<uint8_t> peerDatagram(uint32_t type, const std::string& data, uint32_t number,
                                         uint32_t address = kPeer,
                                         const std::string& identity = kPeerIdentity) {
  std::vector<uint8_t> datagram;
  EXPECT_EQ(buildNetworkPacket(type, static_cast<uint32_t>(data.size()), number, address, data.data(),
                               identity, 1700000000, &datagram),
            0);
  return datagram;
}

inline std::string checkInData(const std::string& host, uint32_t status) {
  CheckInData data;
  data.hostName = host;
  data.status = status;
  const std::vector<uint8_t> bytes = encodeCheckInData(data);
  return std::string(bytes.begin(), bytes.end());
}

inline void receive(const std::vector<uint8_t>& datagram, uint32_t source = kPeer) {
  handleReceivedDatagram(datagram.data(), datagram.size(), source);
}

inline std::map<std::string, std::string> serverRows() {
  VariableTable reply = nullptr;
  addServerListRows(&reply);
  std::map<std::string, std::string> rows;
  for (VariableEntry* e = reply; e != nullptr; e = e->next) rows[e->key] = e->value;
  freeVariableTable(&reply);
  return rows;
}

struct CapturedNetworkEvent {
  std::string message;
  uint32_t level;
  uint32_t id;
};

inline std::mutex& capturedEventsLock() {
  static std::mutex lock;
  return lock;
}
inline std::vector<CapturedNetworkEvent>& capturedEvents() {
  static std::vector<CapturedNetworkEvent> events;
  return events;
}
inline int captureNetworkEvent(const char*, const char* message, uint32_t level, uint32_t, uint32_t id,
                               uint8_t) {
  std::lock_guard<std::mutex> lock(capturedEventsLock());
  capturedEvents().push_back({message != nullptr ? message : "", level, id});
  return 0;
}
// The captured events with event ID id.
inline std::vector<CapturedNetworkEvent> eventsWithId(uint32_t id) {
  std::lock_guard<std::mutex> lock(capturedEventsLock());
  std::vector<CapturedNetworkEvent> found;
  for (const CapturedNetworkEvent& event : capturedEvents()) {
    if (event.id == id) found.push_back(event);
  }
  return found;
}

class NetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> lock(capturedEventsLock());
      capturedEvents().clear();
    }
    setNetworkEventRaiser(captureNetworkEvent);
    resetPacketDrops();
    // No key unless a test sets one: a key file where the test runs must not change its outcome.
    setNetworkKeyPath((keyFolder_.path() + "/network.key").c_str());
    savedTimings_ = networkTimings();
    NetworkTimings fast;
    fast.checkInPeriodMs = 200;
    fast.ambassadorStepMs = 10;
    fast.silenceMs = 400;
    fast.claimWaitMs = 600;
    fast.claimWaitStepMs = 10;
    setNetworkTimings(fast);
    descriptors_ = test_support::openHandles();
    ASSERT_TRUE(initThreadManager());
    serverControl().serverRunning.store(1);
    setServerSerialNumber("UNIT");
    savedIp_ = serverSettings().ip;
    serverSettings().ip = nullptr;
    addVariable(&serverSettings().ip, "IP0", "239.255.77.1");
    addVariable(&serverSettings().ip, "MulticastPort", "49191");
    addVariable(&serverSettings().ip, "IP1", "10.98.0.1");
    addVariable(&serverSettings().ip, "IP2", "10.98.0.2");
    setPacketTransport(&transport_);
    setLocalAddressSource(threeInterfaces);
  }
  void TearDown() override {
    stopKestrovaNetwork();
    EXPECT_EQ(liveNetworkThreads(), 0);
    publishClaimDeviceList(nullptr);
    serverControl().serverRunning.store(0);
    closeThreadManager();
    setPacketTransport(nullptr);
    setLocalAddressSource(nullptr);
    freeVariableTable(&serverSettings().ip);
    serverSettings().ip = savedIp_;
    setServerSerialNumber(nullptr);
    setNetworkTimings(savedTimings_);
    setSourceBudget(SourceBudget());
    setNetworkEventRaiser(nullptr);
    setNetworkKeyPath(nullptr);
    EXPECT_EQ(test_support::openHandles(), descriptors_) << "a socket was left open";
  }

  // The unit's claim status and owner, read under the device-claim lock.
  std::pair<int32_t, uint32_t> claim(ClaimTestList& list, const std::string& name) {
    MutexLock lock(deviceClaimLock());
    return {list.unit(name).modStatus, list.unit(name).ownerAddress};
  }
  void setClaim(ClaimTestList& list, const std::string& name, int32_t status, uint32_t owner) {
    MutexLock lock(deviceClaimLock());
    list.set(name, status, owner);
  }
  // Lets the peer check in, so that it is a listed server.
  void peerChecksIn(uint32_t number, uint32_t status = 0) {
    receive(peerDatagram(kCheckInRequest, checkInData("peerhost", status), number));
  }

  // Makes text the site key of this server (before the network starts, or taken up by the next
  // check-in pass).
  void useKey(const std::string& text) {
    NetworkKeySet keys;
    NetworkKey key;
    ASSERT_TRUE(deriveNetworkKey(text, &key));
    ASSERT_EQ(applyKeyAction(&keys, KeyAction::kSet, &key), nullptr);
    ASSERT_TRUE(writeNetworkKeyFile(networkKeyPath().c_str(), keys));
  }

  TestFolder keyFolder_;
  RecordingTransport transport_;
  NetworkTimings savedTimings_;
  VariableTable savedIp_ = nullptr;
  int descriptors_ = 0;
};

}  // namespace network_test
