// Tests of the simulator wire protocol: encoding round trips, rejection of truncated, oversized
// and inconsistent frames, and the daemon's handling of bad frames on a live socket.
#include "sim/sim_protocol.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/scsi/scsi_sim.h"
#include "sim/sim_server.h"

namespace {

using namespace simwire;

ExecuteRequest sampleRequest() {
  ExecuteRequest r;
  r.host = 513;
  r.bus = 1;
  r.target = 2;
  r.lun = 3;
  r.direction = 2;
  r.cdbLength = 10;
  r.senseCapacity = 32;
  r.timeoutMs = 120000;
  r.cdb = {0x3B, 0x01, 0x80};
  r.dataOut = {1, 2, 3, 4, 5};
  return r;
}

TEST(SimProtocol, RoundTripsEveryMessage) {
  ExecuteRequest in = sampleRequest();
  ExecuteRequest out;
  std::string why;
  ASSERT_TRUE(decodeExecuteRequest(encodeExecuteRequest(in), &out, &why)) << why;
  EXPECT_EQ(out.host, 513);
  EXPECT_EQ(out.lun, 3);
  EXPECT_EQ(out.timeoutMs, 120000u);
  EXPECT_EQ(out.cdb, in.cdb);
  EXPECT_EQ(out.dataOut, in.dataOut);

  ListReply list;
  list.hosts.push_back({7, 6, true, 257});
  ListDevice device;
  device.host = 7;
  device.target = 9;
  device.claimed = true;
  device.inquiry[8] = 'K';
  list.devices.push_back(device);
  ListReply decoded;
  ASSERT_TRUE(decodeListReply(encodeListReply(list), &decoded));
  ASSERT_EQ(decoded.hosts.size(), 1u);
  EXPECT_TRUE(decoded.hosts[0].limitFails);
  EXPECT_EQ(decoded.hosts[0].maxPhysicalPages, 257u);
  ASSERT_EQ(decoded.devices.size(), 1u);
  EXPECT_EQ(decoded.devices[0].target, 9);
  EXPECT_EQ(decoded.devices[0].inquiry[8], 'K');

  ExecuteReply reply{1, 2, std::vector<uint8_t>(18, 0x70), {9, 8, 7}};
  uint8_t outcome = 0, status = 0, senseLength = 0;
  uint8_t sense[8] = {};
  uint8_t data[3] = {};
  uint32_t dataLength = 0;
  // Sense beyond the caller's capacity is dropped, not written past its buffer.
  ASSERT_TRUE(decodeExecuteReply(encodeExecuteReply(reply), &outcome, &status, sense, 8, &senseLength, data,
                                 3, &dataLength));
  EXPECT_EQ(senseLength, 8);
  EXPECT_EQ(dataLength, 3u);
  EXPECT_EQ(data[2], 7);

  ControlReply control{1, "no pair"};
  ControlReply back;
  ASSERT_TRUE(decodeControlReply(encodeControlReply(control), &back));
  EXPECT_EQ(back.result, 1u);
  EXPECT_EQ(back.text, "no pair");
}

TEST(SimProtocol, RejectsBadHeaders) {
  Header header;
  std::string why;
  std::vector<uint8_t> frame = encodeFrame(kOpList, 5, {});
  ASSERT_TRUE(decodeHeader(frame.data(), &header, &why));
  EXPECT_EQ(header.sequence, 5u);
  std::vector<uint8_t> bad = frame;
  bad[0] ^= 0xFF;
  EXPECT_FALSE(decodeHeader(bad.data(), &header, &why));
  bad = frame;
  bad[4] = 2;
  EXPECT_FALSE(decodeHeader(bad.data(), &header, &why));
  bad = frame;
  uint32_t huge = kMaxPayload + 1;
  std::memcpy(&bad[12], &huge, 4);
  EXPECT_FALSE(decodeHeader(bad.data(), &header, &why));
  EXPECT_EQ(why, "payload too large");
}

TEST(SimProtocol, RejectsInconsistentExecuteRequests) {
  std::string why;
  ExecuteRequest out;
  std::vector<uint8_t> good = encodeExecuteRequest(sampleRequest());
  for (size_t cut : {size_t{0}, size_t{10}, kExecuteFixedSize - 1, good.size() - 1}) {
    std::vector<uint8_t> truncated(good.begin(), good.begin() + cut);
    EXPECT_FALSE(decodeExecuteRequest(truncated, &out, &why)) << cut;
  }
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_FALSE(decodeExecuteRequest(longer, &out, &why));
  auto variant = [&](auto change) {
    ExecuteRequest r = sampleRequest();
    change(r);
    return decodeExecuteRequest(encodeExecuteRequest(r), &out, &why);
  };
  EXPECT_FALSE(variant([](ExecuteRequest& r) { r.cdbLength = 0; }));
  EXPECT_FALSE(variant([](ExecuteRequest& r) { r.cdbLength = 17; }));
  EXPECT_FALSE(variant([](ExecuteRequest& r) { r.direction = 3; }));
  EXPECT_FALSE(variant([](ExecuteRequest& r) { r.direction = 1; }));  // data out with direction in
  EXPECT_FALSE(variant([](ExecuteRequest& r) {
    r.direction = 1;
    r.dataOut.clear();
    r.dataInLength = kMaxData + 1;
  }));
  EXPECT_FALSE(variant([](ExecuteRequest& r) {
    r.direction = 0;
    r.dataOut.clear();
    r.dataInLength = 4;
  }));
}

TEST(SimProtocol, RejectsInconsistentReplies) {
  uint8_t outcome = 0, status = 0, senseLength = 0;
  uint8_t data[4];
  uint32_t dataLength = 0;
  std::vector<uint8_t> reply = encodeExecuteReply({0, 0, {}, {1, 2, 3, 4, 5}});
  // More data than the caller asked for is an error, not an overflow.
  EXPECT_FALSE(decodeExecuteReply(reply, &outcome, &status, nullptr, 0, &senseLength, data, 4, &dataLength));
  reply = encodeExecuteReply({0, 0, {}, {1, 2}});
  reply.pop_back();
  EXPECT_FALSE(decodeExecuteReply(reply, &outcome, &status, nullptr, 0, &senseLength, data, 4, &dataLength));
  reply = encodeExecuteReply({9, 0, {}, {}});
  EXPECT_FALSE(decodeExecuteReply(reply, &outcome, &status, nullptr, 0, &senseLength, data, 4, &dataLength));

  ListReply list;
  list.devices.resize(2);
  std::vector<uint8_t> encoded = encodeListReply(list);
  encoded.pop_back();
  EXPECT_FALSE(decodeListReply(encoded, &list));
  EXPECT_FALSE(decodeListReply({}, &list));
  ControlReply control;
  EXPECT_FALSE(decodeControlReply({1, 0}, &control));
}

class SimServerFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::parseSimConfig("[disk d]\npath = 0:0:1:0\n", &config, &error)) << error;
    world = std::make_unique<sim::SimWorld>(std::move(config));
    socket = "/tmp/kestrova-proto-" + std::to_string(::getpid()) + ".sock";
    server = std::make_unique<sim::SimServer>(*world, socket);
    ASSERT_TRUE(server->start(&error)) << error;
  }
  void TearDown() override { server->stop(); }

  // Sends raw bytes on a new connection and reads one reply frame.
  SimIo sendRaw(const std::vector<uint8_t>& bytes, SimFrame* reply, bool closeAfter = false) {
    int error = 0;
    UniqueFd fd = connectSimSocket(socket, &error);
    EXPECT_TRUE(fd.valid());
    EXPECT_EQ(writeAllBytes(fd.get(), bytes.data(), bytes.size(), deadlineAfterMs(2000), &error), SimIo::kOk);
    if (closeAfter) ::shutdown(fd.get(), SHUT_WR);
    bool gotAny = false;
    std::string why;
    SimIo io = readSimFrame(fd.get(), reply, deadlineAfterMs(2000), &gotAny, &error, &why);
    if (io == SimIo::kOk) {
      // After an error reply the daemon closes the connection.
      SimFrame more;
      last = readSimFrame(fd.get(), &more, deadlineAfterMs(2000), &gotAny, &error, &why);
    }
    return io;
  }

  std::unique_ptr<sim::SimWorld> world;
  std::unique_ptr<sim::SimServer> server;
  std::string socket;
  SimIo last = SimIo::kOk;
};

TEST_F(SimServerFrames, BadFramesGetAnErrorAndTheConnectionIsClosed) {
  SimFrame reply;
  std::vector<uint8_t> oversized = encodeFrame(kOpExecute, 1, {});
  uint32_t huge = 0xFFFFFFF0u;
  std::memcpy(&oversized[12], &huge, 4);
  ASSERT_EQ(sendRaw(oversized, &reply), SimIo::kOk);
  EXPECT_EQ(reply.header.op, kOpError | kReplyBit);
  EXPECT_EQ(last, SimIo::kClosed);

  ASSERT_EQ(sendRaw(encodeFrame(kOpExecute, 2, {1, 2, 3}), &reply), SimIo::kOk);
  EXPECT_EQ(reply.header.op, kOpError | kReplyBit);
  EXPECT_EQ(reply.header.sequence, 2u);
  ASSERT_EQ(sendRaw(encodeFrame(77, 3, {}), &reply), SimIo::kOk);
  EXPECT_EQ(reply.header.op, kOpError | kReplyBit);

  // A frame cut short by the client: no reply, and the daemon goes on serving others.
  std::vector<uint8_t> cut = encodeFrame(kOpControl, 4, encodeText("status"));
  cut.resize(cut.size() - 2);
  EXPECT_EQ(sendRaw(cut, &reply, true), SimIo::kClosed);
  std::string text;
  EXPECT_EQ(simControl(socket, "list", &text), 0);
  EXPECT_NE(text.find("0:0:1:0 disk d"), std::string::npos);
}

}  // namespace
