// SNMPv2c and SNMPv3 traps: the settings page (versions, users, passphrases kept apart and never
// shown), this installation's engine (its ID kept, its boots counted), the notification's bindings,
// and net-snmp's snmptrapd as the receiver: it takes a v3 user (authPriv, SHA-256 and SHA-1 with
// AES-128) and a v2c community, decodes our traps by KESTROVA-MIB's names, and rejects traps made
// with wrong keys or a wrong community.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/property_file.h"
#include "common/thread_manager.h"
#include "server/events/dispatcher.h"
#include "server/events/notifier_test_fixture.h"
#include "server/events/snmp_engine.h"
#include "server/events/snmp_notification.h"
#include "server/events/snmp_sender.h"
#include "server/events/snmp_settings.h"
#include "server/events/snmp_transport.h"

namespace {

using namespace notifier_test;

constexpr char kSnmptrapd[] = "/usr/sbin/snmptrapd";

class SnmpV3PagesTest : public NotifierFolderTest {
 protected:
  void SetUp() override {
    NotifierFolderTest::SetUp();
    resetSnmpEngine();
  }
  void TearDown() override {
    resetSnmpEngine();
    NotifierFolderTest::TearDown();
  }
  static std::map<std::string, std::string> save(const TableOwner& request) {
    return pairsOf(TableOwner(SetSnmpConfig(request.get())).get());
  }
  static TableOwner v3Form(const char* version, const char* id, const char* auth, const char* priv,
                           const char* user = "ops") {
    TableOwner request;
    addVariable(request.address(), "version", version);
    addVariable(request.address(), "SnmpServer0", "traps.example.com");
    addVariable(request.address(), "SnmpVersion0", "3");
    addVariable(request.address(), "SnmpUser0", user);
    addVariable(request.address(), "SnmpAuthProtocol0", "SHA-1");
    if (id != nullptr) addVariable(request.address(), "SnmpId0", id);
    if (auth != nullptr) addVariable(request.address(), "SnmpAuthKey0", auth);
    if (priv != nullptr) addVariable(request.address(), "SnmpPrivKey0", priv);
    addVariable(request.address(), "SnmpErr0", "true");
    addVariable(request.address(), "SnmpServer1", "10.0.0.2");
    addVariable(request.address(), "SnmpVersion1", "2c");
    addVariable(request.address(), "SnmpCommunity1", "c2");
    return request;
  }
};

TEST_F(SnmpV3PagesTest, VersionsUsersAndPassphrasesKeptApart) {
  auto saved = save(v3Form("0", nullptr, "auth-secret-1", "priv-secret-1"));
  ASSERT_EQ(saved["MessageIsSuccess"], "true") << saved["MessageDetails"];
  EXPECT_EQ(saved["SnmpLoop0SnmpVersion"], "3");
  EXPECT_EQ(saved["SnmpLoop0SnmpUser"], "ops");
  EXPECT_EQ(saved["SnmpLoop0SnmpAuthProtocol"], "SHA-1");
  EXPECT_EQ(saved["SnmpLoop0SnmpKeysStored"], "true");
  EXPECT_EQ(saved["SnmpLoop1SnmpVersion"], "2c");
  EXPECT_EQ(saved["SnmpLoop1SnmpKeysStored"], "false");
  for (const auto& [key, value] : saved) EXPECT_EQ(value.find("secret-1"), std::string::npos) << key;
  const std::string ini = readFile(kSnmpIniPath);
  EXPECT_EQ(ini.find("secret-1"), std::string::npos);
  EXPECT_EQ(ini.find("SnmpVersion2"), std::string::npos);
  struct stat info {};
  ASSERT_EQ(stat(kSnmpSecretPath, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string id = saved["SnmpLoop0SnmpId"];
  ASSERT_EQ(id.size(), 16u);

  // Saved again with the passphrase fields empty: the stored ones stay, under the same identity.
  auto again = save(v3Form("1", id.c_str(), nullptr, nullptr, "ops2"));
  ASSERT_EQ(again["MessageIsSuccess"], "true") << again["MessageDetails"];
  EXPECT_EQ(again["SnmpLoop0SnmpId"], id);
  SnmpReceivers receivers;
  ASSERT_TRUE(readSnmpReceivers(&receivers));
  EXPECT_TRUE(receivers[0].complete);
  EXPECT_EQ(receivers[0].version, SnmpVersion::kV3);
  EXPECT_EQ(receivers[0].user, "ops2");
  EXPECT_FALSE(receivers[0].sha256);
  EXPECT_EQ(receivers[0].authKey, "auth-secret-1");
  EXPECT_EQ(receivers[0].privKey, "priv-secret-1");
  EXPECT_EQ(receivers[1].version, SnmpVersion::kV2c);
  EXPECT_TRUE(receivers[1].complete);

  // A version 3 receiver without passphrases, with short or forged ones, or a user with blanks,
  // is refused and the stored settings stay.
  const std::string before = readFile(kSnmpIniPath);
  const std::string secretsBefore = readFile(kSnmpSecretPath);
  for (const auto& form :
       {v3Form("2", "00000000000000ff", nullptr, nullptr), v3Form("2", id.c_str(), "short", nullptr),
        v3Form("2", id.c_str(), "auth-secret-2\nSnmpAuthKeyx = y", nullptr),
        v3Form("2", id.c_str(), " padded-secret", nullptr),
        v3Form("2", id.c_str(), nullptr, nullptr, "two words"),
        v3Form("2", id.c_str(), nullptr, nullptr, "")}) {
    auto refused = save(form);
    EXPECT_EQ(refused["MessageIsSuccess"], "false");
  }
  TableOwner badVersion = v3Form("2", id.c_str(), nullptr, nullptr);
  replaceVariable(badVersion.address(), "SnmpVersion0", "4");
  EXPECT_EQ(save(badVersion)["MessageIsSuccess"], "false");
  EXPECT_EQ(readFile(kSnmpIniPath), before);
  EXPECT_EQ(readFile(kSnmpSecretPath), secretsBefore);

  // Back to version 1: no passphrases are kept for it.
  TableOwner v1;
  addVariable(v1.address(), "version", "2");
  addVariable(v1.address(), "SnmpServer0", "traps.example.com");
  ASSERT_EQ(save(v1)["MessageIsSuccess"], "true");
  EXPECT_FALSE(std::filesystem::exists(kSnmpSecretPath));
}

TEST_F(SnmpV3PagesTest, EngineIdIsKeptAndBootsCount) {
  const SnmpEngine first = snmpEngine();
  ASSERT_EQ(first.id.size(), 13u);
  EXPECT_EQ(snmpEngineIdText(first).rfind("0x8000070105", 0), 0u);
  EXPECT_EQ(first.boots, 1u);
  EXPECT_EQ(storedSnmpEngineId(), snmpEngineIdText(first));
  resetSnmpEngine();  // the next start of the program
  const SnmpEngine second = snmpEngine();
  EXPECT_EQ(second.id, first.id);
  EXPECT_EQ(second.boots, 2u);
  // A damaged file gives a new engine rather than a broken one.
  writeFile(kSnmpEnginePath, "EngineId = 0x1234\nEngineBoots = lots\n");
  resetSnmpEngine();
  const SnmpEngine third = snmpEngine();
  EXPECT_NE(third.id, first.id);
  EXPECT_EQ(third.boots, 1u);
}

TEST(SnmpNotificationTest, BindingsOfKestrovaMib) {
  EventRecord record{const_cast<char*>("(Event ID: 0xB27) Drive failed"),
                     const_cast<char*>("Ctl A"),
                     2,
                     1701853503,
                     0,
                     0xB27,
                     0};
  const std::vector<SnmpBinding> bindings = snmpNotificationBindings(record, 12345);
  ASSERT_EQ(bindings.size(), 10u);
  EXPECT_EQ(snmpOidText(bindings[0].name), "1.3.6.1.2.1.1.3.0");
  EXPECT_EQ(bindings[0].number, 12345u);
  EXPECT_EQ(snmpOidText(bindings[1].name), "1.3.6.1.6.3.1.1.4.1.0");
  EXPECT_EQ(snmpOidText(bindings[1].objectId), "1.3.6.1.4.1.1793.0.2");
  EXPECT_EQ(snmpOidText(bindings[2].name), "1.3.6.1.4.1.1793.1.1.1.0");
  EXPECT_EQ(bindings[2].number, 0xB27u);
  EXPECT_EQ(bindings[4].text, "Ctl A");
  EXPECT_EQ(bindings[5].text, "(Event ID: 0xB27) Drive failed");
  EXPECT_EQ(bindings[6].number, 1701853503u);
  EXPECT_EQ(bindings[7].number, 1u) << "an event outside every condition";
  EXPECT_EQ(snmpOidText(snmpNotificationOid(0)), "1.3.6.1.4.1.1793.0.10");
  EXPECT_EQ(snmpOidText(snmpNotificationOid(1)), "1.3.6.1.4.1.1793.0.1");
  EXPECT_EQ(snmpOidText(snmpNotificationOid(3)), "1.3.6.1.4.1.1793.0.1");
  EXPECT_EQ(snmpOidText(snmpNotificationOid(4)), "1.3.6.1.4.1.1793.0.4");
  record.concernLevel = 7;
  EXPECT_EQ(snmpNotificationBindings(record, 0)[3].number, 1u) << "other levels go as warnings";
  const std::string long_(3000, 'x');
  record.message = const_cast<char*>(long_.c_str());
  EXPECT_EQ(snmpNotificationBindings(record, 0)[5].text.size(), 1500u);
}

// snmptrapd with a v3 user for our engine and a v2c community, decoding by KESTROVA-MIB.
class SnmpTrapdV3Test : public NotifierFolderTest {
 protected:
  void SetUp() override {
    NotifierFolderTest::SetUp();
    if (access(kSnmptrapd, X_OK) != 0)
      GTEST_SKIP() << kSnmptrapd << " is not installed (scripts/bootstrap.sh)";
    resetSnmpEngine();
    engine_ = snmpEngineIdText(snmpEngine());
    port_ = unusedUdpPort();
    ASSERT_NE(port_, 0);
    writeFile(
        "snmptrapd.conf",
        "createUser -e " + engine_ +
            " sha256user SHA-256 auth-passphrase-256 AES priv-passphrase-256\n"
            "createUser -e " +
            engine_ +
            " sha1user SHA auth-passphrase-1 AES priv-passphrase-1\n"
            "authUser log sha256user priv\nauthUser log sha1user priv\nauthCommunity log kestrova-2c\n");
    const std::string mibs =
        (sourceFolder() / "tests/support/mibs").string() + ":" + (sourceFolder() / "data/mibs").string();
    peer_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{kSnmptrapd, "-f", "-Lo", "-M", mibs, "-m", "SNMPv2-MIB:KESTROVA-MIB", "-C",
                                 "-c", path("snmptrapd.conf"), "--persistentDir=" + path("trapd-state"), "-F",
                                 "TRAP security=%P vars=%v\n", "udp:127.0.0.1:" + std::to_string(port_)},
        path("snmptrapd.out"));
    ASSERT_TRUE(peer_->started());
    ASSERT_TRUE(waitUntil([this] { return udpPortTaken(port_) || !peer_->running(); }, 10000ms));
    ASSERT_TRUE(peer_->running()) << peer_->output();
  }
  void TearDown() override {
    serverControl().serverRunning.store(0);
    stopNotificationChannels();
    peer_.reset();
    resetSnmpEngine();
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
  SnmpReceiver receiver(SnmpVersion version, const char* userOrCommunity, const char* auth = "",
                        const char* priv = "", bool sha256 = true) const {
    SnmpReceiver r;
    r.server = "127.0.0.1";
    r.port = std::to_string(port_);
    r.filter = "111";
    r.version = version;
    r.complete = true;
    if (version == SnmpVersion::kV3) {
      r.user = userOrCommunity;
      r.authKey = auth;
      r.privKey = priv;
      r.sha256 = sha256;
    } else {
      r.community = userOrCommunity;
    }
    return r;
  }

  std::string engine_;
  uint16_t port_ = 0;
  std::unique_ptr<PeerProcess> peer_;
};

TEST_F(SnmpTrapdV3Test, DecodedByOurMibAndWrongKeysRejected) {
  EventRecord record{const_cast<char*>("(Event ID: 0xB27) Drive ID 3 in slot 3 failed."),
                     const_cast<char*>("Ctl A"),
                     2,
                     1701853503,
                     0,
                     0xB27,
                     0};
  // Wrong keys, a wrong protocol and a wrong community first: snmptrapd must drop them all.
  EXPECT_EQ(
      sendSnmpTrapTo(receiver(SnmpVersion::kV3, "sha256user", "wrong-passphrase", "priv-passphrase-256"),
                     record, 0),
      "");
  EXPECT_EQ(sendSnmpTrapTo(receiver(SnmpVersion::kV3, "sha256user", "auth-passphrase-256", "wrong-privacy"),
                           record, 0),
            "");
  EXPECT_EQ(
      sendSnmpTrapTo(receiver(SnmpVersion::kV3, "sha1user", "auth-passphrase-1", "priv-passphrase-1", true),
                     record, 0),
      "");
  EXPECT_EQ(sendSnmpTrapTo(receiver(SnmpVersion::kV2c, "not-the-community"), record, 0), "");
  EXPECT_NE(
      sendSnmpTrapTo(receiver(SnmpVersion::kV3, "sha256user", "short", "priv-passphrase-256"), record, 0), "")
      << "a passphrase under 8 characters is refused before anything is sent";
  // Then the right ones.
  EXPECT_EQ(
      sendSnmpTrapTo(receiver(SnmpVersion::kV3, "sha256user", "auth-passphrase-256", "priv-passphrase-256"),
                     record, 0),
      "");
  EXPECT_EQ(
      sendSnmpTrapTo(receiver(SnmpVersion::kV3, "sha1user", "auth-passphrase-1", "priv-passphrase-1", false),
                     record, 0),
      "");
  EXPECT_EQ(sendSnmpTrapTo(receiver(SnmpVersion::kV2c, "kestrova-2c"), record, 0), "");
  ASSERT_TRUE(waitUntil([this] { return trapLines().size() >= 3; }, 10000ms)) << peer_->output();
  // a trap too many would be here by now
  std::this_thread::sleep_for(500ms);
  const std::vector<std::string> lines = trapLines();
  ASSERT_EQ(lines.size(), 3u) << peer_->output();
  EXPECT_NE(lines[0].find("sha256user"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("sha1user"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("kestrova-2c"), std::string::npos) << lines[2];
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("SNMPv2-MIB::snmpTrapOID.0 = OID: KESTROVA-MIB::kestrovaErrorEvent"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("KESTROVA-MIB::kestrovaEventId.0 = Gauge32: 2855"), std::string::npos) << line;
    EXPECT_NE(line.find("KESTROVA-MIB::kestrovaEventDevice.0 = STRING: Ctl A"), std::string::npos) << line;
    EXPECT_NE(
        line.find(
            "KESTROVA-MIB::kestrovaEventMessage.0 = STRING: (Event ID: 0xB27) Drive ID 3 in slot 3 failed."),
        std::string::npos)
        << line;
    EXPECT_NE(line.find("KESTROVA-MIB::kestrovaEventState.0 = INTEGER: event(1)"), std::string::npos) << line;
  }
}

// The page's save and test button, and an event through the server's channel, for both versions.
TEST_F(SnmpTrapdV3Test, TestButtonAndEventsThroughTheChannel) {
  TableOwner request;
  addVariable(request.address(), "version", "0");
  addVariable(request.address(), "SnmpServer0", "localhost");
  addVariable(request.address(), "SnmpPort0", std::to_string(port_).c_str());
  addVariable(request.address(), "SnmpVersion0", "3");
  addVariable(request.address(), "SnmpUser0", "sha256user");
  addVariable(request.address(), "SnmpAuthKey0", "auth-passphrase-256");
  addVariable(request.address(), "SnmpPrivKey0", "priv-passphrase-256");
  addVariable(request.address(), "SnmpWarn0", "true");
  addVariable(request.address(), "SnmpServer1", "127.0.0.1");
  addVariable(request.address(), "SnmpPort1", std::to_string(port_).c_str());
  addVariable(request.address(), "SnmpVersion1", "2c");
  addVariable(request.address(), "SnmpCommunity1", "kestrova-2c");
  addVariable(request.address(), "SnmpInfo1", "true");
  TableOwner tested(TestSnmpConfig(request.get()));
  EXPECT_EQ(pairsOf(tested.get())["MessageIsSuccess"], "true") << pairsOf(tested.get())["MessageDetails"];
  ASSERT_TRUE(waitUntil([this] { return trapLines().size() >= 2; }, 10000ms)) << peer_->output();
  EXPECT_NE(trapLines()[0].find("KESTROVA-MIB::kestrovaNoticeEvent"), std::string::npos) << trapLines()[0];

  ASSERT_EQ(pairsOf(TableOwner(SetSnmpConfig(request.get())).get())["MessageIsSuccess"], "true");
  ASSERT_TRUE(initThreadManager());
  serverControl().serverRunning.store(1);
  ASSERT_TRUE(startNotificationChannels());
  ASSERT_EQ(raiseEvent("Ctl B", "Battery charge low", 1, 0, 0xB42, 0), 0);     // v3 only
  ASSERT_EQ(raiseEvent("Server", "User admin logged in", 0, 0, 0x108, 0), 0);  // v2c only
  ASSERT_TRUE(waitUntil([this] { return trapLines().size() >= 4; }, 10000ms)) << peer_->output();
  // a trap too many would be here by now
  std::this_thread::sleep_for(300ms);
  const std::vector<std::string> lines = trapLines();
  ASSERT_EQ(lines.size(), 4u);
  std::string events = lines[2] + "\n" + lines[3];
  EXPECT_NE(events.find("KESTROVA-MIB::kestrovaWarningEvent"), std::string::npos) << events;
  EXPECT_NE(events.find("KESTROVA-MIB::kestrovaInformationEvent"), std::string::npos) << events;
  EXPECT_NE(events.find("Battery charge low"), std::string::npos) << events;
}

}  // namespace
