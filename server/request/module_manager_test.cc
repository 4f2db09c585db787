// Tests of the module manager: scanning mods/, settings and ordering, loading (and failing to
// load), the module table, request routing to modules, tab rows, the global status with its
// cache, saving module settings, the life-cycle calls, and the module's own symbol scope.
#include "server/request/module_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/device_list.h"
#include "common/property_file_io.h"
#include "server/request/module_internal.h"
#include "server/request/module_library.h"
#include "server/request/module_test_fixture.h"
#include "server/server_state.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> listOrder() {
  std::vector<std::string> names;
  for (ModuleRecord* r = moduleList(); r != nullptr; r = r->next) names.push_back(r->name);
  return names;
}

std::string tableLine(const ModuleRecord* r, const char* display) {
  char line[256];
  std::snprintf(line, sizeof(line), "+ Module %-10s ena=%d ord=%d name=%s lib=%x\n", r->name, r->enabled,
                r->tabOrder, display, static_cast<unsigned>(reinterpret_cast<uintptr_t>(r->library)));
  return line;
}

using ModuleManagerTest = ModuleFolderTest;
using test_support::moduleFileName;

TEST_F(ModuleManagerTest, ScanTakesOnlyFoldersHoldingTheirLibrary) {
  installModule("Good", "ModuleEnabled=1\nTabOrder=5\nModuleName=Good One\n");
  fs::create_directories("mods/NoLib");
  writeFile("mods/NoLib/NoLibSettings.ini", "ModuleEnabled=1\n");
  fs::copy_file(builtModule("TestModule"), "mods/" + moduleFileName("Stray"));
  installModule(".Hidden", kNoSettings);
  fs::create_directories("mods/DirLib/" + moduleFileName("DirLib"));  // a folder where the library should be

  const std::string out = loadCapturing();
  ASSERT_EQ(listOrder(), std::vector<std::string>{"Good"});
  ModuleRecord* good = moduleList();
  EXPECT_NE(good->library, nullptr);
  EXPECT_STREQ(good->displayName, "Good One");
  EXPECT_EQ(out,
            "Loading Modules.\n"
            "+---- Module Info ------------------------------------\n" +
                tableLine(good, "Good One") +
                "+-----------------------------------------------------\n"
                "Loading Modules Complete.\n");
  EXPECT_FALSE(fs::exists("mods/NoLib/" + moduleFileName("NoLib")));
  EXPECT_FALSE(fs::exists("mods/.Hidden/.HiddenSettings.ini"));  // never looked at
}

TEST_F(ModuleManagerTest, NoModulesFoundWithEmptyOrAbsentMods) {
  EXPECT_NE(loadCapturing().find("Loading Modules.\nNo modules found.\n+---- Module Info"),
            std::string::npos);
  EXPECT_EQ(moduleList(), nullptr);
  fs::remove("mods");
  EXPECT_NE(loadCapturing().find("No modules found.\n"), std::string::npos);
  EXPECT_EQ(firstEnabledModuleName(), nullptr);
}

TEST_F(ModuleManagerTest, MissingSettingsFileIsCreatedAndTheModuleRunsOnceMore) {
  installModule("Fresh", kNoSettings);
  std::string out = loadCapturing();
  ModuleRecord* fresh = findRecord("Fresh");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->enabled, 1);
  EXPECT_EQ(fresh->tabOrder, 100);
  EXPECT_EQ(fresh->displayName, nullptr);
  EXPECT_NE(fresh->library, nullptr);
  EXPECT_NE(out.find(tableLine(fresh, "(null)")), std::string::npos) << out;
  EXPECT_EQ(readFile("mods/Fresh/FreshSettings.ini"), "ModuleEnabled=0\n");

  unloadModules();
  out = loadCapturing();
  fresh = findRecord("Fresh");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->enabled, 0);
  EXPECT_EQ(fresh->library, nullptr);
  EXPECT_STREQ(fresh->displayName, "(missing)");
  EXPECT_NE(out.find("Module Fresh disabled - not loaded.\n"), std::string::npos);
  EXPECT_EQ(firstEnabledModuleName(), nullptr);
}

TEST_F(ModuleManagerTest, EnabledValuesAndTabOrderRulesAndStableOrder) {
  installModule("Ant", "ModuleEnabled=true\nTabOrder=0\n");     // 0 -> 100
  installModule("Bee", "ModuleEnabled=1\nTabOrder=150\n");      // above 100 -> 100
  installModule("Cat", "TabOrder=50\n");                        // key absent: enabled
  installModule("Dog", "ModuleEnabled=yes\nTabOrder=abc\n");    // disabled; unreadable -> 100
  installModule("Eel", "ModuleEnabled=TRUE\nTabOrder=7\n");     // case matters: disabled
  installModule("Fox", "ModuleEnabled = 1\nTabOrder = 100\n");  // blanks around "=" are fine
  installModule("Gnu", "ModuleEnabled=0\nTabOrder=-3\n");       // negative -> 100

  loadCapturing();
  EXPECT_EQ(listOrder(), (std::vector<std::string>{"Eel", "Cat", "Ant", "Bee", "Dog", "Fox", "Gnu"}));
  std::map<std::string, std::pair<int, int>> seen;
  for (ModuleRecord* r = moduleList(); r != nullptr; r = r->next) seen[r->name] = {r->enabled, r->tabOrder};
  EXPECT_EQ(seen["Ant"], std::make_pair(1, 100));
  EXPECT_EQ(seen["Bee"], std::make_pair(1, 100));
  EXPECT_EQ(seen["Cat"], std::make_pair(1, 50));
  EXPECT_EQ(seen["Dog"], std::make_pair(0, 100));
  EXPECT_EQ(seen["Eel"], std::make_pair(0, 7));
  EXPECT_EQ(seen["Fox"], std::make_pair(1, 100));
  EXPECT_EQ(seen["Gnu"], std::make_pair(0, 100));
  EXPECT_STREQ(firstEnabledModuleName(), "Cat");

  EXPECT_EQ(parseTabOrder("12abc"), 12);
  EXPECT_EQ(parseTabOrder("99999999999999999999"), 100);
  EXPECT_EQ(parseTabOrder(nullptr), 100);
  EXPECT_EQ(parseTabOrder("(missing)"), 100);
}

TEST_F(ModuleManagerTest, LibraryThatFailsToLoadIsReportedOnceAndAnswersMissing) {
  fs::create_directories("mods/Broken");
  writeFile("mods/Broken/" + moduleFileName("Broken"), "");
  writeFile("mods/Broken/BrokenSettings.ini", "ModuleEnabled=1\n");
  installModule("Off", "ModuleEnabled=0\n");

  const std::string out = loadCapturing();
  const size_t failed = out.find("Load module failed.\n");
  ASSERT_NE(failed, std::string::npos) << out;
  EXPECT_EQ(out.find("Load module failed.\n", failed + 1), std::string::npos);
  EXPECT_NE(out.find(moduleFileName("Broken"), failed), std::string::npos)
      << "the loader's reason names the file";
  EXPECT_NE(out.find("Module Off disabled - not loaded.\n"), std::string::npos);

  ModuleRecord* broken = findRecord("Broken");
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(broken->library, nullptr);
  ::testing::internal::CaptureStdout();
  auto reply = call("Broken", "Anything");
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(reply["Message"], "getValuesForParametersFromMod is missing from module: Broken");
  EXPECT_EQ(reply["HTMLPath"], "../Common/CommonErrorPanel.htm");
  EXPECT_EQ(printed, "logServerError: getValuesForParametersFromMod is missing from module: Broken\n");

  // Its tab still shows; without a library it is left out of the shutdown.
  TableOwner tabs(addModuleTabs(nullptr));
  EXPECT_EQ(pairsOf(tabs.get())["Module0ModuleName"], "Broken");
  EXPECT_EQ(pairsOf(tabs.get())["Module"], "1");
  ::testing::internal::CaptureStdout();
  moduleShutdownProcedures(false);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(ModuleManagerTest, CallModuleReplies) {
  installModule("Alpha", "ModuleEnabled=1\n");
  installModule("Bare", "ModuleEnabled=1\n", "BareModule");
  installModule("Sleepy", "ModuleEnabled=0\n");
  loadCapturing();

  auto echo = call("Alpha", "Echo", {{"Color", "blue"}});
  EXPECT_EQ(echo["Color"], "blue");
  EXPECT_TRUE(sameFolder(echo["ModuleFolder"], "mods/Alpha"));

  ::testing::internal::CaptureStdout();
  auto invalid = call("Alpha", "Nope");
  auto bare = call("Bare", "Echo");
  auto lower = call("alpha", "Echo");
  auto disabled = call("Sleepy", "Echo");
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(invalid["Message"], "Invalid method (Nope) called from module: Alpha");
  EXPECT_EQ(invalid["HTMLPath"], "../Common/CommonErrorPanel.htm");
  EXPECT_EQ(bare["Message"], "getValuesForParametersFromMod is missing from module: Bare");
  EXPECT_EQ(lower["Message"], "Could not find a module called: alpha");
  EXPECT_EQ(lower["HTMLPath"], "../Common/CommonErrorPanel.htm");
  EXPECT_EQ(disabled["Message"], "Could not find a module called: Sleepy");
  EXPECT_NE(printed.find("logServerError: Invalid method (Nope) called from module: Alpha\n"),
            std::string::npos);
  EXPECT_NE(printed.find("logServerError: Could not find a module called: alpha\n"), std::string::npos);

  TableOwner none(callModule(nullptr, nullptr, nullptr));
  EXPECT_EQ(pairsOf(none.get())["Message"], "Could not find a module called: (missing)");
}

TEST_F(ModuleManagerTest, TabRowsFollowStatusAndCalledModule) {
  installModule("Alpha", "ModuleEnabled=1\nTabOrder=1\n");
  installModule("Beta", "ModuleEnabled=1\nTabOrder=2\n");
  installModule("Gamma", "ModuleEnabled=1\nTabOrder=3\n");
  installModule("Delta", "ModuleEnabled=0\nTabOrder=4\n");
  loadCapturing();

  struct Case {
    uint32_t alpha, beta, gamma;
    const char* called;
    const char* images[3];
  };
  const Case cases[] = {
      {0,
       1,
       2,
       "Alpha",
       {"/Alpha/images/tabActive.gif", "/Beta/images/tab_warn.gif", "/Gamma/images/tab_fail.gif"}},
      {1,
       3,
       0,
       "Alpha",
       {"/Alpha/images/tabActive_warn.gif", "/Beta/images/tab_fail.gif", "/Gamma/images/tab.gif"}},
      {2,
       0,
       255,
       "Beta",
       {"/Alpha/images/tab_fail.gif", "/Beta/images/tabActive.gif", "/Gamma/images/tab_fail.gif"}},
      {0,
       0,
       1,
       "Gamma",
       {"/Alpha/images/tab.gif", "/Beta/images/tab.gif", "/Gamma/images/tabActive_warn.gif"}},
      {0, 2, 0, nullptr, {"/Alpha/images/tab.gif", "/Beta/images/tab_fail.gif", "/Gamma/images/tab.gif"}},
  };
  for (const Case& c : cases) {
    call("Alpha", "SetStatus", {{"status", std::to_string(c.alpha)}});
    call("Beta", "SetStatus", {{"status", std::to_string(c.beta)}});
    call("Gamma", "SetStatus", {{"status", std::to_string(c.gamma)}});
    getGlobalStatus(true);
    VariableTable reply = nullptr;
    if (c.called != nullptr) addVariable(&reply, "CalledModule", c.called);
    TableOwner tabs(addModuleTabs(reply));
    auto pairs = pairsOf(tabs.get());
    EXPECT_EQ(pairs["HaveGlobalVersion"], "true");
    EXPECT_EQ(pairs["Module"], "3");
    EXPECT_EQ(pairs.count("Module3ModuleName"), 0u) << "the disabled module has no tab";
    const char* names[] = {"Alpha", "Beta", "Gamma"};
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(std::to_string(c.alpha) + "," + std::to_string(c.beta) + "," + std::to_string(c.gamma));
      EXPECT_EQ(pairs["Module" + std::to_string(i) + "ModuleName"], names[i]);
      EXPECT_EQ(pairs["Module" + std::to_string(i) + "ModuleImage"], c.images[i]);
    }
  }
}

TEST_F(ModuleManagerTest, GlobalStatusCombinesInListOrder) {
  installModule("First", "TabOrder=1\n");
  installModule("Second", "TabOrder=2\n");
  installModule("Bare", "TabOrder=3\n", "BareModule");  // no status export: counts as 0
  loadCapturing();
  const uint32_t cases[][3] = {{1, 255, 1}, {255, 1, 255}, {0, 255, 255}, {2, 1, 2}, {1, 2, 2}, {0, 0, 0}};
  for (const auto& c : cases) {
    call("First", "SetStatus", {{"status", std::to_string(c[0])}});
    call("Second", "SetStatus", {{"status", std::to_string(c[1])}});
    EXPECT_EQ(getGlobalStatus(true), c[2]) << c[0] << "," << c[1];
    EXPECT_EQ(findRecord("First")->globalStatus, c[0]);
    EXPECT_EQ(findRecord("Second")->globalStatus, c[1]);
  }
  EXPECT_EQ(combineModuleStatus(255, 256), 255u);
  EXPECT_EQ(combineModuleStatus(2, 255), 2u);
}

std::chrono::steady_clock::time_point g_fakeNow{};
std::chrono::steady_clock::time_point fakeClock() { return g_fakeNow; }

TEST_F(ModuleManagerTest, GlobalStatusIsCachedTenSecondsAndChangesAdvanceTheCounter) {
  installModule("Alpha", "ModuleEnabled=1\n");
  loadCapturing();
  g_fakeNow = std::chrono::steady_clock::time_point(std::chrono::hours(1));
  setModuleStatusClock(fakeClock);
  std::atomic<int>& changes = serverControl().networkChanges;

  call("Alpha", "SetStatus", {{"status", "0"}});
  getGlobalStatus(true);
  const int before = changes.load();
  call("Alpha", "SetStatus", {{"status", "1"}});
  g_fakeNow += std::chrono::milliseconds(9999);
  EXPECT_EQ(getGlobalStatus(false), 0u) << "remembered value within 10 s";
  EXPECT_EQ(changes.load(), before);
  EXPECT_EQ(getGlobalStatus(true), 1u) << "force asks the modules";
  EXPECT_EQ(changes.load(), before + 1);

  call("Alpha", "SetStatus", {{"status", "2"}});
  g_fakeNow += std::chrono::milliseconds(9999);
  EXPECT_EQ(getGlobalStatus(false), 1u);
  g_fakeNow += std::chrono::milliseconds(1);
  EXPECT_EQ(getGlobalStatus(false), 2u) << "10 s after the forced computation";
  EXPECT_EQ(changes.load(), before + 2);
  EXPECT_EQ(getGlobalStatus(true), 2u);
  EXPECT_EQ(changes.load(), before + 2) << "an unchanged value does not count";
}

TEST_F(ModuleManagerTest, LifeCycleCallsReachTheModules) {
  installModule("Alpha", "ModuleEnabled=1\nTabOrder=1\n");
  installModule("Beta", "ModuleEnabled=1\nTabOrder=2\n");
  installModule("Off", "ModuleEnabled=0\n");
  loadCapturing();
  EXPECT_EQ(call("Alpha", "Services")["Started"], "false");
  startModules();
  auto services = call("Alpha", "Services");
  EXPECT_EQ(services["Started"], "true");
  EXPECT_EQ(services["AllEntriesSet"], "true");
  EXPECT_EQ(services["Reserved2Null"], "true");
  EXPECT_EQ(services["Reserved8Null"], "true");
  EXPECT_EQ(readFile("mods/Beta/startup.marker"), "startup\n");

  DeviceRecord devices[3] = {};
  devices[0].next = &devices[1];
  devices[1].next = &devices[2];
  callAcceptDeviceList(devices);
  EXPECT_EQ(call("Beta", "DeviceCount")["Result"], "3");

  gatherModuleInformation();
  const std::string gathered = readFile("mods/Alpha/gather.marker");
  EXPECT_NE(gathered.find("CalledModule=Alpha;"), std::string::npos) << gathered;
  EXPECT_NE(gathered.find("Module0ModuleImage=/Alpha/images/tabActive.gif;"), std::string::npos);
  EXPECT_NE(gathered.find("Module=2;"), std::string::npos);
  EXPECT_FALSE(fs::exists("mods/Off/gather.marker"));

  ::testing::internal::CaptureStdout();
  moduleShutdownProcedures(true);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "\n\t\t Kestrova Module: Alpha\n\n\n\t\t Calling doResetProcedures \n"
            "\n\t\t Kestrova Module: Beta\n\n\n\t\t Calling doResetProcedures \n");
  EXPECT_EQ(readFile("mods/Alpha/reset.marker"), "reset\n");
  EXPECT_FALSE(fs::exists("mods/Alpha/shutdown.marker"));
  ::testing::internal::CaptureStdout();
  moduleShutdownProcedures(false);
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("\n\t\t Calling doShutdownProcedures \n"),
            std::string::npos);
  EXPECT_EQ(readFile("mods/Beta/shutdown.marker"), "shutdown\n");
  EXPECT_EQ(readFile("mods/Beta/reset.marker"), "reset\n");
  EXPECT_FALSE(fs::exists("mods/Off/shutdown.marker"));
  EXPECT_FALSE(fs::exists("mods/Alpha/suspend.marker")) << "the server never suspends a module";

  unloadModules();
  EXPECT_EQ(moduleList(), nullptr);
}

// The request side starts before the modules; a request that comes in between is answered by
// the started module that knows its devices, not refused by one that has not started yet.
TEST_F(ModuleManagerTest, HeldRequestsWaitForTheModulesStartAndDevices) {
  installModule("Alpha", "ModuleEnabled=1\n");
  loadCapturing();
  holdModuleRequests();
  std::map<std::string, std::string> started, devices;
  std::atomic<bool> answered{false};
  std::thread request([&] {
    started = call("Alpha", "Services");
    devices = call("Alpha", "DeviceCount");
    answered = true;
  });
  // The request must stay held through both waits: neither leaves a mark to wait for.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  startModules();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(answered.load()) << "answered before the module had its devices";
  DeviceRecord list[2] = {};
  list[0].next = &list[1];
  callAcceptDeviceList(list);
  request.join();
  EXPECT_EQ(started["Started"], "true");
  EXPECT_EQ(devices["Result"], "2");

  // A shutdown lets held requests through too, so that none waits on a start that never comes.
  holdModuleRequests();
  ::testing::internal::CaptureStdout();
  moduleShutdownProcedures(false);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(waitForModuleStart(std::chrono::milliseconds(0)));
  holdModuleRequests();
  unloadModules();
  EXPECT_TRUE(waitForModuleStart(std::chrono::milliseconds(0)));
}

TEST_F(ModuleManagerTest, ModulesKeepTheirOwnCommonCode) {
  std::string error;
  void* library = openModuleLibrary(builtModule("TestModule").c_str(), &error);
  ASSERT_NE(library, nullptr) << error;
  EXPECT_NE(findModuleExport(library, "startup"), nullptr);
  EXPECT_NE(findModuleExport(library, "getValuesForParametersFromMod"), nullptr);
  EXPECT_EQ(findModuleExport(library, "addVariable"), nullptr);
  EXPECT_EQ(findModuleExport(library, "_Z11addVariablePP13VariableEntryPKcS3_"), nullptr);
  closeModuleLibrary(library);

  installModule("Alpha", "ModuleEnabled=1\n");
  loadCapturing();
  char ours[32];
  std::snprintf(ours, sizeof(ours), "%p", reinterpret_cast<void*>(&addVariable));
  const std::string theirs = call("Alpha", "AddVariableAddress")["ModuleAddVariable"];
  EXPECT_FALSE(theirs.empty());
  EXPECT_NE(theirs, ours);
}

TEST_F(ModuleManagerTest, RequestsFromManyThreadsWhileStatusIsComputed) {
  installModule("Alpha", "ModuleEnabled=1\n");
  installModule("Beta", "ModuleEnabled=1\n");
  loadCapturing();
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([t, &bad] {
      for (int i = 0; i < 50; ++i) {
        const std::string value = std::to_string(t * 1000 + i);
        if (call(t % 2 ? "Alpha" : "Beta", "Echo", {{"Value", value}})["Value"] != value) ++bad;
        getGlobalStatus(i % 3 == 0);
        TableOwner tabs(addModuleTabs(nullptr));
        if (pairsOf(tabs.get())["Module"] != "2") ++bad;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(bad.load(), 0);
}

// --- saving settings -------------------------------------------------------------------------

class ModuleSettingsSaveTest : public ModuleFolderTest {
 protected:
  void SetUp() override {
    ModuleFolderTest::SetUp();
    record_.name = name_;
    record_.enabled = 0;
    record_.tabOrder = 42;
    fs::create_directories("mods/Alpha");
  }
  std::string save(const std::string& before) {
    writeFile(path_, before);
    EXPECT_EQ(saveModuleSettings(&record_), 0);
    return readFile(path_);
  }
  char name_[6] = "Alpha";
  ModuleRecord record_{};
  const std::string path_ = "mods/Alpha/AlphaSettings.ini";
};

TEST_F(ModuleSettingsSaveTest, ReplacesTheEnabledLineAndKeepsTheOthers) {
  EXPECT_EQ(save("'comment\nModuleEnabled=1\nTabOrder=5\nModuleName=Alpha Tab\nOther = x\n"),
            "'comment\nModuleEnabled=0\nTabOrder=5\nModuleName=Alpha Tab\nOther = x\n");
  record_.enabled = 1;
  EXPECT_EQ(save("ModuleEnabled = 0\r\nModuleName=A\r\nTabOrder=9\r\n"),
            "ModuleEnabled=1\nModuleName=A\r\nTabOrder=9\r\n");
  // Lines that merely start with a key's letters are other keys.
  EXPECT_EQ(save("ModuleEnabledOld=1\nTabOrderX=3\nModuleName=A\n"),
            "ModuleEnabledOld=1\nTabOrderX=3\nModuleEnabled=1\nTabOrder=42\nModuleName=A\n");
}

TEST_F(ModuleSettingsSaveTest, MissingLinesGoBeforeTheNameOrAtTheEnd) {
  EXPECT_EQ(save("a=1\nModuleName=Alpha Tab\nb=2\n"),
            "a=1\nModuleEnabled=0\nTabOrder=42\nModuleName=Alpha Tab\nb=2\n");
  EXPECT_EQ(save("TabOrder=3\nModuleName=X\n"), "TabOrder=3\nModuleEnabled=0\nModuleName=X\n");
  EXPECT_EQ(save("ModuleEnabled=1\nModuleName=X\n"), "ModuleEnabled=0\nTabOrder=42\nModuleName=X\n");
  // Without a name line the setting must still be saved.
  EXPECT_EQ(save("a=1"), "a=1\nModuleEnabled=0\nTabOrder=42\n");
  EXPECT_EQ(save(""), "ModuleEnabled=0\nTabOrder=42\n");
}

TEST_F(ModuleSettingsSaveTest, LongLinesStayWhole) {
  const std::string longValue(600, 'v');
  // A key text past the 255th character belongs to the long line, not to a line of its own.
  const std::string longLine = "Description=" + std::string(250, 'd') + "ModuleEnabled=1" + longValue + "\n";
  EXPECT_EQ(save(longLine + "ModuleEnabled=1\n"), longLine + "ModuleEnabled=0\nTabOrder=42\n");
}

TEST_F(ModuleSettingsSaveTest, FailuresChangeNothing) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(saveModuleSettings(&record_), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "ERROR: Module settings file, mods/Alpha/AlphaSettings.ini, not found. Cannot make changes.\n");
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_EQ(saveModuleSettings(nullptr), -1);

  const std::string before = "ModuleEnabled=1\nModuleName=Alpha\n";
  writeFile(path_, before);
  static const PropertyFileIo failingWrite = {[](int, const void*, size_t) -> ssize_t {
                                                errno = ENOSPC;
                                                return -1;
                                              },
                                              [](int) { return 0; }};
  setPropertyFileIo(&failingWrite);
  ::testing::internal::CaptureStdout();
  const int result = saveModuleSettings(&record_);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  setPropertyFileIo(nullptr);
  EXPECT_EQ(result, -1);
  EXPECT_NE(printed.find("could not be written"), std::string::npos) << printed;
  EXPECT_EQ(readFile(path_), before);
  EXPECT_EQ(std::distance(fs::directory_iterator("mods/Alpha"), fs::directory_iterator()), 1)
      << "no temporary file left behind";
}

}  // namespace
