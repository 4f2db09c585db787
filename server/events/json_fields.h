// Reading fields of JSON objects that this server wrote earlier (the webhooks' queue, the saved
// conditions) without trusting them: a field that is absent or of another type reads as empty or
// 0, never as an exception.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

inline std::string jsonText(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return std::string();
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

inline uint64_t jsonNumber(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return 0;
  const auto it = object.find(key);
  return it != object.end() && it->is_number_unsigned() ? it->get<uint64_t>() : 0;
}
