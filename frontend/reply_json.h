// The reply tree as JSON for the /api/<module>/<method> answers: texts as strings, lists as
// arrays of row objects (their rows' flat keys left out of the level above), and each list's
// count as "<List>_count".
//
// Thread safety: pure functions over values.
#pragma once

#include <string>

#include "frontend/reply_tree.h"

// The JSON text of node. Bytes that are not UTF-8 become U+FFFD; never throws.
std::string replyJsonText(const ReplyNode& node);

// {"error": message, "result": result} as JSON text.
std::string errorJsonText(const std::string& message, const std::string& result);
