// Tests of the SMTP client against a scripted peer: replies in several lines and in small pieces,
// a refused greeting or HELO, a peer that closes early or never answers, a server stop during a
// wait, and a recipient that would inject commands. (The reset after a refused recipient is
// tested against a real SMTP server in email_sender_test.cc.)
#include "server/events/email_smtp.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_manager.h"
#include "server/server_state.h"

namespace {

using namespace std::chrono_literals;

// One exchange of the script: the command the peer expects (prefix) and the bytes it answers;
// kSilent answers nothing, kHangUp closes the connection instead.
struct Step {
  std::string expect;
  std::string reply;
};
const std::string kSilent = "<silent>";
const std::string kHangUp = "<hang up>";

// A one-connection SMTP peer on 127.0.0.1 that plays a script and records what it received.
class ScriptedPeer {
 public:
  ScriptedPeer(std::string greeting, std::vector<Step> steps)
      : greeting_(std::move(greeting)), steps_(std::move(steps)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedPeer() {
    shutdown(listener_, SHUT_RDWR);
    if (connection_ >= 0) shutdown(connection_, SHUT_RDWR);
    thread_.join();
    if (connection_ >= 0) close(connection_);
    close(listener_);
  }

  uint16_t port() const { return port_; }
  std::vector<std::string> received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  // Sends bytes one at a time, so that the client has to put replies together.
  void sendInPieces(const std::string& bytes) {
    for (char c : bytes) {
      if (send(connection_, &c, 1, MSG_NOSIGNAL) != 1) return;
    }
  }
  // Reads up to and including terminator; false when the connection ended.
  bool readUntil(const std::string& terminator, std::string* text) {
    text->clear();
    char c;
    while (text->size() < terminator.size() ||
           text->compare(text->size() - terminator.size(), terminator.size(), terminator) != 0) {
      if (recv(connection_, &c, 1, 0) != 1) return false;
      *text += c;
    }
    return true;
  }
  void serve() {
    connection_ = accept(listener_, nullptr, nullptr);
    if (connection_ < 0) return;
    play();
    // The script is over: the peer hangs up (a silent peer first waits for the client to go).
    shutdown(connection_, SHUT_RDWR);
  }
  void play() {
    if (greeting_ == kHangUp) return;
    if (greeting_ == kSilent) {
      std::string ignored;
      readUntil("\n\n\n", &ignored);
      return;
    }
    sendInPieces(greeting_);
    bool inData = false;
    for (const Step& step : steps_) {
      std::string text;
      if (!readUntil(inData ? "\r\n.\r\n" : "\r\n", &text)) return;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(inData ? text : text.substr(0, text.size() - 2));
      }
      inData = text.rfind("DATA\r\n", 0) == 0 && step.reply.rfind("354", 0) == 0;
      if (text.rfind(step.expect, 0) != 0) {
        sendInPieces("500 unexpected\r\n");
        continue;
      }
      if (step.reply == kHangUp) return;
      if (step.reply != kSilent) sendInPieces(step.reply);
    }
  }

  std::string greeting_;
  std::vector<Step> steps_;
  int listener_ = -1;
  std::atomic<int> connection_{-1};  // written by the peer thread, read by the destructor
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> received_;
};

const std::string kData = "SUBJECT:x\r\n\r\nMessage: hi\r\n.\r\n";

class SmtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { serverControl().serverRunning.store(1); }
  void TearDown() override { serverControl().serverRunning.store(0); }
};

TEST_F(SmtpClientTest, MultiLineRepliesArriveInPieces) {
  ScriptedPeer peer("220-mail.example.com\r\n220-more text\r\n220 ready\r\n",
                    {{"HELO focalpoint.Server", "250-mail.example.com\r\n250-SIZE 1000\r\n250 OK\r\n"},
                     {"MAIL FROM:<Kestrova@host>", "250 OK\r\n"},
                     {"RCPT TO:<ops@example.com>", "250 OK\r\n"},
                     {"DATA", "354 go ahead\r\n"},
                     {"SUBJECT:x", "250-queued\r\n250 as 42\r\n"},
                     {"QUIT", "221 bye\r\n"}});
  SmtpClient client(5000);
  ASSERT_TRUE(client.open("127.0.0.1", peer.port()));
  EXPECT_EQ(client.sendMail("Kestrova@host", "ops@example.com", kData), 0);
  EXPECT_TRUE(client.isOpen());
  client.close();
  EXPECT_FALSE(client.isOpen());
  const auto lines = peer.received();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], kData) << "the data goes out as composed, closing dot included";
  EXPECT_EQ(lines[5], "QUIT");
}

TEST_F(SmtpClientTest, RefusedGreetingOrHeloFailsTheConnection) {
  ScriptedPeer refused("554 go away\r\n", {});
  SmtpClient first(5000);
  EXPECT_FALSE(first.open("127.0.0.1", refused.port()));
  EXPECT_FALSE(first.isOpen());

  ScriptedPeer noHelo("220 ready\r\n", {{"HELO", "501 who are you\r\n"}, {"QUIT", "221 bye\r\n"}});
  SmtpClient second(5000);
  EXPECT_FALSE(second.open("127.0.0.1", noHelo.port()));
  EXPECT_EQ(noHelo.received().back(), "QUIT");
}

TEST_F(SmtpClientTest, PeerThatClosesEarlyEndsTheWaitAtOnce) {
  ScriptedPeer peer("220 ready\r\n", {{"HELO", "250 OK\r\n"}, {"MAIL FROM:", kHangUp}});
  SmtpClient client(60000);
  ASSERT_TRUE(client.open("127.0.0.1", peer.port()));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.sendMail("a@b", "ops@example.com", kData), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(client.isOpen()) << "a connection the peer closed is given up";
  EXPECT_EQ(client.sendMail("a@b", "ops@example.com", kData), 1);
}

TEST_F(SmtpClientTest, SilentPeerTimesOut) {
  ScriptedPeer peer(kSilent, {});
  SmtpClient client(300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.open("127.0.0.1", peer.port()));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 5s);
}

TEST_F(SmtpClientTest, ServerStopEndsAWait) {
  ScriptedPeer peer(kSilent, {});
  SmtpClient client(600000);
  std::thread stopper([] {
    std::this_thread::sleep_for(200ms);
    serverControl().serverRunning.store(0);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.open("127.0.0.1", peer.port()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  stopper.join();
}

TEST_F(SmtpClientTest, InjectingRecipientIsNeverSent) {
  ScriptedPeer peer("220 ready\r\n", {{"HELO", "250 OK\r\n"}, {"QUIT", "221 bye\r\n"}});
  SmtpClient client(5000);
  ASSERT_TRUE(client.open("127.0.0.1", peer.port()));
  EXPECT_EQ(client.sendMail("a@b", "ops@example.com>\r\nRCPT TO:<spy@example.com", kData), 2);
  EXPECT_EQ(client.sendMail("a@b", "", kData), 2);
  client.close();
  EXPECT_EQ(peer.received(), (std::vector<std::string>{"HELO focalpoint.Server", "QUIT"}));
}

TEST_F(SmtpClientTest, UnreachableServerFails) {
  uint16_t closedPort = 0;
  {
    ScriptedPeer gone(kHangUp, {});
    closedPort = gone.port();
  }
  SmtpClient client(1000);
  EXPECT_FALSE(client.open("127.0.0.1", closedPort));
  EXPECT_FALSE(client.open("", closedPort));
  EXPECT_FALSE(client.isOpen());
}

}  // namespace
