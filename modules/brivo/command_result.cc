// Command result texts; see command_result.h.
#include "modules/brivo/command_result.h"

#include <cstdio>
#include <string>

#include "modules/brivo/module_files.h"
#include "modules/brivo/stored_format.h"

namespace brivo {

namespace {

std::string commandText(const char* key) { return ModuleFiles::text(StringTable::kCommand, key); }

// The outcome text with the method's text in place of its first %s (never used as a format).
std::string fillMethod(const std::string& outcome, const std::string& method) {
  const size_t at = outcome.find("%s");
  if (at == std::string::npos) return outcome;
  return outcome.substr(0, at) + method + outcome.substr(at + 2);
}

std::string failureDetails(int result, const uint8_t* sense) {
  char key[48];
  SenseCodes codes;
  if (result == kResultCheckCondition && decodeSense(sense, &codes)) {
    std::snprintf(key, sizeof(key), "CommandFail_02_%.2X_%.2X_%.2X", codes.key, codes.asc, codes.ascq);
    std::string format = commandText(key);
    if (format == kMissing) format = commandText("CommandFail_02_MoreInfo");
    return formatStoredText(
        format, {static_cast<int>(codes.key), static_cast<int>(codes.asc), static_cast<int>(codes.ascq)});
  }
  std::snprintf(key, sizeof(key), "CommandFail_%.2X", static_cast<unsigned>(result) & 0xFFu);
  const std::string text = commandText(key);
  if (text != kMissing) return text;
  return formatStoredText(commandText("CommandFail_Unknown"), {result});
}

}  // namespace

void addControllerCommandResult(VariableTable* reply, const char* methodKey, int result,
                                const uint8_t* sense) {
  const bool failed = result != kResultGood;
  const std::string method = commandText(methodKey != nullptr ? methodKey : "");
  const std::string outcome = commandText(failed ? "CommandFail" : "CommandOk");
  addVariable(reply, "MessageSummary", fillMethod(outcome, method).c_str());
  addVariable(reply, "MessageDetails", failed ? failureDetails(result, sense).c_str() : " ");
  addVariable(reply, "MessageImageSrc", failed ? "/images/popup_error.gif" : "/images/popup_info.gif");
  addVariable(reply, "MessageIsSuccess", failed ? "false" : "true");
}

void addControllerCommandResult(VariableTable* reply, const char* methodKey, int result,
                                const ControllerCommand& failed) {
  addControllerCommandResult(reply, methodKey, result, failed.sense);
}

}  // namespace brivo
