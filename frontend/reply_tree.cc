// The reply table as a tree of texts and lists; see reply_tree.h.
#include "frontend/reply_tree.h"

#include <algorithm>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A row count: 1 to 9 decimal digits.
bool parseCount(const std::string& text, size_t* count) {
  if (text.empty() || text.size() > 9) return false;
  size_t value = 0;
  for (char c : text) {
    if (!isDigit(c)) return false;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  *count = value;
  return true;
}

// Splits rest ("12Field") into row index and field; false when it is no row key.
bool splitRowKey(const std::string& rest, size_t* index, std::string* field) {
  size_t digits = 0;
  while (digits < rest.size() && isDigit(rest[digits])) ++digits;
  if (digits == 0 || digits > 9 || digits == rest.size()) return false;
  if (digits > 1 && rest[0] == '0') return false;  // rows are numbered without leading zeros
  size_t value = 0;
  for (size_t i = 0; i < digits; ++i) value = value * 10 + static_cast<size_t>(rest[i] - '0');
  *index = value;
  *field = rest.substr(digits);
  return true;
}

using Level = std::map<std::string, std::string>;

ReplyNode buildLevel(const Level& level, int depth);

// The rows of list `name` with `count` rows, or false when no key belongs to them.
bool collectRows(const Level& level, const std::string& name, size_t count, int depth, ReplyNode* node) {
  count = std::min(count, kMaxListRows);
  std::vector<Level> rows;
  bool any = false;
  // Row keys sort right after name + "0" and before name + ":" (the character after "9").
  for (auto it = level.lower_bound(name + "0");
       it != level.end() && it->first.compare(0, name.size(), name) == 0; ++it) {
    const std::string rest = it->first.substr(name.size());
    if (rest.empty() || !isDigit(rest[0])) break;
    size_t index = 0;
    std::string field;
    if (!splitRowKey(rest, &index, &field) || index >= count) continue;
    if (!any) rows.resize(count);
    any = true;
    rows[index][field] = it->second;
    node->rowKeys.insert(it->first);
  }
  if (!any) return false;
  std::vector<ReplyNode>& list = node->lists[name];
  list.reserve(rows.size());
  for (const Level& row : rows) list.push_back(buildLevel(row, depth + 1));
  return true;
}

ReplyNode buildLevel(const Level& level, int depth) {
  ReplyNode node;
  node.scalars = level;
  if (depth >= kMaxListDepth) return node;
  for (const auto& [key, value] : level) {
    size_t count = 0;
    if (!parseCount(value, &count) || count == 0) continue;
    collectRows(level, key, count, depth, &node);
  }
  return node;
}

}  // namespace

FlatReply flattenReply(VariableTable reply) {
  FlatReply flat;
  // Newest first: the first entry of a key is the one a lookup finds.
  for (VariableEntry* entry = reply; entry != nullptr; entry = entry->next)
    flat.emplace(entry->key, entry->value);
  return flat;
}

ReplyNode buildReplyTree(const FlatReply& flat) { return buildLevel(flat, 0); }

bool isFalseText(const std::string& value) { return value.empty() || value == "0" || value == "false"; }
