// One iSCSI connection over a socket pair against a fake LUN backend, driven PDU by PDU as an
// initiator would: data in split by segment and burst length with the status in the last PDU,
// data out with immediate data and R2Ts, sense data, a device that never answers and the abort
// that ends its task while NOPs still get answers, the command window, logout, and hostile PDUs
// (data out for no task, oversized segments, a command before login).
#include "sim/iscsi_connection.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <thread>

#include "common/scsi/sim_socket.h"
#include "common/thread_annotations.h"

namespace iscsi {
namespace {

constexpr char kTarget[] = "iqn.2024-01.org.kestrova.raidsim:test.host0";

class FakeLuns : public LunBackend {
 public:
  FakeLuns() { entry_.name = kTarget; }
  const TargetEntry* findTarget(std::string_view name) const override {
    return name == kTarget ? &entry_ : nullptr;
  }
  std::vector<std::string> targetNames() const override { return {kTarget}; }
  bool hasLun(std::string_view, uint64_t lun) const override { return lun < 2; }
  TaskReply execute(const TaskRequest& request) override {
    std::lock_guard<std::mutex> lock(mu_);
    requests.push_back({request.cdb[0], std::vector<uint8_t>(request.dataOut.begin(), request.dataOut.end()),
                        request.expectedIn, request.lun});
    return handler(request);
  }
  struct Seen {
    uint8_t opcode;
    std::vector<uint8_t> dataOut;
    uint32_t expectedIn;
    uint64_t lun;
  };
  std::function<TaskReply(const TaskRequest&)> handler = [](const TaskRequest&) { return TaskReply{}; };
  std::vector<Seen> requests;

 private:
  std::mutex mu_;
  TargetEntry entry_;
};

class IscsiConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    target_.reset(fds[0]);
    initiator_.reset(fds[1]);
    context_.backend = &luns_;
    context_.portalAddress = "127.0.0.1:3260";
    context_.nextTsih = [] { return uint16_t{9}; };
    context_.random = [](size_t n) { return std::vector<uint8_t>(n, 0x42); };
    context_.log = [this](const std::string& line) {
      MutexLock lock(logMu_);
      log_ += line + "\n";
    };
    context_.loginTimeoutMs = 5000;
    connection_ = std::make_unique<Connection>(target_.get(), context_);
    thread_ = std::thread([this] {
      connection_->run();
      finished_ = true;
    });
  }
  void TearDown() override {
    connection_->shutdown();
    thread_.join();
  }

  void send(const Pdu& pdu) {
    std::vector<uint8_t> bytes = encodeIscsiPdu(pdu);
    int error = 0;
    ASSERT_EQ(writeAllBytes(initiator_.get(), bytes.data(), bytes.size(), deadlineAfterMs(5000), &error),
              SimIo::kOk);
  }
  // The next PDU from the target, or false when none comes within ms (or the target closed).
  bool receive(Pdu* pdu, int ms = 5000) {
    for (;;) {
      DecodeResult r = decodeIscsiPdu(inbox_, kMaxDataSegment, pdu);
      if (r.status == DecodeStatus::kComplete) {
        inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(r.consumed));
        return true;
      }
      pollfd p{initiator_.get(), POLLIN, 0};
      if (::poll(&p, 1, ms) <= 0) return false;
      uint8_t buffer[65536];
      ssize_t n = ::recv(initiator_.get(), buffer, sizeof(buffer), 0);
      if (n <= 0) return false;
      inbox_.insert(inbox_.end(), buffer, buffer + n);
    }
  }
  // The connection's log so far; it may still be writing (a close is logged after the socket shuts).
  std::string logText() {
    MutexLock lock(logMu_);
    return log_;
  }
  bool closedByTarget(int ms = 5000) {
    Pdu ignored;
    while (receive(&ignored, ms)) {
    }
    pollfd p{initiator_.get(), POLLIN, 0};
    char c;
    return ::poll(&p, 1, ms) > 0 && ::recv(initiator_.get(), &c, 1, 0) == 0;
  }

  void login(const TextPairs& operational) {
    Pdu request = makePdu(kLoginRequest | kImmediateBit, kTransitBit | (1 << 2) | 3);  // operational -> full
    request.setU32(24, cmdSn_);
    request.setU32(16, 1);
    TextPairs keys = {{"InitiatorName", "iqn.2024-01.test:init"}, {"TargetName", kTarget}};
    keys.insert(keys.end(), operational.begin(), operational.end());
    request.data = encodeText(keys);
    send(request);
    Pdu response;
    ASSERT_TRUE(receive(&response));
    ASSERT_EQ(response.opcode(), kLoginResponse);
    ASSERT_EQ(response.bhs[36], 0) << "login refused";
    ASSERT_EQ(response.flags() & kTransitBit, kTransitBit);
    maxCmdSn_ = response.u32(32);
  }
  Pdu command(uint8_t flags, uint8_t opcode, uint32_t itt, uint32_t expected, uint64_t lun = 0) {
    Pdu pdu = makePdu(kScsiCommand, flags);
    pdu.setU64(8, encodeLun(lun));
    pdu.setU32(16, itt);
    pdu.setU32(20, expected);
    pdu.setU32(24, cmdSn_++);
    pdu.bhs[32] = opcode;
    return pdu;
  }
  Pdu nop(uint32_t itt, std::vector<uint8_t> ping = {}) {
    Pdu pdu = makePdu(kNopOut | kImmediateBit, kFinalBit);
    pdu.setU32(16, itt);
    pdu.setU32(20, kReservedTag);
    pdu.setU32(24, cmdSn_);
    pdu.data = std::move(ping);
    return pdu;
  }

  FakeLuns luns_;
  PortalContext context_;
  UniqueFd target_;
  UniqueFd initiator_;
  std::unique_ptr<Connection> connection_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::vector<uint8_t> inbox_;
  uint32_t cmdSn_ = 100;
  uint32_t maxCmdSn_ = 0;
  Mutex logMu_;
  // The connection's thread writes it until it ends.
  std::string log_ GUARDED_BY(logMu_);
};

TEST_F(IscsiConnectionTest, DataInFollowsSegmentAndBurstLimitsAndCarriesTheStatus) {
  login({{"MaxRecvDataSegmentLength", "512"}, {"MaxBurstLength", "1024"}});
  std::vector<uint8_t> payload(2500);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  luns_.handler = [&](const TaskRequest&) {
    TaskReply r;
    r.data = payload;
    return r;
  };
  send(command(kFinalBit | kReadBit, 0x28, 0x77, 3000));
  std::vector<uint8_t> got;
  std::vector<uint8_t> flags;
  Pdu in;
  for (uint32_t sn = 0;; ++sn) {
    ASSERT_TRUE(receive(&in));
    ASSERT_EQ(in.opcode(), kDataIn);
    EXPECT_EQ(in.u32(36), sn);          // DataSN
    EXPECT_EQ(in.u32(40), got.size());  // buffer offset
    EXPECT_LE(in.data.size(), 512u);
    got.insert(got.end(), in.data.begin(), in.data.end());
    flags.push_back(in.flags());
    if (in.flags() & kStatusBit) break;
  }
  EXPECT_EQ(got, payload);
  // Five PDUs; the burst of 1024 ends at the second and the fourth, the last ends all.
  ASSERT_EQ(flags.size(), 5u);
  EXPECT_EQ(flags[0] & kFinalBit, 0);
  EXPECT_EQ(flags[1] & kFinalBit, kFinalBit);
  EXPECT_EQ(flags[3] & kFinalBit, kFinalBit);
  EXPECT_EQ(in.bhs[3], 0);  // GOOD
  EXPECT_EQ(in.flags() & kUnderflowBit, kUnderflowBit);
  EXPECT_EQ(in.u32(44), 500u);  // residual: 3000 expected, 2500 sent
  EXPECT_EQ(in.u32(16), 0x77u);
}

TEST_F(IscsiConnectionTest, DataOutTakesImmediateDataThenAnswersR2Ts) {
  login({{"InitialR2T", "Yes"},
         {"ImmediateData", "Yes"},
         {"FirstBurstLength", "512"},
         {"MaxBurstLength", "1024"},
         {"MaxOutstandingR2T", "1"}});
  std::vector<uint8_t> payload(3000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
  Pdu write = command(kFinalBit | kWriteBit, 0x2A, 0x55, 3000);
  write.data.assign(payload.begin(), payload.begin() + 512);
  send(write);
  size_t sent = 512;
  Pdu r2t;
  for (uint32_t r2tSn = 0; sent < payload.size(); ++r2tSn) {
    ASSERT_TRUE(receive(&r2t));
    ASSERT_EQ(r2t.opcode(), kReadyToTransfer);
    EXPECT_EQ(r2t.u32(36), r2tSn);
    EXPECT_EQ(r2t.u32(40), sent);
    uint32_t length = r2t.u32(44);
    EXPECT_EQ(length, std::min<size_t>(1024, payload.size() - sent));
    for (uint32_t done = 0, sn = 0; done < length; ++sn) {
      uint32_t piece = std::min<uint32_t>(700, length - done);
      Pdu out = makePdu(kDataOut, done + piece == length ? kFinalBit : 0);
      out.setU32(16, 0x55);
      out.setU32(20, r2t.u32(20));
      out.setU32(36, sn);
      out.setU32(40, static_cast<uint32_t>(sent + done));
      out.data.assign(payload.begin() + static_cast<std::ptrdiff_t>(sent + done),
                      payload.begin() + static_cast<std::ptrdiff_t>(sent + done + piece));
      send(out);
      done += piece;
    }
    sent += length;
  }
  Pdu response;
  ASSERT_TRUE(receive(&response));
  ASSERT_EQ(response.opcode(), kScsiResponse);
  EXPECT_EQ(response.bhs[3], 0);
  ASSERT_EQ(luns_.requests.size(), 1u);
  EXPECT_EQ(luns_.requests[0].dataOut, payload);
}

TEST_F(IscsiConnectionTest, CheckConditionCarriesTheSenseData) {
  login({});
  luns_.handler = [](const TaskRequest&) {
    TaskReply r;
    r.status = 2;
    r.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
    return r;
  };
  send(command(kFinalBit | kReadBit, 0x12, 1, 96, 1));
  Pdu response;
  ASSERT_TRUE(receive(&response));
  ASSERT_EQ(response.opcode(), kScsiResponse);
  EXPECT_EQ(response.bhs[3], 2);
  ASSERT_EQ(response.data.size(), 16u);
  EXPECT_EQ(response.data[0] << 8 | response.data[1], 14);  // SenseLength
  EXPECT_EQ(response.data[2 + 2], 0x05);
  EXPECT_EQ(response.data[2 + 12], 0x24);
  EXPECT_EQ(luns_.requests.at(0).lun, 1u);
}

TEST_F(IscsiConnectionTest, SilentDeviceKeepsItsTaskUntilAbortedWhileNopsAreAnswered) {
  login({});
  luns_.handler = [](const TaskRequest& r) {
    TaskReply reply;
    reply.answered = r.cdb[0] != 0x3C;  // READ BUFFER never answers
    return reply;
  };
  Pdu silent = command(kFinalBit | kReadBit, 0x3C, 0x10, 512);
  uint32_t silentCmdSn = silent.u32(24);
  send(silent);
  send(nop(0x11, {1, 2, 3}));
  Pdu in;
  ASSERT_TRUE(receive(&in));
  ASSERT_EQ(in.opcode(), kNopIn);
  EXPECT_EQ(in.u32(16), 0x11u);
  EXPECT_EQ(in.data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(receive(&in, 300)) << "the silent task must not be answered";
  Pdu abort = makePdu(kTaskManagement | kImmediateBit, kFinalBit | 1);
  abort.setU32(16, 0x12);
  abort.setU32(20, 0x10);
  abort.setU32(24, cmdSn_);
  abort.setU32(32, silentCmdSn);
  send(abort);
  ASSERT_TRUE(receive(&in));
  ASSERT_EQ(in.opcode(), kTaskManagementResponse);
  EXPECT_EQ(in.bhs[2], 0);  // function complete
  // The same task again: it no longer exists.
  abort.setU32(16, 0x13);
  send(abort);
  ASSERT_TRUE(receive(&in));
  EXPECT_EQ(in.bhs[2], 1);
  // A LUN reset of a LUN that is not there.
  Pdu reset = makePdu(kTaskManagement | kImmediateBit, kFinalBit | 5);
  reset.setU64(8, encodeLun(7));
  reset.setU32(16, 0x14);
  reset.setU32(24, cmdSn_);
  send(reset);
  ASSERT_TRUE(receive(&in));
  EXPECT_EQ(in.bhs[2], 2);
}

TEST_F(IscsiConnectionTest, CommandsBeyondTheWindowAreDroppedAndTheWindowOpensAsTasksEnd) {
  login({});
  uint32_t window = maxCmdSn_;
  Pdu beyond = command(kFinalBit, 0x00, 0x20, 0);
  beyond.setU32(24, window + 1);
  send(beyond);
  Pdu in;
  EXPECT_FALSE(receive(&in, 300));
  send(command(kFinalBit, 0x00, 0x21, 0));
  ASSERT_TRUE(receive(&in));
  ASSERT_EQ(in.opcode(), kScsiResponse);
  EXPECT_EQ(in.u32(16), 0x21u);
  EXPECT_EQ(in.u32(28), cmdSn_);      // ExpCmdSN moved on
  EXPECT_EQ(in.u32(32), window + 1);  // the finished task gave its slot back
  EXPECT_NE(logText().find("outside the window"), std::string::npos);
}

TEST_F(IscsiConnectionTest, HostilePdusAreRejectedOrEndTheConnection) {
  login({});
  Pdu stray = makePdu(kDataOut, kFinalBit);
  stray.setU32(16, 0x999);
  stray.setU32(20, kReservedTag);
  stray.data = {1, 2, 3, 4};
  send(stray);
  Pdu in;
  ASSERT_TRUE(receive(&in));
  ASSERT_EQ(in.opcode(), kReject);
  EXPECT_EQ(in.bhs[2], kRejectInvalidField);
  EXPECT_EQ(in.data.size(), kBhsLength);  // the rejected header comes back
  // Unsolicited data while InitialR2T=Yes (the default) is a protocol error.
  Pdu unsolicited = command(kWriteBit, 0x2A, 0x30, 1024);
  send(unsolicited);
  ASSERT_TRUE(receive(&in));
  EXPECT_EQ(in.opcode(), kReject);
  // A data segment larger than the target declared closes the connection.
  Pdu huge = makePdu(kNopOut | kImmediateBit, kFinalBit);
  huge.setU32(16, 0x40);
  huge.data.assign(300000, 0);
  std::vector<uint8_t> header = encodeIscsiPdu(huge);
  int error = 0;
  writeAllBytes(initiator_.get(), header.data(), kBhsLength, deadlineAfterMs(5000), &error);
  EXPECT_TRUE(closedByTarget());
}

TEST_F(IscsiConnectionTest, AnOversizedWriteIsRefusedAtOnceAndItsDataDropped) {
  login({{"InitialR2T", "No"}, {"ImmediateData", "Yes"}});
  Pdu write = command(kWriteBit, 0x2A, 0x60, 32u << 20);  // more unsolicited data to follow
  write.data.assign(1024, 7);
  send(write);
  Pdu in;
  ASSERT_TRUE(receive(&in));
  ASSERT_EQ(in.opcode(), kScsiResponse);
  EXPECT_EQ(in.u32(16), 0x60u);
  EXPECT_EQ(in.bhs[3], 2);
  ASSERT_GE(in.data.size(), 2u + 14);
  EXPECT_EQ(in.data[2 + 2], 0x05);
  EXPECT_EQ(in.data[2 + 12], 0x1A);  // PARAMETER LIST LENGTH ERROR
  Pdu more = makePdu(kDataOut, kFinalBit);
  more.setU32(16, 0x60);
  more.setU32(20, kReservedTag);
  more.setU32(40, 1024);
  more.data.assign(4096, 7);
  send(more);
  send(nop(0x61));
  ASSERT_TRUE(receive(&in));
  EXPECT_EQ(in.opcode(), kNopIn) << "the refused command's data is dropped without a Reject";
  EXPECT_TRUE(luns_.requests.empty());
}

TEST_F(IscsiConnectionTest, LogoutAnswersAndCloses) {
  login({});
  Pdu logout = makePdu(kLogoutRequest | kImmediateBit, kFinalBit | 0);
  logout.setU32(16, 0x50);
  logout.setU32(24, cmdSn_);
  send(logout);
  Pdu in;
  ASSERT_TRUE(receive(&in));
  ASSERT_EQ(in.opcode(), kLogoutResponse);
  EXPECT_EQ(in.bhs[2], 0);
  EXPECT_TRUE(closedByTarget());
}

TEST_F(IscsiConnectionTest, AnythingButLoginFirstClosesTheConnection) {
  send(nop(1));
  EXPECT_TRUE(closedByTarget());
  EXPECT_NE(logText().find("before login"), std::string::npos);
}

}  // namespace
}  // namespace iscsi
