// The reply tree as mustache data; see reply_context.h.
#include "frontend/reply_context.h"

#include <string>

namespace mustache = kainjow::mustache;

namespace {

// A false text ("", "0", "false"): printed by {{Key}}, but a section over it renders nothing.
// kainjow hands a lambda the section's text, and an empty text when the lambda is printed as a
// variable. The returned text is one of the three constants, so it is safe to parse again.
mustache::data falseText(const std::string& value) {
  return mustache::data(
      mustache::lambda{[value](const std::string& text) { return text.empty() ? value : std::string(); }});
}

bool isDecimalText(const std::string& value) {
  if (value.empty() || value.size() > 9) return false;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

mustache::data mustacheContextOf(const ReplyNode& node) {
  mustache::data object(mustache::data::type::object);
  for (const auto& [key, value] : node.scalars) {
    const bool isList = node.lists.count(key) != 0;
    if (!isList) object.set(key, isFalseText(value) ? falseText(value) : mustache::data(value));
    object.set(key + "_bool", mustache::data(isList || !isFalseText(value)));
    // Every count, also of a list without rows, is printable the same way.
    if (isDecimalText(value)) object.set(key + "_count", mustache::data(value));
  }
  for (const auto& [key, rows] : node.lists) {
    mustache::data list(mustache::data::type::list);
    size_t index = 0;
    for (const ReplyNode& row : rows) {
      mustache::data item = mustacheContextOf(row);
      item.set("index", mustache::data(std::to_string(index++)));
      list.push_back(item);
    }
    object.set(key, list);
  }
  return object;
}
