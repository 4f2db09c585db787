// Tests of the syslog notifier: the 1024-byte datagram and its level table, the settings pages
// (edit counter, renumbering, default port, refused values), the receiver filters, and socat as a
// real peer for the test datagram and for events under the "UseOsEventLog" setting.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <memory>
#include <string>

#include "common/property_file.h"
#include "common/thread_manager.h"
#include "server/events/channel_handlers.h"
#include "server/events/dispatcher.h"
#include "server/events/notifier_test_fixture.h"
#include "server/events/syslog_datagram.h"
#include "server/events/syslog_sender.h"
#include "server/events/syslog_settings.h"

namespace {

using namespace notifier_test;

constexpr char kSocat[] = "/usr/bin/socat";

std::string textOf(const SyslogDatagram& datagram) { return std::string(datagram.data()); }

// True when every byte after the text is NUL.
bool paddedWithNul(const std::string& datagram) {
  const size_t end = datagram.find('\0');
  return end != std::string::npos && datagram.find_first_not_of('\0', end) == std::string::npos;
}

class SyslogDatagramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    previousTz_ = tz ? std::make_unique<std::string>(tz) : nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (previousTz_) {
      setenv("TZ", previousTz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static uint32_t utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return static_cast<uint32_t>(timegm(&when));
  }
  std::unique_ptr<std::string> previousTz_;
};

TEST_F(SyslogDatagramTest, EventTextIsPaddedToExactly1024Bytes) {
  EventRecord record{const_cast<char*>("(Event ID: 0x101) Disk added"),
                     const_cast<char*>("Server"),
                     0,
                     utc(2023, 12, 6, 9, 5, 3),
                     0,
                     0x101,
                     0};
  SyslogDatagram datagram;
  datagram.fill('x');
  composeSyslogEvent(record, &datagram);
  const std::string bytes(datagram.data(), datagram.size());
  EXPECT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(textOf(datagram),
            "<KestrovaID=00020101> Status: Info Date: Dec 6 09:05:03  Sync: n Device: Server Message: "
            "(Event ID: 0x101) Disk added");
  EXPECT_TRUE(paddedWithNul(bytes));

  record.eventId = 0x7ABCD;  // only the low 16 bits are kept
  record.concernLevel = 2;
  record.syncFlag = 1;
  composeSyslogEvent(record, &datagram);
  EXPECT_EQ(textOf(datagram).rfind("<KestrovaID=0002abcd> Status: Error Date: Dec 6 09:05:03  Sync: y ", 0),
            0u);
}

TEST_F(SyslogDatagramTest, LevelTable) {
  const struct {
    uint32_t level;
    const char* status;
    size_t position;
  } rows[] = {{0, "Info", 0},    {1, "Warning", 1}, {2, "Error", 2},
              {3, "Warning", 1}, {4, "Info", 0},    {99, "Warning", 1}};
  for (const auto& row : rows) {
    EXPECT_STREQ(syslogStatusText(row.level), row.status) << row.level;
    EXPECT_EQ(syslogFilterPosition(row.level), row.position) << row.level;
  }
}

TEST_F(SyslogDatagramTest, LongAndMultiLineTextsStayOneDatagramOfOneLine) {
  const std::string longMessage(3000, 'm');
  SyslogDatagram datagram;
  composeSyslogTest("Dev", longMessage.c_str(), &datagram);
  EXPECT_EQ(textOf(datagram).size(), 1023u);  // cut, and still NUL-terminated
  EXPECT_EQ(textOf(datagram).rfind("Dev: mmm", 0), 0u);

  composeSyslogTest("Dev\r\n<KestrovaID=00020000> forged", "line1\nline2\ttab", &datagram);
  EXPECT_EQ(textOf(datagram), "Dev  <KestrovaID=00020000> forged: line1 line2 tab");
}

class SyslogPagesTest : public NotifierFolderTest {
 protected:
  static std::map<std::string, std::string> save(const char* version,
                                                 std::initializer_list<std::pair<int, const char*>> servers,
                                                 const char* port = nullptr) {
    TableOwner request;
    if (version != nullptr) addVariable(request.address(), "version", version);
    for (const auto& [index, server] : servers) {
      const std::string n = std::to_string(index);
      addVariable(request.address(), ("SyslogServer" + n).c_str(), server);
      if (port != nullptr) addVariable(request.address(), ("SyslogPort" + n).c_str(), port);
      addVariable(request.address(), ("SyslogWarn" + n).c_str(), "true");
    }
    TableOwner reply(SetSyslogConfig(request.get()));
    return pairsOf(reply.get());
  }
};

TEST_F(SyslogPagesTest, SaveRenumbersAndDefaultsThePort) {
  auto reply = save("0", {{2, "10.0.0.2"}, {5, ""}, {9, " 10.0.0.9 "}});
  EXPECT_EQ(reply["MessageSummary"], "Saving the syslog settings completed successfully.");
  EXPECT_EQ(reply["HTMLPath"], "../Server/other/setting_syslog.htm");
  EXPECT_EQ(reply["version"], "1");
  EXPECT_EQ(reply["SyslogLoop"], "2");
  EXPECT_EQ(reply["TotalSyslog"], "2");
  EXPECT_EQ(reply["SyslogLoop0SyslogServer"], "10.0.0.2");
  EXPECT_EQ(reply["SyslogLoop0SyslogPort"], "514");
  EXPECT_EQ(reply["SyslogLoop0SyslogIWE"], "010");
  EXPECT_EQ(reply["SyslogLoop1SyslogServer"], "10.0.0.9");
  const std::string file = readFile("db/syslog.ini");
  EXPECT_EQ(file.rfind(std::string("\0\n'", 3) + kSyslogIniHeader + "\n", 0), 0u) << file;
  TableOwner reread(readPropertyFile(kSyslogIniPath));
  EXPECT_TRUE(compareVariableTables(reread.get(), serverSettings().syslog));

  EXPECT_EQ(save("1", {{0, "10.0.0.3"}}, " 77")["SyslogLoop0SyslogPort"], "514");
  EXPECT_EQ(save("2", {{0, "10.0.0.3"}}, "1514")["SyslogLoop0SyslogPort"], "1514");
}

TEST_F(SyslogPagesTest, VersionAndUnusableValuesAreRefused) {
  EXPECT_EQ(
      save(nullptr, {{0, "10.0.0.1"}})["MessageDetails"].rfind("The request is missing required fields.", 0),
      0u);
  ASSERT_EQ(save("3", {{0, "10.0.0.1"}})["MessageIsSuccess"], "true");
  EXPECT_EQ(
      save("3", {{0, "10.0.0.2"}})["MessageDetails"].rfind("The settings were changed by another user", 0),
      0u);
  const std::string before = readFile("db/syslog.ini");
  for (const char* bad : {"syslog.example.com", "10.0.0.300", "10.0.0.1\nSyslogServer1 = 1.2.3.4"}) {
    auto reply = save("4", {{0, bad}});
    EXPECT_EQ(reply["MessageIsSuccess"], "false") << bad;
    EXPECT_EQ(reply["SyslogLoop0SyslogServer"], "10.0.0.1");
  }
  EXPECT_EQ(save("4", {{0, "10.0.0.2"}}, "65536")["MessageIsSuccess"], "false");
  EXPECT_EQ(readFile("db/syslog.ini"), before);
}

// Format, transport and CA file: stored only when they differ from BSD over UDP, so that the
// receivers of an existing file read as they always did; names are taken over TCP and TLS only.
TEST_F(SyslogPagesTest, FormatTransportAndCaFileOfEachReceiver) {
  TableOwner request;
  addVariable(request.address(), "version", "0");
  const std::pair<const char*, const char*> rows[] = {
      {"10.0.0.1", nullptr}, {"collector.example.com", "tls"}, {"10.0.0.3", "tcp"}};
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    addVariable(request.address(), ("SyslogServer" + n).c_str(), rows[i].first);
    if (rows[i].second != nullptr)
      addVariable(request.address(), ("SyslogTransport" + n).c_str(), rows[i].second);
  }
  addVariable(request.address(), "SyslogFormat1", "rfc5424");
  addVariable(request.address(), "SyslogCaFile1", " /etc/ssl/collector-ca.pem ");
  addVariable(request.address(), "SyslogFormat0", "bsd");
  TableOwner reply(SetSyslogConfig(request.get()));
  auto page = pairsOf(reply.get());
  ASSERT_EQ(page["MessageIsSuccess"], "true") << page["MessageDetails"];
  EXPECT_EQ(page["SyslogLoop0SyslogFormat"], "bsd");
  EXPECT_EQ(page["SyslogLoop0SyslogTransport"], "udp");
  EXPECT_EQ(page["SyslogLoop0SyslogPort"], "514");
  EXPECT_EQ(page["SyslogLoop1SyslogServer"], "collector.example.com");
  EXPECT_EQ(page["SyslogLoop1SyslogFormat"], "rfc5424");
  EXPECT_EQ(page["SyslogLoop1SyslogTransport"], "tls");
  EXPECT_EQ(page["SyslogLoop1SyslogPort"], "6514");
  EXPECT_EQ(page["SyslogLoop1SyslogCaFile"], "/etc/ssl/collector-ca.pem");
  EXPECT_EQ(page["SyslogLoop2SyslogTransport"], "tcp");
  EXPECT_EQ(page["SyslogLoop2SyslogPort"], "514");
  const std::string file = readFile("db/syslog.ini");
  EXPECT_EQ(file.find("SyslogFormat0"), std::string::npos) << file;
  EXPECT_EQ(file.find("SyslogTransport0"), std::string::npos) << file;
  EXPECT_NE(file.find("SyslogTransport1 = tls"), std::string::npos) << file;

  SyslogReceivers receivers;
  ASSERT_TRUE(readSyslogReceivers(&receivers));
  EXPECT_EQ(receivers[0].transport, SyslogTransport::kUdp);
  EXPECT_EQ(receivers[0].format, SyslogFormat::kBsd);
  EXPECT_EQ(receivers[1].transport, SyslogTransport::kTls);
  EXPECT_EQ(receivers[1].format, SyslogFormat::kRfc5424);
  EXPECT_EQ(receivers[1].caFile, "/etc/ssl/collector-ca.pem");

  const std::string before = readFile("db/syslog.ini");
  const std::pair<const char*, const char*> bad[][2] = {
      {{"SyslogServer0", "collector.example.com"}, {"SyslogTransport0", "udp"}},  // names need TCP or TLS
      {{"SyslogServer0", "10.0.0.1"}, {"SyslogTransport0", "ftp"}},
      {{"SyslogServer0", "10.0.0.1"}, {"SyslogFormat0", "json"}},
      {{"SyslogServer0", "10.0.0.1"}, {"SyslogCaFile0", "/tmp/ca.pem\nSyslogServer1 = 1.2.3.4"}},
  };
  for (const auto& pairs : bad) {
    TableOwner refused;
    addVariable(refused.address(), "version", "1");
    for (const auto& [key, value] : pairs) addVariable(refused.address(), key, value);
    auto answer = pairsOf(TableOwner(SetSyslogConfig(refused.get())).get());
    EXPECT_EQ(answer["MessageIsSuccess"], "false") << pairs[1].second;
  }
  EXPECT_EQ(readFile("db/syslog.ini"), before);

  // A file with a transport this version does not know sends nothing to that receiver.
  freeVariableTable(&serverSettings().syslog);
  addVariable(&serverSettings().syslog, "SyslogServer0", "127.0.0.1");
  addVariable(&serverSettings().syslog, "SyslogIWE0", "111");
  addVariable(&serverSettings().syslog, "SyslogTransport0", "carrier-pigeon");
  UdpReceiver none(300);
  replaceVariable(&serverSettings().syslog, "SyslogPort0", none.portText().c_str());
  ASSERT_TRUE(readSyslogReceivers(&receivers));
  EXPECT_FALSE(receivers[0].usable);
  EventRecord record{const_cast<char*>("m"), const_cast<char*>("d"), 2, 0, 0, 0, 0};
  EXPECT_NE(sendSyslogMessages(receivers, record, SyslogMode::kEvent), 0u);
  std::string datagram;
  EXPECT_FALSE(none.receive(&datagram));
}

// Over UDP a receiver may take RFC 5424 messages: one datagram each, without the BSD padding.
TEST_F(SyslogPagesTest, Rfc5424OverUdpIsOneUnpaddedDatagram) {
  UdpReceiver receiver(2000);
  addVariable(&serverSettings().syslog, "SyslogServer0", "127.0.0.1");
  addVariable(&serverSettings().syslog, "SyslogIWE0", "111");
  addVariable(&serverSettings().syslog, "SyslogPort0", receiver.portText().c_str());
  addVariable(&serverSettings().syslog, "SyslogFormat0", "rfc5424");
  SyslogReceivers receivers;
  ASSERT_TRUE(readSyslogReceivers(&receivers));
  EventRecord record{const_cast<char*>("(Event ID: 0x210) Battery failed"),
                     const_cast<char*>("Ctl B"),
                     2,
                     1701853503,
                     0,
                     0x210,
                     1};
  ASSERT_EQ(sendSyslogMessages(receivers, record, SyslogMode::kEvent), 0u);
  std::string datagram;
  ASSERT_TRUE(receiver.receive(&datagram));
  EXPECT_EQ(datagram.find('\0'), std::string::npos);
  EXPECT_EQ(datagram.rfind("<27>1 2023-12-06T09:05:03Z ", 0), 0u) << datagram;
  EXPECT_NE(
      datagram.find(" 0x0210 [kestrova@1793 eventId=\"0x0210\" level=\"error\" device=\"Ctl B\" sync=\"y\"] "
                    "(Event ID: 0x210) Battery failed"),
      std::string::npos)
      << datagram;
}

TEST_F(SyslogPagesTest, PagesGiveUpWhenTheSettingsStayInUse) {
  serverSettings().syslogInUse.store(1);
  testing::internal::CaptureStdout();
  TableOwner page(GetSyslogConfig(nullptr));
  auto saved = save("0", {{0, "10.0.0.1"}});
  TableOwner tested(TestSyslogConfig(nullptr));
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(pairsOf(page.get())["Message"],
            "Timed out while waiting for SYSLOG configuration file for script.");
  EXPECT_EQ(saved["MessageDetails"].rfind("The settings are in use by another task.", 0), 0u);
  EXPECT_EQ(pairsOf(tested.get())["MessageIsSuccess"], "false");
  EXPECT_NE(console.find("Timed out while waiting for SYSLOG configuration file to add an entry."),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("db/syslog.ini"));
}

class SyslogSenderTest : public NotifierFolderTest {
 protected:
  static void addReceiver(int slot, const char* server, const char* port, const char* iwe) {
    const std::string n = std::to_string(slot);
    addVariable(&serverSettings().syslog, ("SyslogServer" + n).c_str(), server);
    if (port != nullptr) addVariable(&serverSettings().syslog, ("SyslogPort" + n).c_str(), port);
    if (iwe != nullptr) addVariable(&serverSettings().syslog, ("SyslogIWE" + n).c_str(), iwe);
  }
  static uint32_t send(uint32_t level, SyslogMode mode = SyslogMode::kEvent) {
    SyslogReceivers receivers;
    EXPECT_TRUE(readSyslogReceivers(&receivers));
    EventRecord record{const_cast<char*>("msg"), const_cast<char*>("dev"), level, 0, 0, 0, 0};
    return sendSyslogMessages(receivers, record, mode);
  }
};

TEST_F(SyslogSenderTest, FiltersMustBeThreeDigitsWithTheLevelsPosition) {
  UdpReceiver warnings(300), shortFilter(300), noFilter(300);
  addReceiver(0, "127.0.0.1", warnings.portText().c_str(), "010");
  addReceiver(2, "127.0.0.1", shortFilter.portText().c_str(), "10");
  addReceiver(4, " 127.0.0.1 ", noFilter.portText().c_str(), nullptr);
  std::string datagram;

  EXPECT_EQ(send(3), 0u);  // a level-3 event counts as a warning
  ASSERT_TRUE(warnings.receive(&datagram));
  EXPECT_EQ(datagram.size(), 1024u);
  EXPECT_EQ(datagram.rfind("<KestrovaID=00020000> Status: Warning Date: ", 0), 0u) << datagram;
  EXPECT_FALSE(shortFilter.receive(&datagram));
  EXPECT_FALSE(noFilter.receive(&datagram));

  EXPECT_EQ(send(0), 0u);
  EXPECT_FALSE(warnings.receive(&datagram));
  EXPECT_FALSE(shortFilter.receive(&datagram));

  EXPECT_EQ(send(0, SyslogMode::kTest), 0u);  // the test passes every filter
  for (UdpReceiver* receiver : {&warnings, &shortFilter, &noFilter}) {
    ASSERT_TRUE(receiver->receive(&datagram));
    EXPECT_EQ(datagram.size(), 1024u);
    EXPECT_EQ(std::string(datagram.c_str()), "dev: msg");
  }
}

TEST_F(SyslogSenderTest, AnyFailedReceiverFailsTheResult) {
  UdpReceiver good(300);
  addReceiver(0, "127.0.0.1", "not-a-port", "111");
  addReceiver(1, "127.0.0.1", good.portText().c_str(), "111");
  EXPECT_NE(send(0, SyslogMode::kTest), 0u);  // the last receiver succeeded, the first did not
  std::string datagram;
  EXPECT_TRUE(good.receive(&datagram));

  freeVariableTable(&serverSettings().syslog);
  addReceiver(0, "no.such.address", "514", "111");
  EXPECT_EQ(send(0, SyslogMode::kTest), kNetGetHostNameFailed);  // host names are not resolved
}

// socat receives the datagrams; the events travel through the server's own channels.
class SyslogSocatTest : public NotifierFolderTest {
 protected:
  void SetUp() override {
    NotifierFolderTest::SetUp();
    if (access(kSocat, X_OK) != 0) GTEST_SKIP() << kSocat << " is not installed (scripts/bootstrap.sh)";
    port_ = unusedUdpPort();
    ASSERT_NE(port_, 0);
    peer_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{kSocat, "-u", "UDP-RECV:" + std::to_string(port_) + ",bind=127.0.0.1",
                                 "OPEN:" + path("received") + ",creat,append"},
        path("socat.out"));
    ASSERT_TRUE(peer_->started());
    ASSERT_TRUE(waitUntil([this] { return udpPortTaken(port_) || !peer_->running(); }, 10000ms));
    ASSERT_TRUE(peer_->running()) << peer_->output();

    ASSERT_TRUE(initThreadManager());
    serverControl().serverRunning.store(1);
    ASSERT_TRUE(startNotificationChannels());
  }
  void TearDown() override {
    serverControl().serverRunning.store(0);
    stopNotificationChannels();
    peer_.reset();
    NotifierFolderTest::TearDown();
  }
  std::string received() const { return readFile(path("received")); }
  void useOsEventLog(const char* value) { replaceVariable(&serverSettings().server, "UseOsEventLog", value); }

  uint16_t port_ = 0;
  std::unique_ptr<PeerProcess> peer_;
};

TEST_F(SyslogSocatTest, TestAlwaysSendsEventsOnlyWithUseOsEventLog) {
  TableOwner request;
  addVariable(request.address(), "version", "0");
  addVariable(request.address(), "SyslogServer0", "127.0.0.1");
  addVariable(request.address(), "SyslogPort0", std::to_string(port_).c_str());
  addVariable(request.address(), "SyslogErr0", "1");
  TableOwner saved(SetSyslogConfig(request.get()));
  ASSERT_EQ(pairsOf(saved.get())["MessageIsSuccess"], "true");

  useOsEventLog("false");
  ASSERT_EQ(raiseEvent("Ctl B", "Battery failed", 2, 0, 0x210, 0), 0);
  TableOwner tested(TestSyslogConfig(request.get()));
  EXPECT_EQ(pairsOf(tested.get())["MessageSummary"],
            "Sending the test syslog message completed successfully.")
      << pairsOf(tested.get())["MessageDetails"];
  ASSERT_TRUE(waitUntil([this] { return received().size() >= 1024; }, 5000ms));
  std::this_thread::sleep_for(300ms);  // the event, had it been sent, would be here by now
  std::string bytes = received();
  ASSERT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(std::string(bytes.c_str()),
            "Kestrova Server: This is a test notification from the Kestrova storage management server. Its "
            "receipt confirms that notifications are configured correctly.");
  EXPECT_TRUE(paddedWithNul(bytes));

  useOsEventLog("true");
  ASSERT_EQ(raiseEvent("Ctl B", "Battery failed", 2, 0, 0x210, 0), 0);
  raiseEvent("Ctl B", "only information", 0, 0, 0, 0);  // filtered out: errors only
  ASSERT_TRUE(waitUntil([this] { return received().size() >= 2048; }, 5000ms));
  std::this_thread::sleep_for(300ms);  // the filtered event, had it been sent, would be here by now
  bytes = received();
  ASSERT_EQ(bytes.size(), 2048u);
  const std::string event = bytes.substr(1024);
  EXPECT_EQ(event.rfind("<KestrovaID=00020210> Status: Error Date: ", 0), 0u) << event.c_str();
  EXPECT_NE(event.find("  Sync: n Device: Ctl B Message: (Event ID: 0x210) Battery failed"),
            std::string::npos)
      << event.c_str();
  EXPECT_TRUE(paddedWithNul(event));
}

// The test button sends to the page's receivers, saved or not, keeps them on the page, and tells
// a receiver where nothing listens from one that took the datagram.
TEST_F(SyslogSocatTest, TestUsesTheFormAndReportsWhereNothingListens) {
  const uint16_t closed = unusedUdpPort();
  TableOwner request;
  addVariable(request.address(), "version", "7");
  addVariable(request.address(), "SyslogServer0", "127.0.0.1");
  addVariable(request.address(), "SyslogPort0", std::to_string(port_).c_str());
  addVariable(request.address(), "SyslogServer1", "127.0.0.1");
  addVariable(request.address(), "SyslogPort1", std::to_string(closed).c_str());
  TableOwner tested(TestSyslogConfig(request.get()));
  auto values = pairsOf(tested.get());
  EXPECT_EQ(values["MessageIsSuccess"], "false");
  EXPECT_EQ(values["MessageDetails"], "127.0.0.1:" + std::to_string(port_) +
                                          ": sent (this protocol gives no receipt); 127.0.0.1:" +
                                          std::to_string(closed) + ": connection failed: nothing listens on that port");
  EXPECT_EQ(values["SyslogLoop1SyslogPort"], std::to_string(closed)) << "the form's rows come back";
  EXPECT_EQ(values["version"], "7");
  EXPECT_EQ(serverSettings().syslog, nullptr) << "a test saves nothing";
  ASSERT_TRUE(waitUntil([this] { return received().size() >= 1024; }, 5000ms));

  TableOwner none(TestSyslogConfig(nullptr));
  EXPECT_EQ(pairsOf(none.get())["MessageDetails"], "no receiver configured");
  TableOwner bad;
  addVariable(bad.address(), "SyslogServer0", "not an address");
  TableOwner refused(TestSyslogConfig(bad.get()));
  EXPECT_EQ(pairsOf(refused.get())["MessageIsSuccess"], "false");
  EXPECT_EQ(pairsOf(refused.get())["SyslogLoop0SyslogServer"], "not an address");
  serverControl().serverRunning.store(0);
  stopNotificationChannels();
  EXPECT_NE(readFile("db/ServerLog.log").find("The syslog test failed: 127.0.0.1:" + std::to_string(closed)),
            std::string::npos);
}

}  // namespace
