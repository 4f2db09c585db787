// The password change and the verification-password check; see password_change.h.
#include "server/net/password_change.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "common/apr1.h"
#include "common/default_login.h"
#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/main_loop.h"
#include "server/net/password_file.h"
#include "server/net/user_events.h"
#include "server/request/command_result.h"
#include "server/request/request_admission.h"
#include "server/server_state.h"

namespace {

constexpr uint32_t kDefaultPasswordLevel = 1;  // a warning

constexpr const char kCommandKey[] = "CmdSetPassword";
constexpr const char kPasswordPage[] = "../Server/other/setting_password.htm";
constexpr const char kChangeThreadTag[] = "waitThenChangePassword";

void restartServerAfterChange() {
  int idle = 0;
  // One restart at a time: a rescan or preferences restart already under way takes this one along.
  if (!serverControl().rescanRequested.compare_exchange_strong(idle, 1)) return;
  waitAndThenRestartServer(0);
}

Mutex gTimingsLock;
PasswordChangeTimings gTimings GUARDED_BY(gTimingsLock);
std::atomic<PasswordRestart> gRestart{restartServerAfterChange};

PasswordChangeTimings timings() {
  MutexLock guard(gTimingsLock);
  return gTimings;
}

VariableTable resultReply(const char* failureDetails) {
  VariableTable reply = nullptr;
  addCommandResult(&reply, failureDetails != nullptr, kCommandKey, failureDetails);
  if (failureDetails == nullptr) addVariable(&reply, "RedirectMainPage", "true");
  addVariable(&reply, "HTMLPath", kPasswordPage);
  return reply;
}

// The delay of a delayed change. The change is made even when the server stops meanwhile: the
// browser was already told it succeeded.
void waitBeforeChange() {
  const PasswordChangeTimings t = timings();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t.delayMs);
  while (isServerRunning() && std::chrono::steady_clock::now() < deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(t.stepMs, left.count() + 1)));
  }
}

void waitThenChangePassword(uintptr_t context) {
  TableOwner request(reinterpret_cast<VariableTable>(context));
  if (changePassword(request.get()) && isServerRunning()) gRestart.load()();
}

std::string incorrectPasswordText() {
  char* text = lookupString(kStringsDbPath, "PasswordIncorrect");
  std::string summary =
      (text == nullptr || std::strcmp(text, kMissing) == 0) ? std::string("Password is not correct") : text;
  std::free(text);
  return summary;
}

}  // namespace

VariableTable UpdatePassword(VariableTable request) {
  const char* oldPassword = getVariable(request, "OldPassword");
  const char* newPassword = getVariable(request, "NewPassword");
  if (oldPassword == nullptr || newPassword == nullptr) return resultReply("MissingParams");
  PasswordRecord record;
  if (readPasswordFile(kPasswordPath, &record) != kPasswordFileOk) return resultReply("PasswordNoOpen");
  if (!passwordMatches(oldPassword, record)) return resultReply("PasswordNotValid");

  TableOwner copy(copyVariableTable(request));
  addVariable(copy.address(), "UserName", record.userName.c_str());
  if (getVariable(request, "Delay") == nullptr) {
    return resultReply(changePassword(copy.get()) ? nullptr : "PasswordNoSave");
  }
  const uintptr_t context = reinterpret_cast<uintptr_t>(copy.get());
  if (startThread(waitThenChangePassword, context, kThreadKeep, kChangeThreadTag) == 0) {
    return resultReply("PasswordNoSave");
  }
  copy.release();  // the thread owns it now
  return resultReply(nullptr);
}

bool changePassword(VariableTable request) {
  if (getVariable(request, "Delay") != nullptr) waitBeforeChange();
  const char* userName = getVariable(request, "UserName");
  const char* newPassword = getVariable(request, "NewPassword");
  bool written = false;
  if (userName != nullptr && newPassword != nullptr) {
    const std::string hash = apr1Hash(newPassword, newPasswordSalt());
    written = !hash.empty() && writePasswordFile(kPasswordPath, userName, hash) == kPasswordFileOk;
  }
  const char* remoteUser = getVariable(request, "RemoteUser");
  const char* remoteAddress = getVariable(request, "RemoteAddress");
  const char* remoteHost = getVariable(request, "RemoteHost");
  if (written) {
    raiseUserEvent("KestrovaEvent_PasswordUpdated", kEventPasswordUpdated, 0,
                   {remoteUser, remoteAddress, remoteHost});
  } else {
    raiseUserEvent("KestrovaEvent_PasswordUpdateFailed", kEventPasswordUpdateFailed, 2,
                   {remoteUser, remoteAddress, remoteHost});
  }
  return written;
}

int verifyRequestPassword(VariableTable request, VariableTable* errorReply) {
  if (errorReply != nullptr) *errorReply = nullptr;
  const char* given = getVariable(request, "VerificationPassword");
  if (given == nullptr) return kPasswordNotGiven;
  PasswordRecord record;
  if (readPasswordFile(kPasswordPath, &record) == kPasswordFileOk && passwordMatches(given, record)) {
    return kPasswordMatches;
  }
  if (errorReply != nullptr) {
    addVariable(errorReply, "MessageSummary", incorrectPasswordText().c_str());
    addVariable(errorReply, "MessageDetails", " ");
    addVariable(errorReply, "MessageImageSrc", "/images/popup_error.gif");
    addVariable(errorReply, "MessageIsSuccess", "false");
    addVariable(errorReply, "HTMLPath", "../Common/MessagePopupPanel.htm");
  }
  return kPasswordRefused;
}

void setPasswordChangeTimings(const PasswordChangeTimings& t) {
  MutexLock guard(gTimingsLock);
  gTimings = t;
}

void setPasswordRestart(PasswordRestart restart) {
  gRestart.store(restart != nullptr ? restart : restartServerAfterChange);
}

bool warnAboutDefaultPassword() {
  PasswordRecord record;
  if (readPasswordFile(kPasswordPath, &record) != kPasswordFileOk || record.userName != kDefaultLoginUser ||
      !passwordMatches(kDefaultLoginPassword, record)) {
    return false;
  }
  raiseUserEvent("KestrovaEvent_DefaultPassword", kEventDefaultPassword, kDefaultPasswordLevel, {});
  return true;
}
