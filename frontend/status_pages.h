// The answers the front end gives by itself, when the server cannot give one: plain HTML pages
// (or JSON for the API) that say what happened, never a blank page. A restarting server's page
// reloads itself.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

#include "frontend/front_request.h"

enum class AnswerKind { kPage, kJson };

// A message page: status, title, text, and when refreshSeconds > 0 a reload of refreshUrl (the
// same address when empty) after that many seconds. Texts are escaped here.
FrontResponse messageAnswer(AnswerKind kind, int status, std::string_view title, std::string_view text,
                            int refreshSeconds = 0, std::string_view refreshUrl = {});

// The answer for a failed round trip (a CgiClientResult other than kCgiOk). retryUrl is where a
// reload goes (the request's own address for a GET; the main page for a POST).
FrontResponse slotFailureAnswer(AnswerKind kind, int cgiResult, std::string_view retryUrl);

// 401 with WWW-Authenticate; nothing of the request went anywhere.
FrontResponse unauthorizedAnswer(AnswerKind kind);

// The headers every dynamic answer carries (no caching, no sniffing, no framing by others).
void addDynamicHeaders(FrontResponse* response);

// HTML-escapes & < > " '.
std::string htmlEscaped(std::string_view text);

inline constexpr const char kMainPageUrl[] = "/cgi-bin/cgiloader.cgi?module=server&method=LoadIndex";
inline constexpr const char kAuthRealm[] = "Basic realm=\"Kestrova\", charset=\"UTF-8\"";
