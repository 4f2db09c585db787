// Tests of the password change and the verification-password check: each refusal leaves the
// file as it was and answers its detail; a change writes the stored user with a fresh hash and
// raises its event; a delayed change answers first, runs on its keep-bit thread and then asks for
// the restart; the server method reaches the change (the modules' request 2 is tested with the
// module services).
#include "server/net/password_change.h"

#include <atomic>
#include <cerrno>
#include <map>
#include <string>

#include "common/apr1.h"
#include "common/file_platform.h"
#include "common/thread_manager.h"
#include "server/net/users_test_fixture.h"
#include "server/request/request_admission.h"
#include "server/request/router.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> gRestarts{0};
void countRestart() { gRestarts.fetch_add(1); }

std::map<std::string, std::string> mapOf(VariableTable table) {
  std::map<std::string, std::string> values;
  for (VariableEntry* e = table; e != nullptr; e = e->next) values.emplace(e->key, e->value);
  return values;
}

class PasswordChangeTest : public UsersFolderTest {
 protected:
  void SetUp() override {
    UsersFolderTest::SetUp();
    oldLine_ = "admin:" + apr1Hash("old pass", "oldsalt1");
    writeBytes("db/password.web", oldLine_);
    gRestarts.store(0);
    setPasswordRestart(countRestart);
  }

  static std::map<std::string, std::string> update(
      std::initializer_list<std::pair<const char*, const char*>> pairs) {
    TableOwner request;
    for (const auto& [key, value] : pairs) addVariable(request.address(), key, value);
    TableOwner reply(UpdatePassword(request.get()));
    return mapOf(reply.get());
  }

  static bool fileAcceptsPassword(const char* password) {
    PasswordRecord record;
    return readPasswordFile("db/password.web", &record) == kPasswordFileOk && record.userName == "admin" &&
           passwordMatches(password, record);
  }

  std::string oldLine_;
};

TEST_F(PasswordChangeTest, RefusalsLeaveTheFileAndAnswerTheirDetails) {
  auto missing = update({{"OldPassword", "old pass"}});
  EXPECT_EQ(missing["MessageDetails"], "fields missing");
  EXPECT_EQ(missing["MessageIsSuccess"], "false");
  EXPECT_EQ(missing["MessageSummary"], "Password change failed.");
  EXPECT_EQ(missing.count("RedirectMainPage"), 0u);
  EXPECT_EQ(missing["HTMLPath"], "../Server/other/setting_password.htm");
  EXPECT_EQ(update({{"NewPassword", "x"}})["MessageDetails"], "fields missing");

  auto wrong = update({{"OldPassword", "Old pass"}, {"NewPassword", "new pass"}});
  EXPECT_EQ(wrong["MessageDetails"], "old wrong");
  EXPECT_EQ(wrong["MessageIsSuccess"], "false");
  EXPECT_EQ(readBytes("db/password.web"), oldLine_);

  std::filesystem::remove("db/password.web");
  EXPECT_EQ(update({{"OldPassword", "old pass"}, {"NewPassword", "new pass"}})["MessageDetails"], "no file");
  EXPECT_FALSE(std::filesystem::exists("db/password.web"));
  EXPECT_TRUE(capturedEvents().empty());
}

TEST_F(PasswordChangeTest, ImmediateChangeWritesTheStoredUserAndRaisesTheEvent) {
  auto reply = update({{"OldPassword", "old pass"},
                       {"NewPassword", "new pass"},
                       {"RemoteUser", "bob"},
                       {"RemoteAddress", "10.1.2.3"}});
  EXPECT_EQ(reply["MessageIsSuccess"], "true");
  EXPECT_EQ(reply["MessageSummary"], "Password change worked.");
  EXPECT_EQ(reply["RedirectMainPage"], "true");
  const std::string line = readBytes("db/password.web");
  ASSERT_EQ(line.size(), std::string("admin:").size() + 37) << line;
  EXPECT_EQ(line.substr(0, 12), "admin:$apr1$");
  EXPECT_EQ(line[6 + 6 + 8], '$');
  EXPECT_NE(line.substr(12, 8), "oldsalt1");  // a fresh salt
  EXPECT_TRUE(fileAcceptsPassword("new pass"));
  EXPECT_FALSE(fileAcceptsPassword("old pass"));

  const auto events = capturedEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 0x106u);
  EXPECT_EQ(events[0].level, 0u);
  EXPECT_EQ(events[0].message, "changed by bob from 10.1.2.3 host ??");
  EXPECT_EQ(gRestarts.load(), 0);  // only the delayed change restarts
}

ssize_t failingWrite(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}

TEST_F(PasswordChangeTest, AFailedWriteIsReportedAndKeepsTheOldPassword) {
  const PasswordFileIo io = {failingWrite, syncFile};
  setPasswordFileIo(&io);
  auto reply = update({{"OldPassword", "old pass"}, {"NewPassword", "new pass"}, {"RemoteHost", "pc7"}});
  EXPECT_EQ(reply["MessageIsSuccess"], "false");
  EXPECT_EQ(reply["MessageDetails"], "not saved");
  EXPECT_EQ(reply.count("RedirectMainPage"), 0u);
  EXPECT_EQ(readBytes("db/password.web"), oldLine_);
  const auto events = capturedEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 0x107u);
  EXPECT_EQ(events[0].level, 2u);
  EXPECT_EQ(events[0].message, "change failed by ?? from ?? host pc7");
}

TEST_F(PasswordChangeTest, DelayedChangeAnswersFirstThenChangesOnItsThreadAndRestarts) {
  ASSERT_TRUE(initThreadManager());
  serverControl().serverRunning.store(1);
  setPasswordChangeTimings(PasswordChangeTimings{300, 5});
  auto reply = update({{"OldPassword", "old pass"}, {"NewPassword", "later"}, {"Delay", "1"}});
  EXPECT_EQ(reply["MessageIsSuccess"], "true");
  EXPECT_EQ(reply["RedirectMainPage"], "true");
  EXPECT_EQ(readBytes("db/password.web"), oldLine_);  // not yet
  bool listed = false;
  for (const ThreadListing& thread : listThreads()) {
    if (thread.tag == "waitThenChangePassword" && thread.running)
      listed = (thread.options & kThreadKeep) != 0;
  }
  EXPECT_TRUE(listed);

  ASSERT_TRUE(waitUntil([] { return gRestarts.load() == 1; }));
  EXPECT_TRUE(fileAcceptsPassword("later"));
  const auto events = capturedEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 0x106u);
  EXPECT_TRUE(waitUntil([] { return liveThreadCount() == 0; }));
  serverControl().serverRunning.store(0);
  closeThreadManager();
}

TEST_F(PasswordChangeTest, DelayedChangeIsNotLostWhenTheServerStopsMeanwhile) {
  ASSERT_TRUE(initThreadManager());
  serverControl().serverRunning.store(1);
  setPasswordChangeTimings(PasswordChangeTimings{60000, 5});
  update({{"OldPassword", "old pass"}, {"NewPassword", "later"}, {"Delay", "1"}});
  std::this_thread::sleep_for(50ms);  // a change that ignored its delay would be written by now
  EXPECT_EQ(readBytes("db/password.web"), oldLine_);
  serverControl().serverRunning.store(0);
  EXPECT_TRUE(waitUntil([] { return liveThreadCount() == 0; }, 2s));
  EXPECT_TRUE(fileAcceptsPassword("later"));
  EXPECT_EQ(gRestarts.load(), 0);  // nothing to restart
  closeThreadManager();
}

TEST_F(PasswordChangeTest, ServerMethodReachesTheChange) {
  TableOwner request;
  addVariable(request.address(), "module", "server");
  addVariable(request.address(), "method", "UpdatePassword");
  addVariable(request.address(), "OldPassword", "old pass");
  addVariable(request.address(), "NewPassword", "routed");
  TableOwner routed(routeRequest(request.get()));
  EXPECT_STREQ(getVariable(routed.get(), "MessageIsSuccess"), "true");
  EXPECT_TRUE(fileAcceptsPassword("routed"));
}

TEST_F(PasswordChangeTest, VerificationPasswordCheck) {
  VariableTable errorPage = nullptr;
  TableOwner none;
  addVariable(none.address(), "method", "x");
  EXPECT_EQ(verifyRequestPassword(none.get(), &errorPage), kPasswordNotGiven);
  EXPECT_EQ(errorPage, nullptr);

  TableOwner right;
  addVariable(right.address(), "VerificationPassword", "old pass");
  EXPECT_EQ(verifyRequestPassword(right.get(), &errorPage), kPasswordMatches);
  EXPECT_EQ(errorPage, nullptr);

  TableOwner wrong;
  addVariable(wrong.address(), "VerificationPassword", "old pas");
  ASSERT_EQ(verifyRequestPassword(wrong.get(), &errorPage), kPasswordRefused);
  TableOwner page(errorPage);
  auto values = mapOf(page.get());
  EXPECT_EQ(values["MessageSummary"], "wrong verification");
  EXPECT_EQ(values["MessageDetails"], " ");
  EXPECT_EQ(values["MessageImageSrc"], "/images/popup_error.gif");
  EXPECT_EQ(values["MessageIsSuccess"], "false");
  EXPECT_EQ(values["HTMLPath"], "../Common/MessagePopupPanel.htm");

  // Without a readable file every verification password is refused; without the text the
  // built-in one is shown.
  std::filesystem::remove("db/password.web");
  writeBytes("db/strings.db", "CommandOK = %s\n");
  ASSERT_EQ(verifyRequestPassword(right.get(), &errorPage), kPasswordRefused);
  TableOwner fallback(errorPage);
  EXPECT_STREQ(getVariable(fallback.get(), "MessageSummary"), "Password is not correct");
  EXPECT_EQ(verifyRequestPassword(right.get(), nullptr), kPasswordRefused);
}

}  // namespace
