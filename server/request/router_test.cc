// Tests of the router: the method table's order and exact names, the error panels, the start
// page, the main page handed to the first enabled module, module requests with their tab rows,
// and the local-address test.
#include "server/request/router.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server/request/request_test_fixture.h"
#include "server/request/server_methods.h"

namespace {

constexpr const char kErrorPanel[] = "../Common/CommonErrorPanel.htm";

class RouterTest : public RequestFolderTest {};

TEST(ServerMethodTableTest, FixedOrderAndExactNames) {
  const char* expected[] = {
      "GetDebugInfo", "testMethod", "TestLoop", "GetEmailConfig", "SetEmailConfig", "TestEmailConfig",
      "GetSnmpConfig", "SetSnmpConfig", "TestSnmpConfig", "GetSyslogConfig", "SetSyslogConfig",
      "TestSyslogConfig", "SessionPing", "ViewLogs", "ExportLogs", "ClearEventLogs", "GetNetworkInfo",
      "RescanSystem", "UpdatePassword", "GetMainPage", "GetAboutPage", "GetRescanPage", "GatherInformation",
      "TechSupportPing", "PingPage", "LoadIndex", "TakeDeviceControl", "GetPrefsConfig", "SetPrefsConfig",
      // Ours: the figures behind the front end's /metrics, the network key page, the webhook notifier's pages.
      "GetMetrics", "GetNetworkKeyConfig", "SetNetworkKeyConfig", "GetWebhookConfig", "SetWebhookConfig",
      "TestWebhookConfig"};
  int i = 0;
  for (const char* name : expected) {
    ASSERT_NE(serverMethodName(i), nullptr) << i;
    EXPECT_STREQ(serverMethodName(i), name) << i;
    ++i;
  }
  EXPECT_EQ(serverMethodName(i), nullptr);
  // The methods built by the request side answer; names differ in case do not.
  for (const char* name : {"GetDebugInfo", "testMethod", "TestLoop", "SessionPing", "GetNetworkInfo",
                           "RescanSystem", "GetMainPage", "GetAboutPage", "GetRescanPage", "PingPage",
                           "LoadIndex", "GetPrefsConfig", "SetPrefsConfig"}) {
    EXPECT_NE(findServerMethod(name), nullptr) << name;
  }
  EXPECT_EQ(findServerMethod("getmainpage"), nullptr);
  EXPECT_EQ(findServerMethod("TestMethod"), nullptr);
}

TEST_F(RouterTest, WrongCaseAndUnknownMethodsGetTheServerPanel) {
  for (const char* module : {"server", static_cast<const char*>(nullptr)}) {
    TableOwner req;
    if (module != nullptr) addVariable(req.address(), "module", module);
    addVariable(req.address(), "method", "getmainpage");
    testing::internal::CaptureStdout();
    TableOwner reply(routeRequest(req.get()));
    const std::string printed = testing::internal::GetCapturedStdout();
    auto values = mapOf(reply.get());
    EXPECT_EQ(values["Message"], "Invalid method (getmainpage) called from server module.");
    EXPECT_EQ(values["HTMLPath"], kErrorPanel);
    EXPECT_NE(printed.find("logServerError: Invalid method (getmainpage) called from server module.\n"),
              std::string::npos);
  }
  // A method that is in no table.
  TableOwner req = request({{"module", "server"}, {"method", "NoSuchMethod"}});
  testing::internal::CaptureStdout();
  TableOwner reply(callServerMethod(req.get()));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(mapOf(reply.get())["Message"], "Invalid method (NoSuchMethod) called from server module.");
}

TEST_F(RouterTest, MissingMethodGetsTheNoMethodPanel) {
  TableOwner req = request({{"module", "server"}});
  TableOwner reply(routeRequest(req.get()));
  auto values = mapOf(reply.get());
  EXPECT_EQ(values["Message"], "Internal Software Error: No method was specified.");
  EXPECT_EQ(values["HTMLPath"], kErrorPanel);
  EXPECT_EQ(values.size(), 2u);
}

TEST_F(RouterTest, LoadIndexWithoutModuleKey) {
  TableOwner req = request({{"method", "LoadIndex"}});
  TableOwner reply(routeRequest(req.get()));
  EXPECT_EQ(mapOf(reply.get())["HTMLPath"], "../Server/main/index.html");
  EXPECT_EQ(countOf(reply.get(), "CalledModule"), 0);
}

TEST_F(RouterTest, MainPageWithoutModulesFallsBackToBrivo) {
  loadModules();
  TableOwner req = request({{"module", "server"}, {"method", "GetMainPage"}});
  testing::internal::CaptureStdout();
  TableOwner reply(routeRequest(req.get()));
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("could not find head of list...using Brivo\n"), std::string::npos);
  auto values = mapOf(reply.get());
  EXPECT_EQ(values["Message"], "Could not find a module called: Brivo");
  EXPECT_EQ(values["HTMLPath"], kErrorPanel);
}

TEST_F(RouterTest, MainPageOfServerComesFromFirstEnabledModuleWithoutTabs) {
  installTestModule("TestModule", "ModuleEnabled=1\nTabOrder=5\nModuleName=Test\n");
  testing::internal::CaptureStdout();
  loadModules();
  testing::internal::GetCapturedStdout();
  ASSERT_NE(firstEnabledModuleName(), nullptr);

  TableOwner req = request({{"module", "server"}, {"method", "GetMainPage"}});
  TableOwner reply(routeRequest(req.get()));
  auto values = mapOf(reply.get());
  EXPECT_EQ(values["Page"], "GetMainPage");
  EXPECT_EQ(values["HTMLPath"], "../../html/TestModule/main.htm");
  EXPECT_EQ(countOf(reply.get(), "CalledModule"), 0);
  EXPECT_EQ(countOf(reply.get(), "Module"), 0);
}

TEST_F(RouterTest, ModuleRequestsNameTheModuleAndTabPagesGetTabs) {
  installTestModule("TestModule", "ModuleEnabled=1\nTabOrder=5\nModuleName=Test\n");
  testing::internal::CaptureStdout();
  loadModules();
  testing::internal::GetCapturedStdout();

  for (const char* method : {"GetMainPage", "GetMonitor"}) {
    TableOwner req = request({{"module", "TestModule"}, {"method", method}});
    TableOwner reply(routeRequest(req.get()));
    auto values = mapOf(reply.get());
    EXPECT_EQ(values["Page"], method);
    EXPECT_EQ(values["CalledModule"], "TestModule");
    EXPECT_EQ(values["HaveGlobalVersion"], "true");
    EXPECT_EQ(values["Module"], "1");
    EXPECT_EQ(values["Module0ModuleName"], "TestModule");
    EXPECT_EQ(values["Module0ModuleImage"], "/TestModule/images/tabActive.gif");
  }
  // The router reads the method again after the module: a module that turned the request into
  // its monitor page gets the tabs of one.
  TableOwner rewritten = request({{"module", "TestModule"}, {"method", "RewriteToGetMonitor"}});
  TableOwner rewrittenReply(routeRequest(rewritten.get()));
  EXPECT_EQ(mapOf(rewrittenReply.get())["Module0ModuleName"], "TestModule");
  EXPECT_STREQ(getVariable(rewritten.get(), "method"), "GetMonitor");
  // Other pages of a module carry its name but no tabs.
  TableOwner req = request({{"module", "TestModule"}, {"method", "Echo"}, {"x", "y"}});
  TableOwner reply(routeRequest(req.get()));
  auto values = mapOf(reply.get());
  EXPECT_EQ(values["x"], "y");
  EXPECT_EQ(values["CalledModule"], "TestModule");
  EXPECT_EQ(countOf(reply.get(), "Module"), 0);
  // Module names match exactly.
  TableOwner lower = request({{"module", "testmodule"}, {"method", "GetMainPage"}});
  testing::internal::CaptureStdout();
  TableOwner missing(routeRequest(lower.get()));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(mapOf(missing.get())["Message"], "Could not find a module called: testmodule");
  EXPECT_EQ(mapOf(missing.get())["CalledModule"], "testmodule");
}

TEST_F(RouterTest, LocalAddresses) {
  const uint32_t own[] = {0xC0A8010A /* 192.168.1.10 */, 0, 0x0A000005 /* 10.0.0.5 */};
  setLocalAddresses(own, 3);
  EXPECT_TRUE(isLocalAddress("127.0.0.1"));
  EXPECT_TRUE(isLocalAddress("::1"));
  EXPECT_TRUE(isLocalAddress("::1%lo"));
  EXPECT_TRUE(isLocalAddress("192.168.1.10"));
  EXPECT_TRUE(isLocalAddress("10.0.0.5"));
  EXPECT_TRUE(isLocalAddress("::ffff:10.0.0.5"));
  EXPECT_TRUE(isLocalAddress("::FFFF:127.0.0.1"));
  EXPECT_FALSE(isLocalAddress("192.168.1.11"));
  EXPECT_FALSE(isLocalAddress("0.0.0.0"));  // a zero entry is not an address of ours
  EXPECT_FALSE(isLocalAddress("192.168.1.10 "));
  EXPECT_FALSE(isLocalAddress("127.0.0.2"));
  EXPECT_FALSE(isLocalAddress(""));
  EXPECT_FALSE(isLocalAddress(nullptr));

  // At most ten addresses are kept.
  uint32_t many[12];
  for (int i = 0; i < 12; ++i) many[i] = 0x0A000100u + static_cast<uint32_t>(i);
  setLocalAddresses(many, 12);
  EXPECT_EQ(localAddresses().size(), 10u);
  EXPECT_TRUE(isLocalAddress("10.0.1.9"));
  EXPECT_FALSE(isLocalAddress("10.0.1.10"));
  EXPECT_FALSE(isLocalAddress("192.168.1.10"));
}

TEST(DottedAddressTest, StrictParsingAndFormatting) {
  uint32_t value = 7;
  EXPECT_TRUE(parseStrictDottedAddress("192.168.0.255", &value));
  EXPECT_EQ(value, 0xC0A800FFu);
  EXPECT_EQ(dottedAddress(value), "192.168.0.255");
  for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "01.2.3.4", "1..2.3", "1.2.3.4x", "-1.2.3.4",
                          " 1.2.3.4", "1.2.3.1000", ""}) {
    value = 7;
    EXPECT_FALSE(parseStrictDottedAddress(bad, &value)) << bad;
    EXPECT_EQ(value, 7u) << bad;
  }
}

}  // namespace
