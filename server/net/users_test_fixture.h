// Test fixture of the users and password tests: each test runs in a fresh temporary working
// folder with a db/strings.db of known texts, and every event the component raises is captured
// instead of reaching the notification dispatcher. Control words, seams and timings are put back
// afterwards.
//
// Thread safety: one fixture per test; the captured events are guarded by their own lock because
// the session and password threads raise them.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/test_folder.h"
#include "common/thread_annotations.h"
#include "server/net/password_change.h"
#include "server/net/password_file.h"
#include "server/net/user_events.h"
#include "server/net/users.h"
#include "server/request/local_addresses.h"
#include "server/server_state.h"
#include "tests/support/wait_until.h"

struct CapturedEvent {
  std::string device;
  std::string message;
  uint32_t level;
  uint32_t id;
};

using test_support::waitUntil;

class UsersFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    std::filesystem::create_directory("db");
    writeBytes("db/strings.db",
               "CommandOK = %s worked.\nCommandFail = %s failed.\nCmdSetPassword = Password change\n"
               "MissingParams = fields missing\nPasswordNoOpen = no file\nPasswordNotValid = old wrong\n"
               "PasswordNoSave = not saved\nPasswordIncorrect = wrong verification\n"
               "KestrovaEvent_PasswordUpdated = changed by %s from %s host %s\n"
               "KestrovaEvent_PasswordUpdateFailed = change failed by %s from %s host %s\n"
               "KestrovaEvent_UserLogIn0 = in %s at %s\nKestrovaEvent_UserLogIn1 = in %s on %s at %s\n"
               "KestrovaEvent_UserLogOut0 = out %s at %s\nKestrovaEvent_UserLogOut1 = out %s on %s at %s\n");
    {
      MutexLock guard(eventsLock());
      events().clear();
    }
    setUserEventRaiser(captureEvent);
    serverControl().serverRunning.store(0);
    serverControl().rescanRequested.store(0);
  }

  void TearDown() override {
    setUserEventRaiser(nullptr);
    setUserReverseLookup(nullptr);
    setUserTrackingTimings(UserTrackingTimings{});
    setPasswordChangeTimings(PasswordChangeTimings{});
    setPasswordRestart(nullptr);
    setPasswordFileIo(nullptr);
    closeUserList();
    clearLocalAddresses();
    serverControl().serverRunning.store(0);
    serverControl().rescanRequested.store(0);
    std::filesystem::current_path(previous_);
  }

  static std::vector<CapturedEvent> capturedEvents() {
    MutexLock guard(eventsLock());
    return events();
  }

  TestFolder folder_;

 private:
  static Mutex& eventsLock() {
    static Mutex lock;
    return lock;
  }
  static std::vector<CapturedEvent>& events() REQUIRES(eventsLock()) {
    static std::vector<CapturedEvent> list;
    return list;
  }
  static int captureEvent(const char* device, const char* message, uint32_t level, uint32_t, uint32_t id,
                          uint8_t) {
    MutexLock guard(eventsLock());
    events().push_back(
        CapturedEvent{device != nullptr ? device : "", message != nullptr ? message : "", level, id});
    return 0;
  }

  std::filesystem::path previous_;
};
