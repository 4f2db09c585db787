// Tests of the socket layer on the loopback interface: status keys and texts, listen sockets with
// and without a multicast group, connect failures, whole sends, the local addresses and the
// socket information block.
#include "server/net/socket_layer.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "server/net/socket_info.h"
#include "tests/support/receive_timeout.h"
#include "tests/support/wine.h"

namespace {

using test_support::setReceiveTimeout;
using test_support::underWine;

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kForeignAddress = 0xCB00710A;  // 203.0.113.10, documentation range, not ours
constexpr char kGroup[] = "239.255.42.99";

std::string receiveText(SocketHandle handle, uint32_t* source = nullptr) {
  char buffer[256];
  size_t received = 0;
  if (receiveDatagram(handle, buffer, sizeof(buffer), &received, source) != 0) return "<nothing>";
  return std::string(buffer, received);
}

// Sends text from a fresh UDP socket connected to dotted:port.
uint32_t sendText(const char* dotted, uint16_t port, const std::string& text) {
  SocketOwner sender;
  const uint32_t status = connectToHost(nullptr, dotted, port, sender.address(), kUdpSpecifier);
  if (status != 0) return status;
  return writeToSocket(sender.get(), text.data(), text.size());
}

TEST(SocketStatus, KeysFollowBitZero) {
  EXPECT_STREQ(socketStatusKey(0), "IPNInoError");
  EXPECT_STREQ(socketStatusKey(2), "IPNInoError");  // bit 0 clear: a plain resource error reads as success
  EXPECT_STREQ(socketStatusKey(0x10000000), "IPNInoError");
  EXPECT_STREQ(socketStatusKey(1), "IPNIunknownError");
  EXPECT_STREQ(socketStatusKey(3), "IPNIunknownError");
  EXPECT_STREQ(socketStatusKey(0x03000001), "IPNIunknownError");  // two bits name no single error
  EXPECT_STREQ(socketStatusKey(kNetInvalidSocket), "IPNIinvalidSocket");
  EXPECT_STREQ(socketStatusKey(kNetBindFailed), "IPNIbindindFailed");
  EXPECT_STREQ(socketStatusKey(kNetListenFailed), "IPNIlistenFailed");
  EXPECT_STREQ(socketStatusKey(kNetGetHostNameFailed), "IPNIgetHostNameFailed");
  EXPECT_STREQ(socketStatusKey(kNetConnectionFailed), "IPNIconnectionFailed");
  EXPECT_STREQ(socketStatusKey(kNetMulticastRequestFailed), "IPNImulticastRequestFailed");
}

TEST(SocketStatus, TextsComeFromTheStringTable) {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  const std::filesystem::path root =
      source ? std::filesystem::path(source)
             : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(root / "data");
  const uint32_t codes[] = {0,
                            kNetInvalidSocket,
                            kNetBindFailed,
                            kNetListenFailed,
                            kNetGetHostNameFailed,
                            kNetConnectionFailed,
                            kNetMulticastRequestFailed,
                            3};
  std::vector<std::string> texts;
  for (uint32_t code : codes) {
    char* text = socketStatusText(code);
    ASSERT_NE(text, nullptr);
    texts.emplace_back(text);
    std::free(text);
  }
  std::filesystem::current_path(previous);
  EXPECT_EQ(texts[0], "The network operation completed successfully.");
  EXPECT_EQ(texts[5], "The connection to the remote host failed.");
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(texts[i].find("missing"), std::string::npos) << socketStatusKey(codes[i]);
    for (size_t j = 0; j < i; ++j) EXPECT_NE(texts[i], texts[j]);
  }
}

TEST(ListenSocket, PlainBoundSocketReceivesDatagramsWithTheirSource) {
  SocketOwner listener;
  ASSERT_EQ(createListenSocket(listener.address(), kLoopback, 0, kUdpSpecifier, nullptr), 0u);
  ASSERT_NE(listener.get(), kInvalidSocket);
  const uint16_t port = socketLocalPort(listener.get());
  ASSERT_NE(port, 0);
  setReceiveTimeout(listener.get(), 2000);

  ASSERT_EQ(sendText("127.0.0.1", port, "hello"), 0u);
  uint32_t source = 0;
  EXPECT_EQ(receiveText(listener.get(), &source), "hello");
  EXPECT_EQ(source, kLoopback);

  const std::string info = socketInfoText(listener.get());
  EXPECT_NE(info.find("| type        = datagram\n"), std::string::npos) << info;
  EXPECT_NE(info.find("| bind addr   = 127.0.0.1 \n"), std::string::npos) << info;
  EXPECT_NE(info.find("| bind port   = " + std::to_string(port) + " "), std::string::npos) << info;
}

// A listen socket of the loopback interface that joined kGroup there (receive time-out 2 s).
void joinedListener(SocketOwner* listener) {
  testing::internal::CaptureStdout();  // the socket information block goes to the console
  const uint32_t status =
      createListenSocket(listener->address(), kLoopback, 0, kMulticastListenSpecifier, kGroup);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(status, 0u);
  setReceiveTimeout(listener->get(), 2000);
}

TEST(ListenSocket, JoinedSocketTakesTheGroupsDatagrams) {
  if (underWine()) GTEST_SKIP() << test_support::kWineLoopbackGroupIsSilent;
  SocketOwner listener;
  ASSERT_NO_FATAL_FAILURE(joinedListener(&listener));
  // Out of the loopback interface to the group, as the check-in sender does.
  SocketOwner sender;
  ASSERT_EQ(connectToHostThroughBind(nullptr, kGroup, socketLocalPort(listener.get()), sender.address(),
                                     kLoopback, kUdpSpecifier),
            0u);
  EXPECT_NE(socketInfoText(sender.get()).find("| mc bindaddr = 127.0.0.1 \n"), std::string::npos);
  ASSERT_EQ(writeToSocket(sender.get(), "group", 5), 0u);
  EXPECT_EQ(receiveText(listener.get()), "group");
}

TEST(ListenSocket, JoinedSocketTakesDatagramsSentToItsPort) {
  SocketOwner listener;
  ASSERT_NO_FATAL_FAILURE(joinedListener(&listener));
  ASSERT_EQ(sendText("127.0.0.1", socketLocalPort(listener.get()), "direct"), 0u);
  EXPECT_EQ(receiveText(listener.get()), "direct");
}

// A port that was free a moment ago on every address.
uint16_t freeUdpPort() {
  SocketOwner probe;
  if (createListenSocket(probe.address(), 0, 0, kUdpSpecifier, nullptr) != 0) return 0;
  return socketLocalPort(probe.get());
}

// The pinned sockets of the loopback address with kGroup on a free port (receive time-outs
// 300 ms), and their socket information blocks.
class PinnedListenSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = freeUdpPort();
    ASSERT_NE(port_, 0);
    testing::internal::CaptureStdout();
    const uint32_t status =
        createPinnedListenSockets(unicast_.address(), group_.address(), kLoopback, port_, kGroup);
    info_ = socketInfoText(unicast_.get()) + socketInfoText(group_.get());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, 0u);
    setReceiveTimeout(unicast_.get(), 300);
    setReceiveTimeout(group_.get(), 300);
  }

  uint16_t port_ = 0;
  SocketOwner unicast_;
  SocketOwner group_;
  std::string info_;
};

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(PinnedListenSocket, TakesOnlyItsAddress) {
  EXPECT_EQ(info_.find("| bind addr   = 0.0.0.0"), std::string::npos) << "never the wildcard address";
#ifdef _WIN32
  // Windows cannot bind a group address: both sockets are bound to the interface's own.
  EXPECT_EQ(occurrences(info_, "| bind addr   = 127.0.0.1 \n"), 2u) << info_;
#else
  EXPECT_EQ(occurrences(info_, "| bind addr   = 127.0.0.1 \n"), 1u) << info_;
  EXPECT_EQ(occurrences(info_, "| bind addr   = 239.255.42.99 \n"), 1u) << info_;
#endif

  // Another address of the host reaches neither socket.
  ASSERT_EQ(sendText("127.0.0.2", port_, "elsewhere"), 0u);
  EXPECT_EQ(receiveText(unicast_.get()), "<nothing>");
  EXPECT_EQ(receiveText(group_.get()), "<nothing>");
  ASSERT_EQ(sendText("127.0.0.1", port_, "direct"), 0u);
  const std::string toUnicast = receiveText(unicast_.get());
  const std::string toGroup = receiveText(group_.get());
#ifdef _WIN32
  // The two share the address, and Windows hands a datagram sent to it to one of them.
  EXPECT_TRUE(toUnicast + toGroup == "direct<nothing>" || toUnicast + toGroup == "<nothing>direct")
      << toUnicast << " / " << toGroup;
#else
  EXPECT_EQ(toUnicast, "direct");
  EXPECT_EQ(toGroup, "<nothing>");
#endif

  // Without a group only the address's own socket.
  SocketOwner alone;
  SocketOwner noGroup;
  testing::internal::CaptureStdout();
  EXPECT_EQ(createPinnedListenSockets(alone.address(), noGroup.address(), kLoopback, port_, nullptr), 0u);
  testing::internal::GetCapturedStdout();
  EXPECT_NE(alone.get(), kInvalidSocket);
  EXPECT_EQ(noGroup.get(), kInvalidSocket);
}

TEST_F(PinnedListenSocket, GroupSocketTakesOnlyTheGroup) {
  if (underWine()) GTEST_SKIP() << test_support::kWineLoopbackGroupIsSilent;
  SocketOwner sender;
  ASSERT_EQ(connectToHostThroughBind(nullptr, kGroup, port_, sender.address(), kLoopback, kUdpSpecifier), 0u);
  ASSERT_EQ(writeToSocket(sender.get(), "group", 5), 0u);
  EXPECT_EQ(receiveText(group_.get()), "group");
  EXPECT_EQ(receiveText(unicast_.get()), "<nothing>");
}

// createPinnedListenSockets with its console lines swallowed (they are not checked).
uint32_t pinQuietly(SocketOwner* unicast, SocketOwner* group, uint32_t interfaceAddress,
                    const char* groupText) {
  testing::internal::CaptureStdout();
  const uint32_t status =
      createPinnedListenSockets(unicast->address(), group->address(), interfaceAddress, 0, groupText);
  testing::internal::GetCapturedStdout();
  return status;
}

TEST(ListenSocket, PinnedSocketsFailWholeOnABadGroup) {
#ifdef _WIN32
  // The group socket is bound to the interface's address, so the bad group fails the join.
  constexpr uint32_t kBadGroupStatus = kNetMulticastRequestFailed;
#else
  constexpr uint32_t kBadGroupStatus = kNetBindFailed;  // the group socket is bound to the group
#endif
  SocketOwner unicast;
  SocketOwner group;
  EXPECT_EQ(pinQuietly(&unicast, &group, kLoopback, "not.a.group"), kBadGroupStatus);
  EXPECT_EQ(unicast.get(), kInvalidSocket);
  EXPECT_EQ(group.get(), kInvalidSocket);
  EXPECT_EQ(pinQuietly(&unicast, &group, kLoopback, "10.1.2.3"), kBadGroupStatus)
      << "not a multicast address";
  EXPECT_EQ(unicast.get(), kInvalidSocket);
  EXPECT_EQ(group.get(), kInvalidSocket);
}

// Binding an address the host does not have fails, with a group or without, and leaves no socket.
TEST(ListenSocket, ForeignAddressFailsAsABind) {
  if (underWine()) GTEST_SKIP() << test_support::kWineBindsAbsentAddresses;
  SocketOwner unicast;
  SocketOwner group;
  EXPECT_EQ(pinQuietly(&unicast, &group, kForeignAddress, kGroup), kNetBindFailed);
  EXPECT_EQ(unicast.get(), kInvalidSocket);
  EXPECT_EQ(group.get(), kInvalidSocket);

  testing::internal::CaptureStdout();
  SocketOwner foreign;
  EXPECT_EQ(createListenSocket(foreign.address(), kForeignAddress, 0, kUdpSpecifier, nullptr),
            kNetBindFailed);
  EXPECT_EQ(foreign.get(), kInvalidSocket);
  SocketOwner foreignGroup;
  EXPECT_EQ(createListenSocket(foreignGroup.address(), kForeignAddress, 0, kMulticastListenSpecifier, kGroup),
            kNetBindFailed);
  EXPECT_EQ(foreignGroup.get(), kInvalidSocket);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(console.find("net: crtLstnSckt: bind failed: errno = "), std::string::npos) << console;
}

TEST(ListenSocket, FailuresLeaveNoSocket) {
  testing::internal::CaptureStdout();
  SocketOwner notAGroup;
  EXPECT_EQ(createListenSocket(notAGroup.address(), kLoopback, 0, kMulticastListenSpecifier, "10.1.2.3"),
            kNetMulticastRequestFailed);
  EXPECT_EQ(notAGroup.get(), kInvalidSocket);

  SocketOwner garbage;
  EXPECT_EQ(createListenSocket(garbage.address(), kLoopback, 0, kMulticastListenSpecifier, "two.three"),
            kNetMulticastRequestFailed);
  EXPECT_EQ(garbage.get(), kInvalidSocket);

  SocketOwner badFamily;
  EXPECT_EQ(createListenSocket(badFamily.address(), kLoopback, 0, 0x0202FF, nullptr), kNetInvalidSocket);
  EXPECT_EQ(badFamily.get(), kInvalidSocket);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(console.find("net: crtLstnSckt: setsockopt failed: errno = "), std::string::npos) << console;
  EXPECT_NE(console.find("net: createSocket: Error creating socket.\n"), std::string::npos) << console;
}

TEST(Connect, RefusedPortAndBadAddressesFail) {
  // A TCP port that was just free: nothing listens there.
  SocketOwner probe;
  ASSERT_EQ(createListenSocket(probe.address(), kLoopback, 0, kTcpSpecifier, nullptr), 0u);
  const uint16_t port = socketLocalPort(probe.get());
  closeSocket(probe.address());

  SocketOwner tcp;
  EXPECT_EQ(connectToHost(nullptr, "127.0.0.1", port, tcp.address(), kTcpSpecifier), kNetConnectionFailed);
  EXPECT_EQ(tcp.get(), kInvalidSocket);
  EXPECT_EQ(connectToHost("localhost", nullptr, port, tcp.address(), kTcpSpecifier), kNetConnectionFailed);
  EXPECT_EQ(tcp.get(), kInvalidSocket);

  // Malformed dotted text is refused, not sent to 255.255.255.255.
  for (const char* bad : {"300.1.1.1", "abc", "", "1.2.3.4.5"}) {
    SocketOwner udp;
    EXPECT_EQ(connectToHost(nullptr, bad, 514, udp.address(), kUdpSpecifier), kNetGetHostNameFailed) << bad;
    EXPECT_EQ(udp.get(), kInvalidSocket);
  }
  SocketOwner none;
  EXPECT_EQ(connectToHost(nullptr, nullptr, 514, none.address(), kUdpSpecifier), kNetGetHostNameFailed);

  SocketOwner foreign;
  EXPECT_EQ(
      connectToHostThroughBind(nullptr, "127.0.0.1", 9, foreign.address(), kForeignAddress, kUdpSpecifier),
      kNetBindFailed);
  EXPECT_EQ(foreign.get(), kInvalidSocket);
}

TEST(Connect, StreamSendsWholeBuffersAndSurvivesAClosedPeer) {
  SocketOwner server;
  ASSERT_EQ(createListenSocket(server.address(), kLoopback, 0, kTcpSpecifier, nullptr), 0u);
  ASSERT_EQ(listen(server.get(), 1), 0);
  SocketOwner client;
  ASSERT_EQ(
      connectToHost("localhost", nullptr, socketLocalPort(server.get()), client.address(), kTcpSpecifier),
      0u);
  SocketOwner accepted(accept(server.get(), nullptr, nullptr));
  ASSERT_NE(accepted.get(), kInvalidSocket);

  const std::string big(4 << 20, 'k');  // larger than the socket buffers: needs several sends
  std::thread writer([&] { EXPECT_EQ(writeToSocket(client.get(), big.data(), big.size()), 0u); });
  size_t total = 0;
  std::vector<char> buffer(65536);
  while (total < big.size()) {
    size_t received = 0;
    ASSERT_EQ(readFromSocket(accepted.get(), buffer.data(), buffer.size(), &received), 0u);
    ASSERT_GT(received, 0u);
    total += received;
  }
  writer.join();
  EXPECT_EQ(total, big.size());

  // The peer goes away: sends fail with a status instead of killing the process with SIGPIPE.
  closeSocket(accepted.address());
  uint32_t status = 0;
  for (int i = 0; i < 50 && status == 0; ++i) status = writeToSocket(client.get(), big.data(), 65536);
  EXPECT_EQ(status, 1u);
  size_t received = 99;
  EXPECT_EQ(readFromSocket(kInvalidSocket, buffer.data(), buffer.size(), &received), 1u);
  EXPECT_EQ(received, 0u);
}

// The network's stop wakes its listeners this way and closes their sockets only after they ended:
// a receive already blocked in another thread ends at once, and so does one begun after the wake.
// The receive time-out only keeps a failing case from hanging; the wake must come well before it.
TEST(Connect, ShutdownWakesABlockedReaderAndLaterReceives) {
  using std::chrono::steady_clock;
  constexpr auto kWell = std::chrono::seconds(4);
  SocketOwner listener;
  testing::internal::CaptureStdout();
  ASSERT_EQ(createListenSocket(listener.address(), kLoopback, 0, kUdpSpecifier, nullptr), 0u);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(setReceiveTimeout(listener.get(), 10000));
  char buffer[16];
  size_t received = 0;
  std::atomic<bool> woke{false};
  std::thread reader([&] {
    receiveDatagram(listener.get(), buffer, sizeof(buffer), &received, nullptr);
    woke.store(true);
  });
  // A blocked receive leaves no mark to wait for; this lets the reader get into it.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(woke.load()) << "the receive did not block";
  const auto wake = steady_clock::now();
  shutdownSocket(listener.get());
  reader.join();
  EXPECT_LT(steady_clock::now() - wake, kWell) << "the blocked receive was not woken";
  EXPECT_EQ(received, 0u);

  const auto later = steady_clock::now();
  receiveDatagram(listener.get(), buffer, sizeof(buffer), &received, nullptr);
  EXPECT_LT(steady_clock::now() - later, kWell) << "a receive after the wake blocked";
  EXPECT_EQ(received, 0u);
}

TEST(LocalAddresses, FillsInResolverOrderUpToTheCapacity) {
  uint32_t none = 0;
  EXPECT_EQ(getLocalHostAddress(nullptr, 10), 2u);
  EXPECT_EQ(getLocalHostAddress(&none, 0), 2u);

  uint32_t all[10];
  std::fill(std::begin(all), std::end(all), 0xFFFFFFFFu);
  ASSERT_EQ(getLocalHostAddress(all, 10), 0u);
  EXPECT_NE(all[0], 0u);
  int count = 0;
  while (count < 10 && all[count] != 0) ++count;
  for (int i = count; i < 10; ++i) EXPECT_EQ(all[i], 0u) << i;  // the rest stays zero-filled

  uint32_t first[2] = {7, 7};
  ASSERT_EQ(getLocalHostAddress(first, 1), 0u);
  EXPECT_EQ(first[0], all[0]);
  EXPECT_EQ(first[1], 7u);  // nothing written past the capacity
}

TEST(SocketInfo, NoSocketAndUnreadableSocket) {
  EXPECT_EQ(socketInfoText(kInvalidSocket), "iDSI: No socket\n");
  const int closedFd = dup(0);
  close(closedFd);
  const std::string text = socketInfoText(closedFd);
  EXPECT_EQ(text.rfind("net: getsockname err=", 0), 0u) << text;
  EXPECT_NE(text.find("iDSI: Failed to get socket information\n"), std::string::npos);
}

TEST(SocketInfo, BlockShowsEachOptionOrThatItCouldNotBeRead) {
  SocketInfoValues values;
  values.bindPort = 9191;
  values.bindAddress = 0xC0A80105;
  values.type = {true, 2};
  values.multicastInterface = {true, 0x0A000001};
  values.multicastLoop = {true, 1};
  values.sendBuffer = {true, 212992};
  values.receiveBuffer = {false, 0};
  values.dontRoute = {true, 0};
  values.broadcast = {true, 0};
  values.reuseAddress = {true, 1};
  values.acceptConnections = {false, 0};
  values.keepAlive = {true, 0};
  EXPECT_EQ(formatSocketInfo(values),
            "|-------[ Socket Info ]--------\n"
            "| family      = internetwork\n"
            "| type        = datagram\n"
            "| bind port   = 9191 23e7x\n"
            "| bind addr   = 192.168.1.5 \n"
            "| mc bindaddr = 10.0.0.1 \n"
            "| mc loopback = yes\n"
            "| send buff   = 212992( 208KB )\n"
            "| recv buff   = getopt failed\n"
            "| route       = yes\n"
            "| broadcast   = no\n"
            "| reuse addr  = yes\n"
            "| listening   = getopt failed\n"
            "| keep alive  = no\n"
            "|------------------------------\n");
  values.type = {true, 9};
  values.dontRoute = {true, 1};
  const std::string other = formatSocketInfo(values);
  EXPECT_NE(other.find("| type        = unknown\n"), std::string::npos);
  EXPECT_NE(other.find("| route       = no\n"), std::string::npos);
}

}  // namespace
