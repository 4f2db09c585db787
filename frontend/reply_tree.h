// The server's reply table as a tree: every key as a text, and the lists that the table's naming
// convention describes ("ServerLoop" = 2 with "ServerLoop0Ip", "ServerLoop1Ip"; nested lists
// inside rows the same way, "RescanLoop0ScsiDevices" = 3 with "RescanLoop0ScsiDevices0Vendor").
// The page templates (reply_context.h) and the JSON API (reply_json.h) are both built from it.
//
// Thread safety: pure functions over values.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/variable_table.h"

// Key -> value, the newest entry of a duplicated key winning (as the table's lookups do).
using FlatReply = std::map<std::string, std::string>;
FlatReply flattenReply(VariableTable reply);

struct ReplyNode {
  std::map<std::string, std::string> scalars;           // every key of this level
  std::map<std::string, std::vector<ReplyNode>> lists;  // the keys of this level that are lists
  std::set<std::string> rowKeys;                        // keys of this level that belong to a list's rows
};

// At most this many rows per list and this many levels of nesting; the rest is left as texts.
inline constexpr size_t kMaxListRows = 65536;
inline constexpr int kMaxListDepth = 8;

// A key L becomes a list when its value is a decimal count N >= 1 and at least one key
// "L<i><Field>" exists with i < N (i without leading zeros, Field not starting with a digit).
// Rows without any key are empty.
ReplyNode buildReplyTree(const FlatReply& flat);

// "", "0" and "false": the texts a template section treats as false.
bool isFalseText(const std::string& value);
