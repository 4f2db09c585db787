// Text helpers of the notifiers that speak structured formats (RFC 5424 syslog, JSON webhooks):
// event texts come from controllers and users and may hold any bytes, while those formats need
// valid UTF-8 without control characters.
//
// Thread safety: pure functions (gmtime_r); any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// The text with every byte that does not belong to a valid UTF-8 sequence replaced by '?', and
// every control character (line breaks included) by a space.
std::string cleanUtf8(std::string_view text);
// The text as a JSON string literal, quotes included (after cleanUtf8).
std::string jsonString(std::string_view text);
// "2024-12-06T09:05:03Z" (RFC 3339, UTC).
std::string rfc3339Utc(time_t when);
// "information", "warning", "error" or "notice" for levels 0, 1, 2 and 4; "warning" for others.
const char* concernLevelName(uint32_t concernLevel);
// "0x0B27": the event ID as four (or more) upper-case hexadecimal digits.
std::string eventIdText(uint32_t eventId);
