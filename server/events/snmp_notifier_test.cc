// Tests of the SNMP notifier: its settings pages (edit counter, renumbering, defaults, refused
// values, the in-use wait), the receiver filters of the sender, and traps decoded by net-snmp's
// snmptrapd as a real peer, both the page's test trap and an event raised through the dispatcher.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "common/property_file.h"
#include "common/thread_manager.h"
#include "server/events/channel_handlers.h"
#include "server/events/dispatcher.h"
#include "server/events/notifier_test_fixture.h"
#include "server/events/snmp_sender.h"
#include "server/events/snmp_settings.h"
#include "server/request/local_addresses.h"

namespace {

using namespace notifier_test;

constexpr char kSnmptrapd[] = "/usr/sbin/snmptrapd";

class SnmpPagesTest : public NotifierFolderTest {
 protected:
  // A save request of the given rows (index -> server, community, port, IWE booleans "iwe").
  struct Row {
    int index;
    const char* server;
    const char* community;
    const char* port;
    const char* iwe;
  };
  static TableOwner saveRequest(const char* version, std::initializer_list<Row> rows) {
    TableOwner request;
    if (version != nullptr) addVariable(request.address(), "version", version);
    for (const Row& row : rows) {
      const std::string n = std::to_string(row.index);
      if (row.server) addVariable(request.address(), ("SnmpServer" + n).c_str(), row.server);
      if (row.community) addVariable(request.address(), ("SnmpCommunity" + n).c_str(), row.community);
      if (row.port) addVariable(request.address(), ("SnmpPort" + n).c_str(), row.port);
      addVariable(request.address(), ("SnmpInfo" + n).c_str(), row.iwe[0] == '1' ? "true" : "false");
      addVariable(request.address(), ("SnmpWarn" + n).c_str(), row.iwe[1] == '1' ? "1" : "0");
      addVariable(request.address(), ("SnmpErr" + n).c_str(), row.iwe[2] == '1' ? "true" : "no");
    }
    return request;
  }
  static std::map<std::string, std::string> save(const TableOwner& request) {
    TableOwner reply(SetSnmpConfig(request.get()));
    return pairsOf(reply.get());
  }
};

TEST_F(SnmpPagesTest, SaveRenumbersWithoutGapsAndFillsDefaults) {
  auto reply = save(saveRequest("0", {{0, "trap.example.com", "secret", "1162", "111"},
                                      {3, "10.0.0.9", "", " 99", "010"},
                                      {4, "", "x", "1", "111"},  // empty server: skipped
                                      {7, "  10.0.0.7 ", " lead", nullptr, "001"}}));
  EXPECT_EQ(reply["MessageSummary"], "Saving the SNMP settings completed successfully.");
  EXPECT_EQ(reply["MessageIsSuccess"], "true");
  EXPECT_EQ(reply["HTMLPath"], "../Server/other/setting_snmp.htm");
  EXPECT_EQ(reply["version"], "1");
  EXPECT_EQ(reply["SnmpLoop"], "3");
  EXPECT_EQ(reply["TotalSnmp"], "3");
  EXPECT_EQ(reply["SnmpLoop0SnmpServer"], "trap.example.com");
  EXPECT_EQ(reply["SnmpLoop0SnmpCommunity"], "secret");
  EXPECT_EQ(reply["SnmpLoop0SnmpIWE"], "111");
  EXPECT_EQ(reply["SnmpLoop0SnmpPort"], "1162");
  EXPECT_EQ(reply["SnmpLoop1SnmpServer"], "10.0.0.9");
  EXPECT_EQ(reply["SnmpLoop1SnmpCommunity"], "public");
  EXPECT_EQ(reply["SnmpLoop1SnmpPort"], "162");  // a port beginning with a space takes the default
  EXPECT_EQ(reply["SnmpLoop1SnmpIWE"], "010");
  EXPECT_EQ(reply["SnmpLoop2SnmpServer"], "10.0.0.7");
  EXPECT_EQ(reply["SnmpLoop2SnmpCommunity"], "public");
  EXPECT_EQ(reply["SnmpLoop2SnmpPort"], "162");
  EXPECT_EQ(reply["SnmpLoop2SnmpIWE"], "001");

  // The file reads back as the same settings, behind its header line.
  const std::string file = readFile("db/snmp.ini");
  EXPECT_EQ(file.rfind(std::string("\0\n'", 3) + kSnmpIniHeader + "\n", 0), 0u) << file;
  TableOwner reread(readPropertyFile(kSnmpIniPath));
  EXPECT_TRUE(compareVariableTables(reread.get(), serverSettings().snmp));
  EXPECT_EQ(getVariable(reread.get(), "SnmpServer3"), nullptr);
}

TEST_F(SnmpPagesTest, SaveNeedsTheCurrentVersion) {
  auto missing = save(saveRequest(nullptr, {{0, "10.0.0.1", "c", "162", "111"}}));
  EXPECT_EQ(missing["MessageSummary"], "Saving the SNMP settings failed.");
  EXPECT_EQ(missing["MessageDetails"].rfind("The request is missing required fields.", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists("db/snmp.ini"));

  ASSERT_EQ(save(saveRequest("5", {{0, "10.0.0.1", "c", "162", "111"}}))["version"], "6");
  auto stale = save(saveRequest("5", {{0, "10.0.0.2", "c", "162", "111"}}));
  EXPECT_EQ(stale["MessageIsSuccess"], "false");
  EXPECT_EQ(stale["MessageDetails"].rfind("The settings were changed by another user", 0), 0u);
  EXPECT_EQ(stale["SnmpLoop0SnmpServer"], "10.0.0.1");
  EXPECT_EQ(save(saveRequest("abc", {{0, "10.0.0.2", "c", "162", "111"}}))["MessageIsSuccess"], "false");

  auto next = save(saveRequest("6", {}));  // saving no receivers clears them
  EXPECT_EQ(next["MessageIsSuccess"], "true");
  EXPECT_EQ(next["version"], "7");
  EXPECT_EQ(next["SnmpLoop"], "0");
}

TEST_F(SnmpPagesTest, UnusableValuesAreRefusedAndTheOldSettingsStay) {
  ASSERT_EQ(save(saveRequest("0", {{0, "10.0.0.1", "c", "162", "111"}}))["MessageIsSuccess"], "true");
  const std::string before = readFile("db/snmp.ini");
  const Row bad[] = {
      {0, "10.0.0.2\r\nSnmpServer1 = evil", "c", "162", "111"},  // a line break would forge a key
      {0, "10.0.0.2", "c\nversion = 99", "162", "111"},
      {0, "10.0.0.2", "c", "abc", "111"},
      {0, "10.0.0.2", "c", "70000", "111"},
      {0, "10.0.0.2", "c", "0", "111"},
      {0, "host name", "c", "162", "111"},
  };
  for (const Row& row : bad) {
    auto reply = save(saveRequest("1", {row}));
    EXPECT_EQ(reply["MessageIsSuccess"], "false") << row.server << "/" << row.community << "/" << row.port;
    EXPECT_EQ(reply["MessageDetails"].find("missing"), std::string::npos);
    EXPECT_EQ(reply["SnmpLoop0SnmpServer"], "10.0.0.1");
  }
  EXPECT_EQ(readFile("db/snmp.ini"), before);
}

TEST_F(SnmpPagesTest, PageListsReceiversUpToTheFirstGap) {
  addVariable(&serverSettings().snmp, "SnmpServer0", "10.0.0.1");
  addVariable(&serverSettings().snmp, "SnmpServer2", "10.0.0.3");
  TableOwner reply(GetSnmpConfig(nullptr));
  auto page = pairsOf(reply.get());
  EXPECT_EQ(page["SnmpLoop"], "1");
  EXPECT_EQ(page["SnmpLoop0SnmpServer"], "10.0.0.1");
  EXPECT_EQ(page["SnmpLoop0SnmpCommunity"], "");  // absent values show empty
  EXPECT_EQ(page["version"], "");
  EXPECT_EQ(page.count("SnmpLoop1SnmpServer"), 0u);
}

TEST_F(SnmpPagesTest, PagesGiveUpWhenTheSettingsStayInUse) {
  serverSettings().snmpInUse.store(5);  // the sender holds them
  testing::internal::CaptureStdout();
  TableOwner page(GetSnmpConfig(nullptr));
  TableOwner saved(SetSnmpConfig(saveRequest("0", {{0, "10.0.0.1", "c", "162", "111"}}).get()));
  const std::string console = testing::internal::GetCapturedStdout();
  auto pagePairs = pairsOf(page.get());
  EXPECT_EQ(pagePairs["Message"], "Timed out while waiting for SNMP configuration file for script.");
  EXPECT_EQ(pagePairs["HTMLPath"], "../Common/CommonErrorPanel.htm");
  auto savePairs = pairsOf(saved.get());
  EXPECT_EQ(savePairs["MessageIsSuccess"], "false");
  EXPECT_EQ(savePairs["MessageDetails"].rfind("The settings are in use by another task.", 0), 0u);
  EXPECT_NE(console.find("Timed out while waiting for SNMP configuration file to add an entry."),
            std::string::npos);
  EXPECT_EQ(serverSettings().snmpInUse.load(), 5);  // never taken from its holder
  EXPECT_FALSE(std::filesystem::exists("db/snmp.ini"));

  serverSettings().snmpInUse.store(0);
  TableOwner later(GetSnmpConfig(nullptr));
  EXPECT_EQ(pairsOf(later.get())["HTMLPath"], "../Server/other/setting_snmp.htm");
  EXPECT_EQ(serverSettings().snmpInUse.load(), 0);
}

TEST_F(SnmpPagesTest, TestUsesTheFormAndTellsWhereNothingListens) {
  TableOwner none(TestSnmpConfig(nullptr));
  auto pairs = pairsOf(none.get());
  EXPECT_EQ(pairs["MessageSummary"], "Sending the test SNMP trap failed.");
  EXPECT_EQ(pairs["MessageDetails"], "no receiver configured");
  EXPECT_EQ(pairs["HTMLPath"], "../Server/other/setting_snmp.htm");

  UdpReceiver listening(2000);
  const uint16_t closed = unusedUdpPort();
  TableOwner form = saveRequest("4", {{0, "127.0.0.1", "c0", listening.portText().c_str(), "111"},
                                      {1, "127.0.0.1", "c1", std::to_string(closed).c_str(), "001"}});
  TableOwner tested(TestSnmpConfig(form.get()));
  pairs = pairsOf(tested.get());
  EXPECT_EQ(pairs["MessageIsSuccess"], "false");
  EXPECT_EQ(pairs["MessageDetails"], "127.0.0.1:" + listening.portText() + ": sent (this protocol gives no receipt); 127.0.0.1:" +
                                         std::to_string(closed) + ": connection failed: nothing listens on that port");
  EXPECT_EQ(pairs["SnmpLoop1SnmpCommunity"], "c1") << "the form's rows come back unsaved";
  EXPECT_EQ(pairs["version"], "4");
  EXPECT_EQ(serverSettings().snmp, nullptr);
  std::string trap;
  ASSERT_TRUE(listening.receive(&trap));
  EXPECT_NE(trap.find("c0"), std::string::npos);

  TableOwner bad = saveRequest("4", {{0, "host name", "c", "162", "111"}});
  TableOwner refused(TestSnmpConfig(bad.get()));
  EXPECT_EQ(pairsOf(refused.get())["MessageIsSuccess"], "false");
  EXPECT_EQ(pairsOf(refused.get())["SnmpLoop0SnmpServer"], "host name");
}

// A page of a file without an edit counter quotes an empty one; its first save must succeed.
TEST_F(SnmpPagesTest, FileWithoutVersionCanBeSaved) {
  addVariable(&serverSettings().snmp, "SnmpServer0", "10.0.0.1");
  TableOwner page(GetSnmpConfig(nullptr));
  const std::string quoted = pairsOf(page.get())["version"];
  EXPECT_EQ(quoted, "");
  auto saved = save(saveRequest(quoted.c_str(), {{0, "10.0.0.2", "c", "162", "111"}}));
  EXPECT_EQ(saved["MessageIsSuccess"], "true") << saved["MessageDetails"];
  EXPECT_EQ(saved["version"], "1");
  EXPECT_EQ(save(saveRequest("", {{0, "10.0.0.3", "c", "162", "111"}}))["MessageIsSuccess"], "false")
      << "once the file has a counter, an empty one is out of date";
}

// With the default timings a stuck in-use word gives up after about 5 s, not minutes.
TEST_F(SnmpPagesTest, StuckInUseWordGivesUpAfterFiveSeconds) {
  setReceiverWaitTimings(kReceiverWaitTimings);
  serverSettings().snmpInUse.store(5);
  const auto start = std::chrono::steady_clock::now();
  TableOwner page(GetSnmpConfig(nullptr));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(pairsOf(page.get())["HTMLPath"], "../Common/CommonErrorPanel.htm");
  EXPECT_GE(waited, 4900ms);
  EXPECT_LT(waited, 30s) << "the wait is bounded by 5 s (generous margin for a loaded machine)";
  serverSettings().snmpInUse.store(0);
}

// The sender against plain UDP sockets: which receivers get which levels.
class SnmpSenderTest : public NotifierFolderTest {
 protected:
  void addReceiver(int slot, const UdpReceiver& receiver, const char* iwe) {
    const std::string n = std::to_string(slot);
    addVariable(&serverSettings().snmp, ("SnmpServer" + n).c_str(), " 127.0.0.1 ");
    addVariable(&serverSettings().snmp, ("SnmpCommunity" + n).c_str(), ("c" + n).c_str());
    addVariable(&serverSettings().snmp, ("SnmpIWE" + n).c_str(), iwe);
    addVariable(&serverSettings().snmp, ("SnmpPort" + n).c_str(), receiver.portText().c_str());
  }
  static void send(uint32_t level) {
    EventRecord record{const_cast<char*>("Ctl A"), const_cast<char*>("Fan failed"), level, 0, 0, 0, 0};
    ASSERT_EQ(sendSnmpNotification(copyEventRecord(&record)), 0);
  }
  // The community of the trap that arrived, or "" when none did.
  static std::string communityOf(UdpReceiver& receiver) {
    std::string datagram;
    if (!receiver.receive(&datagram)) return "";
    const size_t length = static_cast<uint8_t>(datagram.at(6));
    return datagram.substr(7, length);
  }
};

TEST_F(SnmpSenderTest, FiltersSelectLevelsAndGapsDoNotStopTheScan) {
  UdpReceiver info(300), errors(300), gapFilter(300);
  ASSERT_TRUE(info.ok() && errors.ok() && gapFilter.ok());
  addReceiver(0, info, "100");
  addReceiver(2, errors, "001");    // slot 1 is empty
  addReceiver(4, gapFilter, "11");  // too short to be used at all

  send(0);
  EXPECT_EQ(communityOf(info), "c0");
  EXPECT_EQ(communityOf(errors), "");
  send(2);
  EXPECT_EQ(communityOf(info), "");
  EXPECT_EQ(communityOf(errors), "c2");
  send(4);  // passes every filter
  EXPECT_EQ(communityOf(info), "c0");
  EXPECT_EQ(communityOf(errors), "c2");
  send(3);  // beyond the end of every filter
  EXPECT_EQ(communityOf(info), "");
  EXPECT_EQ(communityOf(errors), "");
  EXPECT_EQ(communityOf(gapFilter), "");
  EXPECT_EQ(serverSettings().snmpInUse.load(), 0);
}

TEST_F(SnmpSenderTest, RecordsWithoutTextsOrSettingsAreDropped) {
  EventRecord* empty = static_cast<EventRecord*>(calloc(1, sizeof(EventRecord)));
  EXPECT_EQ(sendSnmpNotification(empty), 2);
  serverSettings().snmpInUse.store(1);
  EventRecord record{const_cast<char*>("d"), const_cast<char*>("m"), 0, 0, 0, 0, 0};
  EXPECT_EQ(sendSnmpNotification(copyEventRecord(&record)), 1);  // the settings stayed in use
  EXPECT_EQ(serverSettings().snmpInUse.load(), 1);
  serverSettings().snmpInUse.store(0);
  EXPECT_EQ(sendSnmpTrap(nullptr, 162, ByteString{1}), 1u);
  EXPECT_EQ(sendSnmpTrap("300.1.1.1", 162, ByteString{1}), kNetGetHostNameFailed);
}

// snmptrapd as the receiver, the traps queued through the server's own channels.
class SnmpTrapdTest : public NotifierFolderTest {
 protected:
  void SetUp() override {
    NotifierFolderTest::SetUp();
    if (access(kSnmptrapd, X_OK) != 0)
      GTEST_SKIP() << kSnmptrapd << " is not installed (scripts/bootstrap.sh)";
    writeFile("snmptrapd.conf", "disableAuthorization yes\n");
    port_ = unusedUdpPort();
    ASSERT_NE(port_, 0);
    peer_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{kSnmptrapd, "-f", "-Lo", "-m", "", "-On", "-n", "-C", "-c",
                                 path("snmptrapd.conf"), "-F",
                                 "TRAP agent=%a enterprise=%N generic=%w specific=%q community=%P vars=%v\n",
                                 "udp:127.0.0.1:" + std::to_string(port_)},
        path("snmptrapd.out"));
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
  std::vector<std::string> trapLines() const {
    std::vector<std::string> lines;
    std::istringstream output(peer_->output());
    for (std::string line; std::getline(output, line);) {
      if (line.rfind("TRAP ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  uint16_t port_ = 0;
  std::unique_ptr<PeerProcess> peer_;
};

TEST_F(SnmpTrapdTest, DecodesTheTestTrapAndAnEventTrap) {
  const std::string portText = std::to_string(port_);
  TableOwner request;
  addVariable(request.address(), "version", "0");
  addVariable(request.address(), "SnmpServer0", "localhost");
  addVariable(request.address(), "SnmpCommunity0", "kestrova");
  addVariable(request.address(), "SnmpPort0", portText.c_str());
  addVariable(request.address(), "SnmpErr0", "true");
  TableOwner saved(SetSnmpConfig(request.get()));
  ASSERT_EQ(pairsOf(saved.get())["MessageIsSuccess"], "true");

  const uint32_t kAgent = 0x0A000105;  // the network's chosen first address: 10.0.1.5
  setLocalAddresses(&kAgent, 1);
  TableOwner tested(TestSnmpConfig(request.get()));
  auto testPairs = pairsOf(tested.get());
  EXPECT_EQ(testPairs["MessageSummary"], "Sending the test SNMP trap completed successfully.");
  EXPECT_EQ(testPairs["SnmpLoop0SnmpPort"], portText);
  ASSERT_TRUE(waitUntil([this] { return trapLines().size() >= 1; }, 5000ms)) << peer_->output();

  ASSERT_EQ(raiseEvent("Ctl A", "Fan failed", 2, 0, 0x301, 0), 0);
  raiseEvent("Ctl A", "only a warning", 1, 0, 0, 0);  // filtered out: errors only
  ASSERT_TRUE(waitUntil([this] { return trapLines().size() >= 2; }, 5000ms)) << peer_->output();
  // a trap too many would be here by now
  std::this_thread::sleep_for(300ms);
  const std::vector<std::string> lines = trapLines();
  ASSERT_EQ(lines.size(), 2u) << peer_->output();

  clearLocalAddresses();
  const std::string agentText = "10.0.1.5";
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("agent=" + agentText + " "), std::string::npos) << line;
    EXPECT_NE(line.find("enterprise=.1.3.6.1.4.1.1793 "), std::string::npos) << line;
    EXPECT_NE(line.find("generic=6 "), std::string::npos) << line;
    EXPECT_NE(line.find("community kestrova"), std::string::npos) << line;
  }
  EXPECT_TRUE(std::regex_search(lines[0], std::regex("specific=\\.?4 "))) << lines[0];
  EXPECT_NE(lines[0].find(".1.3.6.1.2.1.1.1.0 = STRING: \"Kestrova Server: This is a test notification"),
            std::string::npos)
      << lines[0];
  EXPECT_TRUE(std::regex_search(lines[1], std::regex("specific=\\.?2 "))) << lines[1];
  EXPECT_NE(lines[1].find(".1.3.6.1.2.1.1.1.0 = STRING: \"Ctl A: (Event ID: 0x301) Fan failed\""),
            std::string::npos)
      << lines[1];
}

}  // namespace
