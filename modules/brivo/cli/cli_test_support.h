// Helpers for the interpreter's unit tests: a context whose writers fill a reply owned by the
// helper, and the reply's "textloop%dtext" lines read back in order.
//
// Thread safety: test thread only.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/variable_table.h"
#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli::testing {

// The lines of a reply, "textloop0text" up to the count under "textloop" (or up to the first
// missing number when the count is absent).
inline std::vector<std::string> replyLines(VariableTable reply) {
  std::vector<std::string> lines;
  const char* countText = getVariable(reply, "textloop");
  const int count = countText != nullptr ? std::atoi(countText) : 1 << 20;
  for (int i = 0; i < count; ++i) {
    char key[32];
    std::snprintf(key, sizeof(key), "textloop%dtext", i);
    const char* value = getVariable(reply, key);
    if (value == nullptr) break;
    lines.emplace_back(value);
  }
  return lines;
}

inline std::string replyText(VariableTable reply) {
  std::string text;
  for (const std::string& line : replyLines(reply)) text += line;
  return text;
}

// A context writing into its own reply table.
struct CapturedContext {
  CapturedContext() { ctx.reply = reply.address(); }
  std::vector<std::string> lines() const { return replyLines(reply.get()); }
  std::string text() const { return replyText(reply.get()); }

  TableOwner reply;
  CliContext ctx;
};

}  // namespace brivo::cli::testing
