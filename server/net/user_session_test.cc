// Tests of the user bookkeeping in the server's life: the session thread logs a silent user out
// once (with a shortened period), the handler's admission hooks are the component's after the
// start, and the stop ends the thread and forgets the users without logout events.
#include "server/net/user_session.h"

#include <string>

#include "common/thread_manager.h"
#include "server/net/users_test_fixture.h"
#include "server/request/page_rows.h"
#include "server/request/request_admission.h"

namespace {

using namespace std::chrono_literals;

std::optional<std::string> noName(const std::string&, int) { return std::nullopt; }

class UserSessionTest : public UsersFolderTest {
 protected:
  void SetUp() override {
    UsersFolderTest::SetUp();
    setUserReverseLookup(noName);
    ASSERT_TRUE(initThreadManager());
    serverControl().serverRunning.store(1);
  }
  void TearDown() override {
    serverControl().serverRunning.store(0);
    stopUserTracking();
    closeThreadManager();
    UsersFolderTest::TearDown();
  }

  static int countOf(uint32_t id) {
    int count = 0;
    for (const CapturedEvent& e : capturedEvents()) count += e.id == id ? 1 : 0;
    return count;
  }
};

TEST_F(UserSessionTest, SilentUserIsLoggedOutOnceByTheSessionThread) {
  // A pass every 20 ms: the five passes of the real 100 s take about 100 ms.
  setUserTrackingTimings(UserTrackingTimings{10, 2, 100});
  ASSERT_TRUE(startUserTracking());
  bool listed = false;
  for (const ThreadListing& t : listThreads()) {
    listed = listed || t.tag == "initializeKestrovaNetwork/handler_WaitForUserResponse";
  }
  EXPECT_TRUE(listed);

  // Requests pass through the handler's hook.
  TableOwner request;
  addVariable(request.address(), "RemoteUser", "ann");
  addVariable(request.address(), "RemoteAddress", "10.9.8.7");
  requestAdmission().trackUser(request.address());
  EXPECT_EQ(countOf(0x108), 1);
  ASSERT_TRUE(waitUntil([] { return countOf(0x109) == 1; }, 3s));
  EXPECT_TRUE(loggedInUsers().empty());
  std::this_thread::sleep_for(150ms);  // more passes change nothing
  EXPECT_EQ(countOf(0x109), 1);
  EXPECT_EQ(capturedEvents().back().message, "out ann at 10.9.8.7");
}

TEST_F(UserSessionTest, StopEndsTheThreadAndForgetsUsersWithoutEvents) {
  setUserTrackingTimings(UserTrackingTimings{10, 100, 100});
  ASSERT_TRUE(startUserTracking());
  VariableTable errorPage = nullptr;
  TableOwner request;
  addVariable(request.address(), "RemoteAddress", "10.9.8.7");
  requestAdmission().trackUser(request.address());
  EXPECT_EQ(requestAdmission().verifyPassword(request.get(), &errorPage), kPasswordNotGiven);
  ASSERT_EQ(loggedInUsers().size(), 1u);

  stopUserTracking();  // the server still runs: the stop itself ends the thread
  // The thread has said it ends; the manager counts it out a moment after its routine returns.
  EXPECT_TRUE(waitUntil([] { return liveThreadCount() == 0; }, 2s));
  EXPECT_TRUE(loggedInUsers().empty());
  EXPECT_EQ(countOf(0x109), 0);
  TableOwner rows;
  addPageRows(PageRows::kLoggedInUsers, rows.address());
  EXPECT_STREQ(getVariable(rows.get(), "UsersLoggedInLoop"), "0");

  // A new start begins with an empty list and a new thread.
  ASSERT_TRUE(startUserTracking());
  EXPECT_TRUE(loggedInUsers().empty());
  EXPECT_EQ(liveThreadCount(), 1);
}

}  // namespace
