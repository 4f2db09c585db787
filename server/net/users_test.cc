// Tests of the logged-in user list: one login event per new user with the right text variant, the
// matching rule, own addresses recorded as 127.0.0.1 with this host's name, logout after five
// silent passes with one event, the page rows, the bounded reverse look-up, and concurrent first
// requests of one user counted once.
#include "server/net/users.h"

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_manager.h"
#include "server/net/reverse_lookup.h"
#include "server/net/user_session.h"
#include "server/net/users_test_fixture.h"
#include "server/request/page_rows.h"
#include "server/request/settings_pages.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> gLookups{0};

std::optional<std::string> fakeLookup(const std::string& address, int) {
  gLookups.fetch_add(1);
  if (address == "10.0.0.7") return std::string("desk7.example");
  return std::nullopt;
}

// A name service that answers slowly, to widen the window between the two list searches.
std::optional<std::string> slowLookup(const std::string& address, int) {
  gLookups.fetch_add(1);
  std::this_thread::sleep_for(30ms);
  return "slow-" + address;
}

std::map<std::string, std::string> mapOf(VariableTable table) {
  std::map<std::string, std::string> values;
  for (VariableEntry* e = table; e != nullptr; e = e->next) values.emplace(e->key, e->value);
  return values;
}

class UsersTest : public UsersFolderTest {
 protected:
  void SetUp() override {
    UsersFolderTest::SetUp();
    gLookups.store(0);
    setUserReverseLookup(fakeLookup);
    const uint32_t own = 0x0A000001;  // 10.0.0.1
    setLocalAddresses(&own, 1);
    openUserList();
  }

  static void request(std::initializer_list<std::pair<const char*, const char*>> pairs,
                      std::string* addressAfter = nullptr) {
    TableOwner table;
    for (const auto& [key, value] : pairs) addVariable(table.address(), key, value);
    trackUserRequest(table.address());
    if (addressAfter != nullptr) *addressAfter = getVariableOrMissing(table.get(), "RemoteAddress");
  }

  static std::vector<std::string> messages() {
    std::vector<std::string> texts;
    for (const CapturedEvent& e : capturedEvents()) texts.push_back(e.message);
    return texts;
  }
};

TEST_F(UsersTest, NewUsersLogInOnceWithTheHostTheyAreKnownBy) {
  const int changes = serverControl().networkChanges.load();
  request({{"RemoteUser", "ann"}, {"RemoteAddress", "10.0.0.9"}, {"RemoteHost", "given.example"}});
  request({{"RemoteUser", "bob"}, {"RemoteAddress", "10.0.0.7"}});
  request({{"RemoteUser", "cy"}, {"RemoteAddress", "10.0.0.8"}});
  request({{"RemoteUser", "cy"}, {"RemoteAddress", "10.0.0.8"}});  // known: no event
  EXPECT_EQ(messages(),
            (std::vector<std::string>{"in ann on given.example at 10.0.0.9",
                                      "in bob on desk7.example at 10.0.0.7", "in cy at 10.0.0.8"}));
  for (const CapturedEvent& e : capturedEvents()) {
    EXPECT_EQ(e.id, 0x108u);
    EXPECT_EQ(e.level, 0u);
  }
  EXPECT_EQ(gLookups.load(), 2);  // a given host name needs no look-up
  EXPECT_EQ(serverControl().networkChanges.load(), changes + 3);
  const auto users = loggedInUsers();
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(users[2].hostName, std::nullopt);
}

TEST_F(UsersTest, MatchingRuleJoinsRequestsWithAndWithoutAUserName) {
  request({{"RemoteAddress", "10.0.0.5"}});
  request({{"RemoteUser", "dee"}, {"RemoteAddress", "10.0.0.5"}});
  request({{"RemoteUser", ""}, {"RemoteAddress", "10.0.0.5"}});  // empty counts as absent
  EXPECT_EQ(loggedInUsers().size(), 1u);
  EXPECT_EQ(messages(), (std::vector<std::string>{"in ?? at 10.0.0.5"}));
  // Other address, or no address against a present one: a different user.
  request({{"RemoteUser", "dee"}, {"RemoteAddress", "10.0.0.6"}});
  request({{"RemoteUser", "dee"}});
  request({{"RemoteUser", "eve"}});  // both addresses absent, name absent on no side but differs
  request({{"RemoteUser", "dee"}});
  EXPECT_EQ(loggedInUsers().size(), 4u);
  EXPECT_EQ(messages().back(), "in eve at ??");
}

TEST_F(UsersTest, OwnAddressIsRecordedAsLoopbackWithThisHostsName) {
  std::string after;
  request({{"RemoteUser", "admin"}, {"RemoteAddress", "10.0.0.1"}}, &after);
  EXPECT_EQ(after, "127.0.0.1");
  request({{"RemoteUser", "admin"}, {"RemoteAddress", "127.0.0.1"}});
  const auto users = loggedInUsers();
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0].address, "127.0.0.1");
  EXPECT_EQ(users[0].hostName, serverHostName());
  EXPECT_EQ(gLookups.load(), 0);
  EXPECT_EQ(messages(), (std::vector<std::string>{"in admin on " + serverHostName() + " at 127.0.0.1"}));
}

TEST_F(UsersTest, SilentUsersLeaveAfterFivePassesWithOneEvent) {
  request({{"RemoteUser", "ann"}, {"RemoteAddress", "10.0.0.7"}});
  request({{"RemoteUser", "bob"}, {"RemoteAddress", "10.0.0.8"}});
  for (int pass = 0; pass < 4; ++pass) {
    EXPECT_EQ(expireSilentUsers(), 0);
    if (pass == 2) request({{"RemoteUser", "bob"}, {"RemoteAddress", "10.0.0.8"}});  // bob is back
  }
  const int changes = serverControl().networkChanges.load();
  EXPECT_EQ(expireSilentUsers(), 1);
  EXPECT_EQ(serverControl().networkChanges.load(), changes + 1);
  ASSERT_EQ(loggedInUsers().size(), 1u);
  EXPECT_EQ(loggedInUsers()[0].userName, "bob");
  EXPECT_EQ(expireSilentUsers(), 0);  // bob's last request was two passes before ann left
  EXPECT_EQ(expireSilentUsers(), 0);
  EXPECT_EQ(expireSilentUsers(), 1);
  EXPECT_TRUE(loggedInUsers().empty());
  const auto events = capturedEvents();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2].message, "out ann on desk7.example at 10.0.0.7");
  EXPECT_EQ(events[3].message, "out bob at 10.0.0.8");
  EXPECT_EQ(events[3].id, 0x109u);
}

TEST_F(UsersTest, PageRowsListTheUsers) {
  request({{"RemoteUser", "ann"}, {"RemoteAddress", "10.0.0.7"}});
  request({{"RemoteUser", "bob"}, {"RemoteAddress", "10.0.0.8"}});
  expireSilentUsers();
  TableOwner bar;
  addLoggedInUserRows(bar.address());
  auto rows = mapOf(bar.get());
  EXPECT_EQ(rows["UsersLoggedInLoop"], "2");
  EXPECT_EQ(rows["UsersLoggedInLoop0UserName"], "ann");
  EXPECT_EQ(rows["UsersLoggedInLoop0UserHost"], "desk7.example");
  EXPECT_EQ(rows["UsersLoggedInLoop0UserAddress"], "10.0.0.7");
  EXPECT_EQ(rows["UsersLoggedInLoop1UserHost"], "");
  EXPECT_EQ(rows["UsersLoggedInLoop1UserName"], "bob");

  TableOwner debug;
  addUserListRows(debug.address());
  rows = mapOf(debug.get());
  EXPECT_EQ(rows["UserLoop"], "2");
  EXPECT_EQ(rows["UserLoop1MissedCheckins"], "1");
  EXPECT_EQ(rows["UserLoop1RemoteAddress"], "10.0.0.8");
  EXPECT_EQ(rows["UserLoop1RemoteHost"], "");
  EXPECT_EQ(rows["UserLoop1RemoteUser"], "bob");
  EXPECT_EQ(rows["ServerName"], serverHostName());
  EXPECT_EQ(rows["ServerIpLoop"], "1");
  EXPECT_EQ(rows["ServerIpLoop0IpAddress"], "10.0.0.1");
}

TEST_F(UsersTest, NetworkBarShowsTheLoggedInUsersWhileTrackingRuns) {
  ASSERT_TRUE(initThreadManager());
  serverControl().serverRunning.store(1);
  ASSERT_TRUE(startUserTracking());
  request({{"RemoteUser", "ann"}, {"RemoteAddress", "10.0.0.7"}});
  TableOwner page(GetNetworkInfo(nullptr));
  auto values = mapOf(page.get());
  EXPECT_EQ(values["UsersLoggedInLoop"], "1");
  EXPECT_EQ(values["UsersLoggedInLoop0UserName"], "ann");
  EXPECT_EQ(values["UsersLoggedInLoop0UserHost"], "desk7.example");
  EXPECT_EQ(values["NumberOfNetworkChanges"], std::to_string(serverControl().networkChanges.load()));

  serverControl().serverRunning.store(0);
  stopUserTracking();
  // A look-up thread may still be returning; it must end on its own, soon.
  EXPECT_TRUE(waitUntil([] { return liveThreadCount() == 0; }, std::chrono::seconds(5))) << liveThreadCount();
  TableOwner after(GetNetworkInfo(nullptr));
  EXPECT_STREQ(getVariable(after.get(), "UsersLoggedInLoop"), "0");
  closeThreadManager();
}

TEST_F(UsersTest, ConcurrentFirstRequestsOfOneUserAddItOnce) {
  setUserReverseLookup(slowLookup);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([] { request({{"RemoteUser", "ann"}, {"RemoteAddress", "10.0.0.7"}}); });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(loggedInUsers().size(), 1u);
  EXPECT_EQ(capturedEvents().size(), 1u);
}

TEST_F(UsersTest, LongRemoteTextsAreCutAndEventTextsBounded) {
  const std::string longName(5000, 'n');
  request(
      {{"RemoteUser", longName.c_str()}, {"RemoteAddress", "10.0.0.8"}, {"RemoteHost", longName.c_str()}});
  ASSERT_EQ(loggedInUsers().size(), 1u);
  EXPECT_EQ(loggedInUsers()[0].userName->size(), kMaxUserFieldLength);
  // The same long name matches its cut entry again.
  request({{"RemoteUser", longName.c_str()}, {"RemoteAddress", "10.0.0.8"}});
  EXPECT_EQ(loggedInUsers().size(), 1u);
  const std::string text =
      fillUserEventText("%s %s %s %s %% %d", {longName.c_str(), longName.c_str(), nullptr});
  EXPECT_EQ(text.size(), kUserEventTextSize - 1);
  EXPECT_EQ(fillUserEventText("%s and %s, %s %% %d %", {"a", nullptr}), "a and ??, %s % %d %");
}

TEST_F(UsersTest, ReverseLookupIsBoundedAndNumericOnly) {
  EXPECT_EQ(reverseLookup("not an address", 1000), std::nullopt);
  EXPECT_EQ(reverseLookup("", 1000), std::nullopt);
  // A documentation address has no name; whatever the name service does, the answer comes
  // within the bound (plus scheduling slack).
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(reverseLookup("192.0.2.55", 200), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
}

}  // namespace
