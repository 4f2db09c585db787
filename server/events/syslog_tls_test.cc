// Syslog over TLS against rsyslog (imtcp with the OpenSSL stream driver) as the collector: RFC 5424
// messages with our structured data arrive parsed, the receiver's certificate is checked, and a
// restart of the collector in the middle of a burst of 1000 events loses none of them.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_manager.h"
#include "server/events/dispatcher.h"
#include "server/events/notifier_stats.h"
#include "server/events/notifier_test_fixture.h"
#include "server/events/syslog_sender.h"
#include "server/events/syslog_settings.h"
#include "server/events/syslog_stream.h"

namespace {

using namespace notifier_test;

constexpr char kRsyslogd[] = "/usr/sbin/rsyslogd";
constexpr char kOssl[] = "/usr/lib/x86_64-linux-gnu/rsyslog/lmnsd_ossl.so";

class SyslogTlsTest : public NotifierFolderTest {
 protected:
  void SetUp() override {
    NotifierFolderTest::SetUp();
    if (access(kRsyslogd, X_OK) != 0 || access(kOssl, R_OK) != 0) {
      GTEST_SKIP() << "rsyslog with its OpenSSL driver is not installed (scripts/bootstrap.sh)";
    }
    const std::string failed = makeTestCertificates(path(""));
    ASSERT_EQ(failed, "");
    port_ = unusedTcpPort();
    ASSERT_NE(port_, 0);
    startCollector();
    resetNotifierCounts();
    replaceVariable(&serverSettings().server, "UseOsEventLog", "true");
    SyslogStreamTuning& tuning = syslogStreamTuning();
    tuning.firstRetryMs.store(100);
    tuning.maxRetryMs.store(1000);
    ASSERT_TRUE(initThreadManager());
    serverControl().serverRunning.store(1);
    ASSERT_TRUE(startNotificationChannels());
  }
  void TearDown() override {
    serverControl().serverRunning.store(0);
    stopNotificationChannels();
    closeSyslogStreams();
    collector_.reset();
    SyslogStreamTuning& tuning = syslogStreamTuning();
    tuning.firstRetryMs.store(250);
    tuning.maxRetryMs.store(30000);
    NotifierFolderTest::TearDown();
  }

  void startCollector() {
    const std::string dir = path("");
    writeFile(
        path("rsyslog.conf"),
        "global(workDirectory=\"" + dir +
            "\" DefaultNetstreamDriver=\"ossl\" DefaultNetstreamDriverCAFile=\"" + dir +
            "/ca.pem\" DefaultNetstreamDriverCertFile=\"" + dir +
            "/server.pem\" DefaultNetstreamDriverKeyFile=\"" + dir +
            "/server.key\")\n"
            "module(load=\"imtcp\" StreamDriver.Name=\"ossl\" StreamDriver.Mode=\"1\" "
            "StreamDriver.AuthMode=\"anon\")\n"
            "input(type=\"imtcp\" port=\"" +
            std::to_string(port_) +
            "\" address=\"127.0.0.1\")\n"
            "template(name=\"fields\" type=\"string\" string=\"%msgid%|%app-name%|%syslogseverity-text%|"
            "%structured-data%|%msg%\\n\")\n"
            "action(type=\"omfile\" file=\"" +
            dir + "/received.log\" template=\"fields\")\n");
    ++starts_;
    collector_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{kRsyslogd, "-n", "-f", path("rsyslog.conf"), "-i",
                                 path("rsyslog" + std::to_string(starts_) + ".pid")},
        path("rsyslog" + std::to_string(starts_) + ".out"));
    ASSERT_TRUE(collector_->started());
    ASSERT_TRUE(waitUntil([this] { return tcpPortListening(port_) || !collector_->running(); }, 20000ms));
    ASSERT_TRUE(collector_->running()) << collector_->output();
  }

  // The settings page's form with one TLS receiver.
  TableOwner form(const char* server, bool withCa, const char* format = "rfc5424") const {
    TableOwner request;
    addVariable(request.address(), "version", "0");
    addVariable(request.address(), "SyslogServer0", server);
    addVariable(request.address(), "SyslogPort0", std::to_string(port_).c_str());
    addVariable(request.address(), "SyslogTransport0", "tls");
    addVariable(request.address(), "SyslogFormat0", format);
    if (withCa) addVariable(request.address(), "SyslogCaFile0", path("ca.pem").c_str());
    for (const char* level : {"SyslogInfo0", "SyslogWarn0", "SyslogErr0"})
      addVariable(request.address(), level, "true");
    return request;
  }

  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::istringstream text(readFile(path("received.log")));
    for (std::string line; std::getline(text, line);) out.push_back(line);
    return out;
  }

  uint16_t port_ = 0;
  int starts_ = 0;
  std::unique_ptr<PeerProcess> collector_;
};

TEST_F(SyslogTlsTest, CertificateIsCheckedByTheTestButtonAndTheSender) {
  TableOwner untrusted = form("localhost", false);
  TableOwner tested(TestSyslogConfig(untrusted.get()));
  auto answer = pairsOf(tested.get());
  EXPECT_EQ(answer["MessageIsSuccess"], "false");
  EXPECT_NE(answer["MessageDetails"].find("localhost:" + std::to_string(port_) + ": certificate rejected"),
            std::string::npos)
      << answer["MessageDetails"];
  EXPECT_EQ(answer["SyslogLoop0SyslogTransport"], "tls");

  TableOwner trusted = form("localhost", true);
  TableOwner ok(TestSyslogConfig(trusted.get()));
  EXPECT_EQ(pairsOf(ok.get())["MessageIsSuccess"], "true") << pairsOf(ok.get())["MessageDetails"];
  ASSERT_TRUE(waitUntil([this] { return !lines().empty(); }, 10000ms));
  EXPECT_NE(
      lines()[0].find("|notice|[kestrova@1793 eventId=\"0x0000\" level=\"notice\" device=\"Kestrova Server\" "
                      "sync=\"n\" test=\"y\"]|Kestrova Server: This is a test notification"),
      std::string::npos)
      << lines()[0];

  // Saved without the CA file, events wait in the backlog: nothing goes to a receiver whose
  // certificate can't be trusted.
  TableOwner saved(SetSyslogConfig(untrusted.get()));
  ASSERT_EQ(pairsOf(saved.get())["MessageIsSuccess"], "true");
  ASSERT_EQ(raiseEvent("Ctl A", "Fan failed", 2, 0, 0x210, 0), 0);
  ASSERT_TRUE(waitUntil([] { return notifierCounts("syslog").failed >= 2; }, 10000ms));
  EXPECT_EQ(syslogStreamBacklog(), 1u);
  EXPECT_EQ(lines().size(), 1u);
  EXPECT_EQ(notifierCounts("syslog").sent, 0u);
}

TEST_F(SyslogTlsTest, RestartOfTheCollectorInABurstOfAThousandLosesNothing) {
  TableOwner saved(SetSyslogConfig(form("localhost", true).get()));
  ASSERT_EQ(pairsOf(saved.get())["MessageIsSuccess"], "true");
  constexpr int kBurst = 1000;
  std::thread raiser([] {
    for (int i = 0; i < kBurst; ++i) {
      const std::string message = "burst " + std::to_string(i);
      raiseEvent("Ctl A", message.c_str(), static_cast<uint32_t>(i % 3), 0, 0xB27, 0);
      std::this_thread::sleep_for(2ms);
    }
  });
  const bool midway = waitUntil([this] { return lines().size() >= 250; }, 60000ms);
  collector_.reset();  // SIGTERM, and waited for
  std::this_thread::sleep_for(300ms);  // events keep coming while no collector listens
  startCollector();
  raiser.join();
  ASSERT_TRUE(midway) << "the collector got too little before its restart";

  std::set<int> seen;
  size_t duplicates = 0;
  const bool complete = waitUntil(
      [&] {
        seen.clear();
        duplicates = 0;
        for (const std::string& line : lines()) {
          const size_t at = line.rfind("|(Event ID: 0xB27) burst ");
          if (at == std::string::npos) continue;
          if (!seen.insert(std::stoi(line.substr(at + 25))).second) ++duplicates;
        }
        return seen.size() == static_cast<size_t>(kBurst);
      },
      60000ms);
  EXPECT_TRUE(complete) << seen.size() << " of " << kBurst << " arrived";
  EXPECT_EQ(notifierCounts("syslog").dropped, 0u);
  // Only what was sent within the resend window before the break can come twice.
  EXPECT_LT(duplicates, static_cast<size_t>(kBurst / 2));
  const std::vector<std::string> all = lines();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0].rfind("0x0B27|Kestrova|info|[kestrova@1793 eventId=\"0x0B27\" level=\"information\" "
                         "device=\"Ctl A\" sync=\"n\"]|(Event ID: 0xB27) burst 0",
                         0),
            0u)
      << all[0];
  std::cout << "[ info     ] burst of " << kBurst << ": " << duplicates << " sent twice after the restart\n";
}

}  // namespace
