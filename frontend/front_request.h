// One HTTP exchange as the front end's core sees it, whichever mode brought it in (the
// standalone HTTP server or a CGI call): the request's parts the core needs, and the answer it
// builds.
//
// Thread safety: plain values.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

using FieldList = std::vector<std::pair<std::string, std::string>>;

struct FrontRequest {
  std::string method;    // "GET", "POST", "HEAD"
  std::string path;      // percent-decoded once ("/cgi-bin/cgiloader.cgi", "/api/server/x")
  std::string rawQuery;  // as sent, without "?"
  std::string contentType;
  std::string body;           // complete; the mode enforces the body limit while reading
  std::string authorization;  // value of the Authorization header, empty when absent
  std::string remoteAddress;  // the peer's address as text
  std::string remoteHost;     // empty when unknown
  // The browser's Sec-Fetch-Mode header ("navigate" for a form sent by a page, empty when absent,
  // as from qcli and scripts).
  std::string fetchMode;
  // CGI only: the user a web server already authenticated (REMOTE_USER with AUTH_TYPE), used when
  // no Authorization header reached the program.
  std::string serverAuthenticatedUser;
  // What the request says about where it comes from (request_guard.h); empty when absent.
  std::string host;       // Host
  std::string origin;     // Origin
  std::string referer;    // Referer
  std::string fetchSite;  // Sec-Fetch-Site
  std::string pageToken;  // X-Kestrova-Token: the page token a page's script sends
  // A header only browsers send is present (Sec-Fetch-*, Origin, Cookie,
  // Upgrade-Insecure-Requests).
  bool browserMarkers = false;
  bool tls = false;  // came in over HTTPS
};

struct FrontResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  FieldList headers;  // besides Content-Type and Content-Length

  void setHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
  }
  // Value of the first header of that name (exact case), or empty.
  std::string header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
      if (key == name) return value;
    }
    return std::string();
  }
};

// Reason phrase of the statuses the front end answers with.
const char* httpReasonOf(int status);
