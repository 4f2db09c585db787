// Tests of the simulator link over Winsock TCP: a control command and a device command answered
// by an in-process peer that speaks the simulator's frames, a peer that closes in the middle of
// an answer, one that never answers, and an address where nothing listens.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "common/scsi/scsi_sim.h"
#include "common/scsi/sim_socket.h"
#include "common/winsock_init.h"

namespace {

enum class PeerMode { kAnswer, kCloseMidFrame, kSilent };

// One connection at a time on a loopback port; answers frames as the mode says.
class FramePeer {
 public:
  explicit FramePeer(PeerMode mode) : mode_(mode) {
    EXPECT_TRUE(ensureWinsock());
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(listen(listener_, 4), 0);
    EXPECT_EQ(getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~FramePeer() {
    closesocket(listener_);  // ends accept
    thread_.join();
  }
  std::string address() const { return "tcp:127.0.0.1:" + std::to_string(port_); }
  int requests() const { return requests_.load(); }

 private:
  void serve() {
    for (;;) {
      SOCKET s = accept(listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET) return;
      const int fd = static_cast<int>(s);
      for (;;) {
        SimFrame frame;
        bool gotAny = false;
        int error = 0;
        std::string why;
        if (readSimFrame(fd, &frame, deadlineAfterMs(10000), &gotAny, &error, &why) != SimIo::kOk) break;
        ++requests_;
        if (mode_ == PeerMode::kSilent) {
          Sleep(1500);
          break;
        }
        std::vector<uint8_t> payload;
        if (frame.header.op == simwire::kOpControl) {
          const std::string text(frame.payload.begin(), frame.payload.end());
          payload = simwire::encodeControlReply({text == "ping" ? 0u : 7u, "echo " + text});
        } else {
          simwire::ExecuteReply reply;
          reply.outcome = 1;  // check condition
          reply.status = 2;
          reply.sense = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0};
          payload = simwire::encodeExecuteReply(reply);
        }
        std::vector<uint8_t> bytes = simwire::encodeFrame(frame.header.op | simwire::kReplyBit,
                                                          frame.header.sequence, payload);
        if (mode_ == PeerMode::kCloseMidFrame) bytes.resize(bytes.size() / 2);
        int sent = 0;
        EXPECT_EQ(writeAllBytes(fd, bytes.data(), bytes.size(), deadlineAfterMs(5000), &sent), SimIo::kOk);
        if (mode_ == PeerMode::kCloseMidFrame) break;
      }
      closesocket(s);
    }
  }

  const PeerMode mode_;
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

ScsiResult testUnitReady(SimScsiTransport& transport, const std::string& device, uint8_t* sense,
                         uint32_t timeoutMs = 5000) {
  static const uint8_t cdb[6] = {0, 0, 0, 0, 0, 0};
  ScsiCommand command;
  command.device = device;
  command.cdb = cdb;
  command.cdbLength = 6;
  command.timeoutMs = timeoutMs;
  command.sense = sense;
  command.senseCapacity = 32;
  return transport.execute(command);
}

TEST(WinSimSocket, ControlAndCommandsOverTcp) {
  FramePeer peer(PeerMode::kAnswer);
  std::string reply;
  EXPECT_EQ(simControl(peer.address(), "ping", &reply), 0);
  EXPECT_EQ(reply, "echo ping");
  EXPECT_EQ(simControl(peer.address(), "other", &reply), 7);

  SimScsiTransport transport({});
  uint8_t sense[32] = {};
  const ScsiResult result = testUnitReady(transport, simDeviceName(peer.address(), 0, 0, 1, 0), sense);
  EXPECT_EQ(result.outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(sense[2] & 0x0F, 0x06);
  EXPECT_EQ(sense[12], 0x29);
  EXPECT_EQ(testUnitReady(transport, simDeviceName(peer.address(), 0, 0, 1, 0), sense).outcome,
            ScsiOutcome::kCheckCondition)
      << "a pooled connection serves the next command";
  closeSimConnections();
}

TEST(WinSimSocket, BrokenSilentAndAbsentPeers) {
  SimScsiTransport transport({});
  uint8_t sense[32] = {};
  {
    FramePeer peer(PeerMode::kCloseMidFrame);
    const ScsiResult result = testUnitReady(transport, simDeviceName(peer.address(), 0, 0, 1, 0), sense);
    EXPECT_EQ(result.outcome, ScsiOutcome::kNoAnswer);
    closeSimConnections();
  }
  {
    FramePeer peer(PeerMode::kSilent);
    const ScsiResult result = testUnitReady(transport, simDeviceName(peer.address(), 0, 0, 1, 0), sense, 300);
    EXPECT_EQ(result.outcome, ScsiOutcome::kTimeout);
    closeSimConnections();
  }
  int port = 0;
  {
    FramePeer gone(PeerMode::kAnswer);
    port = std::stoi(gone.address().substr(gone.address().rfind(':') + 1));
  }
  const std::string absent = "tcp:127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(testUnitReady(transport, simDeviceName(absent, 0, 0, 1, 0), sense).outcome, ScsiOutcome::kNoAnswer);
  std::string reply;
  EXPECT_LT(simControl(absent, "ping", &reply), 0);
  EXPECT_FALSE(reply.empty()) << "a reason is given";
  int error = 0;
  EXPECT_FALSE(connectSimSocket("/tmp/sim.sock", &error).valid()) << "no Unix sockets here";
  EXPECT_FALSE(connectSimSocket("tcp:localhost:1", &error).valid());
}

}  // namespace
