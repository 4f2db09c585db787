// Command result message: the pop-up keys with which a page reports the outcome of a command
// (settings saved, log cleared, test sent), filled from texts of db/strings.db.
//
// Thread safety: any thread (the string tables are read-only while the server runs).
#pragma once

#include "common/variable_table.h"

// Adds to *reply: "MessageSummary" (the "CommandOK" or "CommandFail" text with the command key's
// text put in place of its %s), "MessageDetails" (the details key's text, or a single blank when
// detailsKey is null), "MessageImageSrc" (error or info image) and "MessageIsSuccess". The
// caller sets "HTMLPath".
void addCommandResult(VariableTable* reply, bool failed, const char* commandKey, const char* detailsKey);
// As addCommandResult, with details given as text instead of a key (a test's outcome with the
// receiver's own answer). Null details give a single blank.
void addCommandResultText(VariableTable* reply, bool failed, const char* commandKey, const char* details);
