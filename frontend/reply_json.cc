// The reply tree as JSON; see reply_json.h.
#include "frontend/reply_json.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

Json jsonOf(const ReplyNode& node) {
  Json object = Json::object();
  for (const auto& [key, value] : node.scalars) {
    if (node.rowKeys.count(key) != 0 || node.lists.count(key) != 0) continue;
    object[key] = value;
  }
  for (const auto& [key, rows] : node.lists) {
    if (node.rowKeys.count(key) != 0) continue;  // a nested list, shown inside its row
    Json array = Json::array();
    for (const ReplyNode& row : rows) array.push_back(jsonOf(row));
    object[key] = std::move(array);
    object[key + "_count"] = node.scalars.at(key);
  }
  return object;
}

std::string dumped(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string replyJsonText(const ReplyNode& node) { return dumped(jsonOf(node)); }

std::string errorJsonText(const std::string& message, const std::string& result) {
  return dumped(Json{{"error", message}, {"result", result}});
}
