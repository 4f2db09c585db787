// The HTTP client of the webhook notifier: one POST of a JSON body to an http or https URL, bounded
// in time, with the receiver's certificate checked against the system's store or a given CA file.
// One small interface with one back end per HTTP library (http_client_curl.cc, libcurl), so that
// a build without the library can put another in its place.
//
// Redirects are not followed (a webhook that moved is a setting to fix, not a hop to take with the
// event and its credentials), and only the http and https schemes are spoken.
//
// Thread safety: any thread; each call has its own connection.
#pragma once

#include <string>
#include <vector>

struct HttpPost {
  std::string url;
  std::string body;                  // sent as application/json
  std::vector<std::string> headers;  // "Name: value" lines (Authorization among them)
  std::string caFile;                // empty: the system's certificate store
  int timeoutMs = 10000;             // the whole exchange, the connection included
  bool (*keepGoing)() = nullptr;     // polled while waiting; false gives up (the server stops)
};

enum class HttpOutcome {
  kAnswered,             // an HTTP answer came; see status
  kConnectFailed,        // name not resolved, refused, unreachable
  kTimedOut,             // no (complete) answer in time
  kCertificateRejected,  // the server's certificate was not trusted or does not name the host
  kTlsFailed,            // TLS could not be set up for another reason
  kFailed,               // anything else (the URL among them)
};

struct HttpAnswer {
  HttpOutcome outcome = HttpOutcome::kFailed;
  long status = 0;     // the HTTP status when answered
  std::string detail;  // the library's error text, or the start of the answer's body
};

HttpAnswer postHttp(const HttpPost& request);
