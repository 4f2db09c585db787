// Tests of the settings and status pages: saving the preferences (version rules, partner
// addresses, value checks, module enabling with the restart), the rescan request and page, the
// network bar's refresh check and the about page.
#include "server/request/settings_pages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_manager.h"
#include "server/request/page_rows.h"
#include "server/request/request_test_fixture.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;

using std::chrono::steady_clock;

class PrefsTest : public RequestFolderTest {
 protected:
  void SetUp() override {
    RequestFolderTest::SetUp();
    loadSettings(&serverSettings().prefs, "db/prefs.ini", "version = 5\n");
    loadSettings(&serverSettings().ip, "db/IP.db",
                 "MulticastPort = 9191\nIP0 = 239.192.91.91\nIP1 = 10.0.0.1\nIP2 = peer-b\n");
  }

  static std::string stored(VariableTable table, const char* key) {
    const char* value = getVariable(table, key);
    return value != nullptr ? value : "<absent>";
  }
  static std::string onDisk(const char* path, const char* key) {
    TableOwner table(readPropertyFile(path));
    return stored(table.get(), key);
  }
};

TEST_F(PrefsTest, GetShowsStoredValuesAndTenPartnerRows) {
  TableOwner reply(GetPrefsConfig(nullptr));
  auto v = mapOf(reply.get());
  EXPECT_EQ(v["version"], "5");
  EXPECT_EQ(v["MulticastPort"], "9191");
  EXPECT_EQ(v["DirectIpLoop"], "10");
  EXPECT_EQ(v["DirectIpLoop0DirectIpValue"], "10.0.0.1");
  EXPECT_EQ(v["DirectIpLoop1DirectIpValue"], "peer-b");
  EXPECT_EQ(v["DirectIpLoop9DirectIpValue"], "");
  EXPECT_EQ(v.count("DirectIpLoop10DirectIpValue"), 0u);
  EXPECT_EQ(v.count("EnableInband0ModuleEnableLoop"), 0u);  // no modules
  EXPECT_EQ(v["EnableEmbedded"], "0");
  EXPECT_EQ(v["EnableInband"], "1");
  EXPECT_EQ(v["HTMLPath"], "../Server/other/setting_prefs.htm");

  // Absent settings: empty version, no port key.
  freeVariableTable(&serverSettings().prefs);
  freeVariableTable(&serverSettings().ip);
  TableOwner empty(GetPrefsConfig(nullptr));
  auto e = mapOf(empty.get());
  EXPECT_EQ(e["version"], "");
  EXPECT_EQ(e.count("MulticastPort"), 0u);
  EXPECT_EQ(e["DirectIpLoop0DirectIpValue"], "");
}

TEST_F(PrefsTest, SaveStoresValuesRemovesEmptyPartnersAndAdvancesVersion) {
  TableOwner req = request({{"version", "5"},
                            {"MulticastPort", "9300"},
                            {"DirectIpValue0", "192.168.7.1"},
                            {"DirectIpValue2", " host-c.example "},
                            {"DirectIpValue3", ""}});
  TableOwner reply(SetPrefsConfig(req.get()));
  auto v = mapOf(reply.get());
  EXPECT_EQ(v.count("MessageSummary"), 0u);  // a successful save shows only the page
  EXPECT_EQ(v["HTMLPath"], "../Server/other/setting_prefs.htm");
  EXPECT_EQ(v["version"], "6");
  EXPECT_EQ(v["MulticastPort"], "9300");
  EXPECT_EQ(v["DirectIpLoop0DirectIpValue"], "192.168.7.1");
  EXPECT_EQ(v["DirectIpLoop1DirectIpValue"], "");  // the page sent nothing for it: removed
  EXPECT_EQ(v["DirectIpLoop2DirectIpValue"], "host-c.example");

  for (VariableTable table : {serverSettings().ip, static_cast<VariableTable>(nullptr)}) {
    // The live table and the file agree.
    auto get = [&](const char* key) {
      return table != nullptr ? stored(table, key) : onDisk("db/IP.db", key);
    };
    EXPECT_EQ(get("MulticastPort"), "9300");
    EXPECT_EQ(get("IP1"), "192.168.7.1");
    EXPECT_EQ(get("IP2"), "<absent>");
    EXPECT_EQ(get("IP3"), "host-c.example");
    EXPECT_EQ(get("IP4"), "<absent>");
    EXPECT_EQ(get("IP0"), "239.192.91.91");  // the multicast group is not a partner
  }
  EXPECT_EQ(onDisk("db/prefs.ini", "version"), "6");
  EXPECT_EQ(stored(serverSettings().prefs, "version"), "6");

  // A second save from the same page is now stale: it cannot overwrite the first unknowingly.
  TableOwner again = request({{"version", "5"}, {"MulticastPort", "9400"}});
  TableOwner stale(SetPrefsConfig(again.get()));
  EXPECT_EQ(mapOf(stale.get())["MessageDetails"], "stale page");
  EXPECT_EQ(stored(serverSettings().ip, "MulticastPort"), "9300");
}

TEST_F(PrefsTest, StaleVersionChangesNothingButTheCounter) {
  const std::string ipBefore = readBytes("db/IP.db");
  const std::string prefsBefore = readBytes("db/prefs.ini");
  TableOwner req = request({{"version", "3"}, {"MulticastPort", "9300"}, {"DirectIpValue0", "10.9.9.9"}});
  TableOwner reply(SetPrefsConfig(req.get()));
  auto v = mapOf(reply.get());
  EXPECT_EQ(v["MessageSummary"], "Saving prefs failed.");
  EXPECT_EQ(v["MessageDetails"], "stale page");
  EXPECT_EQ(v["MessageIsSuccess"], "false");
  EXPECT_EQ(v["MessageImageSrc"], "/images/popup_error.gif");
  // The page that follows shows the current settings and the new counter.
  EXPECT_EQ(v["version"], "4");
  EXPECT_EQ(v["MulticastPort"], "9191");
  EXPECT_EQ(v["DirectIpLoop0DirectIpValue"], "10.0.0.1");
  EXPECT_EQ(stored(serverSettings().prefs, "version"), "4");
  EXPECT_EQ(readBytes("db/IP.db"), ipBefore);
  EXPECT_EQ(readBytes("db/prefs.ini"), prefsBefore);
  // That page can save now.
  TableOwner retry = request({{"version", "4"}, {"MulticastPort", "9300"}});
  TableOwner ok(SetPrefsConfig(retry.get()));
  EXPECT_EQ(mapOf(ok.get()).count("MessageSummary"), 0u);
  EXPECT_EQ(onDisk("db/prefs.ini", "version"), "5");
}

TEST_F(PrefsTest, MissingOrMalformedVersionIsRefused) {
  for (const char* version : {static_cast<const char*>(nullptr), "", "abc", "5x", "-1", "99999999999"}) {
    TableOwner req;
    if (version != nullptr) addVariable(req.address(), "version", version);
    addVariable(req.address(), "MulticastPort", "9300");
    TableOwner reply(SetPrefsConfig(req.get()));
    auto v = mapOf(reply.get());
    EXPECT_EQ(v["MessageDetails"], "missing fields") << (version ? version : "(none)");
    EXPECT_EQ(v["version"], "5");
    EXPECT_EQ(stored(serverSettings().ip, "MulticastPort"), "9191");
  }
}

TEST_F(PrefsTest, SimultaneousSavesFromOnePageLetOnlyOneThrough) {
  const char* ports[] = {"9301", "9302", "9303", "9304"};
  std::atomic<int> saved{0};
  std::atomic<int> stale{0};
  std::vector<std::thread> savers;
  for (const char* port : ports) {
    savers.emplace_back([&saved, &stale, port] {
      TableOwner req = request({{"version", "5"}, {"MulticastPort", port}});
      TableOwner reply(SetPrefsConfig(req.get()));
      auto v = mapOf(reply.get());
      if (v.count("MessageSummary") == 0) ++saved;
      if (v["MessageDetails"] == "stale page") ++stale;
    });
  }
  // Pages read the tables while they change.
  for (int i = 0; i < 20; ++i) TableOwner page(GetPrefsConfig(nullptr));
  for (std::thread& saver : savers) saver.join();
  EXPECT_EQ(saved.load(), 1);
  EXPECT_EQ(stale.load(), 3);
  EXPECT_EQ(onDisk("db/IP.db", "MulticastPort"), stored(serverSettings().ip, "MulticastPort"));
  EXPECT_EQ(onDisk("db/prefs.ini", "version"), "6");
}

TEST_F(PrefsTest, InvalidValuesAreRefusedAndNothingIsStored) {
  const std::string ipBefore = readBytes("db/IP.db");
  struct Case {
    const char* key;
    const char* value;
    const char* details;
  } cases[] = {
      {"MulticastPort", "0", "bad port"},
      {"MulticastPort", "65536", "bad port"},
      {"MulticastPort", "91x", "bad port"},
      {"MulticastPort", "-5", "bad port"},
      {"DirectIpValue1", "300.1.1.1", "bad partner"},
      {"DirectIpValue1", "a b", "bad partner"},
      {"DirectIpValue1", "x\nIP1=evil", "bad partner"},
      {"DirectIpValue1", "-host", "bad partner"},
      {"DirectIpValue9", "=", "bad partner"},
  };
  for (const Case& c : cases) {
    TableOwner req = request({{"version", "5"}, {"DirectIpValue0", "10.1.1.1"}, {c.key, c.value}});
    TableOwner reply(SetPrefsConfig(req.get()));
    auto v = mapOf(reply.get());
    EXPECT_EQ(v["MessageDetails"], c.details) << c.value;
    EXPECT_EQ(v["version"], "5") << c.value;
    EXPECT_EQ(stored(serverSettings().ip, "IP1"), "10.0.0.1") << c.value;
  }
  EXPECT_EQ(readBytes("db/IP.db"), ipBefore);
  // An empty port field keeps the stored port.
  TableOwner req = request({{"version", "5"}, {"MulticastPort", ""}});
  TableOwner reply(SetPrefsConfig(req.get()));
  EXPECT_EQ(mapOf(reply.get()).count("MessageSummary"), 0u);
  EXPECT_EQ(stored(serverSettings().ip, "MulticastPort"), "9191");
}

TEST_F(PrefsTest, UnwritableFilesKeepTheSettings) {
  std::filesystem::remove_all("db/IP.db");
  std::filesystem::create_directory("db/IP.db");  // a folder in its place cannot be replaced
  TableOwner req = request({{"version", "5"}, {"MulticastPort", "9300"}});
  testing::internal::CaptureStdout();
  TableOwner reply(SetPrefsConfig(req.get()));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(mapOf(reply.get())["MessageDetails"], "not saved");
  EXPECT_EQ(stored(serverSettings().ip, "MulticastPort"), "9191");
  EXPECT_EQ(stored(serverSettings().prefs, "version"), "5");
}

TEST(PartnerCheckTest, AddressesAndHostNames) {
  for (const char* good : {"10.0.0.1", "peer", "peer-2.example.com", "a", "x1.y2"}) {
    EXPECT_TRUE(isValidPartnerAddress(good)) << good;
  }
  const std::string longLabel(64, 'a');
  const std::string longName = std::string(63, 'a') + "." + std::string(63, 'b') + "." +
                               std::string(63, 'c') + "." + std::string(63, 'd');  // 255 characters
  for (const std::string& bad : {std::string(""), std::string("1.2.3"), std::string("999.1.1.1"),
                                 std::string("host."), std::string(".host"), std::string("a..b"),
                                 std::string("host-"), std::string("ho_st"), longLabel, longName}) {
    EXPECT_FALSE(isValidPartnerAddress(bad.c_str())) << bad;
  }
  EXPECT_TRUE(isValidPortText("1"));
  EXPECT_TRUE(isValidPortText("65535"));
  for (const char* bad : {"", "0", "065", "65536", "100000", "12a", " 80"})
    EXPECT_FALSE(isValidPortText(bad)) << bad;
}

class ModulePrefsTest : public PrefsTest {
 protected:
  void SetUp() override {
    PrefsTest::SetUp();
    initThreadManager();
  }
  void TearDown() override {
    closeThreadManager();
    PrefsTest::TearDown();
  }
};

bool restartThreadListed(const char* tag) {
  for (const ThreadListing& thread : listThreads()) {
    if (thread.tag == tag && (thread.options & kThreadKeep) != 0) return true;
  }
  return false;
}

TEST_F(ModulePrefsTest, EnablingAModuleSavesItAndRestartsAboutASecondLater) {
  installTestModule("TestModule", "ModuleName=Test Module\nModuleEnabled=0\nTabOrder=7\n");
  testing::internal::CaptureStdout();
  loadModules();
  testing::internal::GetCapturedStdout();
  ASSERT_NE(moduleList(), nullptr);
  ASSERT_EQ(moduleList()->enabled, 0);

  TableOwner page(GetPrefsConfig(nullptr));
  auto p = mapOf(page.get());
  EXPECT_EQ(p["EnableInband0ModuleEnableLoop"], "1");
  EXPECT_EQ(p["EnableInband0ModuleEnableLoop0ModEnaID"], "EnableModTestModule");
  EXPECT_EQ(p["EnableInband0ModuleEnableLoop0ModEnaChecked"], "");
  EXPECT_EQ(p["EnableInband0ModuleEnableLoop0ModEnaMoniker"], "Enable - Test Module");

  // Saving with the module's choice unchanged does not restart.
  TableOwner unchanged = request({{"version", "5"}});
  TableOwner quiet(SetPrefsConfig(unchanged.get()));
  EXPECT_FALSE(restartThreadListed("SetPrefsConfig/waitAndThenRestartServer"));

  const auto saved = steady_clock::now();
  TableOwner req = request({{"version", "6"}, {"EnableModTestModule", "true"}});
  TableOwner reply(SetPrefsConfig(req.get()));
  auto v = mapOf(reply.get());
  EXPECT_EQ(v.count("MessageSummary"), 0u);
  EXPECT_EQ(v["EnableInband0ModuleEnableLoop0ModEnaChecked"], "checked");
  EXPECT_EQ(moduleList()->enabled, 1);
  const std::string settings = readBytes("mods/TestModule/TestModuleSettings.ini");
  EXPECT_NE(settings.find("ModuleEnabled=1\n"), std::string::npos) << settings;
  EXPECT_EQ(settings.find("ModuleEnabled=0"), std::string::npos) << settings;
  EXPECT_TRUE(restartThreadListed("SetPrefsConfig/waitAndThenRestartServer"));
  EXPECT_EQ(serverControl().restart.load(), 0);

  EXPECT_TRUE(waitUntil("the delayed restart", [] { return serverControl().restart.load() != 0; },
                        std::chrono::seconds(10), std::chrono::milliseconds(20)));
  EXPECT_EQ(serverControl().restart.load(), 1);
  EXPECT_EQ(serverControl().rescanRequested.load(), 1);
  EXPECT_GE(steady_clock::now() - saved, std::chrono::milliseconds(950));
  // Let the restart thread finish before the folder goes away.
  EXPECT_TRUE(waitUntil(
      [] {
        reapThreads();
        return !restartThreadListed("SetPrefsConfig/waitAndThenRestartServer");
      },
      std::chrono::seconds(10), std::chrono::milliseconds(20)));
}

class StatusPagesTest : public RequestFolderTest {};

TEST_F(StatusPagesTest, RescanPageReturnsToTheRequestedPage) {
  TableOwner bare(GetRescanPage(nullptr));
  auto b = mapOf(bare.get());
  EXPECT_EQ(b["AfterModule"], "server");
  EXPECT_EQ(b["AfterMethod"], "GetMainPage");
  EXPECT_EQ(b["HTMLPath"], "../Common/rescanning.htm");

  TableOwner rescan = request({{"module", "server"}, {"method", "RescanSystem"}});
  TableOwner r(GetRescanPage(rescan.get()));
  EXPECT_EQ(mapOf(r.get())["AfterMethod"], "GetMainPage");

  TableOwner monitor = request({{"module", "Brivo"}, {"method", "GetMonitor"}});
  TableOwner m(GetRescanPage(monitor.get()));
  EXPECT_EQ(mapOf(m.get())["AfterModule"], "Brivo");
  EXPECT_EQ(mapOf(m.get())["AfterMethod"], "GetMonitor");

  TableOwner after =
      request({{"module", "Brivo"}, {"method", "X"}, {"AfterModule", "server"}, {"AfterMethod", "ViewLogs"}});
  TableOwner a(GetRescanPage(after.get()));
  EXPECT_EQ(mapOf(a.get())["AfterModule"], "server");
  EXPECT_EQ(mapOf(a.get())["AfterMethod"], "ViewLogs");
}

TEST_F(StatusPagesTest, RescanStartsOnlyWhenRunningAndNotScanning) {
  initThreadManager();
  TableOwner req = request({{"module", "server"}, {"method", "RescanSystem"}});
  // Server not running, or a scan under way: no restart.
  TableOwner notRunning(RescanSystem(req.get()));
  EXPECT_EQ(mapOf(notRunning.get())["HTMLPath"], "../Common/rescanning.htm");
  EXPECT_EQ(serverControl().rescanRequested.load(), 0);
  serverControl().serverRunning.store(1);
  serverControl().scanning.store(1);
  TableOwner scanning(RescanSystem(req.get()));
  EXPECT_EQ(serverControl().rescanRequested.load(), 0);
  EXPECT_FALSE(restartThreadListed("rescanSystem/waitAndThenRestartServer"));

  serverControl().scanning.store(0);
  TableOwner started(RescanSystem(req.get()));
  EXPECT_EQ(serverControl().rescanRequested.load(), 1);
  EXPECT_TRUE(restartThreadListed("rescanSystem/waitAndThenRestartServer"));
  // A second request while the first is pending starts no second restart.
  TableOwner second(RescanSystem(req.get()));
  int threads = 0;
  for (const ThreadListing& thread : listThreads())
    threads += thread.tag == "rescanSystem/waitAndThenRestartServer";
  EXPECT_EQ(threads, 1);
  EXPECT_TRUE(waitUntil("the delayed restart", [] { return serverControl().restart.load() != 0; },
                        std::chrono::seconds(10), std::chrono::milliseconds(20)));
  EXPECT_EQ(serverControl().restart.load(), 1);
  EXPECT_TRUE(waitUntil(
      [] {
        reapThreads();
        return !restartThreadListed("rescanSystem/waitAndThenRestartServer");
      },
      std::chrono::seconds(10), std::chrono::milliseconds(20)));
  closeThreadManager();
}

TEST_F(StatusPagesTest, PingNeedsUpdateRules) {
  const int changes = serverControl().networkChanges.load();
  auto needUpdate = [](std::initializer_list<std::pair<const char*, const char*>> pairs) {
    TableOwner req = request(pairs);
    TableOwner reply(PingPage(req.get()));
    EXPECT_EQ(mapOf(reply.get())["HTMLPath"], "../Server/main/serverping.html");
    return mapOf(reply.get())["NeedUpdate"];
  };
  const std::string current = std::to_string(changes);
  const std::string older = std::to_string(changes - 1);
  EXPECT_EQ(needUpdate({}), "true");
  EXPECT_EQ(needUpdate({{"NumberOfNetworkChanges", current.c_str()}}), "false");
  EXPECT_EQ(needUpdate({{"NumberOfNetworkChanges", older.c_str()}}), "true");
  EXPECT_EQ(needUpdate({{"NumberOfNetworkChanges", "junk"}}), "true");
  // A bar disabled by a rescan reloads once the rescan is over, not before.
  serverControl().rescanRequested.store(1);
  EXPECT_EQ(needUpdate({{"NumberOfNetworkChanges", current.c_str()}, {"DisabledByRescan", "true"}}), "false");
  serverControl().rescanRequested.store(0);
  EXPECT_EQ(needUpdate({{"NumberOfNetworkChanges", current.c_str()}, {"DisabledByRescan", "true"}}), "true");
  // A page built before the last change.
  serverControl().networkChanges.fetch_add(1);
  EXPECT_EQ(needUpdate({{"NumberOfNetworkChanges", current.c_str()}}), "true");
}

TEST_F(StatusPagesTest, NetworkBarAndAboutPage) {
  loadSettings(&serverSettings().server, "db/server.ini",
               "softwareName = Kestrova SM\nserverVersion = 2.1\ncompanyName = Acme\nserialNumber = SN-1\n");
  const uint32_t own[] = {0xC0A80105};
  setLocalAddresses(own, 1);
  serverControl().rescanRequested.store(1);
  TableOwner bar(GetNetworkInfo(nullptr));
  auto v = mapOf(bar.get());
  EXPECT_EQ(v["SoftwareName"], "Kestrova SM");
  EXPECT_EQ(v["ShowPasswordTab"], "true");
  EXPECT_EQ(v["Ip"], "192.168.1.5");
  EXPECT_FALSE(v["HostName"].empty());
  EXPECT_EQ(v["Status"], "00");
  EXPECT_EQ(v["ButtonsEnabled"], "false");
  EXPECT_EQ(v["NumberOfNetworkChanges"], std::to_string(serverControl().networkChanges.load()));
  EXPECT_EQ(v["UsersLoggedInLoop"], "0");
  EXPECT_EQ(v["ServerLoop"], "0");
  EXPECT_EQ(v["HTMLPath"], "../Server/main/serverbar.html");

  // The user bookkeeping and the network communicator contribute their rows once they run.
  setPageRowsWriter(PageRows::kServerList, [](VariableTable* reply) {
    addVariable(reply, "ServerLoop0Ip", "10.0.0.9");
    addVariable(reply, "ServerLoop", "1");
  });
  TableOwner withServers(GetNetworkInfo(nullptr));
  setPageRowsWriter(PageRows::kServerList, nullptr);
  EXPECT_EQ(mapOf(withServers.get())["ServerLoop"], "1");
  EXPECT_EQ(countOf(withServers.get(), "ServerLoop"), 1);
  EXPECT_EQ(mapOf(withServers.get())["ServerLoop0Ip"], "10.0.0.9");

  TableOwner about(GetAboutPage(nullptr));
  auto a = mapOf(about.get());
  EXPECT_EQ(a["SoftwareName"], "Kestrova SM");
  EXPECT_EQ(a["ServerVersion"], "2.1");
  EXPECT_EQ(a["CompanyName"], "Acme");
  EXPECT_EQ(a["SerialNumber"], "SN-1");
  EXPECT_EQ(a["UpdateButtonLoop"], "0");
  EXPECT_EQ(a["HTMLPath"], "../Server/other/about.htm");
}

}  // namespace
