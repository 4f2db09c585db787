// The time limit of one exchange with the web server: where it comes from (DefaultTimeout in the
// configuration file, QCLI_TIMEOUT, --timeout, each stronger than the one before), what values it
// takes, that its option never reaches the server, and that a server trickling its answer a byte
// a second is given up at the limit with a clear message.
#include "qcli/request_timeout.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "common/test_folder.h"
#include "qcli/client_test_support.h"
#include "qcli/exit_codes.h"
#include "qcli/test_http_peer.h"

namespace qcli {
namespace {

using Clock = std::chrono::steady_clock;
using testing::htmlPage;
using testing::plainReply;
using testing::runClientWith;
using testing::TestHttpPeer;

// A server that accepts one connection, reads its request and then sends a valid answer's first
// line one byte per second, for as long as the client stays.
class TricklingPeer {
 public:
  TricklingPeer() {
    listener_ = testing::listenOnLoopback(&port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~TricklingPeer() {
    stopping_ = true;
    thread_.join();
    closePeerSocket(listener_);
  }
  std::string port() const { return std::to_string(port_); }

 private:
  void serve() {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    char buffer[4096];
    (void)::recv(fd, buffer, sizeof buffer, 0);
    const std::string line = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    for (size_t i = 0; !stopping_ && i < 1000; ++i) {
      if (::send(fd, line.data() + i % line.size(), size_t{1}, MSG_NOSIGNAL) != 1) break;
      for (int step = 0; step < 10 && !stopping_; ++step)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    closePeerSocket(fd);
  }
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

class RequestTimeoutTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> env(std::map<std::string, std::string> more = {}) {
    more.emplace("QCLI_CONFIG_FILE", config_);
    return more;
  }
  void writeConfig(const std::string& text) { std::ofstream(config_) << text; }
  // Runs "array display" against the trickling server; returns the seconds it took.
  double timedRun(const std::vector<std::string>& extra,
                  const std::map<std::string, std::string>& environment, testing::ClientRun* run) {
    TricklingPeer peer;
    std::vector<std::string> args{"--ip", "127.0.0.1", "--port", peer.port()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"array", "display"});
    const auto start = Clock::now();
    *run = runClientWith(args, environment);
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
  TestFolder folder_;
  std::string config_ = folder_.file("qcliConfig.db");
};

TEST_F(RequestTimeoutTest, ATricklingServerIsGivenUpAtTheLimitWithAClearMessage) {
  writeConfig("DefaultIp = 127.0.0.1\n");
  testing::ClientRun run;
  const double seconds = timedRun({"--timeout", "2"}, env(), &run);
  EXPECT_GE(seconds, 1.9);
  EXPECT_LT(seconds, 15.0);  // generous for a loaded machine; without the limit it would never end
  EXPECT_EQ(run.exitCode, kExitTransportFailure);  // no usable answer
  EXPECT_NE(run.output.find("Error: No complete answer from the server within 2 seconds (--timeout).\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("http request returned no data.\n"), std::string::npos);
}

TEST_F(RequestTimeoutTest, TheCommandLineIsStrongerThanTheEnvironmentAndTheConfigFile) {
  writeConfig("DefaultTimeout = 40\n");
  testing::ClientRun run;
  double seconds = timedRun({"--timeout", "1"}, env({{"QCLI_TIMEOUT", "30"}}), &run);
  EXPECT_LT(seconds, 15.0);
  EXPECT_NE(run.output.find("within 1 seconds"), std::string::npos) << run.output;
  seconds = timedRun({}, env({{"QCLI_TIMEOUT", "2"}}), &run);
  EXPECT_NE(run.output.find("within 2 seconds"), std::string::npos) << run.output;
  writeConfig("DefaultTimeout = 1\n");
  seconds = timedRun({}, env(), &run);
  EXPECT_NE(run.output.find("within 1 seconds"), std::string::npos) << run.output;
}

TEST_F(RequestTimeoutTest, TheOptionIsNotSentToTheServer) {
  TestHttpPeer peer({plainReply("text/html", htmlPage("ok\n"))});
  auto run = runClientWith(
      {"--ip", "127.0.0.1", "--port", peer.portText(), "--timeout", "60", "array", "display"}, env());
  peer.stop();
  ASSERT_EQ(peer.requests().size(), 1u);
  EXPECT_EQ(peer.requests()[0].find("timeout"), std::string::npos) << peer.requests()[0];
  EXPECT_EQ(peer.requests()[0].find("p0=array&p1=display&"), peer.requests()[0].find("p0="));
  EXPECT_TRUE(run.output.ends_with("ok\n"));
}

TEST_F(RequestTimeoutTest, BadValuesAreRefusedBeforeAnythingIsSent) {
  TestHttpPeer peer({});
  for (const std::vector<std::string>& extra : {std::vector<std::string>{"--timeout", "0"},
                                                {"--timeout", "-5"},
                                                {"--timeout", "90000"},
                                                {"--timeout", "ten"},
                                                {"--timeout"}}) {
    std::vector<std::string> args{"--ip", "127.0.0.1", "--port", peer.portText(), "array", "display"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto run = runClientWith(args, env());
    EXPECT_EQ(run.exitCode, kExitError) << extra.back();
    EXPECT_NE(run.output.find("Error: "), std::string::npos) << run.output;
  }
  auto fromEnv = runClientWith({"--ip", "127.0.0.1", "--port", peer.portText(), "array", "display"},
                               env({{"QCLI_TIMEOUT", "1.5"}}));
  EXPECT_EQ(fromEnv.exitCode, kExitError);
  EXPECT_NE(fromEnv.output.find("Error: Time limit '1.5' from QCLI_TIMEOUT"), std::string::npos)
      << fromEnv.output;
  peer.stop();
  EXPECT_TRUE(peer.requests().empty());
}

TEST_F(RequestTimeoutTest, EscapeSequencesInTheServersTextAndStatusLineAreNotPrintedRaw) {
  TestHttpPeer peer({plainReply("text/html", htmlPage("Array 0 \x1b]52;c;cm0gLXJmIH4=\x07\x1b[2J OK\r\n")),
                     "HTTP/1.1 500 \x1b]0;pwned\x07\r\nContent-Length: 0\r\n\r\n"});
  auto run = runClientWith({"--ip", "127.0.0.1", "--port", peer.portText(), "array", "display"}, env());
  EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
  EXPECT_NE(run.output.find("Array 0 \\x1B]52;c;cm0gLXJmIH4=\\x07\\x1B[2J OK\n"), std::string::npos)
      << run.output;
  run = runClientWith({"--ip", "127.0.0.1", "--port", peer.portText(), "array", "display"}, env());
  peer.stop();
  EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
  EXPECT_NE(run.output.find("Error: HTTP Server error: 500 \\x1B]0;pwned\\x07."), std::string::npos)
      << run.output;
}

}  // namespace
}  // namespace qcli
