// Tests of syslog over TCP: the RFC 5424 message form, octet-counted framing, and the stream's
// backlog against an in-process receiver that goes away and comes back (reconnection with
// back-off, the bound of the backlog, the resending of what a receiver took but never read).
#include "server/events/syslog_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "server/events/notifier_stats.h"
#include "server/events/notifier_test_fixture.h"
#include "server/events/syslog_rfc5424.h"
#include "server/server_state.h"

namespace {

using namespace notifier_test;

EventRecord record(const char* device, const char* message, uint32_t level, uint32_t id) {
  return EventRecord{
      const_cast<char*>(message), const_cast<char*>(device), level, 1701853503, 1701853510, id, 0};
}

TEST(SyslogRfc5424Test, HeaderStructuredDataAndMessage) {
  const SyslogIdentity identity{"store1.example.com", "Kestrova", 4242};
  EXPECT_EQ(
      composeRfc5424(record("Ctl A", "(Event ID: 0xB27) Drive ID 3 in slot 3 failed.", 2, 0xB27), identity,
                     false),
      "<27>1 2023-12-06T09:05:03Z store1.example.com Kestrova 4242 0x0B27 [kestrova@1793 eventId=\"0x0B27\" "
      "level=\"error\" device=\"Ctl A\" sync=\"n\"] (Event ID: 0xB27) Drive ID 3 in slot 3 failed.");
  // Severity by level: information 6, warning 4, notice 5, anything else a warning.
  EXPECT_EQ(composeRfc5424(record("d", "m", 0, 0), identity, false).rfind("<30>1 ", 0), 0u);
  EXPECT_EQ(composeRfc5424(record("d", "m", 1, 0), identity, false).rfind("<28>1 ", 0), 0u);
  EXPECT_EQ(composeRfc5424(record("d", "m", 4, 0), identity, true).rfind("<29>1 ", 0), 0u);
  EXPECT_EQ(composeRfc5424(record("d", "m", 9, 0), identity, false).rfind("<28>1 ", 0), 0u);
  EXPECT_NE(composeRfc5424(record("d", "m", 4, 0), identity, true)
                .find(" 4242 - [kestrova@1793 eventId=\"0x0000\" "
                      "level=\"notice\" device=\"d\" sync=\"n\" test=\"y\"] m"),
            std::string::npos);
}

TEST(SyslogRfc5424Test, HostileTextsStayInTheirFields) {
  const SyslogIdentity identity{"h", "a", 1};
  // A device text that tries to close the parameter and the element and to add a line.
  const std::string text = composeRfc5424(
      record("x\"] [forged@1 a=\"b\\", "line1\nline2\r\x01 bad\xff\xfe utf8 \xc3\xa9", 1, 0x101), identity,
      false);
  EXPECT_NE(text.find("device=\"x\\\"\\] [forged@1 a=\\\"b\\\\\""), std::string::npos) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_NE(text.find("] line1 line2   bad?? utf8 \xc3\xa9"), std::string::npos) << text;
  EXPECT_EQ(octetCounted("abc \xc3\xa9"), "6 abc \xc3\xa9");
}

// A TCP receiver in this process: accepts one connection at a time and keeps every byte it reads.
// reading false: it accepts but reads nothing, and a stop then resets the connection with the
// unread bytes, as a receiver that dies under load does.
class TcpSink {
 public:
  explicit TcpSink(uint16_t port, bool reading = true) : reading_(reading) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          listen(listener_, 4) == 0;
    if (ok_) thread_ = std::thread([this] { run(); });
  }
  ~TcpSink() { stop(); }

  bool ok() const { return ok_; }
  void stop() {
    if (stopping_.exchange(true)) return;
    shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  std::string bytes() {
    MutexLock lock(mutex_);
    return bytes_;
  }
  // The octet-counted frames received so far.
  std::vector<std::string> frames() {
    std::vector<std::string> out;
    const std::string all = bytes();
    size_t at = 0;
    while (at < all.size()) {
      const size_t space = all.find(' ', at);
      if (space == std::string::npos) break;
      const size_t length = std::stoul(all.substr(at, space - at));
      if (space + 1 + length > all.size()) break;
      out.push_back(all.substr(space + 1, length));
      at = space + 1 + length;
    }
    return out;
  }

 private:
  void run() {
    while (!stopping_) {
      pollfd entry{listener_, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      const int connection = accept(listener_, nullptr, nullptr);
      if (connection < 0) continue;
      while (!stopping_) {
        if (!reading_) {
          std::this_thread::sleep_for(10ms);
          continue;
        }
        pollfd in{connection, POLLIN, 0};
        if (poll(&in, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        MutexLock lock(mutex_);
        bytes_.append(buffer, static_cast<size_t>(n));
      }
      close(connection);
    }
  }

  bool reading_;
  int listener_ = -1;
  bool ok_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  Mutex mutex_;
  std::string bytes_ GUARDED_BY(mutex_);
};

class SyslogStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetNotifierCounts();
    serverControl().serverRunning.store(1);  // connections give up at once when the server stops
    SyslogStreamTuning& tuning = syslogStreamTuning();
    tuning.firstRetryMs.store(20);
    tuning.maxRetryMs.store(80);
    tuning.resendWindowMs.store(0);
    tuning.ioTimeoutMs.store(2000);
    port_ = unusedTcpPort();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    serverControl().serverRunning.store(0);
    SyslogStreamTuning& tuning = syslogStreamTuning();
    tuning.backlogLimit.store(1000);
    tuning.firstRetryMs.store(250);
    tuning.maxRetryMs.store(30000);
    tuning.resendWindowMs.store(2000);
    tuning.ioTimeoutMs.store(5000);
  }
  SyslogStreamTarget target() const { return SyslogStreamTarget{"127.0.0.1", port_, false, {}}; }
  // Pumps until the sink holds count frames.
  static bool pumpUntil(SyslogStream& stream, TcpSink& sink, size_t count) {
    return waitUntil(
        [&] {
          stream.pump();
          return sink.frames().size() >= count;
        },
        10000ms);
  }
  static std::vector<std::string> numbered(int first, int last) {
    std::vector<std::string> out;
    for (int i = first; i <= last; ++i) out.push_back("message " + std::to_string(i));
    return out;
  }

  uint16_t port_ = 0;
};

TEST_F(SyslogStreamTest, WaitsForAReceiverThatIsDownAndDeliversInOrder) {
  SyslogStream stream(target());
  for (const std::string& m : numbered(1, 3)) stream.submit(octetCounted(m));
  EXPECT_EQ(stream.waiting(), 3u) << "nobody listens yet";
  EXPECT_FALSE(stream.connected());
  EXPECT_GE(notifierCounts("syslog").failed, 1u);
  EXPECT_EQ(notifierCounts("syslog").sent, 0u);

  auto sink = std::make_unique<TcpSink>(port_);
  ASSERT_TRUE(sink->ok());
  ASSERT_TRUE(pumpUntil(stream, *sink, 3));
  EXPECT_EQ(sink->frames(), numbered(1, 3));
  EXPECT_EQ(stream.waiting(), 0u);
  EXPECT_EQ(notifierCounts("syslog").sent, 3u);

  // The receiver goes away: the stream notices, keeps what comes meanwhile, and sends it, in
  // order, over a new connection once a receiver listens again.
  sink.reset();
  ASSERT_TRUE(waitUntil(
      [&] {
        stream.pump();
        return !stream.connected();
      },
      5000ms));
  for (const std::string& m : numbered(4, 8)) stream.submit(octetCounted(m));
  EXPECT_EQ(stream.waiting(), 5u);
  sink = std::make_unique<TcpSink>(port_);
  ASSERT_TRUE(sink->ok());
  ASSERT_TRUE(pumpUntil(stream, *sink, 5));
  EXPECT_EQ(sink->frames(), numbered(4, 8));
  EXPECT_EQ(notifierCounts("syslog").dropped, 0u);
}

TEST_F(SyslogStreamTest, BacklogKeepsItsBoundAndDropsTheOldest) {
  syslogStreamTuning().backlogLimit.store(4);
  SyslogStream stream(target());
  for (const std::string& m : numbered(1, 10)) stream.submit(octetCounted(m));
  EXPECT_EQ(stream.waiting(), 4u);
  EXPECT_EQ(notifierCounts("syslog").dropped, 6u);
  TcpSink sink(port_);
  ASSERT_TRUE(sink.ok());
  ASSERT_TRUE(pumpUntil(stream, sink, 4));
  EXPECT_EQ(sink.frames(), numbered(7, 10));
}

TEST_F(SyslogStreamTest, BackOffDoublesUpToItsLimit) {
  syslogStreamTuning().firstRetryMs.store(100);
  syslogStreamTuning().maxRetryMs.store(400);
  SyslogStream stream(target());
  stream.submit(octetCounted("x"));
  // Pumping all the time for 1.6 s: attempts at 0, 0.1, 0.3, 0.7, 1.1, 1.5 s (pauses 100, 200,
  // 400, 400, 400 ms), not one per pump.
  const auto end = std::chrono::steady_clock::now() + 1600ms;
  while (std::chrono::steady_clock::now() < end) {
    stream.pump();
    std::this_thread::sleep_for(5ms);
  }
  const uint64_t attempts = notifierCounts("syslog").failed;
  EXPECT_GE(attempts, 4u);
  EXPECT_LE(attempts, 7u);
}

// A receiver that took bytes into its socket but died before reading them: what went out in the
// resend window comes again over the next connection.
TEST_F(SyslogStreamTest, ResendsWhatAReceiverTookButNeverRead) {
  syslogStreamTuning().resendWindowMs.store(10000);
  SyslogStream stream(target());
  auto deaf = std::make_unique<TcpSink>(port_, false);
  ASSERT_TRUE(deaf->ok());
  for (const std::string& m : numbered(1, 5)) stream.submit(octetCounted(m));
  ASSERT_TRUE(waitUntil(
      [&] {
        stream.pump();
        return stream.waiting() == 0;
      },
      5000ms));
  deaf.reset();  // closes with unread bytes: they are gone
  stream.submit(octetCounted("message 6"));
  TcpSink sink(port_);
  ASSERT_TRUE(sink.ok());
  ASSERT_TRUE(pumpUntil(stream, sink, 6));
  EXPECT_EQ(sink.frames(), numbered(1, 6));
}

}  // namespace
