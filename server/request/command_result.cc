// The command result pop-up keys; see command_result.h.
#include "server/request/command_result.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/property_file.h"
#include "common/string_tables.h"

namespace {

std::string lookupText(const char* key) {
  char* text = lookupString(kStringsDbPath, key);
  std::string value = text ? text : kMissing;
  std::free(text);
  return value;
}

// The outcome text with the command's text in place of its first %s. The outcome text comes from
// a data file, so it is never used as a format: any other % stays as it is.
std::string fillCommand(const std::string& outcome, const std::string& command) {
  const size_t at = outcome.find("%s");
  if (at == std::string::npos) return outcome;
  return outcome.substr(0, at) + command + outcome.substr(at + 2);
}

}  // namespace

void addCommandResult(VariableTable* reply, bool failed, const char* commandKey, const char* detailsKey) {
  addCommandResultText(reply, failed, commandKey, detailsKey ? lookupText(detailsKey).c_str() : nullptr);
}

void addCommandResultText(VariableTable* reply, bool failed, const char* commandKey, const char* details) {
  const std::string command = lookupText(commandKey ? commandKey : "");
  const std::string outcome = lookupText(failed ? "CommandFail" : "CommandOK");
  addVariable(reply, "MessageSummary", fillCommand(outcome, command).c_str());
  addVariable(reply, "MessageDetails", details ? details : " ");
  addVariable(reply, "MessageImageSrc", failed ? "/images/popup_error.gif" : "/images/popup_info.gif");
  addBoolVariable(reply, "MessageIsSuccess", !failed);
}
