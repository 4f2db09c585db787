// Command result texts of the module's data-altering web methods: the four pop-up keys
// "MessageSummary", "MessageDetails", "MessageImageSrc" and "MessageIsSuccess", filled from
// mods/Brivo/CommandStrings.db with the method's own key (for example "ClearControllerLogs").
//
// Summary: "CommandOk" or "CommandFail" with the method's text in place of its %s. Details on
// failure: for a check condition with sense data the text of "CommandFail_02_KK_AA_QQ" (sense
// key, additional sense code, qualifier as two upper-case hex digits each), else of
// "CommandFail_02_MoreInfo", filled with the same three values; for any other result the text of
// "CommandFail_RR" (the result code), or of "CommandFail_Unknown" filled with the code when the
// file has no text for it. A single blank on success.
//
// Thread safety: any thread.
#pragma once

#include <cstdint>

#include "common/variable_table.h"
#include "modules/brivo/controller_command.h"

namespace brivo {

// result: 0 or a command result code; sense: the failed command's sense data (32 bytes), or null.
void addControllerCommandResult(VariableTable* reply, const char* methodKey, int result,
                                const uint8_t* sense);
// The same, with the sense data of the record that failed.
void addControllerCommandResult(VariableTable* reply, const char* methodKey, int result,
                                const ControllerCommand& failed);

}  // namespace brivo
