// The administrator password as requests meet it: the server method UpdatePassword (also the
// modules' server request 2), the change itself (at once, or after a delay on the keep-bit thread
// "waitThenChangePassword" so that the reply reaches the browser first, followed by a restart of
// the server), and the check of a request's "VerificationPassword" before it is routed.
//
// Thread safety: any thread. The delayed change owns its copy of the request. The timings and
// the restart seam are set only by tests while no change runs.
#pragma once

#include <cstdint>

#include "common/variable_table.h"

// Server method UpdatePassword: request "OldPassword", "NewPassword", optional "Delay". Returns a
// new reply table (the caller frees it) with the "CmdSetPassword" command result, on success
// "RedirectMainPage" = "true", and "HTMLPath". Failure details: "MissingParams", "PasswordNoOpen"
// (the file cannot be read), "PasswordNotValid" (wrong old password), "PasswordNoSave" (the new
// password could not be stored, or its thread not started).
VariableTable UpdatePassword(VariableTable request);

// Writes the hash of the request's "NewPassword" under a fresh salt for its "UserName", and
// raises KestrovaEvent_PasswordUpdated or KestrovaEvent_PasswordUpdateFailed with the request's
// "RemoteUser", "RemoteAddress" and "RemoteHost". With "Delay" in the request it first waits
// (7 s, cut short when the server stops). request is borrowed. True when the file was written.
bool changePassword(VariableTable request);

// The check of a request's "VerificationPassword": kPasswordNotGiven (2) when there is none,
// kPasswordMatches (0), or kPasswordRefused (1) when it does not match or the password file cannot
// be read; *errorReply then receives the error pop-up page (a new table the caller frees),
// otherwise null. errorReply may be null.
int verifyRequestPassword(VariableTable request, VariableTable* errorReply);

// At every start: while the password file still holds the installed default login
// (common/default_login.h), raises the warning KestrovaEvent_DefaultPassword (0x10C). True when
// it did.
bool warnAboutDefaultPassword();
inline constexpr uint32_t kEventDefaultPassword = 0x10C;

struct PasswordChangeTimings {
  int delayMs = 7000;  // wait of a delayed change
  int stepMs = 100;    // the wait watches the server-running word this often
};
void setPasswordChangeTimings(const PasswordChangeTimings& timings);

// Test seam: what a delayed change does after it succeeded while the server runs (default:
// restart the server as the rescan does, unless a restart is already under way). null restores
// the default.
typedef void (*PasswordRestart)();
void setPasswordRestart(PasswordRestart restart);
