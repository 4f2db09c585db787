// Tests of the Winsock socket layer under Wine: dotted addresses read as inet_aton reads them
// (Winsock has none) with malformed text refused, datagrams between a listen socket and a
// connected sender with their source, the readiness wait of the stream helpers, receive time-outs,
// and the failures that must leave no socket behind.
#include <winsock2.h>
// after winsock2.h
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "server/events/stream_socket.h"
#include "server/net/socket_layer.h"
#include "tests/support/receive_timeout.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

TEST(WinDottedAddress, FormsOfInetAtonAndHostileTexts) {
  struct Case {
    const char* text;
    uint32_t address;
  };
  const Case good[] = {{"127.0.0.1", 0x7F000001}, {"127.1", 0x7F000001},       {"10.0x10.0.1", 0x0A100001},
                       {"0x7f.1", 0x7F000001},    {"010.0.0.1", 0x08000001},   {"1.2.65535", 0x0102FFFF},
                       {"4294967295", 0xFFFFFFFF}, {"255.255.255.255", 0xFFFFFFFF}, {"0", 0}};
  for (const Case& c : good) {
    uint32_t address = 1;
    EXPECT_TRUE(parseDottedAddress(c.text, &address)) << c.text;
    EXPECT_EQ(address, c.address) << c.text;
  }
  const char* bad[] = {"",          "256.0.0.1", "1.2.3.4.5", "1..2",  "1.2.3.",  "09.1.1.1",     "0x",
                       "1.2.65536", "4294967296", "a.b.c.d", " 1.2.3.4", "1.2.3.4 ", "-1.2.3.4", "1.2.3.4x",
                       "99999999999999999999"};
  for (const char* text : bad) EXPECT_FALSE(parseDottedAddress(text, nullptr)) << text;
  EXPECT_FALSE(parseDottedAddress(nullptr, nullptr));
}

TEST(WinSockets, DatagramsArriveWithTheirSourceAndWaitsTellReadiness) {
  ASSERT_EQ(startSockets(), 0);
  testing::internal::CaptureStdout();  // the socket information block goes to the console
  SocketOwner listener;
  ASSERT_EQ(createListenSocket(listener.address(), kLoopback, 0, kUdpSpecifier, nullptr), 0u);
  const std::string info = testing::internal::GetCapturedStdout();
  EXPECT_NE(info.find("| bind addr   = 127.0.0.1 "), std::string::npos) << info;
  const uint16_t port = socketLocalPort(listener.get());
  ASSERT_NE(port, 0);

  EXPECT_EQ(waitForSocket(listener.get(), false, 50), SocketIo::kWouldBlock);
  SocketOwner sender;
  ASSERT_EQ(connectToHost(nullptr, "127.0.0.1", port, sender.address(), kUdpSpecifier), 0u);
  ASSERT_EQ(writeToSocket(sender.get(), "hello", 5), 0u);
  ASSERT_EQ(waitForSocket(listener.get(), false, 5000), SocketIo::kDone);
  char buffer[16] = {};
  size_t received = 0;
  uint32_t source = 0;
  ASSERT_EQ(receiveDatagram(listener.get(), buffer, sizeof buffer, &received, &source), 0u);
  EXPECT_EQ(std::string(buffer, received), "hello");
  EXPECT_EQ(source, kLoopback);

  // A datagram longer than the buffer arrives cut, as on POSIX, not as a failure.
  ASSERT_EQ(writeToSocket(sender.get(), "0123456789", 10), 0u);
  ASSERT_EQ(waitForSocket(listener.get(), false, 5000), SocketIo::kDone);
  ASSERT_EQ(receiveDatagram(listener.get(), buffer, 4, &received, &source), 0u);
  EXPECT_EQ(std::string(buffer, received), "0123");
}

// The layer's sockets are overlapped ones, as socket() makes them: on a socket made by WSASocket
// without WSA_FLAG_OVERLAPPED Winsock ignores SO_RCVTIMEO, and this receive would never return.
TEST(WinSockets, AReceiveTimeOutEndsAReceiveOnAQuietSocket) {
  ASSERT_EQ(startSockets(), 0);
  testing::internal::CaptureStdout();
  SocketOwner quiet;
  ASSERT_EQ(createListenSocket(quiet.address(), kLoopback, 0, kUdpSpecifier, nullptr), 0u);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(test_support::setReceiveTimeout(quiet.get(), 200));
  char buffer[16];
  size_t received = 7;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(receiveDatagram(quiet.get(), buffer, sizeof buffer, &received, nullptr), 1u);
  EXPECT_EQ(received, 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
}

TEST(WinSockets, FailuresLeaveNoSocket) {
  ASSERT_EQ(startSockets(), 0);
  SocketOwner malformed;
  EXPECT_EQ(connectToHost(nullptr, "127.0.0.256", 9, malformed.address(), kTcpSpecifier), kNetGetHostNameFailed);
  EXPECT_EQ(malformed.get(), kInvalidSocket);

  // Nothing listens on a port just given up: the TCP connection is refused.
  uint16_t closedPort = 0;
  {
    SocketOwner probe;
    testing::internal::CaptureStdout();
    ASSERT_EQ(createListenSocket(probe.address(), kLoopback, 0, kTcpSpecifier, nullptr), 0u);
    testing::internal::GetCapturedStdout();
    closedPort = socketLocalPort(probe.get());
  }
  SocketOwner refused;
  EXPECT_EQ(connectToHost(nullptr, "127.0.0.1", closedPort, refused.address(), kTcpSpecifier), kNetConnectionFailed);
  EXPECT_EQ(refused.get(), kInvalidSocket);

  // An address that is not this host's (203.0.113.10, documentation range) cannot be bound. A
  // stream socket: Wine binds a datagram socket on any address to the wildcard instead.
  SocketOwner foreign;
  testing::internal::CaptureStdout();
  const uint32_t status = createListenSocket(foreign.address(), 0xCB00710A, 0, kTcpSpecifier, nullptr);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, kNetBindFailed);
  EXPECT_EQ(foreign.get(), kInvalidSocket);

  EXPECT_EQ(writeToSocket(kInvalidSocket, "x", 1), 1u);
  char byte;
  EXPECT_EQ(readFromSocket(kInvalidSocket, &byte, 1), 1u);
  EXPECT_EQ(waitForSocket(kInvalidSocket, false, 0), SocketIo::kFailed);
  EXPECT_EQ(socketInfoText(kInvalidSocket), "iDSI: No socket\n");
  SocketHandle none = kInvalidSocket;
  closeSocket(&none);
  EXPECT_EQ(none, kInvalidSocket);
}

}  // namespace
