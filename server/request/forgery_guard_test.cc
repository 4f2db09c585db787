// The server's guard of browser requests: which methods the tables mark as changing data, the
// page token they need from a browser, the refusal page, the front end's reports, and the event
// limit of one a minute per address. Modules answer for their methods through methodAltersData
// (TestModule has it, UnmarkedModule does not, BareModule answers no requests at all).
#include "server/request/forgery_guard.h"

#include <mutex>
#include <thread>
#include <vector>

#include "common/apr1.h"
#include "server/net/password_file.h"
#include "server/net/user_events.h"
#include "server/request/module_test_fixture.h"
#include "server/request/page_token.h"
#include "server/request/server_methods.h"
#include "tests/support/owner_only.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Raised {
  std::string message;
  uint32_t id;
};
std::mutex gRaisedLock;
std::vector<Raised> gRaised;
Clock::time_point gNow;

int capture(const char*, const char* message, uint32_t, uint32_t, uint32_t eventId, uint8_t) {
  std::lock_guard<std::mutex> lock(gRaisedLock);
  gRaised.push_back({message, eventId});
  return 0;
}

class ForgeryGuardTest : public ModuleFolderTest {
 protected:
  void SetUp() override {
    ModuleFolderTest::SetUp();
    writeFile("db/strings.db",
              "KestrovaEvent_RefusedLink = link %s %s %s\nKestrovaEvent_RefusedNoToken = notoken %s %s %s\n"
              "KestrovaEvent_RefusedCrossSite = site %s %s %s\nKestrovaEvent_RefusedHost = host %s %s %s\n"
              "KestrovaEvent_LoginFailures = logins %s %s %s\nKestrovaEvent_RefusalsHeldBack = held %s %s\n"
              "RequestRefusedSummary = Refused.\nRefusedLink = Use the button.\nRefusedNoToken = Reload.\n");
    ASSERT_EQ(writePasswordFile("db/password.web", "admin", apr1Hash("secret", "abcdefgh")), kPasswordFileOk);
    setPageTokenPaths("db/pagetoken.key", "db/password.web");
    gRaised.clear();
    gNow = Clock::now();
    setUserEventRaiser(capture);
    setRefusalEventClock([] { return gNow; });
  }
  void TearDown() override {
    setUserEventRaiser(nullptr);
    setRefusalEventClock(nullptr);
    setPageTokenPaths("db/pagetoken.key", "db/password.web");
    ModuleFolderTest::TearDown();
  }

  static TableOwner browser(const char* httpMethod, const char* module, const char* method,
                            const char* address = "192.0.2.10") {
    TableOwner request;
    if (module != nullptr) addVariable(request.address(), "module", module);
    addVariable(request.address(), "method", method);
    addVariable(request.address(), "RemoteAddress", address);
    addVariable(request.address(), "RemoteUser", "admin");
    if (httpMethod != nullptr) addVariable(request.address(), "BrowserRequest", httpMethod);
    return request;
  }
  static bool refused(VariableTable request) {
    TableOwner reply(guardRequest(request));
    if (!reply) return false;
    EXPECT_STREQ(getVariable(reply.get(), "HttpStatus"), "403");
    EXPECT_STREQ(getVariable(reply.get(), "HTMLPath"), kRefusalPage);
    return true;
  }
  static std::vector<Raised> raised() {
    std::lock_guard<std::mutex> lock(gRaisedLock);
    return gRaised;
  }
};

TEST_F(ForgeryGuardTest, TheServerTableMarksWhatChangesData) {
  for (const char* method : {"SetEmailConfig", "TestEmailConfig", "SetSnmpConfig", "TestSnmpConfig",
                             "SetSyslogConfig", "TestSyslogConfig", "ClearEventLogs", "RescanSystem",
                             "UpdatePassword", "GatherInformation", "TakeDeviceControl", "SetPrefsConfig"}) {
    EXPECT_EQ(serverMethodAltersData(method), 1) << method;
  }
  for (const char* method : {"GetEmailConfig", "ViewLogs", "ExportLogs", "SessionPing", "GetMainPage",
                             "LoadIndex", "GetNetworkInfo", "PingPage", "GetMetrics", "GetPrefsConfig"}) {
    EXPECT_EQ(serverMethodAltersData(method), 0) << method;
  }
  EXPECT_EQ(serverMethodAltersData("clearEventLogs"), -1);  // names are exact
  EXPECT_EQ(serverMethodAltersData(nullptr), -1);
}

TEST_F(ForgeryGuardTest, RequestsWithoutBrowserMarkersPassAsBefore) {
  TableOwner qcli = browser(nullptr, "server", "ClearEventLogs");
  EXPECT_EQ(guardRequest(qcli.get()), nullptr);
  EXPECT_TRUE(raised().empty());
}

TEST_F(ForgeryGuardTest, ABrowsersLinkMayReadButNotChange) {
  EXPECT_FALSE(refused(browser("GET", "server", "ViewLogs").get()));
  EXPECT_FALSE(refused(browser("GET", nullptr, "GetMainPage").get()));
  EXPECT_TRUE(refused(browser("GET", "server", "ClearEventLogs").get()));
  const auto events = raised();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, kEventRequestRefused);
  EXPECT_EQ(events[0].message, "link 192.0.2.10 admin server/ClearEventLogs");
  // Even with the right token: a token in an address would leak through logs and Referer.
  TableOwner withToken = browser("GET", "server", "UpdatePassword");
  addVariable(withToken.address(), kPageTokenKey, pageTokenFor("admin").c_str());
  EXPECT_TRUE(refused(withToken.get()));
}

TEST_F(ForgeryGuardTest, ABrowsersPostChangesDataOnlyWithItsUsersToken) {
  EXPECT_TRUE(refused(browser("POST", "server", "SetSyslogConfig").get()));
  TableOwner wrong = browser("POST", "server", "SetSyslogConfig");
  addVariable(wrong.address(), kPageTokenKey, std::string(kPageTokenLength, '0').c_str());
  EXPECT_TRUE(refused(wrong.get()));
  TableOwner otherUser = browser("POST", "server", "SetSyslogConfig");
  addVariable(otherUser.address(), kPageTokenKey, pageTokenFor("operator").c_str());
  EXPECT_TRUE(refused(otherUser.get()));
  TableOwner right = browser("POST", "server", "SetSyslogConfig");
  addVariable(right.address(), kPageTokenKey, pageTokenFor("admin").c_str());
  EXPECT_FALSE(refused(right.get()));
  ASSERT_FALSE(raised().empty());
  EXPECT_EQ(raised()[0].message, "notoken 192.0.2.10 admin server/SetSyslogConfig");
}

TEST_F(ForgeryGuardTest, AnUploadChangesDataWhateverTheMethod) {
  TableOwner upload = browser("POST", "server", "GetAboutPage");
  addVariable(upload.address(), "UploadedFile", "/tmp/x");
  addVariable(upload.address(), "UploadedFileName", "x.bin");
  EXPECT_TRUE(refused(upload.get()));
}

TEST_F(ForgeryGuardTest, ModulesAnswerForTheirOwnMethods) {
  installModule("Marked", "ModuleEnabled=1\n");
  installModule("Unmarked", "ModuleEnabled=1\n", "UnmarkedModule");
  installModule("Bare", "ModuleEnabled=1\n", "BareModule");
  (void)loadCapturing();
  EXPECT_EQ(moduleMethodAltersData("Marked", "Echo"), 0);
  EXPECT_EQ(moduleMethodAltersData("Marked", "SetStatus"), 1);
  EXPECT_EQ(moduleMethodAltersData("Marked", "NoSuchMethod"), -1);
  EXPECT_EQ(moduleMethodAltersData("NoSuchModule", "Echo"), -1);
  EXPECT_FALSE(refused(browser("GET", "Marked", "Echo").get()));
  EXPECT_TRUE(refused(browser("GET", "Marked", "SetStatus").get()));
  // Without the export every method of the module counts as changing data; a module that
  // answers no requests has nothing to protect.
  EXPECT_EQ(moduleMethodAltersData("Unmarked", "Echo"), 1);
  EXPECT_TRUE(refused(browser("GET", "Unmarked", "Echo", "192.0.2.11").get()));
  EXPECT_EQ(moduleMethodAltersData("Bare", "GetMainPage"), -1);
}

TEST_F(ForgeryGuardTest, TheTokenLivesInAPrivateKeyFileAndEndsWithThePassword) {
  const std::string before = pageTokenFor("admin");
  ASSERT_EQ(before.size(), kPageTokenLength);
  EXPECT_EQ(pageTokenFor("admin"), before);
  EXPECT_NE(pageTokenFor("operator"), before);
  test_support::expectOwnerOnly("db/pagetoken.key");
  // A restart reads the same key.
  setPageTokenPaths("db/pagetoken.key", "db/password.web");
  EXPECT_EQ(pageTokenFor("admin"), before);
  // A new password (a new salt and hash) gives a new token; the old one no longer counts.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the new file gets a new modification time
  ASSERT_EQ(writePasswordFile("db/password.web", "admin", apr1Hash("other", "zyxwvuts")), kPasswordFileOk);
  EXPECT_NE(pageTokenFor("admin"), before);
  EXPECT_FALSE(pageTokenMatches("admin", before));
}

TEST_F(ForgeryGuardTest, RepliesToBrowsersCarryTheToken) {
  TableOwner fromBrowser = browser("GET", "server", "ViewLogs");
  TableOwner reply;
  addVariable(reply.address(), "HTMLPath", "x");
  VariableTable table = reply.release();
  addPageToken(fromBrowser.get(), &table);
  reply = TableOwner(table);
  EXPECT_EQ(getVariable(reply.get(), kPageTokenKey), pageTokenFor("admin"));
  TableOwner fromQcli = browser(nullptr, "server", "ViewLogs");
  TableOwner plain;
  addVariable(plain.address(), "HTMLPath", "x");
  table = plain.release();
  addPageToken(fromQcli.get(), &table);
  plain = TableOwner(table);
  EXPECT_EQ(getVariable(plain.get(), kPageTokenKey), nullptr);
}

TEST_F(ForgeryGuardTest, FrontEndReportsBecomeEventsAtMostOnceAMinutePerAddress) {
  TableOwner logins = browser(nullptr, nullptr, "x", "198.51.100.7");
  addVariable(logins.address(), kFrontEndReportKey, "LoginFailures");
  addVariable(logins.address(), kReportCountKey, "7");
  addVariable(logins.address(), kReportDetailKey, "admin, root");
  TableOwner answer(guardRequest(logins.get()));
  ASSERT_TRUE(answer);
  TableOwner site = browser(nullptr, nullptr, "x", "198.51.100.8");
  addVariable(site.address(), kFrontEndReportKey, "RefusedCrossSite");
  addVariable(site.address(), kReportTargetKey, "GET /cgi-bin/cgiloader.cgi");
  addVariable(site.address(), kReportDetailKey, "http://attacker.example");
  for (int i = 0; i < 3; ++i) TableOwner(guardRequest(site.get()));
  auto events = raised();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, kEventLoginFailures);
  EXPECT_EQ(events[0].message, "logins 7 198.51.100.7 admin, root");
  EXPECT_EQ(events[1].message, "site 198.51.100.8 GET /cgi-bin/cgiloader.cgi http://attacker.example");
  // A minute later the next refusal is logged, with the count of those held back.
  gNow += std::chrono::seconds(61);
  TableOwner(guardRequest(site.get()));
  events = raised();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[3].message, "held 2 198.51.100.8");
}

}  // namespace
